// normalize: one common factor for every channel, so that the peak meets the target.
#include "edit.h"
#include "kernels.h"

void buffer_normalize(t_buffer *x, t_symbol *s, long argc, t_atom *argv) {
    (void)s;
    long type = argc == 1 && argv ? atom_gettype(argv) : (long)A_NOTHING;
    if (type != A_LONG && type != A_FLOAT) {
        object_error(&x->b_obj, "normalize requires float argument");
        return;
    }
    double target = atom_getfloat(argv);
    if (!(target > 0.0)) {
        object_error(&x->b_obj, "normalize requires positive, non-zero argument");
        return;
    }
    buffer_edited(x);
    float *samples = x->b_samples;
    long n = samples ? (long)x->b_size : 0;
    if (n < 1) return;

    double peak = edit_peak(samples, n);
    // Silence has no level to scale from.
    if (!(peak > 0.0)) return;

    edit_run_all({t_edit_op::scale, samples, n, {target / peak, 0.0}});
    buffer_dirty(x);
    buffer_propogate(x);
}
