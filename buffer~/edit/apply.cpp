// apply: window functions (whole or falling half) and the point operations gain,
// offset and getdeltas, over the whole interleaved sequence of samples.
#include <algorithm>
#include <cmath>

#include "edit.h"

static const double kPi = 3.14159265358979323846;

double buffer_besselfn_I0(double x) {
    double sum = 1.0, term = 1.0, half = x / 2.0;
    for (double k = 1.0;; k += 1.0) {
        double r = half / k;
        term *= r * r;
        sum += term;
        // An overflowing series would never fall below the threshold.
        if (std::isinf(term)) return term;
        if (!(term > 1e-21)) return sum;
    }
}

static void apply_gain(float *s, t_atom_long n, float g) {
    for (t_atom_long i = 0; i < n; i++) s[i] = s[i] * g;
}

static void apply_offset(float *s, t_atom_long n, float o) {
    for (t_atom_long i = 0; i < n; i++) s[i] = s[i] + o;
}

static void apply_getdeltas(float *s, t_atom_long n) {
    if (n < 1) return;
    for (t_atom_long i = 0; i < n - 1; i++) s[i] = s[i + 1] - s[i];
    s[n - 1] = 0.0f - s[n - 1];
}

// Past this argument I0 comes from its asymptotic expansion, scaled by e^-x: the
// series would need hundreds of terms per sample and overflows past about 714.
static const double kI0Asymptotic = 30.0;

// I0(x) = m * exp(e). Below kI0Asymptotic, m is the plain series and e is 0, so a
// quotient of two such values is the series' own quotient.
struct ScaledI0 {
    double m, e;
};

static ScaledI0 scaled_I0(double x) {
    x = std::fabs(x);
    if (!(x >= kI0Asymptotic)) return {buffer_besselfn_I0(x), 0.0};  // NaN too
    // e^-x I0(x) ~ (1 / sqrt(2 pi x)) sum_k ((2k-1)!!)^2 / (k! (8x)^k)
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 64; k++) {
        double odd = 2.0 * k - 1.0;
        term *= odd * odd / (8.0 * k * x);
        sum += term;
        if (term < 1e-17 * sum) break;
    }
    return {sum / std::sqrt(2.0 * kPi * x), x};
}

// The weight I0(arg) / I0(beta), without overflow for any finite beta.
static double kaiser_weight(double arg, ScaledI0 den) {
    ScaledI0 num = scaled_I0(arg);
    double q = num.m / den.m;
    return num.e == den.e ? q : q * std::exp(num.e - den.e);
}

static void apply_kaiser(float *s, t_atom_long n, double beta, bool half) {
    if (n < 1) return;
    ScaledI0 den = scaled_I0(beta);
    auto weight = [&](double x) {
        double r = std::sqrt(std::max(0.0, 1.0 - x * x));
        // The limit of an infinite beta: 1 where r is 1, 0 elsewhere.
        if (std::isinf(beta)) return r == 1.0 ? 1.0 : 0.0;
        return kaiser_weight(beta * r, den);
    };
    if (half) {
        for (t_atom_long i = 0; i < n; i++) {
            t_atom_long k = n - 1 - i;
            s[k] = (float)((double)s[k] * weight((double)i / (double)n - 1.0));
        }
    } else if (n > 1) {  // a single sample keeps its value
        double d = (double)(n - 1);
        for (t_atom_long i = 0; i < n; i++) s[i] = (float)((double)s[i] * weight(2.0 * (double)i / d - 1.0));
    }
}

// Hamming and Hann: a + b cos(...), periodic when whole.
static void apply_raisedcos(float *s, t_atom_long n, double a, double b, bool half) {
    double dn = (double)n;
    for (t_atom_long i = 0; i < n; i++) {
        double w;
        if (half) {
            w = a + b * std::cos(2.0 * kPi * (double)i / (2.0 * dn));
        } else {
            float r = (float)i / (float)n;
            w = a + b * std::cos(2.0 * kPi * ((double)r - 0.5));
        }
        s[i] = (float)((double)s[i] * w);
    }
}

// Symmetric over N - 1; the half form reads the falling side from the centre on.
static void apply_blackman(float *s, t_atom_long n, bool half) {
    if (n < 2) return;  // a single sample keeps its value
    double d = (double)(n - 1);
    auto weight = [d](double p) {
        return 0.42 - 0.5 * std::cos(2.0 * kPi * p / d) + 0.08 * std::cos(4.0 * kPi * p / d);
    };
    for (t_atom_long i = 0; i < n; i++) {
        double p = half ? (double)(float)((double)i / 2.0 + (double)(n / 2)) : (double)i;
        s[i] = (float)((double)s[i] * weight(p));
    }
}

static void apply_triangle(float *s, t_atom_long n, bool half) {
    if (half) {
        float inv = 1.0f / (float)n;
        for (t_atom_long k = 0; k < n; k++) s[k] = s[k] * (float)(n - 1 - k) * inv;
        return;
    }
    if (n < 2) return;
    double mid = (double)n / 2.0;
    for (t_atom_long i = 0; i < n / 2; i++) {
        float w = (float)((double)i / mid);
        s[i] = s[i] * w;
        s[n - 1 - i] = s[n - 1 - i] * w;
    }
}

static void apply_welch(float *s, t_atom_long n, bool half) {
    for (t_atom_long i = 0; i < n; i++) {
        float r = (float)i / (float)n;
        float t = half ? r : 2.0f * (r - 0.5f);
        float sq = t * t;
        s[i] = (float)((double)s[i] * (1.0 - (double)sq));
    }
}

void buffer_apply(t_buffer *x, t_symbol *s, long argc, t_atom *argv) {
    (void)s;
    if (argc < 1 || !argv) {
        object_error(&x->b_obj, "unknown function name for 'apply' method");
        return;
    }
    float *samples = x->b_samples;
    t_atom_long n = samples ? x->b_size : 0;
    if (n < 0) n = 0;
    t_symbol *fn = atom_getsym(argv);
    bool half = atom_getsym(argv + argc - 1) == gensym("half");

    if (fn == gensym("gain") && argc >= 2)
        apply_gain(samples, n, (float)atom_getfloat(argv + 1));
    else if (fn == gensym("offset") && argc >= 2)
        apply_offset(samples, n, (float)atom_getfloat(argv + 1));
    else if (fn == gensym("getdeltas"))
        apply_getdeltas(samples, n);
    else if (fn == gensym("kaiser"))
        apply_kaiser(samples, n, argc >= 2 ? atom_getfloat(argv + 1) : 6.0, half);
    else if (fn == gensym("hamming"))
        apply_raisedcos(samples, n, 0.54, 0.46, half);
    else if (fn == gensym("hanning"))
        apply_raisedcos(samples, n, 0.5, 0.5, half);
    else if (fn == gensym("blackman"))
        apply_blackman(samples, n, half);
    else if (fn == gensym("triangle"))
        apply_triangle(samples, n, half);
    else if (fn == gensym("welch"))
        apply_welch(samples, n, half);
    else {
        object_error(&x->b_obj, "unknown function name for 'apply' method");
        return;
    }
    buffer_dirty(x);
    buffer_propogate(x);
}
