// Creation, teardown and the sample-memory layout of buffer~.
#include <cmath>
#include <cstring>

#include "../read/read.h"
#include "../window/window.h"
#include "buffer.h"

void buffer_setguards(t_buffer *x) {
    x->b_samples = x->b_memory + x->b_padding;
    std::memset(x->b_memory, 0, sizeof(float) * (size_t)x->b_padding);
    std::memset(x->b_samples + x->b_size, 0, sizeof(float) * (size_t)x->b_padding);
}

// Bytes of a block holding size floats plus both guard zones; -1 when that does not fit.
static t_ptr_int buffer_blockbytes(t_atom_long size, t_atom_long padding) {
    t_atom_long guards, floats, bytes;
    if (size < 0 || __builtin_mul_overflow(padding, (t_atom_long)2, &guards) ||
        __builtin_add_overflow(size, guards, &floats) ||
        __builtin_mul_overflow(floats, (t_atom_long)sizeof(float), &bytes))
        return -1;
    return (t_ptr_int)bytes;
}

float *buffer_allocsamples(t_atom_long size, t_atom_long padding, bool clear) {
    t_ptr_int bytes = buffer_blockbytes(size, padding);
    if (bytes < 0) return nullptr;
    return (float *)(clear ? sysmem_newptrclear(bytes) : sysmem_newptr(bytes));
}

void buffer_allocfallback(t_buffer *x) {
    x->b_frames = BUFFER_FALLBACK_FRAMES;
    // Channels beyond any memory (kept from a resize to no frames): no frames either.
    if (__builtin_mul_overflow(x->b_frames, x->b_nchans, &x->b_size)) x->b_frames = x->b_size = 0;
    x->b_memory = buffer_allocsamples(x->b_size, x->b_padding, true);
    x->b_samples = x->b_memory ? x->b_memory + x->b_padding : nullptr;
}

static long buffer_atomtochans(const t_atom *a) {
    if (atom_gettype(a) == A_LONG) return (long)atom_getlong(a);
    double c = std::trunc(atom_getfloat(a));
    // Out of range (or NaN) is no channel count at all; keep the conversion defined.
    if (!(c > -2147483648.0 && c < 2147483648.0)) return 0;
    return (long)c;
}

static void buffer_atomtosize(const t_atom *a, float *size) {
    if (atom_gettype(a) == A_FLOAT)
        *size = (float)atom_getfloat(a);
    else
        *size = (float)atom_getlong(a);
}

void buffer_parseargs(t_buffer *x, long argc, t_atom *argv, float *size, t_symbol **filename) {
    x->b_name = ps_nothing;
    *filename = ps_nothing;
    x->b_nchans = 0;
    *size = 0.0f;
    if (argc <= 0) return;
    if (atom_gettype(argv) == A_SYM) x->b_name = atom_getsym(argv);
    if (argc == 1) return;
    if (atom_gettype(argv + 1) == A_SYM) {
        *filename = atom_getsym(argv + 1);
        if (argc > 2) buffer_atomtosize(argv + 2, size);
        if (argc > 3) x->b_nchans = buffer_atomtochans(argv + 3);
    } else {
        buffer_atomtosize(argv + 1, size);
        if (argc > 2) x->b_nchans = buffer_atomtochans(argv + 2);
    }
    if (*size != 0.0f && x->b_nchans <= 0) x->b_nchans = 1;
}

// The creation-time block: zeroed, with the fallback of 100 frames when it cannot be had.
static void buffer_alloccreation(t_buffer *x, float size) {
    double product = (double)(size * x->b_msr);   // a 32-bit product, as the creation size always was
    double framesd = product + 0.5;
    t_atom_long frames = (framesd >= 9.2233720368547758e18) ? -1 : (t_atom_long)framesd;
    if (frames < 0) {
        object_error(&x->b_obj, "requested buffer size negative");
        frames = BUFFER_FALLBACK_FRAMES;
    }
    x->b_frames = frames;
    if (__builtin_mul_overflow(frames, x->b_nchans, &x->b_size)) x->b_size = -1;
    x->b_memory = buffer_allocsamples(x->b_size, x->b_padding, true);
    if (!x->b_memory) {
        object_error(&x->b_obj, "%s: out of memory", x->b_name->s_name);
        buffer_allocfallback(x);
    }
    if (x->b_memory) {
        x->b_spare32 = 0;
        buffer_setguards(x);
        x->b_valid = 1;
    } else {
        x->b_valid = 0;
    }
}

