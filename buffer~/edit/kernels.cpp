// The plain per-sample formulas of the editing operations, the choice of the vector
// versions, and the sharing of one long operation between the cores.
#include "kernels.h"

#include <sched.h>

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

#include "edit.h"

// ---- I0 ------------------------------------------------------------------------------------

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

// I0(x) = m * exp(e). Below edit_i0_series_below, m is the plain series and e is 0,
// so that a quotient of two such values is the series' own quotient; from there on
// I0 comes from its asymptotic expansion scaled by e^-x, since the series would need
// hundreds of terms per sample and overflows past about 714.
struct ScaledI0 {
    double m, e;
};

static ScaledI0 scaled_I0(double x) {
    x = std::fabs(x);
    if (!(x >= edit_i0_series_below)) return {buffer_besselfn_I0(x), 0.0};  // NaN too
    // e^-x I0(x) ~ (1 / sqrt(2 pi x)) sum_k ((2k-1)!!)^2 / (k! (8x)^k)
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 64; k++) {
        double odd = 2.0 * k - 1.0;
        term *= odd * odd / (8.0 * k * x);
        sum += term;
        if (term < 1e-17 * sum) break;
    }
    // sqrt(2 pi) sqrt(x): 2 pi x itself overflows near the largest double.
    return {sum / (std::sqrt(2.0 * kPi) * std::sqrt(x)), x};
}

double edit_kaiser_denominator(double beta) { return scaled_I0(beta).m; }

// I0(beta * r) / I0(beta), without overflow for any beta, given the first factor of
// I0(beta); the limit for an infinite beta.
static double kaiser_weight(double beta, double den, double r) {
    if (std::isinf(beta)) return r == 1.0 ? 1.0 : 0.0;
    ScaledI0 num = scaled_I0(beta * r);
    double q = num.m / den, e = std::fabs(beta) >= edit_i0_series_below ? std::fabs(beta) : 0.0;
    return num.e == e ? q : q * std::exp(num.e - e);
}

const double *edit_i0_coefficients() {
    static const std::vector<double> c = [] {
        std::vector<double> v(edit_i0_terms);
        long double f = 1;
        for (int k = 0; k < edit_i0_terms; k++) {
            if (k > 0) f *= k;
            v[k] = (double)(1.0L / (f * f));
        }
        return v;
    }();
    return c.data();
}

int edit_i0_count(double x) {
    double term = 1.0, sum = 1.0, half = x / 2.0;
    int k = 1;
    for (; k < edit_i0_terms - 1; k++) {
        double r = half / k;
        term *= r * r;
        sum += term;
        if (!(term > 1e-19 * sum)) break;
    }
    return k + 1;
}

// ---- the plain formulas ------------------------------------------------------------------------

// The weight of the Kaiser window at x, -1 .. 1.
static double kaiser_at(const double *v, double x) { return kaiser_weight(v[0], v[1], std::sqrt(std::max(0.0, 1.0 - x * x))); }

static double blackman_at(double p, double d) {
    return 0.42 - 0.5 * std::cos(2.0 * kPi * p / d) + 0.08 * std::cos(4.0 * kPi * p / d);
}

float edit_sample(const t_edit_job &job, long i, float x) {
    const double *v = job.v;
    const long n = job.n;
    const double dn = (double)n;
    switch (job.op) {
    case t_edit_op::constant:
        return (float)v[0];
    case t_edit_op::fill_cos:
        return (float)std::cos(v[0] * (double)i / dn);
    case t_edit_op::fill_sin:
        return (float)std::sin(v[0] * (double)i / dn);
    case t_edit_op::sinc_onesided: {
        if (i == 0) return 1.0f;
        double u = (double)i * kPi / v[0];
        return (float)(std::sin(u) / u);
    }
    case t_edit_op::sinc_centred: {
        long h = n / 2;
        if (i == h) return 1.0f;
        double u = (double)(i - h) * kPi / v[0];
        return (float)(std::sin(u) / u);
    }
    case t_edit_op::raisedcos_full: {
        float r = (float)i / (float)n;
        return (float)((double)x * (v[0] + v[1] * std::cos(2.0 * kPi * ((double)r - 0.5))));
    }
    case t_edit_op::raisedcos_half:
        return (float)((double)x * (v[0] + v[1] * std::cos(2.0 * kPi * (double)i / (2.0 * dn))));
    case t_edit_op::blackman_full:
        return (float)((double)x * blackman_at((double)i, v[0]));
    case t_edit_op::blackman_half:
        return (float)((double)x * blackman_at((double)(float)((double)i / 2.0 + (double)(n / 2)), v[0]));
    case t_edit_op::kaiser_full:
        return (float)((double)x * kaiser_at(v, 2.0 * (double)i / (double)(n - 1) - 1.0));
    case t_edit_op::kaiser_half:  // sample n-1-k takes the weight at k/n - 1
        return (float)((double)x * kaiser_at(v, (double)(n - 1 - i) / dn - 1.0));
    case t_edit_op::welch_full:
    case t_edit_op::welch_half: {
        float r = (float)i / (float)n;
        float t = job.op == t_edit_op::welch_half ? r : 2.0f * (r - 0.5f);
        float sq = t * t;
        return (float)((double)x * (1.0 - (double)sq));
    }
    case t_edit_op::triangle_full: {
        // Both ends share one weight; the middle sample of an odd n keeps its value.
        long half = n / 2, k = i < half ? i : n - 1 - i;
        if (k >= half) return x;
        return x * (float)((double)k / (dn / 2.0));
    }
    case t_edit_op::triangle_half:
        return x * (float)(n - 1 - i) * (1.0f / (float)n);
    case t_edit_op::gain:
        return x * (float)v[0];
    case t_edit_op::offset:
        return x + (float)v[0];
    case t_edit_op::scale:
        return (float)((double)x * v[0]);
    }
    return x;
}

