// The host's audio library on the public buffer record: the edit bracket, the
// owner found through a name, validity shared by the boxes of a name. Host
// memory: the block registry and its statistics, large blocks, fault injection.
#include <cstdint>

#include "buffer~/host/buffer_record.h"
#include "sounds.h"

namespace {

class AudioLibTest : public orvo_test::LibTest {
  protected:
    void TearDown() override {
        for (auto *x : made) freeobject(x);
        LibTest::TearDown();
    }
    // A zeroed record of a buffer-like class, or of another class.
    t_buffer *make(bool other_class = false) {
        static t_class *buf = class_new("audio_test_buffer", nullptr, nullptr, (long)sizeof(t_buffer), 0L, 0L);
        static t_class *other = class_new("audio_test_other", nullptr, nullptr, (long)sizeof(t_buffer), 0L, 0L);
        made.push_back((t_object *)object_alloc(other_class ? other : buf));
        return (t_buffer *)made.back();
    }
    std::vector<t_object *> made;
};

TEST_F(AudioLibTest, EditBracket) {
    const std::tuple<bool, long, long, long> cases[] = {
        // refused, valid before, valid passed to the end, valid after (negative: left as it was)
        {false, 1, 0, 0}, {false, 0, 1, 1}, {false, 0, 5, 1}, {false, 1, -1, 1}, {false, 0, -1, 0}, {true, 1, 0, 1},
    };
    for (auto &[refused, before, end_arg, after] : cases) {
        t_buffer b{};
        b.b_valid = before;
        orvo::set_edits_refused(refused);
        bool opened = buffer_edit_begin(&b) == 0;
        EXPECT_EQ(orvo::open_edits(), refused ? 0 : 1) << "a refusal opens nothing";
        if (opened) buffer_edit_end(&b, end_arg);
        EXPECT_EQ(b.b_valid, after) << before << " " << end_arg;
        EXPECT_EQ(orvo::open_edits(), 0);
    }
}

// The owner is what the name is bound to, if of the same class. Boxes of one
// name share memory through the owner's chain: marking any one marks every box
// on the same memory, and no box on other memory.
TEST_F(AudioLibTest, OwnerAndValidityAcrossTheBoxesOfAName) {
    float shared[4], stale[4];
    t_symbol *name = gensym("audio_test_name");
    t_buffer *owner = make(), *peer = make(), *old = make(), *elsewhere = make();
    EXPECT_EQ(buffer_findowner(peer), peer) << "no name";
    for (t_buffer *b : {owner, peer, old}) b->b_name = name, b->b_memory = shared;
    owner->b_next = old, old->b_next = peer, old->b_memory = stale;
    elsewhere->b_name = gensym("audio_test_name2"), elsewhere->b_memory = shared;
    for (auto [bound, expected] : {std::pair{&make(true)->b_obj, peer}, {nullptr, peer}, {&owner->b_obj, owner}}) {
        name->s_thing = bound;
        EXPECT_EQ(buffer_findowner(peer), expected);
        EXPECT_EQ(buffer_findowner(old), expected == peer ? old : owner);
    }
    const std::tuple<t_buffer *, bool, long, std::vector<t_atom_long>> steps[] = {
        // marked box, through an edit bracket or buffer_valid, the value; then owner, peer, old, elsewhere
        {peer, true, 1, {1, 1, 0, 0}},  {owner, false, 0, {0, 0, 0, 0}}, {old, false, 1, {0, 0, 1, 0}},
        {peer, false, 7, {1, 1, 1, 0}}, {owner, true, 0, {0, 0, 1, 0}},
    };
    for (auto &[who, edit, valid, states] : steps) {
        if (!edit)
            buffer_valid(who, valid);
        else if (buffer_edit_begin(who) == 0)
            buffer_edit_end(who, valid);
        EXPECT_EQ(states, (std::vector<t_atom_long>{owner->b_valid, peer->b_valid, old->b_valid, elsewhere->b_valid}));
    }
    name->s_thing = nullptr;
}

using MemoryTest = orvo_test::LibTest;

constexpr t_ptr_int MiB = t_ptr_int(1) << 20;

// Live blocks, their bytes and the allocations made since before.
std::vector<long long> since(const orvo::MemStats &before) {
    auto now = orvo::mem_stats();
    return {now.blocks - before.blocks, now.bytes - before.bytes, now.allocs - before.allocs};
}

// Each block counts while it lives; blocks from 4 MiB on are aligned to 2 MiB.
// All are cleared when asked and usable to the last byte.
TEST_F(MemoryTest, BlocksStatsAndAlignment) {
    auto before = orvo::mem_stats();
    long long n = 0;
    for (t_ptr_int size : {t_ptr_int(0), t_ptr_int(100), t_ptr_int(4097), 4 * MiB - 1, 4 * MiB, 9 * MiB + 3}) {
        char *p = sysmem_newptrclear(size);
        ASSERT_NE(p, nullptr) << "size " << size << " (0 is still a block)";
        EXPECT_EQ(since(before), (std::vector<long long>{1, size, ++n}));
        EXPECT_EQ(sysmem_ptrsize(p), size);
        EXPECT_EQ(size >= 4 * MiB ? (uintptr_t)p % (2 * MiB) : 0u, 0u) << size;
        bool zero = size == 0 || p[size - 1] == 0;
        for (t_ptr_int i = 0; i < size; i += 4096) zero &= p[i] == 0, p[i] = 1;
        if (size) p[size - 1] = 7;
        EXPECT_TRUE(zero) << size;
        sysmem_freeptr(p);
    }
    EXPECT_EQ(sysmem_newptr(-1), nullptr);
    EXPECT_EQ(since(before), (std::vector<long long>{0, 0, n})) << "allocations are counted, not live";
    // Neither a foreign pointer nor a second free reaches free(); both are counted.
    long bad = orvo::mem_bad_frees();
    int local = 0;
    sysmem_freeptr(&local);
    char *p = sysmem_newptr(8);
    sysmem_freeptr(p);
    sysmem_freeptr(p);
    sysmem_freeptr(nullptr);
    EXPECT_EQ(orvo::mem_bad_frees() - bad, 2);
    bad_frees_before_ += 2;
}

TEST_F(MemoryTest, FaultInjection) {
    const std::tuple<long, long, long long, std::vector<std::pair<t_ptr_int, bool>>> cases[] = {
        // fail next, fail the nth, fail above, then each size asked and whether it is granted
        {2, 0, 0, {{10, false}, {10, false}, {10, true}}},
        {0, 0, 1000, {{1000, true}, {1001, false}, {8 * MiB, false}, {1, true}}},
        {1, 0, 1000, {{10, false}, {10, true}, {2000, false}}},
        {0, 3, 0, {{10, true}, {10, true}, {10, false}, {10, true}, {10, true}}},
        {1, 2, 0, {{10, false}, {10, false}, {10, true}}},
    };
    for (auto &[next, nth, above, asks] : cases) {
        orvo::mem_fail_next(next);
        orvo::mem_fail_nth(nth);
        orvo::mem_fail_above(above);
        auto before = orvo::mem_stats();
        long long granted = 0;
        for (auto [size, ok] : asks) {
            char *p = granted % 2 ? sysmem_newptrclear(size) : sysmem_newptr(size);
            EXPECT_EQ(p != nullptr, ok) << next << "/" << nth << "/" << above << " " << size;
            granted += p != nullptr;
            sysmem_freeptr(p);
        }
        EXPECT_EQ(since(before), (std::vector<long long>{0, 0, granted})) << "failed allocations count for nothing";
        orvo::mem_fail_reset();
    }
}

}  // namespace
