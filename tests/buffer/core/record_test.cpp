// Creation, teardown, names and peers, notification and the small handlers of buffer~.
#include <algorithm>
#include <cstring>

#include "buffer_test.h"
#include "buffer~/window/window.h"

using orvo_test::BufferTest;

namespace {

t_symbol *S(const char *s) { return gensym(s); }

bool guards_zero(const t_buffer *b) {
    for (t_atom_long i = 0; i < b->b_padding; i++)
        if (b->b_memory[i] != 0.0f || b->b_samples[b->b_size + i] != 0.0f) return false;
    return true;
}

class Record : public BufferTest {};

TEST_F(Record, CreationFormsAndLayout) {
    t_buffer *none = buffer();
    t_buffer *none2 = buffer();
    ASSERT_TRUE(none && none2);
    EXPECT_NE(none->b_name, none2->b_name);
    EXPECT_GT(std::strlen(none->b_name->s_name), 0u);
    EXPECT_EQ(none->b_nchans, 0);
    EXPECT_EQ(none->b_frames, 0);
    EXPECT_EQ(none->b_memory, nullptr);
    EXPECT_EQ(none->b_valid, 0);
    EXPECT_TRUE(none->b_isowner);

    t_buffer *a = buffer("a 1000 2");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->b_frames, 44100);
    EXPECT_EQ(a->b_nchans, 2);
    EXPECT_EQ(a->b_size, 88200);
    EXPECT_EQ(sysmem_ptrsize(a->b_memory), 88232 * 4);
    EXPECT_EQ(a->b_samples - a->b_memory, 16);
    EXPECT_EQ(a->b_valid, 1);
    EXPECT_TRUE(guards_zero(a));
    EXPECT_EQ(a->b_filetype, (t_atom_long)FOURCC('A', 'I', 'F', 'F'));
    EXPECT_EQ(a->b_samptype, (t_atom_long)FOURCC('N', 'O', 'N', 'E'));
    EXPECT_EQ(a->b_outsampsize, 2);
    EXPECT_EQ(a->b_prevchans, 2);
    EXPECT_FLOAT_EQ(a->b_msr, 44.1f);
    ASSERT_TRUE(a->b_window);
    EXPECT_EQ(a->b_window->w_buffer, a);
    EXPECT_EQ(a->b_window->w_nchans, 2);
    EXPECT_EQ(a->b_window->w_rect.height, 200);
    EXPECT_EQ(orvo::outlet_count(&a->b_obj), 2);

    t_buffer *mono = buffer("m 1000");
    EXPECT_EQ(mono->b_nchans, 1);
    t_buffer *empty = buffer("e 0 2");
    EXPECT_EQ(empty->b_memory, nullptr);
    EXPECT_EQ(empty->b_nchans, 2);
    t_buffer *wide = buffer("w 0 12");
    EXPECT_EQ(wide->b_window->w_rect.height, 800);
    EXPECT_EQ(none->b_window->w_rect.height, 100);
    EXPECT_EQ(none->b_window->w_nchans, 1);
}

TEST_F(Record, OddCreationArgumentsNeverCrash) {
    const char *forms[] = {"5 5 5",         "a 2.7 1.9",       "b x y z",        "c -5 2",
                           "d 1e30 2",      "e 10 -3",         "f 3 2 extra 9",  "g @samps",
                           "h 10 1 @padding", "i @size 10 2",  "1.5",            "j 0.0 0.0"};
    for (const char *f : forms) {
        t_buffer *b = buffer(f);
        ASSERT_TRUE(b) << f;
        if (b->b_memory) {
            EXPECT_TRUE(guards_zero(b)) << f;
            EXPECT_EQ(b->b_size, b->b_frames * b->b_nchans) << f;
        }
    }
    auto *a = (t_buffer *)boxes_[1];
    EXPECT_EQ(a->b_nchans, 1);   // 1.9 truncated
    EXPECT_EQ(a->b_frames, 119);   // 2.7 ms at 44.1 samples per ms, rounded
    auto *d = (t_buffer *)boxes_[4];
    EXPECT_EQ(d->b_frames, 100);   // beyond the 64-bit range
    EXPECT_TRUE(console_has("buffer~: error: requested buffer size negative"));
    auto *i = (t_buffer *)boxes_[9];
    EXPECT_EQ(i->b_frames, 441);
    EXPECT_EQ(i->b_nchans, 2);
}

