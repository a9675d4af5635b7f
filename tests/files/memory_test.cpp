// Host memory: the block registry and its statistics, large blocks, fault injection.
#include <cstdint>
#include <cstring>

#include "orvo_test.h"

namespace {

class MemoryTest : public orvo_test::HostTest {
  protected:
    bool wants_plugins() const override { return false; }
};

TEST_F(MemoryTest, StatsFollowLiveBlocks) {
    auto before = orvo::mem_stats();
    char *a = sysmem_newptr(100);
    char *b = sysmem_newptrclear(28);
    ASSERT_TRUE(a && b);
    auto mid = orvo::mem_stats();
    EXPECT_EQ(mid.blocks, before.blocks + 2);
    EXPECT_EQ(mid.bytes, before.bytes + 128);
    EXPECT_EQ(mid.allocs, before.allocs + 2);
    EXPECT_EQ(sysmem_ptrsize(a), 100);
    EXPECT_EQ(sysmem_ptrsize(b), 28);
    sysmem_freeptr(a);
    sysmem_freeptr(b);
    sysmem_freeptr(nullptr);
    auto after = orvo::mem_stats();
    EXPECT_EQ(after.blocks, before.blocks);
    EXPECT_EQ(after.bytes, before.bytes);
    EXPECT_EQ(after.allocs, before.allocs + 2) << "allocations are counted, not live";
}

TEST_F(MemoryTest, ClearedBlocksAreZeroAndCopyCopies) {
    for (t_ptr_int size : {t_ptr_int(1), t_ptr_int(4097), t_ptr_int(6) << 20}) {
        char *p = sysmem_newptrclear(size);
        ASSERT_NE(p, nullptr) << size;
        bool zero = true;
        for (t_ptr_int i = 0; i < size; ++i) zero &= p[i] == 0;
        EXPECT_TRUE(zero) << size;
        sysmem_freeptr(p);
    }
    char src[5] = {1, 2, 3, 4, 5};
    char *dst = sysmem_newptr(5);
    sysmem_copyptr(src, dst, 5);
    EXPECT_EQ(memcmp(src, dst, 5), 0);
    sysmem_freeptr(dst);
}

TEST_F(MemoryTest, SizeZeroNegativeAndForeignPointers) {
    char *z = sysmem_newptr(0);
    EXPECT_NE(z, nullptr);
    EXPECT_EQ(sysmem_ptrsize(z), 0);
    sysmem_freeptr(z);
    auto before = orvo::mem_stats();
    EXPECT_EQ(sysmem_newptr(-1), nullptr);
    EXPECT_EQ(sysmem_newptrclear(-100), nullptr);
    EXPECT_EQ(orvo::mem_stats().allocs, before.allocs);
    int local = 0;
    sysmem_freeptr(&local);  // not a host block: must not reach free()
    EXPECT_EQ(sysmem_ptrsize(&local), 0);
    EXPECT_EQ(orvo::mem_stats().blocks, before.blocks);
}

TEST_F(MemoryTest, LargeBlocksAreHugePageAlignedAndUsable) {
    const t_ptr_int sizes[] = {t_ptr_int(4) << 20, (t_ptr_int(4) << 20) - 1, (t_ptr_int(9) << 20) + 3};
    for (t_ptr_int size : sizes) {
        char *p = sysmem_newptr(size);
        ASSERT_NE(p, nullptr);
        if (size >= (t_ptr_int(4) << 20)) {
            EXPECT_EQ((uintptr_t)p % (uintptr_t(2) << 20), 0u) << size;
        }
        EXPECT_EQ(sysmem_ptrsize(p), size);
        // every page writable, up to the last byte
        for (t_ptr_int i = 0; i < size; i += 4096) p[i] = (char)i;
        p[size - 1] = 7;
        EXPECT_EQ(p[size - 1], 7);
        sysmem_freeptr(p);
    }
}

TEST_F(MemoryTest, FailNextFailsExactlyThatMany) {
    auto before = orvo::mem_stats();
    orvo::mem_fail_next(2);
    EXPECT_EQ(sysmem_newptr(10), nullptr);
    EXPECT_EQ(sysmem_newptrclear(10), nullptr);
    EXPECT_EQ(orvo::mem_stats().allocs, before.allocs) << "failed allocations count for nothing";
    char *p = sysmem_newptr(10);
    EXPECT_NE(p, nullptr);
    sysmem_freeptr(p);
}

TEST_F(MemoryTest, FailAboveOnlyLargerBlocks) {
    orvo::mem_fail_above(1000);
    char *ok = sysmem_newptr(1000);
    EXPECT_NE(ok, nullptr);
    EXPECT_EQ(sysmem_newptr(1001), nullptr);
    EXPECT_EQ(sysmem_newptrclear(t_ptr_int(8) << 20), nullptr);
    orvo::mem_fail_reset();
    char *big = sysmem_newptr(1001);
    EXPECT_NE(big, nullptr);
    sysmem_freeptr(ok);
    sysmem_freeptr(big);
}

}  // namespace
