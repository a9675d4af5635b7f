// apply: window shapes, point operations, refusals and notification.
#include <cmath>

#include "buffer_test.h"

namespace {

class Apply : public orvo_test::BufferTest {
  protected:
    t_buffer *holding(const std::vector<float> &v, long chans = 1, const std::string &name = "") {
        t_buffer *b = buffer(name);
        send(b, "sizeinsamps", std::to_string(v.size() / chans) + " " + std::to_string(chans));
        std::copy(v.begin(), v.end(), b->b_samples);
        console();
        return b;
    }
    std::vector<float> after(const std::vector<float> &v, const std::string &args, long chans = 1) {
        t_buffer *b = holding(v, chans);
        send(b, "apply", args);
        return std::vector<float>(b->b_samples, b->b_samples + v.size());
    }
};

double kaiser(double beta, double x) {
    return std::cyl_bessel_i(0.0, beta * std::sqrt(1.0 - x * x)) / std::cyl_bessel_i(0.0, beta);
}

TEST_F(Apply, WindowsOnOnes) {
    const double r = std::sqrt(0.5);
    const struct {
        const char *args;
        std::vector<double> want;
        long chans = 1;
    } cases[] = {
        {"hanning", {0, 0.5, 1, 0.5}},
        {"hanning", {0, 0.5, 1, 0.5}, 2},  // one window over the interleaved sequence
        {"hanning half", {1, 0.853553, 0.5, 0.146447}},
        {"hanning 3 half", {1, 0.853553, 0.5, 0.146447}},
        {"hamming", {0.08, 0.54, 1, 0.54}},
        {"hamming half", {1, 0.54 + 0.46 * r, 0.54, 0.54 - 0.46 * r}},
        {"welch", {0, 0.75, 1, 0.75}},
        {"welch half", {1, 0.9375, 0.75, 0.4375}},
        {"triangle", {0, 0.5, 0.5, 0}},
        {"triangle half", {0.75, 0.5, 0.25, 0}},
        {"triangle", {0, 0.4, 1, 0.4, 0}},
        {"blackman", {0, 0.34, 1, 0.34, 0}},
        {"blackman half", {1, 0.42 + 0.5 * r, 0.34, 0.42 - 0.5 * r, 0}},
        {"kaiser half", {1, 1, 1, 1}},  // beta is read from "half": 0
        {"blackman", {1}},
        {"kaiser", {1}},
        {"triangle half", {0}},
    };
    for (const auto &c : cases) {
        auto got = after(std::vector<float>(c.want.size(), 1.0f), c.args, c.chans);
        for (size_t i = 0; i < got.size(); i++) EXPECT_NEAR(got[i], c.want[i], 1e-6) << c.args << " [" << i << "]";
    }
}

TEST_F(Apply, Kaiser) {
    for (int n : {5, 101}) {
        auto got = after(std::vector<float>(n, 1.0f), "kaiser");
        for (int i = 0; i < n; i++) ASSERT_NEAR(got[i], kaiser(6, 2.0 * i / (n - 1) - 1), 1e-6) << n << " " << i;
        EXPECT_NEAR(got[n - 1], 0.0148733, 1e-7);
    }
    const int n = 50;  // the half form falls from near 1 to 1/I0(beta)
    auto half = after(std::vector<float>(n, 2.0f), "kaiser 3.5 half");
    for (int i = 0; i < n; i++) ASSERT_NEAR(half[i], 2.0 * kaiser(3.5, (double)(n - 1 - i) / n - 1), 1e-6) << i;
    auto steep = after({1, 1, 1}, "kaiser 700");  // a long series still ends
    EXPECT_EQ(steep[0], 0.0f);
    EXPECT_NEAR(steep[1], 1.0f, 1e-6);
    EXPECT_EQ(after({1, 1, 1}, "kaiser 2000")[0], 0.0f);  // I0(beta) overflows
}

TEST_F(Apply, PointOperations) {
    EXPECT_EQ(after({1, 3, 6, 10}, "getdeltas"), (std::vector<float>{2, 3, 4, -10}));
    EXPECT_EQ(after({1, -2, 0.25f, 8}, "gain 0.5", 2), (std::vector<float>{0.5f, -1, 0.125f, 4}));
    EXPECT_EQ(after({1, -2, 0.25f, 8}, "offset -1", 2), (std::vector<float>{0, -3, -0.75f, 7}));
    EXPECT_EQ(after({1, 2}, "gain foo"), (std::vector<float>{0, 0}));
}

TEST_F(Apply, RefusalsAndNotification) {
    t_buffer *b = holding({4, 4}, 1, "p");
    t_buffer *peer = buffer("p");
    watch("p");
    orvo::advance(1);
    console();
    for (const char *args : {"", "gain", "offset", "half", "3", "Hanning"}) send(b, "apply", args);
    EXPECT_EQ(console(), std::vector<std::string>(6, "buffer~: error: unknown function name for 'apply' method"));
    EXPECT_EQ(b->b_samples[1], 4.0f);

    send(peer, "apply", "gain 0.25");
    send(peer, "apply", "offset 1");
    EXPECT_EQ(console(), std::vector<std::string>{"watch p: buffer_modified"});  // once per scheduler time
    EXPECT_EQ(b->b_samples[1], 2.0f);

    orvo::advance(1);  // from the scheduler thread: applied at once, announced on the main thread
    send_sched(b, "apply", "gain 2");
    EXPECT_EQ(b->b_samples[0], 4.0f);
    EXPECT_TRUE(console().empty());
    orvo::run_until_idle();
    EXPECT_EQ(console(), std::vector<std::string>{"watch p: buffer_modified"});

    t_buffer *e = holding({}, 1, "e");  // nothing to change, still announced
    watch("e");
    orvo::advance(1);
    console();
    send(e, "apply", "getdeltas");
    EXPECT_EQ(console(), std::vector<std::string>{"watch e: buffer_modified"});
}

}  // namespace
