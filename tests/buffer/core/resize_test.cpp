// Resizing, sample rate, clearing, duplicate and the size attributes.
#include <cstring>

#include "buffer_test.h"
#include "buffer~/window/window.h"
#include "chain_check.h"

using orvo_test::BufferTest;
using orvo_test::Dims;
using orvo_test::dims;
using Lines = std::vector<std::string>;

namespace {

t_symbol *S(const char *s) { return gensym(s); }

class Resize : public BufferTest {
  protected:
    // Watches name from a later scheduler time on: its next change notifies.
    void watched(const char *name) {
        watch(name);
        orvo::advance(1);
        console();
    }
};

TEST_F(Resize, MillisecondsSamplesAndReportedSize) {
    t_buffer *a = buffer("a");
    send(a, "setsize", "1000");
    EXPECT_EQ(dims(a), Dims(44100, 1, 1));
    EXPECT_EQ(object_attr_getfloat(a, S("size")), 999.9999816500349);
    EXPECT_EQ(object_attr_getlong(a, S("samps")), 44100);
    float *mem = a->b_memory;
    send(a, "setsize", "-10");
    EXPECT_EQ(console(), Lines{"buffer~: error: size: bad size -440"});
    EXPECT_EQ(dims(a), Dims(44100, 1, 0));
    EXPECT_EQ(a->b_memory, mem);
    send(a, "sizeinsamps", "0");
    EXPECT_EQ(dims(a), Dims(0, 1, 1));
    ASSERT_NE(a->b_memory, nullptr);
    EXPECT_EQ(sysmem_ptrsize(a->b_memory), 2 * 16 * 4);
    EXPECT_EQ(object_attr_getfloat(a, S("size")), 0.0);
    // The attributes resize too, from messages and from creation arguments; without atoms they do nothing.
    send(a, "samps", "32 3");
    EXPECT_EQ(dims(a), Dims(32, 3, 1));
    send(a, "size", "10");
    EXPECT_EQ(dims(a), Dims(441, 3, 1));
    t_buffer *b = buffer("b @samps 64 2");
    object_attr_setvalueof(b, S("samps"), 0, nullptr);
    object_attr_setvalueof(b, S("size"), 0, nullptr);
    EXPECT_EQ(dims(b), Dims(64, 2, 1));
    EXPECT_EQ(object_attr_getfloat(buffer("c"), S("size")), 0.0) << "without memory";
}

TEST_F(Resize, SampleRate) {
    t_buffer *a = buffer("a 1000 1");
    send(a, "sr", "48000");
    EXPECT_TRUE(a->b_msr == 48.0f && a->b_sr == 48000.0f && a->b_frames == 44100);
    orvo::set_sr(96000);
    send(a, "sr");
    EXPECT_EQ(a->b_sr, 96000.0f);
    orvo::set_sr(0);
    send(a, "sr");
    EXPECT_EQ(a->b_sr, 44100.0f);
    EXPECT_EQ(buffer("b 1000 1")->b_frames, 44100) << "a system rate of 0 gives 44100 at creation too";
    orvo::set_sr(44100);
}

TEST_F(Resize, RefusedAndOutOfMemory) {
    t_buffer *a = buffer("a 10 2");
    float *mem = a->b_memory;
    orvo::set_edits_refused(true);
    send(a, "sizeinsamps", "100 1");
    orvo::set_edits_refused(false);
    EXPECT_EQ(console(), Lines{"buffer~: error: can't resize now"});
    EXPECT_TRUE(a->b_memory == mem && a->b_nchans == 2);
    t_buffer *peer = buffer("a");
    watched("a");
    orvo::mem_fail_above(1 << 20);
    send(a, "sizeinsamps", "1000000 4");
    orvo::mem_fail_reset();
    const Lines no_memory{"buffer~: error: a: not enough memory to resize"};
    EXPECT_EQ(console(), no_memory) << "and no notification";
    for (t_buffer *x : {a, peer}) EXPECT_EQ(dims(x), Dims(100, 2, 0));
    EXPECT_TRUE(a->b_size == 200 && a->b_samples[199] == 0.0f && peer->b_memory == a->b_memory);
    EXPECT_EQ(a->b_realloc, 0);
    // More than the machine holds fails at once instead of being granted and then touched.
    send(a, "sizeinsamps", "100000000000 64");
    EXPECT_EQ(console(), no_memory);
    // A size beyond the 64-bit range is a bad size, never undefined arithmetic.
    send(a, "setsize", "-1e30");
    EXPECT_EQ(console(), Lines{"buffer~: error: size: bad size -9223372036854775808"});
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
    EXPECT_EQ(console(), Lines{"buffer~: error: a: not enough memory to resize"});
    EXPECT_TRUE(b->b_padding == a->b_padding && b->b_memory == a->b_memory);
    // No frames of countless channels, then frames: the fallback cannot hold them either.
    t_buffer *c = buffer("c");
    send(c, "sizeinsamps", "0 2580152116660142080");
    send(c, "sizeinsamps", "1074");
    EXPECT_TRUE(c->b_frames == 0 && c->b_size == 0);
}

TEST_F(Resize, ResizeAndCopy) {
    t_buffer *a = buffer("a");
    float src[6] = {1, 2, 3, 4, 5, 6}, src2[6] = {6, 5, 4, 3, 2, 1};
    auto copy = [&](t_atom_long frames, t_atom_long chans, float *from) {
        object_method(a, S("resizeandcopy"), frames, chans, from);
    };
    copy(3, 2, src);
    EXPECT_EQ(dims(a), Dims(3, 2, 1));
    EXPECT_EQ(std::memcmp(a->b_samples, src, sizeof src), 0);
    // From another thread the resize is only queued: an unchanged size copies at once...
    orvo::run_on_scheduler([&] { copy(3, 2, src2); });
    EXPECT_EQ(a->b_samples[0], 6.0f);
    orvo::run_until_idle();
    EXPECT_EQ(a->b_samples[0], 6.0f);
    // ...and a new size leaves zeros.
    orvo::run_on_scheduler([&] { copy(2, 3, src); });
    orvo::run_until_idle();
    EXPECT_TRUE(a->b_frames == 2 && a->b_samples[0] == 0.0f);
}

TEST_F(Resize, Duplicate) {
    t_buffer *src = buffer("src 100 2");
    send(src, "fill", "sin 3");
    send(src, "padding", "32");
    t_buffer *a = buffer("a 10 1");
    send(a, "duplicate", "src");
    EXPECT_TRUE(a->b_frames == src->b_frames && a->b_nchans == 2 && a->b_padding == 32);
    EXPECT_EQ(std::memcmp(a->b_samples, src->b_samples, sizeof(float) * (size_t)src->b_size), 0);
    EXPECT_NE(a->b_memory, src->b_memory);
    S("printer")->s_thing = box("print", "P");
    for (const char *other : {"nosuch", "printer"}) {
        send(a, "duplicate", other);
        EXPECT_EQ(console(), Lines{std::string("buffer~: error: ") + other + " is not a valid buffer~ name"});
    }
    S("printer")->s_thing = nullptr;
}

}  // namespace
