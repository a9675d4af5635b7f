// Symbols (interning from many threads, unique names) and atoms (conversions,
// parsing from text into host memory or the caller's room).
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host_test.h"

using namespace host_test;

using SymbolTest = ObjTest;
using AtomTest = ObjTest;

TEST_F(SymbolTest, InterningAndUniqueNamesFromManyThreads) {
    constexpr int kThreads = 8, kNames = 4096;  // a power of two: odd strides visit every name
    std::vector<std::vector<t_symbol *>> seen(kThreads, std::vector<t_symbol *>(kNames)), unique(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &seen, &unique] {
            // Each thread walks the names in its own order, so insertions collide.
            for (int i = 0; i < kNames; ++i) {
                int k = (i * (2 * t + 1) + t * 97) % kNames;
                seen[t][k] = gensym(("mt_name_" + std::to_string(k)).c_str());
                if (i % 16 == 0) unique[t].push_back(symbol_unique());
            }
        });
    for (auto &th : threads) th.join();
    std::set<t_symbol *> distinct;
    for (int t = 0; t < kThreads; ++t) {
        for (int k = 0; k < kNames; ++k) ASSERT_EQ(seen[t][k]->s_name, "mt_name_" + std::to_string(k));
        EXPECT_EQ(seen[t], seen[0]);
        distinct.insert(unique[t].begin(), unique[t].end());
    }
    EXPECT_EQ(distinct.size(), (size_t)kThreads * kNames / 16);
}

TEST_F(SymbolTest, UniqueSymbolsSkipNamesAlreadyTaken) {
    t_symbol *a = symbol_unique();
    ASSERT_EQ(a->s_name[0], 'u');
    t_symbol *taken = gensym(("u" + std::to_string(std::stol(a->s_name + 1) + 1)).c_str());  // the next, by hand
    t_symbol *b = symbol_unique();
    EXPECT_TRUE(b != a && b != taken && gensym(b->s_name) == b) << b->s_name;
}

TEST_F(AtomTest, ParsingText) {
    struct Case {
        const char *text, *want;
    } cases[] = {
        {"1 -2 +3 0", "L1 L-2 L3 L0"},
        {"1.5 1. -0.25 .5 1e3 2E-2", "F1.5 F1 F-0.25 F0.5 F1000 F0.02"},
        {"foo 1.2.3 - 1e 0x10 inf nan 3a", "S[foo] S[1.2.3] S[-] S[1e] S[0x10] S[inf] S[nan] S[3a]"},
        {"99999999999999999999", "F1e+20"},  // too large for an integer: keeps its size as a float
        {"  \t\n ", ""},
        {"\"a b\" c", "S[a b] S[c]"},
        {"\"12\"", "S[12]"},  // quoted: always a word
        {"@toolbarid \"\"", "S[@toolbarid] S[]"},
        {"\"line\none\"", "S[line\none]"},
        {"a\\ b \\5 \"q\\\"q\"", "S[a b] S[5] S[q\"q]"},
        {"x\"y z\"w", "S[xy zw]"},
    };
    for (const Case &c : cases) EXPECT_EQ(describe(atoms(c.text)), c.want) << c.text;
}

TEST_F(AtomTest, ParseAllocatesFromHostMemoryOrFillsTheGivenRoom) {
    long argc = 0;
    t_atom *argv = nullptr, room[2];
    ASSERT_EQ(atom_setparse(&argc, &argv, "1 two 3.5"), 0);
    EXPECT_EQ(describe(argv, argc), "L1 S[two] F3.5");
    sysmem_freeptr(argv);
    argv = nullptr;
    EXPECT_EQ(atom_setparse(&argc, &argv, ""), 0);
    EXPECT_TRUE(argc == 0 && argv == nullptr);
    argc = 2;
    argv = room;
    EXPECT_EQ(atom_setparse(&argc, &argv, "7 8 9"), 0);
    EXPECT_EQ(argv, room);
    EXPECT_EQ(describe(room, argc), "L7 L8");
    orvo::mem_fail_next(1);
    argc = 0;
    argv = nullptr;
    EXPECT_NE(atom_setparse(&argc, &argv, "1"), 0);
    EXPECT_EQ(argv, nullptr);
}
