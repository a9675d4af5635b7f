// normalize and crop.
#include <numeric>

#include "buffer_test.h"

namespace {

const std::string kNothing = "buffer~: error: nothing to crop";

class Edit : public orvo_test::BufferTest {
  protected:
    // frames of chans channels at rate sr; sample i holds i + 1.
    t_buffer *ramp(long frames, long chans, double sr = 48000, const std::string &name = "") {
        t_buffer *b = buffer(name);
        send(b, "sr", std::to_string(sr));
        send(b, "sizeinsamps", std::to_string(frames) + " " + std::to_string(chans));
        std::iota(b->b_samples, b->b_samples + b->b_size, 1.0f);
        console();
        return b;
    }
    std::vector<float> samples(t_buffer *b, long n) { return std::vector<float>(b->b_samples, b->b_samples + n); }
};

TEST_F(Edit, Normalize) {
    t_buffer *b = ramp(2, 2, 48000, "n");
    const float in[4] = {-0.5f, 0.25f, 0.1f, -0.2f};
    std::copy(in, in + 4, b->b_samples);
    send(b, "normalize", "1.");  // one factor for all channels
    EXPECT_EQ(samples(b, 4), (std::vector<float>{-1, 0.5f, 0.2f, -0.4f}));
    send(b, "normalize", "2");
    EXPECT_EQ(samples(b, 4), (std::vector<float>{-2, 1, 0.4f, -0.8f}));
    const std::string pos = "buffer~: error: normalize requires positive, non-zero argument";
    const std::string flt = "buffer~: error: normalize requires float argument";
    for (const char *args : {"0", "-1", "-0.5", "0.5 0.5", "foo", ""}) send(b, "normalize", args);
    EXPECT_EQ(console(), (std::vector<std::string>{pos, pos, pos, flt, flt, flt}));
    EXPECT_EQ(b->b_samples[0], -2.0f);

    // Silence and emptiness: nothing scaled, nothing announced.
    t_buffer *z = ramp(10, 1, 48000, "z"), *empty = ramp(0, 1);
    std::fill(z->b_samples, z->b_samples + 10, 0.0f);
    watch("z");
    orvo::advance(1);
    send(z, "normalize", "1");
    send(empty, "normalize", "1");
    EXPECT_TRUE(console().empty());
    EXPECT_EQ(z->b_samples[9], 0.0f);
}

TEST_F(Edit, CropKeepsTheRange) {
    t_buffer *b = ramp(48000, 1);  // keeps frames 48 to 95, then one frame of silence
    send(b, "crop", "1 2");
    ASSERT_EQ(b->b_frames, 49);
    for (int i = 0; i < 48; i++) ASSERT_EQ(b->b_samples[i], 49.0f + i) << i;
    EXPECT_EQ(b->b_samples[48], 0.0f);

    t_buffer *c = ramp(1000, 1, 44100);  // the end is limited to the last frame: no resize at all
    float *before = c->b_samples;
    send(c, "crop", "0 1000");
    EXPECT_EQ(c->b_frames, 1000);
    EXPECT_EQ(c->b_samples, before);
    EXPECT_EQ(c->b_samples[999], 1000.0f);

    t_buffer *s = ramp(100, 2);  // a negative start is the buffer's start; channels stay paired
    send(s, "crop", "-5 0.5");
    ASSERT_EQ(s->b_frames, 25);
    EXPECT_EQ(s->b_nchans, 2);
    EXPECT_EQ(samples(s, 51), [] {
        std::vector<float> v(51, 0.0f);
        std::iota(v.begin(), v.begin() + 48, 1.0f);
        return v;
    }());
    EXPECT_TRUE(console().empty());
}

TEST_F(Edit, CropRefusals) {
    t_buffer *b = ramp(1000, 1), *empty = ramp(0, 1);
    const std::string missing = "buffer~: error: missing arguments to crop";
    for (const char *args : {"10 5", "5 5", "-3 -1", "0.25 foo", "10", ""}) send(b, "crop", args);
    send(empty, "crop", "0 1");
    EXPECT_EQ(console(),
              (std::vector<std::string>{kNothing, kNothing, kNothing, kNothing, missing, missing, kNothing}));

    orvo_test::Atoms range("1 2");
    orvo::mem_fail_next(1);  // the block for the kept samples
    object_method_typed(b, gensym("crop"), range.argc, range.argv, nullptr);
    orvo::mem_fail_reset();
    EXPECT_EQ(console(), std::vector<std::string>{"buffer~: error: not enough memory to crop"});
    EXPECT_EQ(b->b_frames, 1000);
    EXPECT_EQ(b->b_samples[0], 1.0f);
}

TEST_F(Edit, CropWhenTheResizeFails) {
    t_buffer *b = ramp(1000, 1), *c = ramp(1000, 1);  // refused: the kept samples land in the memory still held
    orvo::set_edits_refused(true);
    send(b, "crop", "1 2");
    orvo::set_edits_refused(false);
    EXPECT_EQ(console(), std::vector<std::string>{"buffer~: error: can't resize now"});
    EXPECT_EQ(b->b_frames, 1000);
    EXPECT_EQ(samples(b, 49), [] {
        std::vector<float> v(49);
        std::iota(v.begin(), v.end() - 1, 49.0f);
        v.back() = 49.0f;
        return v;
    }());

    orvo::mem_fail_above(2000);  // out of memory: the 100-frame fallback takes what fits of 480
    send(b, "crop", "0 10");
    ASSERT_EQ(b->b_frames, 100);
    EXPECT_EQ(b->b_samples[99], 100.0f);
    orvo::mem_fail_above(200);  // not even the fallback: nothing to write into
    send(c, "crop", "1 2");
    orvo::mem_fail_reset();
    EXPECT_EQ(console().size(), 2u);
    EXPECT_EQ(c->b_memory, nullptr);
}

TEST_F(Edit, CropNotifiesOnceAndReachesPeers) {
    t_buffer *a = ramp(4800, 2, 48000, "c");
    t_buffer *peer = buffer("c");
    watch("c");
    orvo::advance(1);
    console();
    send(peer, "crop", "50 60");
    EXPECT_EQ(console(), std::vector<std::string>{"watch c: buffer_modified"});
    EXPECT_EQ(a->b_frames, 481);
    EXPECT_EQ(a->b_samples, peer->b_samples);
    EXPECT_EQ(a->b_samples[0], 4801.0f);

    orvo::advance(1);  // the length is kept and nothing resized, but the crop is still announced
    send(a, "crop", "0 1000");
    EXPECT_EQ(console(), std::vector<std::string>{"watch c: buffer_modified"});

    orvo::advance(1);  // from the scheduler thread the work waits for the main thread
    send_sched(a, "crop", "1 2");
    EXPECT_EQ(peer->b_frames, 481);
    orvo::run_until_idle();
    EXPECT_EQ(peer->b_frames, 49);
    EXPECT_EQ(peer->b_samples[0], 4801.0f + 96);
    EXPECT_EQ(console(), std::vector<std::string>{"watch c: buffer_modified"});
}

}  // namespace
