// The host's audio library on the public buffer record: the edit bracket and
// reads it excludes. Host memory: the block registry and its statistics, large blocks.
#include <cstdint>
#include <optional>

#include "buffer~/host/buffer_record.h"
#include "orvo_test.h"

namespace {

class AudioLibTest : public orvo_test::HostOnlyTest {
  protected:
    void TearDown() override {
        for (auto *x : made) freeobject(x);
        HostOnlyTest::TearDown();
    }
    // A zeroed record of a buffer-like class.
    t_buffer *make() {
        static t_class *buf = class_new("audio_test_buffer", nullptr, nullptr, (long)sizeof(t_buffer), 0L, 0L);
        made.push_back((t_object *)object_alloc(buf));
        return (t_buffer *)made.back();
    }
    std::vector<t_object *> made;
};

// Brackets on one owner's memory exclude each other and reads of that memory
// (SampleRead, as "writefloats" makes); an end nobody was granted changes nothing;
// a block freed while read goes only when the read ends.
TEST_F(AudioLibTest, EditBracketsExcludeEachOtherAndReads) {
    t_symbol *name = gensym("audio_test_excl");
    t_buffer *owner = make(), *peer = make(), *other = make();
    float *mem = (float *)sysmem_newptrclear(64 * sizeof(float));
    float *othermem = (float *)sysmem_newptrclear(64 * sizeof(float));
    owner->b_name = peer->b_name = name, owner->b_next = peer;
    name->s_thing = &owner->b_obj;
    owner->b_memory = peer->b_memory = mem, owner->b_valid = peer->b_valid = 1;
    other->b_memory = othermem;
    std::optional<orvo::SampleRead> reads[2];
    auto mem_of = [&](t_buffer *b) { return b == other ? othermem : mem; };
    const std::tuple<const char *, t_buffer *, bool> steps[] = {
        // step, box, whether it is granted (for an end: whether it closed a bracket)
        {"begin", owner, true}, {"begin", owner, false}, {"begin", peer, false}, {"begin", other, true},
        {"read", owner, false}, {"read", other, false}, {"end", peer, false}, {"end", owner, true},
        {"read", owner, true},  {"begin", peer, false}, {"begin", owner, false}, {"end", other, true},
        {"end", other, false},  {"unread", owner, true}, {"begin", peer, true}, {"end", peer, true},
    };
    int i = 0;
    for (auto &[step, who, granted] : steps) {
        SCOPED_TRACE(std::to_string(i++) + " " + step);
        long open = orvo::open_edits();
        std::string s = step;
        if (s == "begin") {
            EXPECT_EQ(buffer_edit_begin(who) == 0, granted);
            EXPECT_EQ(orvo::open_edits(), open + (granted ? 1 : 0));
        } else if (s == "end") {
            buffer_edit_end(who, 0);
            EXPECT_EQ(orvo::open_edits(), open - (granted ? 1 : 0));
            EXPECT_EQ(owner->b_valid, granted && who != other ? 0 : 1) << "an ignored end leaves the flag";
            owner->b_valid = peer->b_valid = 1;
        } else if (s == "read") {
            auto &r = reads[who == other].emplace(nullptr, mem_of(who) + 16, (t_atom_long)24, 2L);
            EXPECT_EQ(r.ok(), granted);
            if (!granted) reads[who == other].reset();
        } else {
            reads[who == other].reset();
        }
    }
    // Reads outside a live block, or past its end, are refused.
    int local[8];
    for (auto [p, frames] : {std::pair{(float *)local, 2L}, {mem + 60, 5L}, {mem, 65L}, {mem + 64, 1L}})
        EXPECT_FALSE(orvo::SampleRead(nullptr, p, frames, 1).ok()) << p - mem << " " << frames;
    EXPECT_TRUE(orvo::SampleRead(nullptr, mem + 60, 4, 1).ok());
    // Freed while read: the block stays until the read ends; a second free is a double free.
    long blocks = orvo::mem_stats().blocks;
    reads[1].emplace(nullptr, othermem, 64, 1L);
    sysmem_freeptr(othermem);
    EXPECT_EQ(orvo::mem_stats().blocks, blocks);
    EXPECT_FALSE(orvo::SampleRead(nullptr, othermem, 1, 1).ok()) << "freed already, for new readers";
    reads[1].reset();
    EXPECT_EQ(orvo::mem_stats().blocks, blocks - 1);
    sysmem_freeptr(mem);
    name->s_thing = nullptr;
}

using MemoryTest = orvo_test::HostOnlyTest;

constexpr t_ptr_int MiB = t_ptr_int(1) << 20;

// Live blocks, their bytes and the allocations made since before.
std::vector<long long> since(const orvo::MemStats &before) {
    auto now = orvo::mem_stats();
    return {now.blocks - before.blocks, now.bytes - before.bytes, now.allocs - before.allocs};
}

// Each block counts while it lives; blocks from 4 MiB on are aligned to 2 MiB.
// All are cleared when asked.
TEST_F(MemoryTest, BlocksStatsAndAlignment) {
    auto before = orvo::mem_stats();
    long long n = 0;
    for (t_ptr_int size : {t_ptr_int(0), t_ptr_int(100), t_ptr_int(4097), 4 * MiB - 1, 4 * MiB, 9 * MiB + 3}) {
        char *p = sysmem_newptrclear(size);
        ASSERT_NE(p, nullptr) << "size " << size << " (0 is still a block)";
        EXPECT_EQ(since(before), (std::vector<long long>{1, size, ++n}));
        EXPECT_EQ(sysmem_ptrsize(p), size);
        EXPECT_EQ(size >= 4 * MiB ? (uintptr_t)p % (2 * MiB) : 0u, 0u) << size;
        EXPECT_EQ(size ? p[size - 1] : 0, 0) << size;
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

}  // namespace
