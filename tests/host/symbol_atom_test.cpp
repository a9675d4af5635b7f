// Symbols (interning from many threads, unique names, the common table) and
// atoms (conversions, parsing from text, room for getters, text output).
#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host_test.h"

using namespace host_test;

namespace {

class SymbolTest : public ObjTest {};
class AtomTest : public ObjTest {};

std::string describe(const t_atom &a) {
    switch (a.a_type) {
        case A_LONG:
            return "L" + std::to_string(a.a_w.w_long);
        case A_FLOAT: {
            char buf[64];
            std::snprintf(buf, sizeof buf, "F%.17g", a.a_w.w_float);
            return buf;
        }
        case A_SYM:
            return std::string("S[") + a.a_w.w_sym->s_name + "]";
        default:
            return "?";
    }
}

std::vector<std::string> parsed(const std::string &text) {
    std::vector<std::string> out;
    for (const t_atom &a : atoms(text)) out.push_back(describe(a));
    return out;
}

}  // namespace

TEST_F(SymbolTest, SameTextSameSymbol) {
    t_symbol *a = gensym("symbol_test_alpha");
    std::string copy = "symbol_test_alpha";
    EXPECT_EQ(gensym(copy.c_str()), a);
    EXPECT_STREQ(a->s_name, "symbol_test_alpha");
    EXPECT_NE(gensym("symbol_test_alphA"), a);
    EXPECT_EQ(a->s_thing, nullptr);
    EXPECT_EQ(gensym(""), gensym(""));
    EXPECT_STREQ(gensym("")->s_name, "");
}

TEST_F(SymbolTest, InterningFromManyThreadsGivesOneSymbolPerText) {
    constexpr int kThreads = 8, kNames = 4096;  // a power of two: odd strides visit every name
    std::vector<std::vector<t_symbol *>> seen(kThreads, std::vector<t_symbol *>(kNames));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &seen] {
            // Each thread walks the names in its own order, so insertions collide.
            for (int i = 0; i < kNames; ++i) {
                int k = (i * (2 * t + 1) + t * 97) % kNames;
                seen[t][k] = gensym(("mt_name_" + std::to_string(k)).c_str());
            }
        });
    }
    for (auto &th : threads) th.join();
    std::set<t_symbol *> distinct;
    for (int k = 0; k < kNames; ++k) {
        for (int t = 1; t < kThreads; ++t) ASSERT_EQ(seen[t][k], seen[0][k]) << k;
        EXPECT_EQ(std::string(seen[0][k]->s_name), "mt_name_" + std::to_string(k));
        distinct.insert(seen[0][k]);
    }
    EXPECT_EQ(distinct.size(), (size_t)kNames);
}

TEST_F(SymbolTest, UniqueSymbolsAreNeverSeenBefore) {
    t_symbol *a = symbol_unique();
    ASSERT_EQ(a->s_name[0], 'u');
    long n = std::stol(a->s_name + 1);
    // Someone takes the next two names by hand; the next unique one must skip them.
    t_symbol *taken1 = gensym(("u" + std::to_string(n + 1)).c_str());
    t_symbol *taken2 = gensym(("u" + std::to_string(n + 2)).c_str());
    t_symbol *b = symbol_unique();
    EXPECT_NE(b, taken1);
    EXPECT_NE(b, taken2);
    EXPECT_NE(b, a);
    EXPECT_EQ(gensym(b->s_name), b);

    std::vector<std::vector<t_symbol *>> got(4);
    std::vector<std::thread> threads;
    for (auto &v : got)
        threads.emplace_back([&v] {
            for (int i = 0; i < 500; ++i) v.push_back(symbol_unique());
        });
    for (auto &th : threads) th.join();
    std::set<t_symbol *> all;
    for (auto &v : got) all.insert(v.begin(), v.end());
    EXPECT_EQ(all.size(), 2000u);
    EXPECT_FALSE(all.count(a) || all.count(b) || all.count(taken1) || all.count(taken2));
}