TEST_F(Record, CreationAllocationFallbacks) {
    orvo::mem_fail_above(1 << 20);
    t_buffer *a = buffer("a 10000 2");
    EXPECT_EQ(a->b_frames, 100);
    EXPECT_EQ(a->b_size, 200);
    EXPECT_EQ(a->b_valid, 1);
    EXPECT_TRUE(guards_zero(a));
    EXPECT_TRUE(console_has("buffer~: error: a: out of memory"));
    orvo::mem_fail_above(200);
    t_buffer *b = buffer("b 10000 2");
    EXPECT_EQ(b->b_memory, nullptr);
    EXPECT_EQ(b->b_valid, 0);
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
    EXPECT_EQ(a->b_samples - a->b_memory, 64);
    EXPECT_EQ(a->b_samples[0], 0.0f);
    EXPECT_TRUE(guards_zero(a));

    send(a, "fill", "0.25");
    send(a, "padding", "128 1");
    EXPECT_EQ(a->b_samples - a->b_memory, 128);
    EXPECT_EQ(a->b_samples[0], 0.25f);
    EXPECT_EQ(a->b_samples[a->b_size - 1], 0.25f);
    EXPECT_TRUE(guards_zero(a));

    // Refused: the padding keeps describing the block actually held.
    orvo::set_edits_refused(true);
    send(a, "padding", "256 1");
    orvo::set_edits_refused(false);
    EXPECT_EQ(a->b_padding, a->b_samples - a->b_memory);
    EXPECT_EQ(a->b_samples[0], 0.25f);
    EXPECT_EQ(a->b_padding, 128);
    object_attr_setvalueof(a, S("padding"), 0, nullptr);   // no atoms: nothing
    EXPECT_EQ(a->b_padding, 128);
}

TEST_F(Record, PeersShareAndChainOrder) {
    t_buffer *first = buffer("a 1000 2");
    t_buffer *second = buffer("a 2000 1");
    t_buffer *third = buffer("a");
    EXPECT_EQ(second->b_memory, first->b_memory);
    EXPECT_EQ(second->b_frames, 44100);
    EXPECT_EQ(second->b_nchans, 2);
    EXPECT_EQ(S("a")->s_thing, &first->b_obj);
    EXPECT_EQ(first->b_next, third);
    EXPECT_EQ(third->b_next, second);
    EXPECT_EQ(second->b_next, nullptr);
    EXPECT_TRUE(first->b_isowner);
    EXPECT_FALSE(second->b_isowner);

    send(second, "enumerate");
    char l1[64], l2[64], l3[64];
    std::snprintf(l1, sizeof l1, "buffer~:  0: %lx", (unsigned long)(uintptr_t)first);
    std::snprintf(l2, sizeof l2, "buffer~:  1: %lx", (unsigned long)(uintptr_t)third);
    std::snprintf(l3, sizeof l3, "buffer~:  2: %lx (this one)", (unsigned long)(uintptr_t)second);
    EXPECT_EQ(console(), (std::vector<std::string>{"buffer~: buffers hanging off a:", l1, l2, l3}));

    // A change through a peer reaches the owner.
    send(third, "fill", "0.5");
    EXPECT_EQ(first->b_samples[7], 0.5f);

    // The owner goes: the next peer takes over the memory and the name.
    float *mem = first->b_memory;
    free_box(&first->b_obj);
    EXPECT_EQ(S("a")->s_thing, &third->b_obj);
    EXPECT_TRUE(third->b_isowner);
    EXPECT_EQ(third->b_memory, mem);
    EXPECT_EQ(third->b_next, second);
    EXPECT_EQ(second->b_samples[7], 0.5f);
    free_box(&third->b_obj);
    EXPECT_EQ(S("a")->s_thing, &second->b_obj);
    free_box(&second->b_obj);
    EXPECT_EQ(S("a")->s_thing, nullptr);
}

