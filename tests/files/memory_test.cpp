// Host memory: the block registry and its statistics, large blocks, fault injection.
#include <cstdint>

#include "orvo_test.h"

namespace {

class MemoryTest : public orvo_test::HostTest {
  protected:
    bool wants_plugins() const override { return false; }
};

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
    int local = 0;
    sysmem_freeptr(&local);  // not a host block: must not reach free()
    sysmem_freeptr(nullptr);
    EXPECT_EQ(since(before), (std::vector<long long>{0, 0, n})) << "allocations are counted, not live";
}

TEST_F(MemoryTest, FaultInjection) {
    const std::tuple<long, long long, std::vector<std::pair<t_ptr_int, bool>>> cases[] = {
        // fail next, fail above, then each size asked and whether it is granted
        {2, 0, {{10, false}, {10, false}, {10, true}}},
        {0, 1000, {{1000, true}, {1001, false}, {8 * MiB, false}, {1, true}}},
        {1, 1000, {{10, false}, {10, true}, {2000, false}}},
    };
    for (auto &[next, above, asks] : cases) {
        orvo::mem_fail_next(next);
        orvo::mem_fail_above(above);
        auto before = orvo::mem_stats();
        long long granted = 0;
        for (auto [size, ok] : asks) {
            char *p = granted % 2 ? sysmem_newptrclear(size) : sysmem_newptr(size);
            EXPECT_EQ(p != nullptr, ok) << next << "/" << above << " " << size;
            granted += p != nullptr;
            sysmem_freeptr(p);
        }
        EXPECT_EQ(since(before), (std::vector<long long>{0, 0, granted})) << "failed allocations count for nothing";
        orvo::mem_fail_reset();
    }
}

}  // namespace