TEST_F(SymbolTest, CommonTableHoldsTheStandardSymbols) {
    t_common_symbols_table *t = common_symbols_gettable();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(common_symbols_gettable(), t);
    struct Entry {
        t_symbol *t_common_symbols_table::*field;
        const char *text;
    } entries[] = {
        {&t_common_symbols_table::s_nothing, ""},
        {&t_common_symbols_table::s_bang, "bang"},
        {&t_common_symbols_table::s_int, "int"},
        {&t_common_symbols_table::s_float, "float"},
        {&t_common_symbols_table::s_list, "list"},
        {&t_common_symbols_table::s_anything, "anything"},
        {&t_common_symbols_table::s_symbol, "symbol"},
        {&t_common_symbols_table::s_long, "long"},
        {&t_common_symbols_table::s_float32, "float32"},
        {&t_common_symbols_table::s_float64, "float64"},
        {&t_common_symbols_table::s_char, "char"},
        {&t_common_symbols_table::s_object, "object"},
        {&t_common_symbols_table::s_pointer, "pointer"},
        {&t_common_symbols_table::s_box, "box"},
        {&t_common_symbols_table::s_nobox, "nobox"},
        {&t_common_symbols_table::s_methods, "methods"},
        {&t_common_symbols_table::s_get, "get"},
        {&t_common_symbols_table::s_set, "set"},
        {&t_common_symbols_table::s_setmethod, "setmethod"},
        {&t_common_symbols_table::s_notify, "notify"},
        {&t_common_symbols_table::s_free, "free"},
        {&t_common_symbols_table::s_attr_modified, "attr_modified"},
        {&t_common_symbols_table::s_getname, "getname"},
        {&t_common_symbols_table::s_name, "name"},
        {&t_common_symbols_table::s_rect, "rect"},
        {&t_common_symbols_table::s_open, "open"},
        {&t_common_symbols_table::s_setsamplerate, "setsamplerate"},
        {&t_common_symbols_table::s_close, "close"},
        {&t_common_symbols_table::s_jsoundfile, "jsoundfile"},
        {&t_common_symbols_table::s_jpatcher, "jpatcher"},
        {&t_common_symbols_table::s_vis, "vis"},
        {&t_common_symbols_table::s_title, "title"},
        {&t_common_symbols_table::s_dirty, "dirty"},
    };
    // Every field of the table, none forgotten.
    ASSERT_EQ(sizeof(entries) / sizeof(entries[0]), sizeof(t_common_symbols_table) / sizeof(t_symbol *));
    for (const Entry &e : entries) EXPECT_EQ(t->*e.field, gensym(e.text)) << e.text;
    EXPECT_STREQ(str_tr("7.0.0"), "7.0.0");
}

TEST_F(AtomTest, ReadersConvertBetweenTypes) {
    t_atom a;
    atom_setfloat(&a, 2.9);
    EXPECT_EQ(atom_getlong(&a), 2);
    atom_setfloat(&a, -2.9);
    EXPECT_EQ(atom_getlong(&a), -2);
    atom_setfloat(&a, std::nan(""));
    EXPECT_EQ(atom_getlong(&a), 0);
    atom_setfloat(&a, 1e300);
    EXPECT_EQ(atom_getlong(&a), std::numeric_limits<t_atom_long>::max());
    atom_setlong(&a, (1LL << 53) + 1);
    EXPECT_EQ(atom_getfloat(&a), (double)((1LL << 53) + 1));
    EXPECT_EQ(atom_getsym(&a), gensym(""));
    EXPECT_EQ(atom_gettype(&a), A_LONG);
    atom_setsym(&a, gensym("x"));
    EXPECT_EQ(atom_getlong(&a), 0);
    EXPECT_EQ(atom_getfloat(&a), 0.0);
    EXPECT_EQ(atom_getsym(&a), gensym("x"));
    EXPECT_EQ(atom_getobj(&a), nullptr);
    atom_setobj(&a, &a);
    EXPECT_EQ(atom_getobj(&a), (t_object *)&a);
    EXPECT_EQ(atom_getlong(nullptr), 0);
    EXPECT_EQ(atom_getsym(nullptr), gensym(""));

    auto v = atoms("5 6.5");
    EXPECT_EQ(atom_getintarg(1, 2, v.data()), 6);
    EXPECT_EQ(atom_getfloatarg(0, 2, v.data()), 5.0);
    EXPECT_EQ(atom_getintarg(2, 2, v.data()), 0);
    EXPECT_EQ(atom_getfloatarg(-1, 2, v.data()), 0.0);
}