TEST_F(Record, WorkQueuedForAFreedBoxIsDropped) {
    // Under AddressSanitizer a queued resize or clear running on the freed record is a failure.
    t_buffer *a = buffer("a 10 1");
    t_buffer *b = buffer("b 10 1");
    send_sched(a, "setsize", "20");
    send(b, "clearlow");
    free_box(&a->b_obj);
    free_box(&b->b_obj);
    orvo::run_until_idle();
    t_buffer *c = buffer("c 10 1");   // a new box, perhaps at the same address, gets none of it
    orvo::run_until_idle();
    EXPECT_EQ(c->b_frames, 441);
    EXPECT_TRUE(console().empty());
}

TEST_F(Record, NameHeldByAnotherClass) {
    t_object *p = box("print", "P");
    S("taken")->s_thing = p;
    t_buffer *b = buffer("taken 1000 2");
    EXPECT_TRUE(console_has("buffer~: error: taken: already in use"));
    EXPECT_FALSE(b->b_isowner);
    EXPECT_EQ(b->b_memory, nullptr);
    EXPECT_EQ(S("taken")->s_thing, p);
    // Renaming onto it is refused too.
    t_buffer *c = buffer("c 10 1");
    send(c, "name", "taken");
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
    // Owner alone to a free name: same memory, same contents.
    t_buffer *a = buffer("a 10 1");
    send(a, "fill", "0.5");
    float *mem = a->b_memory;
    send(a, "name", "a2");
    EXPECT_EQ(a->b_name, S("a2"));
    EXPECT_EQ(a->b_memory, mem);
    EXPECT_EQ(S("a")->s_thing, nullptr);
    EXPECT_EQ(S("a2")->s_thing, &a->b_obj);

    // Same name or the empty symbol: nothing.
    send(a, "set", "a2");
    EXPECT_EQ(a->b_memory, mem);

    // Owner alone to a name held by a buffer: adopts that chain (its old memory is freed).
    t_buffer *b = buffer("b 20 2");
    send(a, "name", "b");
    EXPECT_EQ(a->b_memory, b->b_memory);
    EXPECT_EQ(a->b_nchans, 2);
    EXPECT_EQ(b->b_next, a);
    EXPECT_EQ(S("a2")->s_thing, nullptr);

    // Peer to a free name: a copy that no longer follows the other.
    send(b, "fill", "0.25");
    send(a, "name", "c");
    EXPECT_NE(a->b_memory, b->b_memory);
    EXPECT_TRUE(a->b_isowner);
    EXPECT_EQ(a->b_samples[5], 0.25f);
    EXPECT_EQ(a->b_size, b->b_size);
    EXPECT_EQ(b->b_next, nullptr);
    send(b, "fill", "0.75");
    EXPECT_EQ(a->b_samples[5], 0.25f);

    // Owner with peers to a free name: the peer keeps the old memory, the owner gets a copy.
    t_buffer *c2 = buffer("c");
    float *cmem = a->b_memory;
    send(a, "name", "d");
    EXPECT_EQ(c2->b_memory, cmem);
    EXPECT_TRUE(c2->b_isowner);
    EXPECT_EQ(S("c")->s_thing, &c2->b_obj);
    EXPECT_NE(a->b_memory, cmem);
    EXPECT_EQ(a->b_samples[5], 0.25f);

    // Peer to a name held by a buffer: adopts that chain.
    t_buffer *d2 = buffer("d");
    send(d2, "name", "b");
    EXPECT_EQ(d2->b_memory, b->b_memory);
    EXPECT_EQ(a->b_next, nullptr);

    // Owner with peers to a held name: the next peer becomes owner.
    t_buffer *e = buffer("e 5 1");
    t_buffer *e2 = buffer("e");
    send(e, "name", "b");
    EXPECT_TRUE(e2->b_isowner);
    EXPECT_EQ(S("e")->s_thing, &e2->b_obj);
    EXPECT_EQ(e->b_memory, b->b_memory);

    // Peer to a free name while a padding change from the scheduler thread is queued:
    // the copy holds the data at their places, whatever the guard zones are.
    t_buffer *f = buffer("f 10 1");
    t_buffer *f2 = buffer("f");
    send(f, "fill", "0.5");
    f->b_samples[48] = 7;
    send_sched(f2, "padding", "64");
    send(f2, "name", "g");
    EXPECT_EQ(f2->b_samples[0], 0.5f);
    EXPECT_EQ(f2->b_samples[48], 7.0f);
    EXPECT_EQ(f2->b_samples - f2->b_memory, f2->b_padding);
    EXPECT_EQ(f2->b_samples[-1], 0.0f);
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
        t_buffer *box[2] = {buffer("a 10 1"), buffer("a")};
        send(box[0], "fill", "0.5");
        for (auto &op : ops) {
            t_buffer *x = box[op[0] - 'a'];
            std::string sel = op.substr(2, op.find(' ', 2) - 2), args = op.substr(2 + sel.size());
            if (sel == "releaseresources") {
                object_method(x, gensym("releaseresources"));
                EXPECT_TRUE(!x->b_memory && !x->b_samples && !x->b_valid) << what << "a released box keeps no memory";
            } else if (sel == "free")
                free_box(&x->b_obj), box[op[0] - 'a'] = nullptr;
            else
                send(x, sel, args.empty() ? args : args.substr(1));
        }
        t_buffer *left = S("a")->s_thing ? (t_buffer *)S("a")->s_thing : box[0];
        ASSERT_NE(left, nullptr) << what;
        ASSERT_NE(left->b_memory, nullptr) << what;
        EXPECT_GE(sysmem_ptrsize(left->b_memory), (t_ptr_int)(441 + 32) * 4) << what << "the shared block is gone";
        float want = std::find(ops.begin(), ops.end(), "b fill 0.25") != ops.end() ? 0.25f : 0.5f;
        EXPECT_EQ(left->b_samples[440], want) << what;
        EXPECT_EQ(left->b_valid, 1) << what;
        for (t_buffer *x : box)
            if (x) free_box(&x->b_obj);
        EXPECT_EQ(orvo::mem_bad_frees(), bad_frees_before_) << what;
        EXPECT_EQ(orvo::mem_stats().blocks, mem_before_.blocks) << what;
    }
}

