// Loads in the background: with "async" set, the read messages do only the quick part on
// the main thread, decode into a fresh block on a thread of their own, and swap the block
// in on the main thread. Until then every box of the name keeps its old samples.
//
// The last action wins: a later load, a resize, a rename or the box's end abandons a load
// still decoding (buffer_cancelloads, buffer_loadfree: main thread), and an edit of the
// samples in place (buffer_edited: any thread) abandons it at the latest before the swap.
// Each load has a parser of its own, so the box's parser stays free for writing.
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "read.h"

namespace {

struct t_bufferload {
    t_buffer *x;
    t_loadplan plan;
    std::string name;
    short path;
    float *block;         // the fresh memory: size floats between two guard zones of padding
    t_atom_long size, padding;
    t_atom_ulong keep;    // frames read from the file; the rest of the block is zero
    long id;              // tells a swap message from that of an abandoned load
    std::atomic<bool> stop{false};    // abandoned by the main thread
    std::atomic<bool> edited{false};  // an edit came meanwhile: no swap
    std::thread worker;
};

// Loads still running, and the boxes that load in the background. g_loading lets edits
// skip the lock while nothing loads.
std::mutex g_mutex;
std::unordered_map<t_buffer *, t_bufferload *> g_loads;
std::unordered_set<t_buffer *> g_async;
std::atomic<long> g_loading{0};
long g_nextid = 0;  // main thread only

// Frames per "readfloats" call: small enough for an abandoned load to stop soon, large
// enough for the parser to split each call over the cores.
constexpr t_atom_ulong kChunkSamples = t_atom_ulong(1) << 21;

// Takes l out of the registry (main thread).
void buffer_unregister(t_bufferload *l) {
    std::lock_guard lk(g_mutex);
    auto it = g_loads.find(l->x);
    if (it != g_loads.end() && it->second == l) {
        g_loads.erase(it);
        --g_loading;
    }
}

// Ends an abandoned or finished load that does not swap: parser closed, memory freed.
void buffer_dropload(t_bufferload *l) {
    if (l->worker.joinable()) l->worker.join();
    buffer_unregister(l);
    buffer_closeparser(l->plan.sf);
    object_free(l->plan.sf);
    sysmem_freeptr(l->block);
    delete l;
}

void buffer_loadswap(t_buffer *x, t_symbol *s, long argc, t_atom *argv);

void buffer_loadwork(t_bufferload *l) {
    t_atom_long nchans = l->plan.nchans;
    float *samples = l->block + l->padding;
    set_zero(l->block, (t_ptr_int)l->padding);
    set_zero(samples + l->size, (t_ptr_int)l->padding);
    t_atom_ulong chunk = kChunkSamples / (t_atom_ulong)nchans + 1, done = 0;
    while (done < l->keep && !l->stop.load() && !l->edited.load()) {
        t_atom_ulong n = std::min(chunk, l->keep - done);
        object_method(l->plan.sf, gensym("readfloats"), samples + done * (t_atom_ulong)nchans, l->plan.first + done,
                      n, nchans);
        done += n;
    }
    t_atom_ulong frames = l->plan.frames;
    if (done == l->keep && frames > l->keep)
        set_zero(samples + l->keep * (t_atom_ulong)nchans, (t_ptr_int)((frames - l->keep) * (t_atom_ulong)nchans));
    t_atom a;
    atom_setlong(&a, l->id);
    defer(l->x, ORVO_FN(buffer_loadswap), nullptr, 1, &a);
    defer_work_end();
}

// Back on the main thread: the block goes in as a synchronous load would put it.
void buffer_loadswap(t_buffer *x, t_symbol *s, long argc, t_atom *argv) {
    (void)s;
    t_bufferload *l = nullptr;
    {
        std::lock_guard lk(g_mutex);
        auto it = g_loads.find(x);
        if (it != g_loads.end() && argc > 0 && it->second->id == atom_getlong(argv)) l = it->second;
    }
    if (!l) return;  // abandoned meanwhile
    if (l->worker.joinable()) l->worker.join();
    t_buffer *owner = (t_buffer *)buffer_findowner(x);
    // An edit meanwhile wins; so does a new padding, whose reallocation is on its way.
    if (l->edited.load() || owner->b_padding != l->padding) {
        buffer_dropload(l);
        return;
    }
    if (buffer_edit_begin(x)) {
        object_error(&x->b_obj, "can't read file now");
        buffer_readfailed(x, -1);
        buffer_dropload(l);
        return;
    }
    buffer_unregister(l);
    sysmem_freeptr(owner->b_memory);
    owner->b_memory = l->block;
    owner->b_samples = l->block + l->padding;
    owner->b_size = l->size;
    l->plan.owner = owner;
    buffer_loadfinish(x, &l->plan, l->name.c_str(), l->path, false);
    object_free(l->plan.sf);
    delete l;
}

void buffer_cancelone(t_buffer *x) {
    t_bufferload *l = nullptr;
    {
        std::lock_guard lk(g_mutex);
        auto it = g_loads.find(x);
        if (it != g_loads.end()) l = it->second;
    }
    if (!l) return;
    l->stop.store(true);
    buffer_dropload(l);
}

}  // namespace