TEST_F(AtomTest, ParsingNumbersAndWords) {
    EXPECT_EQ(parsed("1 -2 +3 0"), (std::vector<std::string>{"L1", "L-2", "L3", "L0"}));
    EXPECT_EQ(parsed("1.5 1. -0.25 .5 1e3 2E-2"),
              (std::vector<std::string>{"F1.5", "F1", "F-0.25", "F0.5", "F1000", "F0.02"}));
    EXPECT_EQ(
        parsed("foo 1.2.3 - 1e 0x10 inf nan 3a"),
        (std::vector<std::string>{"S[foo]", "S[1.2.3]", "S[-]", "S[1e]", "S[0x10]", "S[inf]", "S[nan]", "S[3a]"}));
    // Too large for an integer: keeps its size as a float.
    EXPECT_EQ(parsed("99999999999999999999"), (std::vector<std::string>{"F1e+20"}));
    EXPECT_EQ(parsed("  \t\n "), std::vector<std::string>{});
}

TEST_F(AtomTest, ParsingQuotesAndEscapes) {
    EXPECT_EQ(parsed("\"a b\" c"), (std::vector<std::string>{"S[a b]", "S[c]"}));
    EXPECT_EQ(parsed("\"12\""), (std::vector<std::string>{"S[12]"}));  // quoted: always a word
    EXPECT_EQ(parsed("@toolbarid \"\""), (std::vector<std::string>{"S[@toolbarid]", "S[]"}));
    EXPECT_EQ(parsed("\"line\none\""), (std::vector<std::string>{"S[line\none]"}));
    EXPECT_EQ(parsed("a\\ b \\5 \"q\\\"q\""), (std::vector<std::string>{"S[a b]", "S[5]", "S[q\"q]"}));
    EXPECT_EQ(parsed("x\"y z\"w"), (std::vector<std::string>{"S[xy zw]"}));
}

TEST_F(AtomTest, ParseAllocatesFromHostMemoryOrFillsTheGivenRoom) {
    long argc = 0;
    t_atom *argv = nullptr;
    ASSERT_EQ(atom_setparse(&argc, &argv, "1 two 3.5"), 0);
    ASSERT_EQ(argc, 3);
    ASSERT_NE(argv, nullptr);
    EXPECT_EQ(sysmem_ptrsize(argv), (t_ptr_int)(3 * sizeof(t_atom)));
    EXPECT_EQ(atom_getsym(argv + 1), gensym("two"));
    sysmem_freeptr(argv);

    argc = 0;
    argv = nullptr;
    ASSERT_EQ(atom_setparse(&argc, &argv, ""), 0);
    EXPECT_EQ(argc, 0);
    EXPECT_EQ(argv, nullptr);

    t_atom room[2];
    argc = 2;
    argv = room;
    ASSERT_EQ(atom_setparse(&argc, &argv, "7 8 9"), 0);
    EXPECT_EQ(argc, 2);
    EXPECT_EQ(argv, room);
    EXPECT_EQ(atom_getlong(room + 1), 8);

    orvo::mem_fail_next(1);
    argc = 0;
    argv = nullptr;
    EXPECT_NE(atom_setparse(&argc, &argv, "1"), 0);
    EXPECT_EQ(argv, nullptr);
}

TEST_F(AtomTest, AllocGivesRoomForOneAtomOnlyWhenNoneIsGiven) {
    long argc = 0;
    t_atom *argv = nullptr;
    char alloc = -1;
    ASSERT_EQ(atom_alloc(&argc, &argv, &alloc), 0);
    EXPECT_EQ(alloc, 1);
    EXPECT_EQ(argc, 1);
    ASSERT_NE(argv, nullptr);
    t_atom *first = argv;
    ASSERT_EQ(atom_alloc(&argc, &argv, &alloc), 0);
    EXPECT_EQ(alloc, 0);
    EXPECT_EQ(argv, first);
    sysmem_freeptr(argv);

    orvo::mem_fail_next(1);
    argc = 0;
    argv = nullptr;
    EXPECT_NE(atom_alloc(&argc, &argv, &alloc), 0);
    EXPECT_EQ(argv, nullptr);
    EXPECT_EQ(argc, 0);
}

TEST_F(AtomTest, TextOfAtoms) {
    auto v = atoms("1 2.5 foo -3 1e3");
    char buf[64];
    atom_totext((long)v.size(), v.data(), buf, sizeof buf);
    EXPECT_STREQ(buf, "1 2.5 foo -3 1000");
    char tiny[5];
    atom_totext((long)v.size(), v.data(), tiny, sizeof tiny);
    EXPECT_STREQ(tiny, "1 2.");
    atom_totext(0, nullptr, buf, sizeof buf);
    EXPECT_STREQ(buf, "");
}
