// The sample loops of fill, apply and normalize. Each runs over samples [begin, end)
// of one sequence of n, so that a long operation can be shared between threads, and
// stores the same floats on every machine: a vector version (AVX2 and FMA, chosen at
// run time) stands in for the plain per-sample formula only where it agrees with it.
// This header is also read by code compiled for AVX2: it declares, never defines.
#pragma once
#include <cstddef>

// The phase of every generated function and window, in the plain and the vector loops alike.
inline constexpr double kPi = 3.14159265358979323846;

enum class t_edit_op {
    constant,        // v[0], the value as a float
    fill_cos,        // cos(v[0] * i / n)
    fill_sin,        // sin(v[0] * i / n)
    sinc_onesided,   // v[0]: the period; 1 at sample 0
    sinc_centred,    // v[0]: half the period; 1 at sample n / 2
    raisedcos_full,  // v[0] + v[1] cos(...): Hamming, Hann
    raisedcos_half,
    blackman_full,   // v[0]: the denominator
    blackman_half,
    kaiser_full,     // v[0]: beta, v[1]: edit_kaiser_denominator(beta)
    kaiser_half,
    welch_full,
    welch_half,
    triangle_full,
    triangle_half,
    gain,    // v[0] in single precision
    offset,  // v[0] in single precision
    scale,   // v[0] in double precision
};

struct t_edit_job {
    t_edit_op op;
    float *s;
    long n;
    double v[2];
};

// [any thread] The plain formula: the new value of sample i, whose value is x.
float edit_sample(const t_edit_job &job, long i, float x);

// [any thread] Runs the job over samples [begin, end).
void edit_run(const t_edit_job &job, long begin, long end);

// [any thread] Runs the job over all n samples, shared between the cores when n is large;
// returns when every sample is done.
void edit_run_all(const t_edit_job &job);

// [any thread] The largest absolute sample of s[0 .. n-1], 0 for none; NaN is skipped.
double edit_peak(const float *s, long n);

// [any thread] s[i] = s[i + 1] - s[i] for i < n - 1, and s[n - 1] = -s[n - 1].
void edit_getdeltas(float *s, long n);

// The vector versions of the three over samples [begin, end), for machines with AVX2
// and FMA, or with AVX-512 F and DQ, only; next is the value that follows s[end - 1].
void edit_run_avx2(const t_edit_job &job, long begin, long end);
double edit_peak_avx2(const float *s, long begin, long end);
void edit_getdeltas_avx2(float *s, long begin, long end, float next);
void edit_run_avx512(const t_edit_job &job, long begin, long end);
double edit_peak_avx512(const float *s, long begin, long end);
void edit_getdeltas_avx512(float *s, long begin, long end, float next);

// The first factor of I0(beta) = m * exp(e), e being |beta| from edit_i0_series_below
// on and 0 below: the plain series there, so that the quotient is the series' own.
double edit_kaiser_denominator(double beta);

// 1 / (k!)^2 for k = 0 .. edit_i0_terms - 1: the power series of I0 in (x / 2)^2,
// which the vector loops use for |x| below edit_i0_series_below.
constexpr int edit_i0_terms = 64;
constexpr double edit_i0_series_below = 30.0;
const double *edit_i0_coefficients();
// How many of those terms I0(x) needs: the rest add less than 1e-19 of the sum.
int edit_i0_count(double x);
