// fill: a constant, a sinc pulse, a cosine or a sine over the whole interleaved sequence.
#include <cmath>
#include <cstring>

#include "edit.h"

static const double kPi = 3.14159265358979323846;

static void fill_constant(float *s, t_atom_long n, double v) {
    if (v == 0.0) {
        std::memset(s, 0, sizeof(float) * (size_t)n);
        return;
    }
    float f = (float)v;
    for (t_atom_long i = 0; i < n; i++) s[i] = f;
}

static void fill_sinc(float *s, t_atom_long n, double width, bool onesided) {
    double period = (double)n / width;
    if (onesided) {
        if (n > 0) s[0] = 1.0f;
        for (t_atom_long i = 1; i < n; i++) {
            double u = (double)i * kPi / period;
            s[i] = (float)(std::sin(u) / u);
        }
    } else {
        t_atom_long h = n / 2;
        double half = period / 2.0;
        for (t_atom_long j = 0; j < n; j++) {
            double u = (double)(j - h) * kPi / half;
            s[j] = (float)(std::sin(u) / u);
        }
        if (h < n) s[h] = 1.0f;
    }
}

// sin or cos of k*i/n, the argument formed as written so that values near the zero
// crossings are the library's own (cos of the double nearest pi/2 is not 0).
static void fill_periodic(float *s, t_atom_long n, double k, bool sine) {
    double dn = (double)n;
    for (t_atom_long i = 0; i < n; i++) {
        double u = k * (double)i / dn;
        s[i] = (float)(sine ? std::sin(u) : std::cos(u));
    }
}

void buffer_fill(t_buffer *x, t_symbol *s, long argc, t_atom *argv) {
    (void)s;
    if (!x->b_valid || argc < 1 || !argv) return;
    float *samples = x->b_samples;
    t_atom_long n = samples ? x->b_size : 0;
    long type = atom_gettype(argv);

    if (type == A_LONG || type == A_FLOAT) {
        fill_constant(samples, n, atom_getfloat(argv));
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
            fill_sinc(samples, n, width, onesided != 0);
        } else if (fn == gensym("cos") || fn == gensym("sin")) {
            int32_t a = argc > 1 ? (int32_t)atom_getlong(argv + 1) : 1;
            int32_t b = argc > 2 ? (int32_t)atom_getlong(argv + 2) : 1;
            if (b == 0) {
                object_error(&x->b_obj, "fill %s: cycle divisor must not be 0", fn->s_name);
                return;
            }
            fill_periodic(samples, n, 2.0 * kPi * (double)a / (double)b, fn == gensym("sin"));
        } else {
            object_error(&x->b_obj, "unknown type for 'fill' method");
            return;
        }
    }
    buffer_dirty(x);
    buffer_propogate(x);
}
