// fill with a constant, sinc, cos and sin.
#include <cmath>

#include "buffer_test.h"

using orvo_test::BufferTest;

namespace {

class Fill : public BufferTest {
  protected:
    t_buffer *sized(t_atom_long frames, t_atom_long chans, const std::string &name = "") {
        t_buffer *b = buffer(name);
        send(b, "sizeinsamps", std::to_string(frames) + " " + std::to_string(chans));
        console();
        return b;
    }
};

TEST_F(Fill, Constants) {
    t_buffer *b = sized(100, 2);
    send(b, "fill", "0.5");
    for (int i = 0; i < 200; i++) ASSERT_EQ(b->b_samples[i], 0.5f) << i;
    send(b, "fill", "0");
    for (int i = 0; i < 200; i++) ASSERT_EQ(std::signbit(b->b_samples[i]) || b->b_samples[i] != 0.0f, false);
    send(b, "fill", "1 2 3");
    EXPECT_EQ(b->b_samples[199], 1.0f);
    send(b, "fill", "-3");
    EXPECT_EQ(b->b_samples[0], -3.0f);
    EXPECT_EQ(b->b_padding, 16);
    EXPECT_EQ(b->b_memory[15], 0.0f);
    EXPECT_EQ(b->b_samples[200], 0.0f);
}

TEST_F(Fill, CosineAndSine) {
    t_buffer *b = sized(8, 1);
    send(b, "fill", "cos");
    const float r = (float)std::sqrt(0.5);
    const float cyc[8] = {1, r, 0, -r, -1, -r, 0, r};
    for (int i = 0; i < 8; i++) EXPECT_NEAR(b->b_samples[i], cyc[i], 1e-7) << i;

    t_buffer *h = sized(100, 1);
    send(h, "fill", "sin 1 2");
    EXPECT_EQ(h->b_samples[0], 0.0f);
    EXPECT_EQ(h->b_samples[50], 1.0f);
    for (int i = 1; i < 100; i++) {
        EXPECT_GT(h->b_samples[i], 0.0f) << i;
        if (i < 50) {
            EXPECT_LT(h->b_samples[i], h->b_samples[i + 1]) << i;
        }
    }
    EXPECT_NEAR(h->b_samples[99], std::sin(M_PI * 99 / 100), 1e-7);

    // A float count is taken as an integer; the cycles span the interleaved sequence.
    t_buffer *s = sized(50, 2);
    send(s, "fill", "sin 2.7");
    std::vector<float> a(s->b_samples, s->b_samples + 100);
    send(s, "fill", "sin 2");
    for (int i = 0; i < 100; i++) ASSERT_EQ(a[i], s->b_samples[i]);
    EXPECT_NEAR(s->b_samples[25], 0.0f, 1e-6);   // two cycles over 100 samples
    EXPECT_NEAR(s->b_samples[12], std::sin(2 * M_PI * 2 * 12 / 100.0), 1e-7);
}

TEST_F(Fill, Sinc) {
    t_buffer *b = sized(1000, 1);
    send(b, "fill", "sinc 4");
    EXPECT_EQ(b->b_samples[500], 1.0f);
    for (int k = -4; k <= 3; k++) {
        if (k == 0) continue;
        EXPECT_NEAR(b->b_samples[500 + 125 * k], 0.0f, 1e-6) << k;
    }
    EXPECT_NEAR(b->b_samples[501], std::sin(M_PI / 125) / (M_PI / 125), 1e-7);
    EXPECT_GT(b->b_samples[560], 0.0f);
    EXPECT_LT(b->b_samples[560 + 125], 0.0f);

    send(b, "fill", "sinc 4 1");
    EXPECT_EQ(b->b_samples[0], 1.0f);
    for (int z : {250, 500, 750}) EXPECT_NEAR(b->b_samples[z], 0.0f, 1e-6) << z;
    EXPECT_NEAR(b->b_samples[125], std::sin(M_PI / 2) / (M_PI / 2), 1e-7);
}

TEST_F(Fill, RejectedFormsChangeNothing) {
    t_buffer *b = sized(10, 1, "f");
    send(b, "fill", "0.5");
    watch("f");
    orvo::advance(1);
    console();
    for (const char *args : {"sinc", "square", "foo 3", "SIN"}) {
        send(b, "fill", args);
        EXPECT_EQ(console(), std::vector<std::string>{"buffer~: error: unknown type for 'fill' method"}) << args;
    }
    send(b, "fill", "sinc 0");
    auto l = console();
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(l[0].rfind("buffer~: error: fill sinc:", 0), 0u) << l[0];
    send(b, "fill", "cos 1 0");
    l = console();
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(l[0].rfind("buffer~: error: fill cos:", 0), 0u) << l[0];
    send(b, "fill", "sinc 1e-320");
    EXPECT_EQ(console().size(), 1u);
    t_buffer *empty = sized(0, 1);
    send(empty, "fill", "sinc 0");
    send(empty, "fill", "sin 1 0");
    EXPECT_EQ(console().size(), 2u);
    for (int i = 0; i < 10; i++) ASSERT_EQ(b->b_samples[i], 0.5f);
    send(b, "fill");
    EXPECT_TRUE(console().empty());
}

TEST_F(Fill, NotifiesAndPropagates) {
    t_buffer *a = buffer("g");
    send(a, "sizeinsamps", "0 1");
    watch("g");
    orvo::advance(1);
    console();
    send(a, "fill", "cos");   // nothing to write, still a change
    EXPECT_EQ(console(), std::vector<std::string>{"watch g: buffer_modified"});

    t_buffer *b = sized(10, 1, "f");
    t_buffer *peer = buffer("f");
    send(peer, "fill", "0.25");
    EXPECT_EQ(b->b_samples[9], 0.25f);

    // An invalid buffer is left alone.
    send(b, "setsize", "-1");
    console();
    send(b, "fill", "0.75");
    EXPECT_EQ(b->b_samples[9], 0.25f);
}

}  // namespace
