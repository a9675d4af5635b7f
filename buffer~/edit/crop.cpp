// crop: keep a time range of the buffer and shrink the buffer to it.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "edit.h"

void buffer_crop(t_buffer *x, t_symbol *s, long argc, t_atom *argv) {
    // Only the first two times are read; the host's queue counts atoms in a short.
    defer(x, ORVO_FN(buffer_docrop), s, (short)std::clamp(argc, 0L, 2L), argv);
}

// A time in ms to a frame index of the buffer, 0 .. b_frames - 1.
static t_atom_long crop_frame(const t_buffer *x, double ms) {
    double f = std::trunc(ms * (double)x->b_msr + 0.5);
    if (!(f > 0.0)) return 0;  // NaN too
    if (f >= (double)(x->b_frames - 1)) return x->b_frames - 1;
    return (t_atom_long)f;
}

void buffer_docrop(t_buffer *x, t_symbol *s, long argc, t_atom *argv) {
    if (argc < 2 || !argv) {
        object_error(&x->b_obj, "missing arguments to crop");
        return;
    }
    t_atom_long start = crop_frame(x, atom_getfloat(argv));
    t_atom_long end = crop_frame(x, atom_getfloat(argv + 1));
    t_atom_long n = x->b_samples ? x->b_size : 0;
    t_atom_long count;
    if (__builtin_mul_overflow(end - start, x->b_nchans, &count) || count <= 0 || count >= n) {
        object_error(&x->b_obj, "nothing to crop");
        return;
    }
    float *kept = (float *)sysmem_newptr((t_ptr_int)count * (t_ptr_int)sizeof(float));
    if (!kept) {
        object_error(&x->b_obj, "not enough memory to crop");
        return;
    }
    t_atom_long from = start * x->b_nchans;
    t_atom_long avail = std::clamp<t_atom_long>(n - from, 0, count);
    std::memcpy(kept, x->b_samples + from, sizeof(float) * (size_t)avail);
    std::fill(kept + avail, kept + count, 0.0f);

    t_atom av[2];
    atom_setfloat(av, ((double)(end - start) + 0.5) / (double)x->b_msr);
    atom_setlong(av + 1, 0);
    buffer_dosize(x, s, 2, av);

    // The resize may have been refused or fallen back to a small block: write only
    // into the memory the buffer holds now.
    if (x->b_memory && x->b_samples && x->b_size > 0)
        std::memcpy(x->b_samples, kept, sizeof(float) * (size_t)std::min(count, x->b_size));
    sysmem_freeptr(kept);
    buffer_dirty(x);
    buffer_propogate(x);
}