// ---- running -------------------------------------------------------------------------------

enum class Isa { plain, avx2, avx512 };

static Isa isa() {
    static const Isa best = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") ? Isa::avx512
                            : __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")        ? Isa::avx2
                                                                                                     : Isa::plain;
    return best;
}

void edit_run(const t_edit_job &job, long begin, long end) {
    switch (isa()) {
    case Isa::avx512:
        return edit_run_avx512(job, begin, end);
    case Isa::avx2:
        return edit_run_avx2(job, begin, end);
    case Isa::plain:
        for (long i = begin; i < end; i++) job.s[i] = edit_sample(job, i, job.s[i]);
    }
}

// Below this many samples one thread does the whole operation.
static const long kShareFrom = 1000000;

// [begin, end) of each part of n samples: one part per core this process may run on
// (a process held to one core stays on it), or one part for a short sequence. Parts
// start at multiples of 64 samples.
static std::vector<std::pair<long, long>> parts_of(long n) {
    int cores = 1;
    cpu_set_t set;
    if (n >= kShareFrom && sched_getaffinity(0, sizeof set, &set) == 0) cores = std::max(1, CPU_COUNT(&set));
    long step = (n / cores + 63) / 64 * 64;
    std::vector<std::pair<long, long>> parts;
    for (long b = 0; b < n || parts.empty(); b += step) parts.emplace_back(b, b + step < n ? b + step : n);
    return parts;
}

// Calls fn(part, begin, end) for every part, all but the first on threads of their
// own, and returns when all are done.
template <class Fn>
static void run_parts(const std::vector<std::pair<long, long>> &parts, Fn fn) {
    std::vector<std::thread> helpers;
    for (size_t p = 1; p < parts.size(); p++) {
        try {
            helpers.emplace_back(fn, p, parts[p].first, parts[p].second);
        } catch (...) {  // no thread to be had: this one does the part
            fn(p, parts[p].first, parts[p].second);
        }
    }
    fn((size_t)0, parts[0].first, parts[0].second);
    for (auto &t : helpers) t.join();
}

void edit_run_all(const t_edit_job &job) {
    run_parts(parts_of(job.n), [&job](size_t, long b, long e) { edit_run(job, b, e); });
}

double edit_peak(const float *s, long n) {
    auto parts = parts_of(n);
    std::vector<double> peaks(parts.size(), 0.0);
    run_parts(parts, [&](size_t p, long b, long e) {
        if (isa() != Isa::plain) {
            peaks[p] = isa() == Isa::avx512 ? edit_peak_avx512(s, b, e) : edit_peak_avx2(s, b, e);
            return;
        }
        double peak = 0.0;
        for (long i = b; i < e; i++) {
            double a = std::fabs((double)s[i]);
            if (a > peak) peak = a;
        }
        peaks[p] = peak;
    });
    return *std::max_element(peaks.begin(), peaks.end());
}

void edit_getdeltas(float *s, long n) {
    if (n < 1) return;
    // Each part needs the first sample of the next as it was before; the last sample
    // becomes 0 minus itself.
    auto parts = parts_of(n);
    std::vector<float> next(parts.size());
    for (size_t p = 0; p < parts.size(); p++) next[p] = parts[p].second < n ? s[parts[p].second] : 0.0f;
    run_parts(parts, [&](size_t p, long b, long e) {
        if (isa() == Isa::avx512) return edit_getdeltas_avx512(s, b, e, next[p]);
        if (isa() == Isa::avx2) return edit_getdeltas_avx2(s, b, e, next[p]);
        for (long i = b; i < e - 1; i++) s[i] = s[i + 1] - s[i];
        if (e > b) s[e - 1] = next[p] - s[e - 1];
    });
}
