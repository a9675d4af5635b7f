// The body of the vector editing loops, EDIT_LANES doubles at a time. Each file that
// includes it is compiled for one instruction set and first defines EDIT_LANES,
// EDIT_LANE_NUMBERS (the braced list 0 .. EDIT_LANES - 1), EDIT_NAME(f) (the name of
// f for that set) and, over vectors of that many doubles, EDIT_COS, EDIT_SIN,
// EDIT_SQRT, EDIT_FMA (a * b + c rounded once), EDIT_ANY (some lane of a mask is
// set), EDIT_WIDEN and EDIT_NARROW (from and to as many floats, one instruction
// each); and EDIT_CHAINS, how many vectors of its registers one series may keep in
// flight.
//
// Every value is formed by the operations of the plain formula, in its order (those
// files are compiled with -ffp-contract=off: no multiply-add is fused unless asked
// for). Sines and cosines come from SLEEF, within a few ulps of the C library's in
// double: that moves a stored float only when the double falls within those ulps of
// a rounding boundary between two floats, and then by one step. Where a weight is so
// small that the same ulps are a large part of it, the lane takes the plain formula.
// Nothing from the C++ library is used, so that no inline function compiled for one
// instruction set can stand in for another's.

namespace {

constexpr int W = EDIT_LANES;
typedef double vd __attribute__((vector_size(8 * W)));
typedef float vf __attribute__((vector_size(4 * W)));
typedef long long vl __attribute__((vector_size(8 * W)));

// Below this weight a cosine an ulp away from the library's can move the stored float.
const double kSmallWeight = 1.0 / 8192.0;

inline vd cosv(vd x) { return (vd)EDIT_COS(x); }
inline vd sinv(vd x) { return (vd)EDIT_SIN(x); }
inline vd sqrtv(vd x) { return (vd)EDIT_SQRT(x); }
inline vd fmav(vd a, vd b, vd c) { return (vd)EDIT_FMA(a, b, c); }
inline bool any(vl m) { return EDIT_ANY(m); }

inline vd splat(double x) { return vd{} + x; }
inline vf splatf(float x) { return vf{} + x; }
inline vf load(const float *p) {
    vf v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}
inline void store(float *p, vf v) { __builtin_memcpy(p, &v, sizeof v); }
inline vd widen(vf v) { return (vd)EDIT_WIDEN(v); }
inline vf narrow(vd v) { return (vf)EDIT_NARROW(v); }
inline vd absv(vd x) { return (vd)((vl)x & ~(vl)splat(-0.0)); }

// The indices i .. i+W-1 as doubles (exact below 2^53).
inline vd index(long i) { return splat((double)i) + vd EDIT_LANE_NUMBERS; }

// Stores at s[i] the W new values y of the old values x, where the lanes marked
// in plain take the plain formula instead.
inline void put(const t_edit_job &job, long i, vf x, vf y, vl plain) {
    if (any(plain))
        for (int l = 0; l < W; l++)
            if (plain[l]) y[l] = edit_sample(job, i + l, x[l]);
    store(job.s + i, y);
}

// s[i] = f(indices, old values, lanes for the plain formula) for i in [b, e); the
// lanes f marks, and the last few samples, take the plain formula.
template <class F>
void each(const t_edit_job &job, long b, long e, F f) {
    long i = b;
    for (; i + W <= e; i += W) {
        vf x = load(job.s + i);
        vl plain = {};
        vf y = f(index(i), x, plain);
        put(job, i, x, y, plain);
    }
    for (; i < e; i++) job.s[i] = edit_sample(job, i, job.s[i]);
}

// The same for a formula that takes the sine or cosine (trig) of an argument: for
// G vectors of samples at a time, arg(indices) gives the arguments, then the calls
// into the vector library follow one another, then out(indices, old values, the
// arguments, the function's values, lanes for the plain formula) gives the new
// values, so that no call waits on the one before it.
template <class A, class T, class F>
void each_of(const t_edit_job &job, long b, long e, A arg, T trig, F out) {
    constexpr int G = 32 / W;  // four vectors of eight, eight of four
    long i = b;
    for (; i + G * W <= e; i += G * W) {
        vd u[G], t[G];
#pragma GCC unroll 8
        for (int g = 0; g < G; g++) u[g] = arg(index(i + W * g));
#pragma GCC unroll 8
        for (int g = 0; g < G; g++) t[g] = trig(u[g]);
#pragma GCC unroll 8
        for (int g = 0; g < G; g++) {
            long at = i + W * g;
            vf x = load(job.s + at);
            vl plain = {};
            vf y = out(index(at), x, u[g], t[g], plain);
            put(job, at, x, y, plain);
        }
    }
    each(job, i, e, [&](vd k, vf x, vl &plain) {
        vd u = arg(k);
        return out(k, x, u, trig(u), plain);
    });
}

// The product with a weight, formed in double.
inline vf weighted(vf x, vd w) { return narrow(widen(x) * w); }

// a / d rounded once, as a division gives it, from r = 1 / d rounded once: the
// product's remainder, exact by the fused multiply-add, corrects the product. The
// remainder is exact only away from overflow and underflow; there, and for NaN, the
// lanes divide.
inline vd quotient(vd a, vd d, vd r) {
    vd q = a * r, m = absv(q);
    vl huge = ~(m < splat(0x1p900)), tiny = (m < splat(0x1p-900)) & (a != splat(0.0));
    if (any(huge | tiny)) return a / d;
    return fmav(fmav(-q, d, a), r, q);
}

// The Kaiser window for a beta whose I0 the series gives (|beta| below edit_i0_series_below):
// the series in y = (beta sqrt(1 - x^2) / 2)^2 over the terms it needs at beta, C
// vectors of samples at once so that their chains of multiply-adds overlap.
constexpr int C = EDIT_CHAINS;
void kaiser(const t_edit_job &job, long b, long e) {
    const double beta = job.v[0];
    const bool half = job.op == t_edit_op::kaiser_half;
    const int terms = edit_i0_count(beta);
    const double *c = edit_i0_coefficients();
    const long n = job.n;
    // Sample i of the full form is at x = 2i / (n - 1) - 1; sample n-1-k of the half
    // form takes the weight at k/n - 1.
    const vd d = splat(half ? (double)n : (double)(n - 1)), rd = splat(1.0) / d;
    const vd den = splat(job.v[1]), rden = splat(1.0) / den;
    const vd last = splat((double)(n - 1));
    float *s = job.s;
    long i = b;
    for (; i + C * W <= e; i += C * W) {
        vd y[C], p[C];
#pragma GCC unroll 16
        for (int j = 0; j < C; j++) {
            vd k = index(i + W * j);
            vd x = quotient(half ? last - k : k + k, d, rd) - 1.0;
            vd r = 1.0 - x * x;
            vd h = splat(beta) * sqrtv(splat(0.0) < r ? r : splat(0.0)) * 0.5;
            y[j] = h * h;
            p[j] = splat(c[terms - 1]);
        }
        for (int t = terms - 2; t >= 0; t--) {
            vd ct = splat(c[t]);
            // Unrolled, so that the chains stay in registers and overlap.
#pragma GCC unroll 16
            for (int j = 0; j < C; j++) p[j] = fmav(p[j], y[j], ct);
        }
#pragma GCC unroll 16
        for (int j = 0; j < C; j++) store(s + i + W * j, weighted(load(s + i + W * j), quotient(p[j], den, rden)));
    }
    for (; i < e; i++) s[i] = edit_sample(job, i, s[i]);
}

}  // namespace

