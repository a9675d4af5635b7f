// Resizing, the sample rate, clearing, and the size attributes.
#include <cmath>
#include <cstring>

#include "../edit/edit.h"
#include "../window/window.h"
#include "buffer.h"

static void buffer_deferresize(t_buffer *x, method fn, const t_atom *first, t_atom_long chans) {
    t_atom av[2];
    av[0] = *first;
    atom_setlong(av + 1, chans);
    defer(x, fn, nullptr, 2, av);
}

void buffer_sizeinsamps(t_buffer *x, t_atom_long frames, t_atom_long chans) {
    t_atom a;
    atom_setlong(&a, frames);
    buffer_deferresize(x, ORVO_FN(buffer_dosize_insamples), &a, chans);
}

void buffer_size(t_buffer *x, double ms, t_atom_long chans) {
    t_atom a;
    atom_setfloat(&a, ms);
    buffer_deferresize(x, ORVO_FN(buffer_dosize), &a, chans);
}

// When a reallocation could not happen, the guard zone length must describe the block still held.
// Without a block the new length describes nothing yet, but every box of the name must agree on it.
static void buffer_keeplayout(t_buffer *x) {
    if (x->b_memory && x->b_samples)
        x->b_padding = x->b_samples - x->b_memory;
    else
        buffer_propogate(x);
}

void buffer_dosize_insamples(t_buffer *x, t_symbol *s, long argc, t_atom *argv) {
    (void)s;
    t_atom_long frames = argc > 0 ? atom_getlong(argv) : 0;
    t_atom_long chans = argc > 1 ? atom_getlong(argv + 1) : 0;

    buffer_cancelloads(x);  // a resize is the later action
    if (chans == x->b_nchans && frames == x->b_frames && !x->b_realloc) return;
    if (frames < 0) {
        buffer_valid(x, 0);
        object_error(&x->b_obj, "size: bad size %ld", (long)frames);
        buffer_keeplayout(x);
        return;
    }
    if (buffer_edit_begin(x)) {
        object_error(&x->b_obj, "can't resize now");
        buffer_keeplayout(x);
        return;
    }
    t_atom_long oldchans = x->b_nchans;
    if (x->b_memory) {
        sysmem_freeptr(x->b_memory);
        x->b_memory = nullptr;
        x->b_samples = nullptr;
    }
    // A channel count taken as given at creation may be negative: no use for memory.
    if (chans <= 0) chans = x->b_nchans > 0 ? x->b_nchans : 1;

    x->b_frames = frames;
    t_atom_long size;
    if (__builtin_mul_overflow(frames, chans, &size)) size = -1;
    x->b_size = size;
    x->b_memory = buffer_allocsamples(size, x->b_padding, false);
    if (!x->b_memory) {
        object_error(&x->b_obj, "%s: not enough memory to resize", x->b_name->s_name);
        buffer_allocfallback(x);
        buffer_propogate(x);
        buffer_edit_end(x, 0);
        return;
    }
    buffer_setguards(x);
    std::memset(x->b_samples, 0, sizeof(float) * (size_t)x->b_size);
    x->b_nchans = chans;

    buffer_dirty(x);
    buffer_propogate(x);
    buffer_edit_end(x, 1);
    x->b_realloc = 0;
    if (x->b_nchans != oldchans && x->b_window) bufferwindow_updatechans(x->b_window);
}

void buffer_dosize(t_buffer *x, t_symbol *s, long argc, t_atom *argv) {
    double ms = argc > 0 ? atom_getfloat(argv) : 0.0;
    t_atom_long chans = argc > 1 ? atom_getlong(argv + 1) : 0;
    if (chans == 0) chans = x->b_nchans > 0 ? x->b_nchans : 1;
    double framesd = (double)x->b_msr * ms + 0.5;
    t_atom_long frames;
    // Beyond the 64-bit range: too long for any memory, or a bad (negative) size.
    if (framesd >= 9.2233720368547758e18)
        frames = INT64_MAX;
    else if (framesd <= -9.2233720368547758e18 || std::isnan(framesd))
        frames = INT64_MIN;
    else
        frames = (t_atom_long)framesd;
    t_atom av[2];
    atom_setlong(av, frames);
    atom_setlong(av + 1, chans);
    buffer_dosize_insamples(x, s, 2, av);
}

void buffer_resize_and_copy(t_buffer *x, t_atom_long frames, t_atom_long chans, float *src) {
    t_atom av[2];
    atom_setlong(av, frames);
    atom_setlong(av + 1, chans);
    defer(x, ORVO_FN(buffer_dosize_insamples), nullptr, 2, av);
    if (x->b_frames == frames && x->b_nchans == chans && x->b_memory && buffer_edit_begin(x) == 0) {
        if (src && frames > 0 && chans > 0)
            std::memcpy(x->b_samples, src, sizeof(float) * (size_t)(frames * chans));
        buffer_edit_end(x, 1);
        buffer_dirty(x);
        buffer_propogate(x);
    }
}

void buffer_sr(t_buffer *x, double sr) {
    if (sr == 0.0) {
        sr = sys_getsr();
        if (sr == 0.0) sr = 44100.0;
    }
    x->b_sr = (float)sr;
    x->b_1oversr = 1.0f / x->b_sr;
    x->b_msr = (float)((double)x->b_sr * 0.001);
}

void buffer_clear(t_buffer *x) {
    t_atom a;
    atom_setfloat(&a, 0.0);
    buffer_fill(x, nullptr, 1, &a);
}

void buffer_clearlow(t_buffer *x) { defer_low(x, ORVO_FN(buffer_deferred<buffer_clear>), nullptr, 0, nullptr); }

// Room for one atom in the getter contract: the host's, else our own.
t_atom *buffer_getteratom(long *argc, t_atom **argv) {
    char alloc = 0;
    if (atom_alloc(argc, argv, &alloc) != 0 || !*argv) {
        *argv = (t_atom *)sysmem_newptr(sizeof(t_atom));
        if (!*argv) return nullptr;
        *argc = 1;
    }
    return *argv;
}

t_orvo_err buffer_getsize(t_buffer *x, t_object *attr, long *argc, t_atom **argv) {
    (void)attr;
    t_atom *a = buffer_getteratom(argc, argv);
    if (!a) return ORVO_ERR_OUT_OF_MEM;
    atom_setfloat(a, (double)x->b_frames * ((double)x->b_1oversr * 1000.0));
    return 0;
}

t_orvo_err buffer_getsizeinsamps(t_buffer *x, t_object *attr, long *argc, t_atom **argv) {
    (void)attr;
    t_atom *a = buffer_getteratom(argc, argv);
    if (!a) return ORVO_ERR_OUT_OF_MEM;
    atom_setlong(a, x->b_frames);
    return 0;
}

t_orvo_err buffer_setsize(t_buffer *x, t_object *attr, long argc, t_atom *argv) {
    (void)attr;
    if (argc < 1 || !argv) return 0;
    t_atom a;
    atom_setfloat(&a, atom_getfloat(argv));
    buffer_deferresize(x, ORVO_FN(buffer_dosize), &a, argc > 1 ? atom_getlong(argv + 1) : 0);
    return 0;
}

t_orvo_err buffer_setsizeinsamps(t_buffer *x, t_object *attr, long argc, t_atom *argv) {
    (void)attr;
    if (argc < 1 || !argv) return 0;
    t_atom a;
    atom_setlong(&a, atom_getlong(argv));
    buffer_deferresize(x, ORVO_FN(buffer_dosize_insamples), &a, argc > 1 ? atom_getlong(argv + 1) : 0);
    return 0;
}