TEST_F(Record, RenameOutOfMemory) {
    t_buffer *a = buffer("a 10000 1");
    t_buffer *a2 = buffer("a");
    orvo::mem_fail_above(1 << 20);
    send(a2, "name", "z");
    orvo::mem_fail_reset();
    EXPECT_TRUE(console_has("buffer~: error: z: out of memory"));
    EXPECT_EQ(a2->b_frames, 100);
    EXPECT_EQ(a2->b_valid, 0);
    EXPECT_NE(a2->b_memory, a->b_memory);
}

TEST_F(Record, NotificationsCoalescePerSchedulerTime) {
    t_buffer *a = buffer("a 10 1");
    send(a, "printmodtime");
    EXPECT_EQ(console(), std::vector<std::string>{"buffer~: buffer~ a: mod time 0"});
    watch("a");
    console();
    send(a, "fill", "0.5");
    send(a, "fill", "0.25");
    EXPECT_EQ(console(), std::vector<std::string>{"watch a: buffer_modified"});
    orvo::advance(1);
    send(a, "fill", "0.5");
    EXPECT_EQ(console(), std::vector<std::string>{"watch a: buffer_modified"});

    // From the scheduler thread: nothing at once, one notification on the main thread later.
    orvo::advance(1);
    send_sched(a, "fill", "0.1");
    send_sched(a, "fill", "0.2");
    EXPECT_TRUE(console().empty());
    orvo::run_until_idle();
    EXPECT_EQ(console(), std::vector<std::string>{"watch a: buffer_modified"});
    EXPECT_EQ(a->b_modtime, gettime());
    send(a, "printmodtime");
    EXPECT_EQ(console(), std::vector<std::string>{"buffer~: buffer~ a: mod time " + std::to_string(gettime())});
}