void EDIT_NAME(edit_run)(const t_edit_job &job, long b, long e) {
    const long n = job.n;
    const double dn = (double)n, v0 = job.v[0], v1 = job.v[1];
    const vd small = splat(kSmallWeight);
    // The sample times the weight w(c) of the cosine c; small weights take the plain formula.
    auto by_weight = [small](auto w_of) {
        return [small, w_of](vd, vf x, vd, vd c, vl &plain) {
            vd w = w_of(c);
            plain = absv(w) < small;
            return weighted(x, w);
        };
    };
    // Reciprocals of the denominators the loops divide by.
    const vd rdn = splat(1.0 / dn), r2dn = splat(1.0 / (2.0 * dn)), rv0 = splat(1.0 / v0);
    switch (job.op) {
    case t_edit_op::constant: {
        vf c = splatf((float)v0);
        return each(job, b, e, [c](vd, vf, vl &) { return c; });
    }
    case t_edit_op::fill_cos:
    case t_edit_op::fill_sin:
        return each_of(
            job, b, e, [&](vd i) { return quotient(splat(v0) * i, splat(dn), rdn); },
            [&](vd u) { return job.op == t_edit_op::fill_cos ? cosv(u) : sinv(u); },
            [](vd, vf, vd, vd t, vl &) { return narrow(t); });
    case t_edit_op::sinc_onesided:
    case t_edit_op::sinc_centred: {
        // The peak (0 / 0 here) is the plain formula's.
        const double peak = job.op == t_edit_op::sinc_centred ? (double)(n / 2) : 0.0;
        return each_of(
            job, b, e, [&](vd i) { return quotient((i - splat(peak)) * kPi, splat(v0), rv0); }, sinv,
            [&](vd i, vf, vd u, vd t, vl &plain) {
                plain = i == splat(peak);
                return narrow(t / u);
            });
    }
    case t_edit_op::raisedcos_full:
    case t_edit_op::raisedcos_half: {
        const bool half = job.op == t_edit_op::raisedcos_half;
        return each_of(
            job, b, e,
            [&](vd i) {
                if (half) return quotient(2.0 * kPi * i, splat(2.0 * dn), r2dn);
                vf r = narrow(i) / splatf((float)n);
                return 2.0 * kPi * (widen(r) - 0.5);
            },
            cosv, by_weight([&](vd c) { return splat(v0) + splat(v1) * c; }));
    }
    case t_edit_op::blackman_full:
    case t_edit_op::blackman_half: {
        const bool half = job.op == t_edit_op::blackman_half;
        return each_of(
            job, b, e,
            [&](vd i) {
                vd p = half ? widen(narrow(i * 0.5 + splat((double)(n / 2)))) : i;  // i / 2, exactly
                return quotient(2.0 * kPi * p, splat(v0), rv0);
            },
            cosv,
            // 4 pi p / d is twice 2 pi p / d exactly; its cosine, 2c^2 - 1, is within
            // a few ulps of 1 where the weight is not small.
            by_weight([](vd c) { return 0.42 - 0.5 * c + 0.08 * (2.0 * c * c - 1.0); }));
    }
    case t_edit_op::kaiser_full:
    case t_edit_op::kaiser_half:
        if (v0 > -edit_i0_series_below && v0 < edit_i0_series_below) return kaiser(job, b, e);
        break;
    case t_edit_op::welch_full:
    case t_edit_op::welch_half: {
        const bool half = job.op == t_edit_op::welch_half;
        return each(job, b, e, [&](vd i, vf x, vl &) {
            vf r = narrow(i) / splatf((float)n);
            vf t = half ? r : 2.0f * (r - 0.5f);
            return weighted(x, 1.0 - widen(t * t));
        });
    }
    case t_edit_op::triangle_full: {
        // Both ends share one weight; the middle sample of an odd n keeps its value.
        const double half = (double)(n / 2);
        return each(job, b, e, [&](vd i, vf x, vl &plain) {
            vd k = i < splat(half) ? i : splat((double)(n - 1)) - i;
            plain = k >= splat(half);
            return x * narrow(k / splat(dn / 2.0));
        });
    }
    case t_edit_op::triangle_half: {
        const vf inv = splatf(1.0f / (float)n);
        return each(job, b, e, [&](vd i, vf x, vl &) { return x * narrow(splat((double)(n - 1)) - i) * inv; });
    }
    case t_edit_op::gain:
        return each(job, b, e, [&](vd, vf x, vl &) { return x * splatf((float)v0); });
    case t_edit_op::offset:
        return each(job, b, e, [&](vd, vf x, vl &) { return x + splatf((float)v0); });
    case t_edit_op::scale:
        return each(job, b, e, [&](vd, vf x, vl &) { return weighted(x, splat(v0)); });
    }
    for (long i = b; i < e; i++) job.s[i] = edit_sample(job, i, job.s[i]);
}

double EDIT_NAME(edit_peak)(const float *s, long b, long e) {
    // Absolute values of floats compare as their doubles do; NaN never wins.
    vf m = splatf(0.0f);
    long i = b;
    for (; i + W <= e; i += W) {
        vf x = load(s + i);
        vf a = x < 0.0f ? -x : x;
        m = a > m ? a : m;
    }
    float peak = 0.0f;
    for (int l = 0; l < W; l++)
        if (m[l] > peak) peak = m[l];
    for (; i < e; i++) {
        float a = s[i] < 0.0f ? -s[i] : s[i];
        if (a > peak) peak = a;
    }
    return (double)peak;
}

void EDIT_NAME(edit_getdeltas)(float *s, long b, long e, float next) {
    long i = b;
    // s[i + W] is still unchanged when s[i .. i+W-1] are written.
    for (; i + W < e; i += W) store(s + i, load(s + i + 1) - load(s + i));
    for (; i < e - 1; i++) s[i] = s[i + 1] - s[i];
    if (e > b) s[e - 1] = next - s[e - 1];
}