void buffer_cancelloads(t_buffer *x) {
    if (g_loading.load() == 0) return;
    bool self = false;
    for (t_buffer *p = (t_buffer *)buffer_findowner(x); p; p = p->b_next) {
        self |= p == x;
        buffer_cancelone(p);
    }
    if (!self) buffer_cancelone(x);
}

void buffer_edited(t_buffer *x) {
    if (g_loading.load() == 0) return;
    std::lock_guard lk(g_mutex);
    auto mark = [](t_buffer *p) {
        auto it = g_loads.find(p);
        if (it != g_loads.end()) it->second->edited.store(true);
    };
    for (t_buffer *p = (t_buffer *)buffer_findowner(x); p; p = p->b_next) mark(p);
    mark(x);
}

void buffer_loadfree(t_buffer *x) {
    buffer_cancelone(x);
    std::lock_guard lk(g_mutex);
    g_async.erase(x);
}

bool buffer_isasync(t_buffer *x) {
    std::lock_guard lk(g_mutex);
    return g_async.count(x) != 0;
}

t_orvo_err buffer_getasync(t_buffer *x, t_object *attr, long *argc, t_atom **argv) {
    (void)attr;
    t_atom *a = buffer_getteratom(argc, argv);
    if (!a) return ORVO_ERR_OUT_OF_MEM;
    atom_setlong(a, buffer_isasync(x) ? 1 : 0);
    return 0;
}

t_orvo_err buffer_setasync(t_buffer *x, t_object *attr, long argc, t_atom *argv) {
    (void)attr;
    if (argc < 1 || !argv) return 0;
    bool on = atom_getlong(argv) != 0;
    std::lock_guard lk(g_mutex);
    if (on)
        g_async.insert(x);
    else
        g_async.erase(x);
    return 0;
}

long buffer_fileread_async(t_buffer *x, const char *name, short path, t_atom_long chans, t_fourcc type,
                           double start, double dur) {
    buffer_cancelloads(x);  // the last load wins
    t_object *sf = (t_object *)object_new(_common_symbols->s_nobox, _common_symbols->s_jsoundfile);
    if (!sf) return buffer_fileread(x, name, path, chans, type, start, dur);
    t_loadplan plan;
    long err = buffer_loadopen(x, sf, name, path, chans, type, start, dur, &plan);
    if (err) {
        object_free(sf);
        return err;
    }
    t_buffer *owner = plan.owner;
    if (!plan.resize && x->b_size != 0) {
        // The file fills the buffer as it is.
        if (!owner->b_memory) {
            buffer_closeparser(sf);
            object_free(sf);
            if (!buffer_edit_begin(x)) buffer_edit_end(x, 0);
            buffer_readfailed(x, -1);
            return -1;
        }
        plan.frames = (t_atom_ulong)owner->b_frames;
    }
    // Frames from the file; past the duration the block stays zero.
    t_atom_ulong cut = buffer_mstoframes(plan.want, plan.msr);
    t_atom_ulong keep = cut != 0 && cut < plan.frames ? cut : plan.frames;
    t_atom_long size;
    if (plan.frames > (t_atom_ulong)INT64_MAX || __builtin_mul_overflow((t_atom_long)plan.frames, plan.nchans, &size))
        size = -1;
    t_atom_long padding = owner->b_padding;
    float *block = buffer_allocsamples(size, padding, false);
    if (!block) {
        // The old contents stay: nothing has been touched yet.
        object_error(&x->b_obj, "%s: out of memory reading %s", x->b_name->s_name, name);
        buffer_closeparser(sf);
        object_free(sf);
        buffer_readfailed(x, -1);
        return -1;
    }
    auto *l = new t_bufferload;
    l->x = x;
    l->plan = plan;
    l->name = name;
    l->path = path;
    l->block = block;
    l->size = size;
    l->padding = padding;
    l->keep = keep;
    l->id = ++g_nextid;
    {
        std::lock_guard lk(g_mutex);
        g_loads[x] = l;
        ++g_loading;
    }
    defer_work_begin();
    try {
        l->worker = std::thread(buffer_loadwork, l);
    } catch (...) {
        buffer_loadwork(l);  // no thread to be had: decoded here, swapped when the queue runs
    }
    return 0;
}