void *buffer_new(t_symbol *s, long argc, t_atom *argv) {
    (void)s;
    t_buffer *x = (t_buffer *)object_alloc(s_buffer_class);
    if (!x) return nullptr;
    long plain = attr_args_offset((short)argc, argv);

    x->b_clock = clock_new(x, ORVO_FN(buffer_dirty_tick));
    x->b_qelem = qelem_new(x, ORVO_FN(buffer_dirty_qfn));
    x->b_soundfile = (t_object *)object_new(_common_symbols->s_nobox, _common_symbols->s_jsoundfile);

    x->b_spare32 = 0;
    x->b_next = nullptr;
    x->b_isowner = 0;
    x->b_memory = nullptr;
    x->b_size = 0;
    x->b_frames = 0;
    x->b_samples = nullptr;
    x->b_valid = 0;
    x->b_padding = BUFFER_MIN_PADDING;

    float size;
    t_symbol *filename;
    buffer_parseargs(x, plain, argv, &size, &filename);
    if (x->b_name == ps_nothing) x->b_name = symbol_unique();

    x->b_spare16 = 0;
    x->b_filename = ps_nothing;
    x->b_filepath = 0;
    x->b_window = nullptr;
    x->b_filetype = FOURCC('A', 'I', 'F', 'F');
    x->b_bangout = nullptr;
    x->b_samptype = FOURCC('N', 'O', 'N', 'E');
    x->b_outsampsize = 2;
    x->b_modtime = 0;

    systhread_mutex_new(&x->b_mutex, 2);
    buffer_sr(x, sys_getsr());

    x->b_susloopstart = x->b_susloopend = x->b_relloopstart = x->b_relloopend = 0;
    x->b_basepitch = x->b_detune = x->b_lowpitch = x->b_highpitch = x->b_lowvel = x->b_highvel = x->b_gain = 0;

    buffer_bind(x, x->b_name);

    t_atom_long views = x->b_nchans < 1 ? 1 : (x->b_nchans < 8 ? x->b_nchans : 8);
    t_rect rect = {50, 50, 350, 100.0 * (double)views};
    x->b_window = bufferwindow_new(x, &rect, x->b_nchans);

    if (filename != ps_nothing) {
        t_atom av[3];
        atom_setsym(av, filename);
        atom_setfloat(av + 1, 0.0);
        atom_setfloat(av + 2, -1.0);
        buffer_doread(x, nullptr, 3, av);
    } else if (x->b_isowner && size > 0.0f) {
        buffer_alloccreation(x, size);
    }

    x->b_prevchans = x->b_nchans;
    bufferwindow_updatetitle(x->b_window, x->b_name);

    x->b_bangout = bangout(x);
    x->b_floatout = floatout(x);

    if (argc > plain) attr_args_process(x, (short)argc, argv);
    return x;
}

void buffer_releaseresources(t_buffer *x) {
    // A box in no chain (its name was taken, or it was released before) holds only
    // memory of its own: a released box keeps no pointer into the block its peers use.
    bool alone = !buffer_inchain(x);
    buffer_unbind(x);
    if (x->b_isowner || alone) sysmem_freeptr(x->b_memory);
    x->b_memory = nullptr;
    x->b_samples = nullptr;
    x->b_valid = 0;
    x->b_isowner = 0;
}

void buffer_free(t_buffer *x) {
    buffer_loadfree(x);
    buffer_releaseresources(x);
    if (x->b_window) object_free(x->b_window);
    if (x->b_soundfile) object_free(x->b_soundfile);
    if (x->b_mutex) systhread_mutex_free(x->b_mutex);
    if (x->b_clock) freeobject((t_object *)x->b_clock);
    if (x->b_qelem) qelem_free(x->b_qelem);
}

t_orvo_err buffer_setpadding(t_buffer *x, t_object *attr, long argc, t_atom *argv) {
    (void)attr;
    if (argc < 1 || !argv) return -1;
    t_atom_long padding = atom_getlong(argv);
    if (padding < BUFFER_MIN_PADDING) padding = BUFFER_MIN_PADDING;
    if (padding <= x->b_padding) return 0;

    float *kept = nullptr;
    t_atom_long keptframes = x->b_frames, keptchans = x->b_nchans;
    if (argc > 1 && atom_getlong(argv + 1) != 0 && x->b_size != 0 && x->b_samples) {
        kept = (float *)sysmem_newptr((t_ptr_int)(sizeof(float) * (size_t)(keptframes * keptchans)));
        if (kept) sysmem_copyptr(x->b_samples, kept, (t_ptr_int)(sizeof(float) * (size_t)(keptframes * keptchans)));
    }

    x->b_padding = padding;
    x->b_realloc = 1;

    t_atom av[2];
    atom_setlong(av, x->b_frames);
    atom_setlong(av + 1, 0);
    defer(x, ORVO_FN(buffer_dosize_insamples), nullptr, 2, av);

    if (kept) {
        if (x->b_memory && x->b_samples && x->b_frames == keptframes && x->b_nchans == keptchans)
            sysmem_copyptr(kept, x->b_samples, (t_ptr_int)(sizeof(float) * (size_t)(keptframes * keptchans)));
        sysmem_freeptr(kept);
    }
    return 0;
}
