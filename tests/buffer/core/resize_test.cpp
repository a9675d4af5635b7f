// Resizing, sample rate, clearing, duplicate and the size attributes.
#include <cmath>
#include <cstring>

#include "buffer_test.h"
#include "buffer~/window/window.h"

using orvo_test::BufferTest;

namespace {

t_symbol *S(const char *s) { return gensym(s); }

class Resize : public BufferTest {
  protected:
    std::vector<std::string> notes() {
        std::vector<std::string> out;
        for (auto &l : console())
            if (l.rfind("watch", 0) == 0) out.push_back(l);
        return out;
    }
};

TEST_F(Resize, UnchangedRequestDoesNothing) {
    t_buffer *a = buffer("a 1000 2");
    send(a, "fill", "0.5");
    watch("a");
    orvo::advance(1);
    console();
    float *mem = a->b_memory;
    send(a, "sizeinsamps", "44100 2");
    EXPECT_EQ(a->b_memory, mem);
    EXPECT_EQ(a->b_samples[100], 0.5f);
    EXPECT_TRUE(notes().empty());

    send(a, "sizeinsamps", "44100");   // channel count 0 keeps 2, but reallocates and zeroes
    EXPECT_EQ(a->b_nchans, 2);
    EXPECT_EQ(a->b_frames, 44100);
    EXPECT_EQ(a->b_samples[100], 0.0f);
    EXPECT_EQ(notes(), std::vector<std::string>{"watch a: buffer_modified"});
}

TEST_F(Resize, MillisecondsAndReportedSize) {
    t_buffer *a = buffer("a");
    send(a, "setsize", "1000");
    EXPECT_EQ(a->b_frames, 44100);
    EXPECT_EQ(a->b_nchans, 1);
    EXPECT_EQ(object_attr_getfloat(a, S("size")), 999.9999816500349);
    EXPECT_EQ(object_attr_getlong(a, S("samps")), 44100);
    EXPECT_EQ(a->b_valid, 1);

    float *mem = a->b_memory;
    send(a, "setsize", "-10");
    EXPECT_EQ(console(), std::vector<std::string>{"buffer~: error: size: bad size -440"});
    EXPECT_EQ(a->b_valid, 0);
    EXPECT_EQ(a->b_memory, mem);
    EXPECT_EQ(a->b_frames, 44100);

    send(a, "sizeinsamps", "0");
    EXPECT_EQ(a->b_valid, 1);
    EXPECT_EQ(a->b_frames, 0);
    ASSERT_NE(a->b_memory, nullptr);
    EXPECT_EQ(sysmem_ptrsize(a->b_memory), 2 * 16 * 4);
    EXPECT_EQ(object_attr_getfloat(a, S("size")), 0.0);

    // The attributes resize too, from messages and from creation arguments.
    send(a, "samps", "32 3");
    EXPECT_EQ(a->b_frames, 32);
    EXPECT_EQ(a->b_nchans, 3);
    send(a, "size", "10");
    EXPECT_EQ(a->b_frames, 441);
    EXPECT_EQ(a->b_nchans, 3);
    t_buffer *b = buffer("b @samps 64 2");
    EXPECT_EQ(b->b_frames, 64);
    EXPECT_EQ(b->b_nchans, 2);
    // Setters given no atoms do nothing.
    object_attr_setvalueof(b, S("samps"), 0, nullptr);
    object_attr_setvalueof(b, S("size"), 0, nullptr);
    EXPECT_EQ(b->b_frames, 64);
    // A buffer without memory reports 0.
    t_buffer *c = buffer("c");
    EXPECT_EQ(object_attr_getfloat(c, S("size")), 0.0);
}

TEST_F(Resize, ChannelCountDefaults) {
    t_buffer *a = buffer("a");
    send(a, "sizeinsamps", "10 0");
    EXPECT_EQ(a->b_nchans, 1);
    EXPECT_EQ(a->b_window->w_nchans, 1);
    send(a, "sizeinsamps", "10 4");
    EXPECT_EQ(a->b_nchans, 4);
    EXPECT_EQ(a->b_window->w_nchans, 4);
    EXPECT_EQ(a->b_size, 40);
}

TEST_F(Resize, SampleRate) {
    t_buffer *a = buffer("a 1000 1");
    send(a, "sr", "48000");
    EXPECT_EQ(a->b_msr, 48.0f);
    EXPECT_EQ(a->b_sr, 48000.0f);
    EXPECT_EQ(a->b_frames, 44100);
    // The rate is the box's own until a change propagates from it.
    t_buffer *peer = buffer("a");
    send(a, "sr", "22050");
    EXPECT_EQ(peer->b_sr, 48000.0f);
    send(peer, "fill", "0.5");
    EXPECT_EQ(a->b_sr, 48000.0f);
    send(a, "sr", "48000");
    orvo::set_sr(96000);
    send(a, "sr");
    EXPECT_EQ(a->b_sr, 96000.0f);
    orvo::set_sr(0);
    send(a, "sr");
    EXPECT_EQ(a->b_sr, 44100.0f);
    t_buffer *b = buffer("b 1000 1");   // a system rate of 0 gives 44100 at creation too
    EXPECT_EQ(b->b_frames, 44100);
    orvo::set_sr(44100);
}

TEST_F(Resize, ClearAndClearLow) {
    t_buffer *a = buffer("a 10 2");
    send(a, "fill", "0.5");
    send(a, "clear");
    EXPECT_EQ(a->b_samples[3], 0.0f);
    send(a, "fill", "0.5");
    send(a, "clearlow");
    EXPECT_EQ(a->b_samples[3], 0.5f);
    orvo::run_until_idle();
    EXPECT_EQ(a->b_samples[3], 0.0f);
    EXPECT_FALSE(std::signbit(a->b_samples[3]));
}

TEST_F(Resize, ThroughAPeerReachesEveryMember) {
    t_buffer *a = buffer("a");
    t_buffer *b = buffer("a");
    t_buffer *c = buffer("a");
    send(c, "sizeinsamps", "500 3");
    for (t_buffer *x : {a, b, c}) {
        EXPECT_EQ(x->b_memory, c->b_memory);
        EXPECT_EQ(x->b_frames, 500);
        EXPECT_EQ(x->b_nchans, 3);
        EXPECT_EQ(x->b_size, 1500);
        EXPECT_EQ(x->b_valid, 1);
    }
    EXPECT_TRUE(a->b_isowner);
}

TEST_F(Resize, RefusedAndOutOfMemory) {
    t_buffer *a = buffer("a 10 2");
    float *mem = a->b_memory;
    orvo::set_edits_refused(true);
    send(a, "sizeinsamps", "100 1");
    orvo::set_edits_refused(false);
    EXPECT_EQ(console(), std::vector<std::string>{"buffer~: error: can't resize now"});
    EXPECT_EQ(a->b_memory, mem);
    EXPECT_EQ(a->b_nchans, 2);

    t_buffer *peer = buffer("a");
    watch("a");
    orvo::advance(1);
    console();
    orvo::mem_fail_above(1 << 20);
    send(a, "sizeinsamps", "1000000 4");
    orvo::mem_fail_reset();
    auto lines = console();
    EXPECT_EQ(lines, std::vector<std::string>{"buffer~: error: a: not enough memory to resize"});
    EXPECT_EQ(a->b_frames, 100);
    EXPECT_EQ(a->b_nchans, 2);
    EXPECT_EQ(a->b_size, 200);
    EXPECT_EQ(a->b_valid, 0);
    EXPECT_EQ(a->b_samples[199], 0.0f);
    EXPECT_EQ(peer->b_memory, a->b_memory);
    EXPECT_EQ(peer->b_frames, 100);
    EXPECT_EQ(peer->b_valid, 0);
    EXPECT_TRUE(notes().empty());
    EXPECT_EQ(a->b_realloc, 0);

    // More than the machine holds fails at once instead of being granted and then touched.
    send(a, "sizeinsamps", "100000000000 64");
    EXPECT_EQ(console(), std::vector<std::string>{"buffer~: error: a: not enough memory to resize"});

    // A size beyond the 64-bit range is a bad size, never undefined arithmetic.
    send(a, "setsize", "-1e30");
    EXPECT_EQ(console(), std::vector<std::string>{"buffer~: error: size: bad size -9223372036854775808"});
}

TEST_F(Resize, PaddingThatCannotBeHadKeepsTheChainInStep) {
    t_buffer *a = buffer("a");
    orvo::set_edits_refused(true);
    t_buffer *b = buffer("a @padding 18");  // no memory to describe, and no reallocation now
    orvo::set_edits_refused(false);
    EXPECT_EQ(b->b_padding, a->b_padding);
    send(a, "sizeinsamps", "10 1");
    console();
    send(b, "padding", "4e307");  // guard zones beyond the 64-bit range
    EXPECT_EQ(console(), std::vector<std::string>{"buffer~: error: a: not enough memory to resize"});
    EXPECT_EQ(b->b_padding, a->b_padding);
    EXPECT_EQ(b->b_memory, a->b_memory);

    // No frames of countless channels, then frames: the fallback cannot hold them either.
    t_buffer *c = buffer("c");
    send(c, "sizeinsamps", "0 2580152116660142080");
    send(c, "sizeinsamps", "1074");
    EXPECT_EQ(c->b_frames, 0);
    EXPECT_EQ(c->b_size, 0);
}

TEST_F(Resize, ResizeAndCopy) {
    t_buffer *a = buffer("a");
    float src[6] = {1, 2, 3, 4, 5, 6};
    object_method(a, S("resizeandcopy"), (t_atom_long)3, (t_atom_long)2, src);
    EXPECT_EQ(a->b_frames, 3);
    EXPECT_EQ(a->b_nchans, 2);
    EXPECT_EQ(std::memcmp(a->b_samples, src, sizeof src), 0);

    // From another thread the resize is only queued: an unchanged size copies at once...
    float src2[6] = {6, 5, 4, 3, 2, 1};
    orvo::run_on_scheduler([&] { object_method(a, S("resizeandcopy"), (t_atom_long)3, (t_atom_long)2, src2); });
    EXPECT_EQ(a->b_samples[0], 6.0f);
    orvo::run_until_idle();
    EXPECT_EQ(a->b_samples[0], 6.0f);
    // ...and a new size leaves zeros.
    orvo::run_on_scheduler([&] { object_method(a, S("resizeandcopy"), (t_atom_long)2, (t_atom_long)3, src); });
    orvo::run_until_idle();
    EXPECT_EQ(a->b_frames, 2);
    EXPECT_EQ(a->b_samples[0], 0.0f);
}

TEST_F(Resize, Duplicate) {
    t_buffer *src = buffer("src 100 2");
    send(src, "fill", "sin 3");
    send(src, "padding", "32");
    t_buffer *a = buffer("a 10 1");
    send(a, "duplicate", "src");
    EXPECT_EQ(a->b_frames, src->b_frames);
    EXPECT_EQ(a->b_nchans, 2);
    EXPECT_EQ(a->b_padding, 32);
    EXPECT_EQ(std::memcmp(a->b_samples, src->b_samples, sizeof(float) * (size_t)src->b_size), 0);
    EXPECT_NE(a->b_memory, src->b_memory);

    // Its own name: size and contents stay, and it still notifies.
    watch("a");
    orvo::advance(1);
    console();
    float *mem = a->b_memory;
    float v = a->b_samples[17];
    send(a, "duplicate", "a");
    EXPECT_EQ(a->b_memory, mem);
    EXPECT_EQ(a->b_samples[17], v);
    EXPECT_EQ(console(), std::vector<std::string>{"watch a: buffer_modified"});

    send(a, "duplicate", "nosuch");
    EXPECT_EQ(console(), std::vector<std::string>{"buffer~: error: nosuch is not a valid buffer~ name"});
    t_object *p = box("print", "P");
    S("printer")->s_thing = p;
    send(a, "duplicate", "printer");
    EXPECT_EQ(console(), std::vector<std::string>{"buffer~: error: printer is not a valid buffer~ name"});
    S("printer")->s_thing = nullptr;
}

}  // namespace
