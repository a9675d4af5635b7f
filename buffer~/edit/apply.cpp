// apply: window functions (whole or falling half) and the point operations gain,
// offset and getdeltas, over the whole interleaved sequence of samples.
#include "edit.h"
#include "kernels.h"

void buffer_apply(t_buffer *x, t_symbol *s, long argc, t_atom *argv) {
    (void)s;
    if (argc < 1 || !argv) {
        object_error(&x->b_obj, "unknown function name for 'apply' method");
        return;
    }
    buffer_edited(x);
    float *samples = x->b_samples;
    t_atom_long n = samples ? x->b_size : 0;
    if (n < 0) n = 0;
    t_symbol *fn = atom_getsym(argv);
    bool half = atom_getsym(argv + argc - 1) == gensym("half");
    t_edit_job job{t_edit_op::gain, samples, (long)n, {0.0, 0.0}};
    // The whole Kaiser and Blackman windows divide by n - 1: a single sample keeps its value.
    bool single_ok = true;

    if (fn == gensym("gain") && argc >= 2)
        job = {t_edit_op::gain, samples, (long)n, {atom_getfloat(argv + 1), 0.0}};
    else if (fn == gensym("offset") && argc >= 2)
        job = {t_edit_op::offset, samples, (long)n, {atom_getfloat(argv + 1), 0.0}};
    else if (fn == gensym("getdeltas")) {
        edit_getdeltas(samples, (long)n);
        buffer_dirty(x);
        buffer_propogate(x);
        return;
    } else if (fn == gensym("kaiser")) {
        double beta = argc >= 2 ? atom_getfloat(argv + 1) : 6.0;
        job = {half ? t_edit_op::kaiser_half : t_edit_op::kaiser_full, samples, (long)n,
               {beta, edit_kaiser_denominator(beta)}};
        single_ok = half;
    } else if (fn == gensym("hamming"))
        job = {half ? t_edit_op::raisedcos_half : t_edit_op::raisedcos_full, samples, (long)n, {0.54, 0.46}};
    else if (fn == gensym("hanning"))
        job = {half ? t_edit_op::raisedcos_half : t_edit_op::raisedcos_full, samples, (long)n, {0.5, 0.5}};
    else if (fn == gensym("blackman")) {
        // Symmetric over n - 1; the half form reads the falling side from the centre on.
        job = {half ? t_edit_op::blackman_half : t_edit_op::blackman_full, samples, (long)n, {(double)(n - 1), 0.0}};
        single_ok = false;
    } else if (fn == gensym("triangle"))
        job = {half ? t_edit_op::triangle_half : t_edit_op::triangle_full, samples, (long)n, {0.0, 0.0}};
    else if (fn == gensym("welch"))
        job = {half ? t_edit_op::welch_half : t_edit_op::welch_full, samples, (long)n, {0.0, 0.0}};
    else {
        object_error(&x->b_obj, "unknown function name for 'apply' method");
        return;
    }
    if (n > 1 || (n == 1 && single_ok)) edit_run_all(job);
    buffer_dirty(x);
    buffer_propogate(x);
}
