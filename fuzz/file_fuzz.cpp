// Sound files from anywhere: the input, written to a file, goes to the host's
// sound-file object and to buffer~'s load driver. A file may load, or fail
// with its console line ("read_failed" to the clients, the buffer as it was),
// or, when the length it claims cannot be had, leave the 100-frame fallback;
// nothing else. The first byte chooses the file name's extension, the read
// message and the buffers' shape; the rest is the file.
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_host.h"

namespace {

const char *const kExtensions[] = {"wav", "aif", "aifc", "flac", "snd", "caf", "raw", "mp3",
                                   "m4a", "mov", "sd2",  "w64",  "au",  "mp4", "ogg", "bin"};

// Sample memory beyond this fails, as it would on a machine that has no more:
// a compressed file's claimed length is not bounded by its size.
constexpr long long kMemoryCeiling = 64ll << 20;

long g_loaded = 0, g_failed = 0, g_fallback = 0;

long long as_long(void *answer) { return (long long)(intptr_t)answer; }

// Two bit patterns a decoder rarely produces: a float file may hold either one as a
// sample, so a frame counts as left unwritten only when it keeps both, one per read.
float pattern(uint32_t bits) {
    float f;
    memcpy(&f, &bits, 4);
    return f;
}
constexpr uint32_t kUnwrittenA = 0x7fc0beefu, kUnwrittenB = 0x7fc0f00du;
bool holds(float f, uint32_t bits) { return memcmp(&f, &bits, 4) == 0; }

// The sound-file object on its own: every query, reads at the start and past
// it in the file's layout and in another, then the instrument queries.
void probe_parser(const std::string &name) {
    t_common_symbols_table *cs = common_symbols_gettable();
    auto *sf = (t_object *)object_new(cs->s_nobox, cs->s_jsoundfile);
    if (!sf) fuzz::fail("no sound-file object");
    long long err = as_long(object_method(sf, cs->s_open, (long)path_getdefault(), name.c_str(), 0L, 0L));
    if (err == 0) {
        long long rate = (int32_t)as_long(object_method(sf, gensym("getsr")));
        long long chans = (int32_t)as_long(object_method(sf, gensym("getchannelcount")));
        long long length = as_long(object_method(sf, gensym("getlength")));
        (void)rate;
        if (chans < 0 || length < 0) fuzz::fail("parser answers a negative channel count or length");
        const long long kFrames = 3000;
        for (long long want : {chans, 3ll}) {
            if (want < 1 || want > 64) continue;
            for (long long start : {0ll, length > 10 ? length / 2 : 7ll}) {
                std::vector<float> a((size_t)(kFrames * want), pattern(kUnwrittenA));
                std::vector<float> b((size_t)(kFrames * want), pattern(kUnwrittenB));
                for (auto *dst : {&a, &b})
                    object_method(sf, gensym("readfloats"), dst->data(), (t_atom_ulong)start, (t_atom_ulong)kFrames,
                                  (long)want);
                for (size_t i = 0; i < a.size(); i++)
                    if (holds(a[i], kUnwrittenA) && holds(b[i], kUnwrittenB))
                        fuzz::fail("readfloats left requested frames unwritten");
            }
        }
        for (const char *q : {"getsustainloopmode", "getsustainloopstart", "getsustainloopend", "getreleaseloopmode",
                              "getreleaseloopstart", "getreleaseloopend", "getbasepitch", "getdetune", "getlowpitch",
                              "gethighpitch", "getlowvelocity", "gethighvelocity", "getgain"})
            object_method(sf, gensym(q));
        for (long id = -1; id < 4; ++id) object_method(sf, gensym("searchmarkers"), id);
        object_method(sf, cs->s_close);
    }
    object_free(sf);
}

struct Snapshot {
    float *memory;
    t_atom_long frames, nchans, size;
    float sr;
    uint64_t sum;
};

Snapshot snapshot(const t_buffer *b) {
    Snapshot s{b->b_memory, b->b_frames, b->b_nchans, b->b_size, b->b_sr, 1469598103934665603ull};
    if (b->b_samples)
        for (t_atom_long i = 0; i < b->b_size; ++i) {
            uint32_t u;
            memcpy(&u, b->b_samples + i, 4);
            s.sum = (s.sum ^ u) * 1099511628211ull;
        }
    return s;
}

bool same(const Snapshot &a, const Snapshot &b) {
    return a.memory == b.memory && a.frames == b.frames && a.nchans == b.nchans && a.size == b.size &&
           (a.sr == b.sr || (std::isnan(a.sr) && std::isnan(b.sr))) && a.sum == b.sum;
}

bool has_line(const std::vector<std::string> &lines, const std::string &part) {
    for (auto &l : lines)
        if (l.find(part) != std::string::npos) return true;
    return false;
}

// libsndfile's own view: frames x channels of a container of plain samples
// (at least a byte each) can never exceed the file's size.
bool plain_samples(const std::string &path) {
    SF_INFO info{};
    SNDFILE *s = sf_open(path.c_str(), SFM_READ, &info);
    if (!s) return false;
    sf_close(s);
    switch (info.format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_PCM_16:
        case SF_FORMAT_PCM_24:
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT:
        case SF_FORMAT_DOUBLE:
        case SF_FORMAT_ULAW:
        case SF_FORMAT_ALAW:
            return (info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_FLAC;
        default:
            return false;
    }
}

void load(const std::string &file, const std::string &path, long long filesize, uint8_t control) {
    static const char *const kShapes[] = {"fz", "fz 100", "fz 50 2", "fz 10 4"};
    int mode = (control >> 4) & 3;
    t_buffer *a = fuzz::new_buffer(kShapes[control >> 6]);
    t_buffer *b = fuzz::new_buffer("fz");  // a peer: it must see whatever a gets
    if (!a || !b) fuzz::fail("no buffer");
    t_object *w = orvo::watch("fz");
    orvo::advance(1);
    orvo::console_take();
    Snapshot before = snapshot(a);

    switch (mode) {
        case 0:
            object_method_typed(b, gensym("replace"), 0, nullptr, nullptr);  // the dialog, cancelled
            {
                t_atom at;
                atom_setsym(&at, gensym(file.c_str()));
                object_method_typed(a, gensym("replace"), 1, &at, nullptr);
            }
            break;
        case 1: {
            t_atom at;
            atom_setsym(&at, gensym(file.c_str()));
            object_method_typed(b, gensym("read"), 1, &at, nullptr);
            break;
        }
        case 2: {
            t_atom at[5];
            atom_setsym(at, gensym(file.c_str()));
            atom_setfloat(at + 1, 1.5), atom_setfloat(at + 2, 20.0), atom_setlong(at + 3, 0), atom_setlong(at + 4, 0);
            object_method_typed(a, gensym("read"), 5, at, nullptr);
            break;
        }
        default:
            object_method(b, gensym("read_direct"), (long)path_getdefault(), file.c_str());
            break;
    }
    fuzz::drain();
    auto lines = orvo::console_take();
    std::string problems = fuzz::chain_problems(gensym("fz"));
    if (!problems.empty()) fuzz::fail(problems);

    bool failed = has_line(lines, "read_failed");
    if (failed && has_line(lines, "out of memory reading")) {
        ++g_fallback;
        if (a->b_frames != 100 || a->b_nchans != before.nchans) fuzz::fail("fallback is not 100 frames");
        for (t_atom_long i = 0; a->b_samples && i < a->b_size; ++i)
            if (a->b_samples[i] != 0.0f) fuzz::fail("fallback not silent");
    } else if (failed || has_line(lines, "can't open")) {
        ++g_failed;
        if (!has_line(lines, "error:")) fuzz::fail("failed without a console line");
        if (!same(before, snapshot(a))) fuzz::fail("a failed read changed the buffer");
    } else {
        ++g_loaded;
        if (a->b_filename != gensym(file.c_str())) fuzz::fail("neither loaded nor failed");
        if (mode == 0 && plain_samples(path) && a->b_frames * a->b_nchans > filesize)
            fuzz::fail("more frames than the file holds: " + std::to_string(a->b_frames));
    }
    object_free(w);
    object_free(b);
    object_free(a);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::start_host();
    orvo::mem_fail_above(kMemoryCeiling);
    std::atexit([] {
        fprintf(stderr, "files: %ld loaded, %ld failed, %ld fell back to 100 frames\n", g_loaded, g_failed, g_fallback);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    uint8_t control = data[0];
    std::string file = std::string("in.") + kExtensions[control & 15];
    std::string path = fuzz::start_host() + "/" + file;
    if (FILE *f = fopen(path.c_str(), "wb")) {
        if (size > 1) fwrite(data + 1, 1, size - 1, f);
        fclose(f);
    } else {
        fuzz::fail("cannot write " + file);
    }
    long blocks = orvo::mem_stats().blocks;
    // "duplicate" ends brackets whose opening it does not check: the count may fall, never rise.
    long edits = orvo::open_edits();
    probe_parser(file);
    load(file, path, (long long)size - 1, control);
    fuzz::drain();
    orvo::console_take();
    if (orvo::mem_stats().blocks != blocks) fuzz::fail("host memory blocks left over");
    if (orvo::open_edits() > edits) fuzz::fail("edit bracket left open");
    remove(path.c_str());
    return 0;
}
