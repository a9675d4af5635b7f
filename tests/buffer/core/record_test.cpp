// Creation, teardown, names and peers, notification and the small handlers of buffer~.
#include <algorithm>
#include <cstring>

#include "buffer_test.h"
#include "buffer~/window/window.h"
#include "chain_check.h"

using orvo_test::BufferTest;
using orvo_test::chain_problems;
using orvo_test::Dims;
using orvo_test::dims;

namespace {

t_symbol *S(const char *s) { return gensym(s); }

class Record : public BufferTest {};

TEST_F(Record, CreationForms) {
    t_buffer *none = buffer(), *none2 = buffer();
    EXPECT_NE(none->b_name, none2->b_name);
    EXPECT_GT(std::strlen(none->b_name->s_name), 0u);
    EXPECT_TRUE(none->b_isowner && !none->b_memory && none->b_nchans == 0);
    EXPECT_EQ(dims(none), Dims(0, 0, 0));
    EXPECT_EQ(none->b_window->w_rect.height, 100);
    EXPECT_EQ(none->b_window->w_nchans, 1);
    t_buffer *a = buffer("a 1000 2");
    EXPECT_EQ(sysmem_ptrsize(a->b_memory), 88232 * 4);
    EXPECT_EQ(a->b_samples - a->b_memory, 16);
    EXPECT_TRUE(a->b_window->w_buffer == a && orvo::outlet_count(&a->b_obj) == 2);
    const char *negative = "buffer~: error: requested buffer size negative";
    const struct {
        const char *args;
        long long frames, nchans, height;  // height of the window, -1: any
        const char *said;
    } cases[] = {
        {"b 1000 2", 44100, 2, 200, ""}, {"m 1000", 44100, 1, 100, ""}, {"e 0 2", 0, 2, 200, ""},
        {"w 0 12", 0, 12, 800, ""}, {"x 2.7 1.9", 119, 1, -1, ""},  // 1.9 truncated, 2.7 ms rounded
        {"c -5 2", 0, 2, -1, ""}, {"d 1e30 2", 100, 2, -1, negative},  // beyond the 64-bit range
        {"i @size 10 2", 441, 2, -1, ""}, {"y x y z", 0, 0, -1, "buffer~: error: x: can't open"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.args);
        t_buffer *b = buffer(c.args);
        ASSERT_TRUE(b);
        EXPECT_EQ(chain_problems(b->b_name), "");
        EXPECT_EQ(dims(b), Dims(c.frames, c.nchans, c.frames > 0));
        EXPECT_EQ(b->b_memory != nullptr, c.frames > 0);
        EXPECT_TRUE(c.height < 0 || b->b_window->w_rect.height == c.height) << b->b_window->w_rect.height;
        auto said = console();
        EXPECT_TRUE(said == (*c.said ? std::vector<std::string>{c.said} : std::vector<std::string>{}))
            << (said.empty() ? "" : said[0]);
        free_box(&b->b_obj);
    }
    orvo::mem_fail_above(1 << 20);  // the 100 frames when the size cannot be had, then no memory at all
    EXPECT_EQ(dims(buffer("f 10000 2")), Dims(100, 2, 1));
    EXPECT_TRUE(console_has("buffer~: error: f: out of memory"));
    orvo::mem_fail_above(200);
    t_buffer *g = buffer("g 10000 2");
    EXPECT_TRUE(!g->b_memory && !g->b_valid);
    orvo::mem_fail_reset();
}

TEST_F(Record, PaddingOnlyGrowsAndCanKeepData) {
    t_buffer *a = buffer("a 10 2");
    send(a, "fill", "0.5");
    send(a, "padding", "8");
    EXPECT_EQ(object_attr_getlong(a, S("padding")), 16);
    EXPECT_EQ(a->b_samples[0], 0.5f);
    send(a, "padding", "64");
    EXPECT_EQ(a->b_padding, 64);
    EXPECT_EQ(a->b_samples[0], 0.0f);
    EXPECT_EQ(chain_problems(S("a")), "");
    send(a, "fill", "0.25");
    // Refused: the padding keeps describing the block actually held.
    orvo::set_edits_refused(true);
    send(a, "padding", "256 1");
    orvo::set_edits_refused(false);
    EXPECT_EQ(a->b_samples[0], 0.25f);
    EXPECT_EQ(a->b_samples - a->b_memory, 64);
}

TEST_F(Record, PeersShareAndChainOrder) {
    t_buffer *first = buffer("a 1000 2"), *second = buffer("a 2000 1"), *third = buffer("a");
    EXPECT_EQ(second->b_memory, first->b_memory);
    EXPECT_EQ(dims(second), Dims(44100, 2, 1));
    EXPECT_EQ(S("a")->s_thing, &first->b_obj);
    EXPECT_TRUE(first->b_next == third && third->b_next == second && !second->b_next);
    EXPECT_TRUE(first->b_isowner && !second->b_isowner);
    send(second, "enumerate");
    char l1[64], l2[64], l3[64];
    std::snprintf(l1, sizeof l1, "buffer~:  0: %lx", (unsigned long)(uintptr_t)first);
    std::snprintf(l2, sizeof l2, "buffer~:  1: %lx", (unsigned long)(uintptr_t)third);
    std::snprintf(l3, sizeof l3, "buffer~:  2: %lx (this one)", (unsigned long)(uintptr_t)second);
    EXPECT_EQ(console(), (std::vector<std::string>{"buffer~: buffers hanging off a:", l1, l2, l3}));
    // The owner goes: the next peer takes over the memory and the name.
    float *mem = first->b_memory;
    free_box(&first->b_obj);
    EXPECT_EQ(S("a")->s_thing, &third->b_obj);
    EXPECT_TRUE(third->b_isowner && third->b_memory == mem && third->b_next == second);
}

TEST_F(Record, WorkQueuedForAFreedBoxIsDropped) {
    // Under AddressSanitizer a queued resize or clear running on the freed record is a failure.
    t_buffer *a = buffer("a 10 1"), *b = buffer("b 10 1");
    send_sched(a, "setsize", "20");
    send(b, "clearlow");
    free_box(&a->b_obj);
    free_box(&b->b_obj);
    orvo::run_until_idle();
    t_buffer *c = buffer("c 10 1");  // a new box, perhaps at the same address, gets none of it
    orvo::run_until_idle();
    EXPECT_EQ(c->b_frames, 441);
    EXPECT_TRUE(console().empty());
}

TEST_F(Record, NameHeldByAnotherClass) {
    t_object *p = box("print", "P");
    S("taken")->s_thing = p;
    t_buffer *b = buffer("taken 1000 2");
    EXPECT_TRUE(console_has("buffer~: error: taken: already in use"));
    EXPECT_TRUE(!b->b_isowner && !b->b_memory);
    EXPECT_EQ(S("taken")->s_thing, p);
    t_buffer *c = buffer("c 10 1");
    send(c, "name", "taken");  // renaming onto it is refused too
    EXPECT_EQ(c->b_name, S("c"));
    // The unbound box can still be given memory, and frees it when it joins a
    // buffer's chain as when it goes.
    send(b, "sizeinsamps", "10 1");
    EXPECT_NE(b->b_memory, nullptr);
    long blocks = orvo::mem_stats().blocks;
    send(b, "name", "c");
    EXPECT_EQ(b->b_memory, c->b_memory);
    EXPECT_EQ(orvo::mem_stats().blocks, blocks - 1);
    t_buffer *d = buffer("taken");
    send(d, "sizeinsamps", "10 1");
    free_box(&d->b_obj);
    free_box(&b->b_obj);
    S("taken")->s_thing = nullptr;
}

TEST_F(Record, RenameCases) {
    // Owner alone to a free name: same memory, same contents; the same name again: nothing.
    t_buffer *a = buffer("a 10 1");
    send(a, "fill", "0.5");
    float *mem = a->b_memory;
    send(a, "name", "a2");
    send(a, "set", "a2");
    EXPECT_TRUE(a->b_name == S("a2") && a->b_memory == mem && a->b_samples[3] == 0.5f);
    EXPECT_TRUE(!S("a")->s_thing && S("a2")->s_thing == &a->b_obj);
    // Owner alone to a name held by a buffer: adopts that chain (its old memory is freed).
    t_buffer *b = buffer("b 20 2");
    send(a, "name", "b");
    EXPECT_TRUE(a->b_memory == b->b_memory && a->b_nchans == 2 && b->b_next == a && !S("a2")->s_thing);
    // Peer to a free name: a copy that no longer follows the other.
    send(b, "fill", "0.25");
    send(a, "name", "c");
    EXPECT_TRUE(a->b_memory != b->b_memory && a->b_isowner && a->b_size == b->b_size && !b->b_next);
    send(b, "fill", "0.75");
    EXPECT_EQ(a->b_samples[5], 0.25f);
    // Owner with peers to a free name: the peer keeps the old memory, the owner gets a copy.
    t_buffer *c2 = buffer("c");
    float *cmem = a->b_memory;
    send(a, "name", "d");
    EXPECT_TRUE(c2->b_memory == cmem && c2->b_isowner && S("c")->s_thing == &c2->b_obj);
    EXPECT_TRUE(a->b_memory != cmem && a->b_samples[5] == 0.25f);
    // Peer to a name held by a buffer: adopts that chain.
    t_buffer *d2 = buffer("d");
    send(d2, "name", "b");
    EXPECT_TRUE(d2->b_memory == b->b_memory && !a->b_next);
    // Owner with peers to a held name: the next peer becomes owner.
    t_buffer *e = buffer("e 5 1"), *e2 = buffer("e");
    send(e, "name", "b");
    EXPECT_TRUE(e2->b_isowner && S("e")->s_thing == &e2->b_obj && e->b_memory == b->b_memory);
    // Peer to a free name while a padding change from the scheduler thread is queued:
    // the copy holds the data at their places, whatever the guard zones are.
    t_buffer *f = buffer("f 10 1"), *f2 = buffer("f");
    send(f, "fill", "0.5");
    f->b_samples[48] = 7;
    send_sched(f2, "padding", "64");
    send(f2, "name", "g");
    EXPECT_TRUE(f2->b_samples[0] == 0.5f && f2->b_samples[48] == 7.0f);
    EXPECT_EQ(chain_problems(S("g")), "");
    for (const char *n : {"b", "c", "d", "e"}) EXPECT_EQ(chain_problems(S(n)), "") << n;
}

// Releasing a box, freeing it, renaming or resizing it afterwards never takes the
// block from the boxes that still share it, and never leaves a block behind.
TEST_F(Record, ReleasedBoxesLeaveTheSharedBlockAlone) {
    const std::vector<std::vector<std::string>> cases = {
        // operations on the owner "a" and its peer "b", as "BOX SELECTOR ARGS"
        {"b releaseresources", "b free"},
        {"a releaseresources", "a free"},
        {"b releaseresources", "b releaseresources"},
        {"a releaseresources", "a releaseresources", "a free"},
        {"b releaseresources", "b name z", "b free"},
        {"a releaseresources", "a name z", "a free"},
        {"b releaseresources", "b sizeinsamps 50 1", "b free"},
        {"a releaseresources", "a sizeinsamps 50 1", "b fill 0.25", "a free"},
    };
    for (auto &ops : cases) {
        std::string what;
        for (auto &op : ops) what += op + "; ";
        SCOPED_TRACE(what);
        t_buffer *box[2] = {buffer("a 10 1"), buffer("a")};
        send(box[0], "fill", "0.5");
        for (auto &op : ops) {
            t_buffer *&x = box[op[0] - 'a'];
            std::string sel = op.substr(2, op.find(' ', 2) - 2), args = op.substr(2 + sel.size());
            if (sel == "releaseresources") {
                object_method(x, gensym("releaseresources"));
                EXPECT_TRUE(!x->b_memory && !x->b_samples && !x->b_valid) << "a released box keeps no memory";
            } else if (sel == "free") {
                free_box(&x->b_obj), x = nullptr;
            } else {
                send(x, sel, args.empty() ? args : args.substr(1));
            }
        }
        t_buffer *left = S("a")->s_thing ? (t_buffer *)S("a")->s_thing : box[0];
        ASSERT_TRUE(left && left->b_memory);
        EXPECT_GE(sysmem_ptrsize(left->b_memory), (t_ptr_int)(441 + 32) * 4) << "the shared block is gone";
        EXPECT_EQ(left->b_samples[440], std::count(ops.begin(), ops.end(), "b fill 0.25") ? 0.25f : 0.5f);
        EXPECT_EQ(left->b_valid, 1);
        for (t_buffer *x : box)
            if (x) free_box(&x->b_obj);
        EXPECT_EQ(orvo::mem_bad_frees(), bad_frees_before_);
        EXPECT_EQ(orvo::mem_stats().blocks, mem_before_.blocks);
    }
}

TEST_F(Record, SmallHandlers) {
    t_buffer *a = buffer("a 10 1");
    EXPECT_EQ((float *)object_method(a, S("getsampleptr")), a->b_samples);
    const std::tuple<long, long, const char *> assists[] = {{1, 0, "size Resizes, File Operations: read, write"},
                                                            {2, 1, "bang When File Read Operation Completed"},
                                                            {2, 0, "msec Mouse Position in Editing Window"}};
    for (auto [io, index, want] : assists) {
        char text[512];
        object_method(a, S("assist"), nullptr, io, index, text);
        EXPECT_STREQ(text, want);
    }
    for (auto [kind, lock, offer] : {std::tuple{"audiofile", "acceptsdrag_unlocked", "replace"},
                                     {"moviefile", "acceptsdrag_locked", "import"},
                                     {"patcherfile", "acceptsdrag_unlocked", ""}}) {
        t_object *drag = orvo::drag_new(kind);
        EXPECT_EQ((long)(intptr_t)object_method(a, S(lock), drag, nullptr), *offer ? 1 : 0) << kind;
        std::vector<std::pair<t_object *, t_symbol *>> want;
        if (*offer) want.push_back({&a->b_obj, S(offer)});
        EXPECT_EQ(orvo::drag_offers(drag), want) << kind;
        object_free(drag);
    }
    object_method(a, S("fileusage"), nullptr);
    ASSERT_FALSE(orvo::file_usages().empty());
    EXPECT_EQ(orvo::file_usages().back(), "waveform~");
    EXPECT_TRUE((long)(intptr_t)object_method(a, S("(remote)")));
    EXPECT_NE(send(a, "dirty"), 0);  // private messages cannot be typed
    console();
}

}  // namespace
