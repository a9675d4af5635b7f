// fill, apply, normalize and crop, sent as a patch would send them.
#include <cmath>
#include <numeric>

#include "buffer_test.h"

namespace {

using Floats = std::vector<float>;
using Lines = std::vector<std::string>;

class Edit : public orvo_test::BufferTest {
  protected:
    t_buffer *sized(long frames, long chans = 1, const std::string &name = "", double sr = 48000) {
        t_buffer *b = buffer(name);
        send(b, "sr", std::to_string(sr));
        send(b, "sizeinsamps", std::to_string(frames) + " " + std::to_string(chans));
        console();
        return b;
    }
    t_buffer *holding(const Floats &v, long chans = 1, const std::string &name = "") {
        t_buffer *b = sized((long)v.size() / chans, chans, name);
        std::copy(v.begin(), v.end(), b->b_samples);
        return b;
    }
    // Sample i holds i + 1.
    t_buffer *ramp(long frames, long chans, double sr = 48000, const std::string &name = "") {
        t_buffer *b = sized(frames, chans, name, sr);
        std::iota(b->b_samples, b->b_samples + b->b_size, 1.0f);
        return b;
    }
    Floats after(const Floats &v, const std::string &args, long chans = 1) {
        t_buffer *b = holding(v, chans);
        send(b, "apply", args);
        return samples(b);
    }
    static Floats samples(const t_buffer *b, long n = -1) {
        return {b->b_samples, b->b_samples + (n < 0 ? b->b_size : n)};
    }
    // n numbers counting up from `from`, then `zeros` zeros.
    static Floats counting(float from, long n, long zeros = 0) {
        Floats v((size_t)(n + zeros), 0.0f);
        std::iota(v.begin(), v.begin() + n, from);
        return v;
    }
    static void expect_near(const Floats &got, const std::vector<double> &want, double tol) {
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); i++) EXPECT_NEAR(got[i], want[i], tol) << "[" << i << "]";
    }
};

// ---- fill ------------------------------------------------------------------------------------

TEST_F(Edit, FillConstantStaysInsideTheSamples) {
    t_buffer *b = sized(100, 2);
    send(b, "fill", "-3 2 1");  // the first number only
    EXPECT_EQ(samples(b), Floats(200, -3.0f));
    EXPECT_EQ(b->b_memory[b->b_padding - 1], 0.0f);
    EXPECT_EQ(b->b_samples[200], 0.0f);
    send(b, "fill", "0");
    EXPECT_EQ(samples(b), Floats(200, 0.0f));
}

// The values of every generated fill are held to their formula by the values test;
// here the forms of the message.
TEST_F(Edit, FillCosineSineAndSinc) {
    t_buffer *b = sized(8);
    send(b, "fill", "cos");
    const double r = std::sqrt(0.5);
    expect_near(samples(b), {1, r, 0, -r, -1, -r, 0, r}, 1e-7);
    // The zero crossings are the cosines of the doubles nearest pi/2 and 3 pi/2, signs kept.
    EXPECT_EQ(b->b_samples[2], 6.12323426e-17f);
    EXPECT_EQ(b->b_samples[6], -1.83697015e-16f);

    // A float count is taken as an integer; the cycles span the interleaved sequence.
    t_buffer *s = sized(50, 2);
    send(s, "fill", "sin 2.7");
    Floats a = samples(s);
    send(s, "fill", "sin 2");
    EXPECT_EQ(samples(s), a);
    expect_near({s->b_samples[12], s->b_samples[25]}, {0.998027, 0}, 1e-6);

    t_buffer *c = sized(1000);
    send(c, "fill", "sinc 4");  // centred
    EXPECT_EQ(c->b_samples[500], 1.0f);
    send(c, "fill", "sinc 4 1");  // one-sided: 1 at the start, a crossing every 250
    EXPECT_EQ(c->b_samples[0], 1.0f);
    EXPECT_NEAR(c->b_samples[250], 0.0f, 1e-6);
}

