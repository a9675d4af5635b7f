// fill: a constant, a sinc pulse, a cosine or a sine over the whole interleaved sequence.
#include <cmath>

#include "edit.h"
#include "kernels.h"

void buffer_fill(t_buffer *x, t_symbol *s, long argc, t_atom *argv) {
    (void)s;
    if (!x->b_valid || argc < 1 || !argv) return;
    buffer_edited(x);
    float *samples = x->b_samples;
    long n = samples ? (long)x->b_size : 0;
    long type = atom_gettype(argv);
    t_edit_job job{t_edit_op::constant, samples, n, {0.0, 0.0}};

    if (type == A_LONG || type == A_FLOAT) {
        double v = atom_getfloat(argv);
        job.v[0] = v == 0.0 ? 0.0 : v;  // all-zero bits, also for -0
    } else {
        t_symbol *fn = atom_getsym(argv);
        if (fn == gensym("sinc") && argc >= 2) {
            double width = atom_getfloat(argv + 1);
            t_atom_long onesided = argc > 2 ? atom_getlong(argv + 2) : 0;
            // A zero (or vanishing) width has no finite pulse: refuse rather than write NaN.
            double period = (double)n / width;
            if (width == 0.0 || !std::isfinite(width) ||
                (n > 0 && !(std::isfinite(period / 2.0) && period / 2.0 != 0.0))) {
                object_error(&x->b_obj, "fill sinc: width %g gives no finite pulse", width);
                return;
            }
            job.op = onesided ? t_edit_op::sinc_onesided : t_edit_op::sinc_centred;
            job.v[0] = onesided ? period : period / 2.0;
        } else if (fn == gensym("cos") || fn == gensym("sin")) {
            int32_t a = argc > 1 ? (int32_t)atom_getlong(argv + 1) : 1;
            int32_t b = argc > 2 ? (int32_t)atom_getlong(argv + 2) : 1;
            if (b == 0) {
                object_error(&x->b_obj, "fill %s: cycle divisor must not be 0", fn->s_name);
                return;
            }
            job.op = fn == gensym("sin") ? t_edit_op::fill_sin : t_edit_op::fill_cos;
            job.v[0] = 2.0 * kPi * (double)a / (double)b;
        } else {
            object_error(&x->b_obj, "unknown type for 'fill' method");
            return;
        }
    }
    edit_run_all(job);
    buffer_dirty(x);
    buffer_propogate(x);
}