TEST_F(Record, OwedBangGoesOutWithNextNotification) {
    t_buffer *a = buffer("a 10 1");
    t_object *p = box("print", "P");
    ASSERT_TRUE(orvo::connect(&a->b_obj, 1, p));
    a->b_modified = 1;   // as a completed file operation leaves it
    orvo::advance(1);
    send(a, "fill", "0.5");
    EXPECT_EQ(console(), std::vector<std::string>{"P: bang"});
    EXPECT_EQ(a->b_modified, 0);
    orvo::advance(1);
    send(a, "fill", "0.5");
    EXPECT_TRUE(console().empty());
    // The bang is owed even when the notification itself is coalesced away.
    a->b_modified = 1;
    send(a, "fill", "0.5");
    EXPECT_EQ(console(), std::vector<std::string>{"P: bang"});
}

TEST_F(Record, SmallHandlersAndMarkings) {
    t_buffer *a = buffer("a 10 1");
    t_symbol *name = nullptr;
    object_method(a, S("getname"), &name);
    EXPECT_EQ(name, S("a"));
    EXPECT_EQ((float *)object_method(a, S("getsampleptr")), a->b_samples);

    char text[512];
    object_method(a, S("assist"), nullptr, 1L, 0L, text);
    EXPECT_STREQ(text, "size Resizes, File Operations: read, write");
    object_method(a, S("assist"), nullptr, 2L, 1L, text);
    EXPECT_STREQ(text, "bang When File Read Operation Completed");
    object_method(a, S("assist"), nullptr, 2L, 0L, text);
    EXPECT_STREQ(text, "msec Mouse Position in Editing Window");

    t_object *audio = orvo::drag_new("audiofile");
    t_object *movie = orvo::drag_new("moviefile");
    t_object *other = orvo::drag_new("patcherfile");
    EXPECT_EQ((long)(intptr_t)object_method(a, S("acceptsdrag_unlocked"), audio, nullptr), 1);
    EXPECT_EQ((long)(intptr_t)object_method(a, S("acceptsdrag_locked"), movie, nullptr), 1);
    EXPECT_EQ((long)(intptr_t)object_method(a, S("acceptsdrag_unlocked"), other, nullptr), 0);
    EXPECT_EQ(orvo::drag_offers(audio), (std::vector<std::pair<t_object *, t_symbol *>>{{&a->b_obj, S("replace")}}));
    EXPECT_EQ(orvo::drag_offers(movie), (std::vector<std::pair<t_object *, t_symbol *>>{{&a->b_obj, S("import")}}));
    EXPECT_TRUE(orvo::drag_offers(other).empty());
    object_free(audio);
    object_free(movie);
    object_free(other);

    object_method(a, S("fileusage"), nullptr);
    auto usages = orvo::file_usages();
    ASSERT_FALSE(usages.empty());
    EXPECT_EQ(usages.back(), "waveform~");

    EXPECT_TRUE((long)(intptr_t)object_method(a, S("(remote)")));

    t_object *methods = class_extra_lookup(object_class(a), S("methods"));
    t_object *entry = nullptr;
    ASSERT_EQ(hashtab_lookup(methods, S("(remote)"), &entry), 0);
    EXPECT_STREQ(object_marking_get(entry, "documentable"), "1");
    ASSERT_EQ(hashtab_lookup(methods, S("setsize"), &entry), 0);
    EXPECT_STREQ(object_marking_get(entry, "introduced"), "7.0.0");
    ASSERT_EQ(hashtab_lookup(methods, S("resizeandcopy"), &entry), 0);
    EXPECT_STREQ(object_marking_get(entry, "undocumented"), "1");
    EXPECT_STREQ(object_marking_get(class_attr_get(object_class(a), S("padding")), "invisible"), "1");

    // Private messages cannot be typed.
    EXPECT_NE(send(a, "dirty"), 0);
    console();
}

}  // namespace