TEST_F(Edit, FillRefusalsChangeAndAnnounceNothing) {
    t_buffer *b = holding(Floats(10, 0.5f), 1, "f"), *empty = sized(0);
    watch("f");
    orvo::advance(1);
    const std::string unknown = "buffer~: error: unknown type for 'fill' method";
    const std::string sinc0 = "buffer~: error: fill sinc: width 0 gives no finite pulse";
    const std::pair<t_buffer *, const char *> cases[] = {
        {b, "sinc"}, {b, "SIN"}, {b, "sinc 0"}, {empty, "sinc 0"}, {b, "sinc 1e-320"}, {b, "cos 1 0"}, {b, ""}};
    for (const auto &[x, args] : cases) send(x, "fill", args);
    EXPECT_EQ(console(), (Lines{unknown, unknown, sinc0, sinc0,
                                "buffer~: error: fill sinc: width 9.99989e-321 gives no finite pulse",
                                "buffer~: error: fill cos: cycle divisor must not be 0"}));
    send(b, "setsize", "-1");  // an invalid buffer is left alone
    console();
    send(b, "fill", "0.75");
    EXPECT_EQ(samples(b, 10), Floats(10, 0.5f));
}

// ---- apply -----------------------------------------------------------------------------------

TEST_F(Edit, ApplyWindowsOnOnes) {
    const double r = std::sqrt(0.5), k = 0.0148733;  // k = 1 / I0(6), the default beta
    const struct {
        const char *args;
        std::vector<double> want;
        long chans = 1;
    } cases[] = {
        {"hanning", {0, 0.5, 1, 0.5}},
        {"hanning", {0, 0.5, 1, 0.5}, 2},  // one window over the interleaved sequence
        {"hanning 3 half", {1, 0.853553, 0.5, 0.146447}},
        {"hamming", {0.08, 0.54, 1, 0.54}},
        {"welch", {0, 0.75, 1, 0.75}},
        {"welch half", {1, 0.9375, 0.75, 0.4375}},
        {"triangle", {0, 0.5, 0.5, 0}},
        {"triangle", {0, 0.4, 1, 0.4, 0}},
        {"triangle half", {0.75, 0.5, 0.25, 0}},
        {"blackman", {0, 0.34, 1, 0.34, 0}},
        {"blackman half", {1, 0.42 + 0.5 * r, 0.34, 0.42 - 0.5 * r, 0}},
        {"kaiser", {k, 0.482956, 1, 0.482956, k}},
        {"kaiser 6 half", {0.840685, 0.482956, 0.163608, k}},
        {"kaiser half", {1, 1, 1, 1}},  // beta is read from "half": 0
        {"kaiser 700", {0, 1, 0}},      // a long series still ends
        {"blackman", {1}},              // single samples: no division by zero
        {"kaiser", {1}},
        {"triangle half", {0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args);
        expect_near(after(Floats(c.want.size(), 1.0f), c.args, c.chans), c.want, 1e-6);
    }
    // I0(beta) overflows: still a window, never inf times 0.
    EXPECT_EQ(after({1, 1, 1}, "kaiser 2000"), (Floats{0, 1, 0}));
    EXPECT_EQ(after({1, 1, 1}, "kaiser -1e19"), (Floats{0, 1, 0}));
    EXPECT_EQ(after({1, 1, 1}, "kaiser -1.7e308"), (Floats{0, 1, 0}));
}

// I0 by its series in extended precision, which does not overflow for the betas below.
long double series_I0(long double x) {
    long double sum = 1, term = 1;
    for (int k = 1; term > 1e-21L; k++) {
        long double r = x / 2 / k;
        term *= r * r;
        sum += term;
    }
    return sum;
}

TEST_F(Edit, KaiserHoldsAtLargeAndInfiniteBetas) {
    for (double beta : {700.0, 750.0, 5000.0}) {  // the weights near the centre are neither 0 nor 1
        SCOPED_TRACE(beta);
        Floats w = after(Floats(1001, 1.0f), "kaiser " + std::to_string(beta));
        long double den = series_I0(beta);
        for (long i = 0; i < 1001; i++) {
            double x = 2.0 * (double)i / 1000.0 - 1.0;
            float want = (float)(series_I0(beta * std::sqrt(1.0 - x * x)) / den);
            EXPECT_LE(std::fabs(w[i] - want), std::nextafter(want, 2.0f) - want) << i;
        }
        EXPECT_EQ(w[500], 1.0f);
    }
    const struct {
        const char *args;
        Floats want;
    } cases[] = {
        {"kaiser 1e300", {0, 0, 1, 0, 0}},  // finishes: no series of 1e300 terms
        {"kaiser 1e400", {0, 0, 1, 0, 0}},  // infinite: the limit
        {"kaiser -1e400", {0, 0, 0, 0}},    // no sample at the centre
        {"kaiser 1e400 half", {0, 0, 0}},
    };
    for (const auto &c : cases) EXPECT_EQ(after(Floats(c.want.size(), 1.0f), c.args), c.want) << c.args;

    t_buffer *b = holding(Floats(3, 1.0f));  // NaN gives what the formula gives
    t_atom av[2];
    atom_setsym(av, gensym("kaiser"));
    atom_setfloat(av + 1, std::nan(""));
    object_method_typed(b, gensym("apply"), 2, av, nullptr);
    for (float v : samples(b)) EXPECT_TRUE(std::isnan(v));
}

TEST_F(Edit, HammingWeightsUseTheirOwnConstants) {
    // 0.54 + (1 - 0.54) c differs from 0.54 + 0.46 c by one double step: this sample shows it.
    EXPECT_EQ(after({1, 0x1.000022p+0f, 1}, "hamming half")[1], 0x1.8a3da6p-1f);
}

TEST_F(Edit, ApplyPointOperationsAndRefusals) {
    EXPECT_EQ(after({1, 3, 6, 10}, "getdeltas"), (Floats{2, 3, 4, -10}));
    EXPECT_EQ(after({1, -2, 0.25f, 8}, "gain 0.5", 2), (Floats{0.5f, -1, 0.125f, 4}));
    EXPECT_EQ(after({1, -2, 0.25f, 8}, "offset -1", 2), (Floats{0, -3, -0.75f, 7}));
    EXPECT_EQ(after({1, 2}, "gain foo"), (Floats{0, 0}));
    t_buffer *b = holding({4, 4});
    for (const char *args : {"", "gain", "half", "3", "Hanning"}) send(b, "apply", args);
    EXPECT_EQ(console(), Lines(5, "buffer~: error: unknown function name for 'apply' method"));
    EXPECT_EQ(samples(b), (Floats{4, 4}));
}

TEST_F(Edit, LongBuffersSharedBetweenCoresEditEverySampleOnce) {
    const long n = 1000003;  // long enough to be shared out
    Floats v(n);
    for (long i = 0; i < n; i++) v[i] = (float)((i * 7919) % 1000) - 500.0f;
    Floats d = after(v, "getdeltas");
    for (long i = 0; i < n; i++) ASSERT_EQ(d[i], (i + 1 < n ? v[i + 1] : 0.0f) - v[i]) << i;

    t_buffer *b = holding(v);
    send(b, "normalize", "1");  // the peak may sit in any part
    for (long i = 0; i < n; i++) ASSERT_EQ(b->b_samples[i], (float)(v[i] / 500.0)) << i;
}

// ---- normalize and crop ------------------------------------------------------------------------

TEST_F(Edit, NormalizeUsesOneFactorForAllChannels) {
    t_buffer *b = holding({-0.5f, 0.25f, 0.1f, -0.2f}, 2);
    send(b, "normalize", "2.");
    EXPECT_EQ(samples(b), (Floats{-2, 1, 0.4f, -0.8f}));
    const std::string pos = "buffer~: error: normalize requires positive, non-zero argument";
    const std::string flt = "buffer~: error: normalize requires float argument";
    for (const char *args : {"0", "-0.5", "0.5 0.5", "foo", ""}) send(b, "normalize", args);
    EXPECT_EQ(console(), (Lines{pos, pos, flt, flt, flt}));
    EXPECT_EQ(b->b_samples[0], -2.0f);
}

TEST_F(Edit, CropKeepsTheRange) {
    t_buffer *b = ramp(48000, 1);  // keeps frames 48 to 95, then one frame of silence
    send(b, "crop", "1 2");
    EXPECT_EQ(samples(b), counting(49, 48, 1));

    t_buffer *c = ramp(1000, 1, 44100);  // the end is limited to the last frame: no resize at all
    float *before = c->b_samples;
    send(c, "crop", "0 1000");
    EXPECT_EQ(c->b_samples, before);
    EXPECT_EQ(samples(c), counting(1, 1000));

    t_buffer *s = ramp(100, 2);  // a negative start is the buffer's start; channels stay paired
    send(s, "crop", "-5 0.5");
    EXPECT_EQ(s->b_nchans, 2);
    EXPECT_EQ(samples(s), counting(1, 48, 2));
    EXPECT_TRUE(console().empty());
}

TEST_F(Edit, CropRefusals) {
    t_buffer *b = ramp(1000, 1), *empty = ramp(0, 1);
    const std::string nothing = "buffer~: error: nothing to crop",
                      missing = "buffer~: error: missing arguments to crop";
    for (const char *args : {"10 5", "5 5", "-3 -1", "10", ""}) send(b, "crop", args);
    send(empty, "crop", "0 1");
    EXPECT_EQ(console(), (Lines{nothing, nothing, nothing, missing, missing, nothing}));

    orvo::mem_fail_above(160);  // no block for the 48 kept samples
    send(b, "crop", "1 2");
    orvo::mem_fail_reset();
    EXPECT_EQ(console(), Lines{"buffer~: error: not enough memory to crop"});
    EXPECT_EQ(samples(b), counting(1, 1000));

    orvo::set_edits_refused(true);  // the kept samples land in the memory still held
    send(b, "crop", "1 2");
    orvo::set_edits_refused(false);
    EXPECT_EQ(console(), Lines{"buffer~: error: can't resize now"});
    EXPECT_EQ(samples(b, 48), counting(49, 48));
    EXPECT_EQ(b->b_samples[48], 49.0f);  // untouched

    t_buffer *m = ramp(1000, 1, 48000, "m");
    orvo::mem_fail_above(2000);  // the 100-frame fallback takes what fits of the 480 kept
    send(m, "crop", "0 10");
    EXPECT_EQ(samples(m, 101), counting(1, 100, 1));  // and not past them
    orvo::mem_fail_above(200);  // not even the fallback: nothing to write into
    send(m, "crop", "1 2");
    orvo::mem_fail_reset();
    EXPECT_EQ(console(), Lines(2, "buffer~: error: m: not enough memory to resize"));
    EXPECT_EQ(m->b_memory, nullptr);
}

// ---- notification and threads -----------------------------------------------------------------

TEST_F(Edit, EachEditIsAnnouncedOncePerSchedulerTime) {
    t_buffer *n = ramp(1000, 1, 44100, "n"), *peer = buffer("n"), *empty = sized(0, 1, "e");
    t_buffer *quiet = sized(4, 1, "q");
    for (const char *name : {"n", "e", "q"}) watch(name);
    const struct {
        t_buffer *x;
        const char *sel, *args;
        bool announced;
    } cases[] = {
        {peer, "fill", "0.5", true},         {empty, "fill", "cos", true},   {peer, "apply", "gain 2", true},
        {empty, "apply", "getdeltas", true}, {peer, "normalize", "1", true}, {quiet, "normalize", "1", false},
        {empty, "normalize", "1", false},    {n, "crop", "0 1000", true},  // nothing resized, still a change
    };
    for (const auto &c : cases) {
        orvo::advance(1);
        console();
        send(c.x, c.sel, c.args);
        send(c.x, c.sel, c.args);
        std::string line = std::string("watch ") + c.x->b_name->s_name + ": buffer_modified";
        EXPECT_EQ(console(), c.announced ? Lines{line} : Lines{}) << c.sel << " " << c.args;
    }

    orvo::advance(1);  // apply from the scheduler thread: done at once, announced on the main thread
    send_sched(n, "apply", "gain 2");
    EXPECT_EQ(peer->b_samples[0], 2.0f);
    EXPECT_TRUE(console().empty());
    orvo::run_until_idle();
    EXPECT_EQ(console(), Lines{"watch n: buffer_modified"});
}

TEST_F(Edit, CropFromTheSchedulerWaitsForTheMainThreadAndReachesPeers) {
    t_buffer *a = ramp(4800, 2, 48000, "c"), *peer = buffer("c");
    watch("c");
    orvo::advance(1);
    send_sched(peer, "crop", "50 60");
    EXPECT_EQ(a->b_frames, 4800);
    orvo::run_until_idle();
    EXPECT_EQ(console(), Lines{"watch c: buffer_modified"});
    EXPECT_EQ(a->b_frames, 481);
    EXPECT_EQ(a->b_samples, peer->b_samples);
    EXPECT_EQ(a->b_samples[0], 4801.0f);
}

}  // namespace
