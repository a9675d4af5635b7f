// The vector loops of each instruction set this machine has (not only the one the
// plug-in picks here) against the plain per-sample formula they stand in for.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "buffer~/edit/kernels.h"

namespace {

struct Isa {
    const char *name;
    bool here;
    void (*run)(const t_edit_job &, long, long);
    double (*peak)(const float *, long, long);
    void (*getdeltas)(float *, long, long, float);
};

bool same(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b)); }

TEST(Kernels, EachInstructionSetStoresThePlainFormulasFloats) {
    const Isa isas[] = {
        {"avx2", __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"), edit_run_avx2, edit_peak_avx2,
         edit_getdeltas_avx2},
        {"avx512", __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq"), edit_run_avx512,
         edit_peak_avx512, edit_getdeltas_avx512},
    };
    const long n = 4099, from = 3;  // a start off any vector boundary, an odd end
    const double pi = 3.14159265358979323846;
    const t_edit_job jobs[] = {
        {t_edit_op::constant, nullptr, n, {-0.25, 0}},
        {t_edit_op::fill_cos, nullptr, n, {2 * pi * 777, 0}},
        {t_edit_op::fill_sin, nullptr, n, {2 * pi * -3 / 7, 0}},
        {t_edit_op::sinc_onesided, nullptr, n, {n / 7.5, 0}},
        {t_edit_op::sinc_centred, nullptr, n, {n / 7.5 / 2, 0}},
        {t_edit_op::raisedcos_full, nullptr, n, {0.5, 0.5}},
        {t_edit_op::raisedcos_half, nullptr, n, {0.54, 0.46}},
        {t_edit_op::blackman_full, nullptr, n, {n - 1.0, 0}},
        {t_edit_op::blackman_half, nullptr, n, {n - 1.0, 0}},
        {t_edit_op::kaiser_full, nullptr, n, {17.5, edit_kaiser_denominator(17.5)}},
        {t_edit_op::kaiser_half, nullptr, n, {-4, edit_kaiser_denominator(-4)}},
        {t_edit_op::kaiser_full, nullptr, n, {45, edit_kaiser_denominator(45)}},
        {t_edit_op::welch_full, nullptr, n, {0, 0}},
        {t_edit_op::welch_half, nullptr, n, {0, 0}},
        {t_edit_op::triangle_full, nullptr, n, {0, 0}},
        {t_edit_op::triangle_half, nullptr, n, {0, 0}},
        {t_edit_op::gain, nullptr, n, {1.0 / 3, 0}},
        {t_edit_op::offset, nullptr, n, {0.1, 0}},
        {t_edit_op::scale, nullptr, n, {1.0 / 3, 0}},
    };
    std::vector<float> before(n);
    for (long i = 0; i < n; i++) before[i] = std::sin(i * 0.37f) * (1 + i % 5);
    before[2049] = -9.5f;  // the peak
    for (const Isa &isa : isas) {
        if (!isa.here) continue;
        SCOPED_TRACE(isa.name);
        for (const t_edit_job &j : jobs) {
            std::vector<float> got = before;
            t_edit_job job = j;
            job.s = got.data();
            isa.run(job, from, n);
            long inexact = 0;
            for (long i = 0; i < n; i++)
                inexact += !same(got[i], i < from ? before[i] : edit_sample(job, i, before[i]));
            EXPECT_EQ(inexact, 0) << "operation " << (int)j.op;
        }
        EXPECT_EQ(isa.peak(before.data(), from, n), 9.5);
        std::vector<float> d = before;
        isa.getdeltas(d.data(), from, 2000, 0.75f);
        for (long i = from; i < 2000; i++) ASSERT_EQ(d[i], (i < 1999 ? before[i + 1] : 0.75f) - before[i]) << i;
        EXPECT_EQ(d[2000], before[2000]);
    }
}

}  // namespace
