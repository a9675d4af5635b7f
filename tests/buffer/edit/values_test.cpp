// Every window and generated fill against its formula evaluated here, plainly, sample by
// sample, with the C library's sin, cos and sqrt: the stored floats may differ from it in
// at most one sample in a million, by at most one float step, and never in sign.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>

#include "buffer_test.h"

namespace {

using Floats = std::vector<float>;
// The new value of sample i of n, whose value was x.
using Formula = std::function<float(long i, long n, float x)>;

const double kPi = 3.14159265358979323846;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
const long kLengths[] = {1, 2, 3, 7, 127, 1024, 4097};
#else
const long kLengths[] = {1, 2, 3, 7, 127, 1024, 4097, 1000003};
#endif

// Floats in sign-magnitude order, so that neighbours differ by 1.
int64_t ordered(float f) {
    int32_t i;
    std::memcpy(&i, &f, sizeof i);
    return i < 0 ? (int64_t)INT32_MIN - i : i;
}

double I0(double x) {
    double sum = 1, term = 1;
    for (double k = 1;; k++) {
        term *= (x / 2 / k) * (x / 2 / k);
        sum += term;
        if (!(term > 1e-21)) return sum;
    }
}

Formula weighted(std::function<double(long i, long n)> w) {
    return [w](long i, long n, float x) { return (float)(x * w(i, n)); };
}

Formula raised(double a, double b, bool half) {
    return weighted([=](long i, long n) {
        return half ? a + b * std::cos(2 * kPi * i / (2.0 * n)) : a + b * std::cos(2 * kPi * ((float)i / (float)n - 0.5));
    });
}

double blackman(double p, long n) { return 0.42 - 0.5 * std::cos(2 * kPi * p / (n - 1)) + 0.08 * std::cos(4 * kPi * p / (n - 1)); }

Formula kaiser(double beta, bool half) {
    return weighted([=](long i, long n) {
        // Sample n-1-k of the half form takes the weight at k/n - 1.
        double x = half ? (double)(n - 1 - i) / n - 1 : 2.0 * i / (n - 1) - 1;
        return I0(beta * std::sqrt(std::max(0.0, 1 - x * x))) / I0(beta);
    });
}

Formula periodic(bool sine, int a, int b) {
    return [=](long i, long n, float) {
        double u = 2 * kPi * a / b * i / n;
        return (float)(sine ? std::sin(u) : std::cos(u));
    };
}

Formula sinc(double width, bool onesided) {
    return [=](long i, long n, float) {
        double p = n / width;
        if (onesided ? i == 0 : i == n / 2) return 1.0f;
        double u = onesided ? i * kPi / p : (double)(i - n / 2) * kPi / (p / 2);
        return (float)(std::sin(u) / u);
    };
}

struct Case {
    const char *sel, *args;
    Formula formula;
    long from = 1;  // the shortest length the form is defined for
};

class Values : public orvo_test::BufferTest {};

TEST_F(Values, MatchThePlainFormula) {
    const Case cases[] = {
        {"fill", "cos", periodic(false, 1, 1)},
        {"fill", "cos 3 2", periodic(false, 3, 2)},
        {"fill", "cos 1000", periodic(false, 1000, 1)},
        {"fill", "cos -7 3", periodic(false, -7, 3)},
        {"fill", "cos 2147483647", periodic(false, 2147483647, 1)},
        {"fill", "sin", periodic(true, 1, 1)},
        {"fill", "sin 1 2", periodic(true, 1, 2)},
        {"fill", "sin 1000", periodic(true, 1000, 1)},
        {"fill", "sin 12345 7", periodic(true, 12345, 7)},
        {"fill", "sinc 4", sinc(4, false)},
        {"fill", "sinc 0.37", sinc(0.37, false)},
        {"fill", "sinc 1000 1", sinc(1000, true)},
        {"fill", "sinc 2.5 1", sinc(2.5, true)},
        {"apply", "hamming", raised(0.54, 0.46, false)},
        {"apply", "hamming half", raised(0.54, 0.46, true)},
        {"apply", "hanning", raised(0.5, 0.5, false)},
        {"apply", "hanning half", raised(0.5, 0.5, true)},
        {"apply", "blackman", weighted([](long i, long n) { return blackman(i, n); }), 2},
        {"apply", "blackman half",
         weighted([](long i, long n) { return blackman((float)(i / 2.0 + (double)(n / 2)), n); }), 2},
        {"apply", "welch", [](long i, long n, float x) {
             float t = 2.0f * ((float)i / (float)n - 0.5f);
             return (float)(x * (1.0 - (double)(t * t)));
         }},
        {"apply", "welch half", [](long i, long n, float x) {
             float t = (float)i / (float)n;
             return (float)(x * (1.0 - (double)(t * t)));
         }},
        {"apply", "triangle", [](long i, long n, float x) {
             long k = std::min(i, n - 1 - i);
             return k < n / 2 ? x * (float)(k / (n / 2.0)) : x;
         }},
        {"apply", "triangle half", [](long i, long n, float x) { return x * (float)(n - 1 - i) * (1.0f / (float)n); }},
        {"apply", "kaiser", kaiser(6, false), 2},
        {"apply", "kaiser 0.5", kaiser(0.5, false), 2},
        {"apply", "kaiser 20", kaiser(20, false), 2},
        {"apply", "kaiser 29.9", kaiser(29.9, false), 2},
        {"apply", "kaiser -12", kaiser(-12, false), 2},
        {"apply", "kaiser 100", kaiser(100, false), 2},
        {"apply", "kaiser 6 half", kaiser(6, true)},
        {"apply", "kaiser 20 half", kaiser(20, true)},
    };
    std::mt19937 random(19);
    std::uniform_real_distribution<float> level(-1.0f, 1.0f);
    long total = 0, inexact = 0;
    for (const Case &c : cases) {
        int64_t worst = 0;
        for (long n : kLengths) {
            if (n < c.from) continue;
            t_buffer *b = buffer();
            send(b, "sizeinsamps", std::to_string(n));
            Floats before(n);
            for (float &v : before) v = level(random);
            std::copy(before.begin(), before.end(), b->b_samples);
            send(b, c.sel, c.args);
            for (long i = 0; i < n; i++) {
                float want = c.formula(i, n, before[i]), got = b->b_samples[i];
                if (ordered(got) == ordered(want) || (std::isnan(got) && std::isnan(want))) continue;
                int64_t d = std::isnan(got) || std::isnan(want) ? INT64_MAX : std::llabs(ordered(got) - ordered(want));
                worst = std::max(worst, d);
                inexact++;
                if (want != 0) {
                    EXPECT_EQ(std::signbit(got), std::signbit(want)) << c.sel << " " << c.args << " " << n << " [" << i << "]";
                }
            }
            total += n;
            free_box(&b->b_obj);
        }
        EXPECT_LE(worst, 1) << c.sel << " " << c.args;
    }
    EXPECT_LE(inexact, total / 1000000) << "of " << total;
}

}  // namespace
