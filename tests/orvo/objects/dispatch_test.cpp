// Typed dispatch: every argument convention reaches the method with the values
// converted to its declared signature; bad messages are refused with one line.
// Symbols (interning from many threads, unique names) and atoms (parsing from
// text into host memory or the caller's room).
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host_test.h"

using namespace host_test;

namespace {

std::string g_seen;  // what the last method called received

template <class... K>
void *recv(t_object *, K... a) {
    t_atom argv[] = {as_atom(a)..., {}};
    g_seen = describe(argv, sizeof...(K));
    return (void *)(intptr_t)(100 + (int)sizeof...(K));
}
void *any_long(t_object *, t_symbol *s, long argc, t_atom *argv) {
    g_seen = std::string(s->s_name) + ": " + describe(argv, argc);
    return nullptr;
}
// Deferred-function style: the count declared as short.
void *any_short(t_object *x, t_symbol *s, short argc, t_atom *argv) { return any_long(x, s, argc, argv); }

std::vector<std::string> g_sigs;  // every generated signature: "", "l", "f", "s", "ll", ...
template <class K>
constexpr short type_of = std::is_same_v<K, double>       ? A_FLOAT
                          : std::is_same_v<K, t_symbol *> ? A_SYM
                                                          : A_LONG;

// Adds "m<kinds>" for every sequence of N kinds from {long, float}, and symbol when Sym.
template <size_t N, bool Sym, class... K>
void add_all(t_class *c) {
    if constexpr (sizeof...(K) == N) {
        std::string sig{"?lfs"[type_of<K>]...};  // indexed by A_LONG, A_FLOAT, A_SYM: 1, 2, 3
        short t[7] = {type_of<K>...};            // 0 after the last
        ASSERT_EQ(class_addmethod(c, M(recv<K...>), ("m" + sig).c_str(), t[0], t[1], t[2], t[3], t[4], t[5], 0), 0);
        g_sigs.push_back(sig);
    } else {
        add_all<N, Sym, K..., t_atom_long>(c);
        add_all<N, Sym, K..., double>(c);
        if constexpr (Sym) add_all<N, Sym, K..., t_symbol *>(c);
    }
}

t_class *dispatch_class() {
    static t_class *c = [] {
        t_class *k = class_new("dispatchtest", nullptr, nullptr, sizeof(t_object), 0, 0);
        // All mixes of the three kinds up to three arguments, and of the two register
        // kinds at six, where integers run out of registers and go on the stack.
        add_all<0, true>(k), add_all<1, true>(k), add_all<2, true>(k), add_all<3, true>(k), add_all<6, false>(k);
        class_addmethod(k, M(recv<t_atom_long, double, t_symbol *>), "defaults", A_DEFLONG, A_DEFFLOAT, A_DEFSYM, 0);
        class_addmethod(k, M(any_long), "anylong", A_ANY, 0);
        class_addmethod(k, M(any_short), "anyshort", A_ANY, 0);
        class_addmethod(k, M(recv<t_atom_long, t_atom_long>), "secret", A_PRIVATE, 0);
        return k;
    }();
    return c;
}

using DispatchTest = InstanceTest<t_object, dispatch_class>;

}  // namespace

TEST_F(DispatchTest, EverySignatureReceivesItsArgumentsAndReturnsItsResult) {
    ASSERT_EQ(g_sigs.size(), 1u + 3 + 9 + 27 + 64);
    for (const std::string &sig : g_sigs) {
        std::vector<t_atom> argv;
        for (size_t i = 0; i < sig.size(); ++i)
            argv.push_back(sig[i] == 'l'   ? as_atom((t_atom_long)(1000 + i))
                           : sig[i] == 'f' ? as_atom(0.5 + (double)i)
                                           : as_atom(gensym(("s" + std::to_string(i)).c_str())));
        t_atom rv{};
        g_seen = "(not called)";
        ASSERT_EQ(object_method_typed(x_, gensym(("m" + sig).c_str()), (long)argv.size(), argv.data(), &rv), 0);
        EXPECT_EQ(g_seen, describe(argv.data(), (long)argv.size())) << "signature " << sig;
        EXPECT_TRUE(rv.a_type == A_OBJ && (intptr_t)rv.a_w.w_obj == 100 + (intptr_t)sig.size()) << sig;
    }
    EXPECT_TRUE(console().empty());
}

TEST_F(DispatchTest, MessagesAreConvertedOrRefusedWithExactlyOneLine) {
    const char *cases[][3] = {
        // selector, arguments, what the method saw; "!bad" or "!unknown" for a refusal
        {"mlf", "-2.9 3", "L-2 F3"},                        // floats truncate toward zero, integers widen
        {"mffllll", "1 2 3.9 4 5 6", "F1 F2 L3 L4 L5 L6"},  // and past the registers
        {"mlf", "1 2 3 4 5", "L1 F2"},                      // extra atoms are ignored
        {"defaults", "", "L0 F0 S[]"},
        {"defaults", "9 2", "L9 F2 S[]"},
        {"anylong", "4 5.5 x", "anylong: L4 F5.5 S[x]"},
        {"anyshort", "4 5.5 x", "anyshort: L4 F5.5 S[x]"},
        {"anylong", "", "anylong: "},
        {"mlf", "1", "!bad"},           // a required argument missing
        {"mf", "foo", "!bad"},          // a symbol where a number is required
        {"ms", "3", "!bad"},            // a number where a symbol is required
        {"defaults", "x", "!bad"},      // an optional integer given a symbol
        {"defaults", "1 2 3", "!bad"},  // an optional symbol given a number
        {"nosuch", "", "!unknown"},
        {"secret", "1 2", "!unknown"},  // private: not reachable by typed messages
        {"int", "1", "!unknown"},       // "int" is an ordinary name the class lacks
    };
    for (auto [sel, args, want_c] : cases) {
        g_seen = "(not called)";
        std::string want = want_c, what = std::string(sel) + " " + args;
        bool refused = want[0] == '!';
        std::string error = std::string("dispatchtest: error: ") +
                            (want == "!bad" ? "bad arguments for message \"" : "doesn't understand \"") + sel + "\"";
        EXPECT_EQ(object_method_parse(x_, gensym(sel), args, nullptr) != 0, refused) << what;
        EXPECT_EQ(g_seen, refused ? "(not called)" : want) << what;
        EXPECT_EQ(console(), refused ? std::vector<std::string>{error} : std::vector<std::string>{}) << what;
    }
}

TEST_F(DispatchTest, PrivateMethodsAreReachedByPointerAndDirectLookupOnly) {
    EXPECT_EQ((intptr_t)object_method(x_, gensym("secret"), (void *)5, (void *)-6), 102);
    EXPECT_EQ(g_seen, "L5 L-6");
    EXPECT_EQ(object_method_direct_getmethod(x_, gensym("secret")), M(recv<t_atom_long, t_atom_long>));
    EXPECT_EQ(object_method_direct_getobject(x_, gensym("secret")), x_);
    // Not understood, or not an object: null, silence, no call.
    t_object fake{};
    fake.o_class = dispatch_class();
    EXPECT_TRUE(!object_method(x_, gensym("nosuch")) && !object_method(&fake, gensym("secret")) &&
                !object_method_direct_getobject(x_, gensym("nosuch")));
    EXPECT_TRUE(console().empty());
    EXPECT_NE(object_method_typed(&fake, gensym("ml"), 0, nullptr, nullptr), 0);  // this one says so
    EXPECT_EQ(console().size(), 1u);
    EXPECT_EQ(g_seen, "L5 L-6");  // nothing called since
}

using SymbolTest = ObjTest;
using AtomTest = ObjTest;

TEST_F(SymbolTest, InterningAndUniqueNamesFromManyThreads) {
    constexpr int kThreads = 8, kNames = 4096;  // a power of two: odd strides visit every name
    // Where the next unique name would fall, a name taken by hand: it must be skipped.
    t_symbol *taken = gensym(("u" + std::to_string(std::stol(symbol_unique()->s_name + 1) + 1)).c_str());
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
    EXPECT_EQ(distinct.count(taken), 0u);
    EXPECT_EQ(gensym(unique[0][0]->s_name), unique[0][0]);
}

TEST_F(AtomTest, ParsingText) {
    const char *cases[][2] = {
        {"1 -2 +3 0", "L1 L-2 L3 L0"},
        {"1.5 1. -0.25 .5 1e3 2E-2", "F1.5 F1 F-0.25 F0.5 F1000 F0.02"},
        {"foo 1.2.3 - 1e 0x10 inf nan 3a", "S[foo] S[1.2.3] S[-] S[1e] S[0x10] S[inf] S[nan] S[3a]"},
        {"99999999999999999999", "F1e+20"},  // too large for an integer: keeps its size as a float
        {"  \t\n ", ""},
        {"\"a b\" c \"12\" @toolbarid \"\"", "S[a b] S[c] S[12] S[@toolbarid] S[]"},  // quoted: always a word
        {"\"line\none\" a\\ b \\5 \"q\\\"q\" x\"y z\"w", "S[line\none] S[a b] S[5] S[q\"q] S[xy zw]"},
    };
    for (auto [text, want] : cases) EXPECT_EQ(describe(Atoms(text)), want) << text;  // into host memory
}

TEST_F(AtomTest, ParseFillsTheGivenRoomOrFailsWithoutMemory) {
    long argc = 0;
    t_atom *argv = nullptr, room[2];
    EXPECT_EQ(atom_setparse(&argc, &argv, ""), 0);
    EXPECT_TRUE(argc == 0 && argv == nullptr);
    argc = 2, argv = room;
    EXPECT_EQ(atom_setparse(&argc, &argv, "7 8 9"), 0);
    EXPECT_TRUE(argv == room && describe(room, argc) == "L7 L8");
    orvo::mem_fail_next(1);
    argc = 0, argv = nullptr;
    EXPECT_NE(atom_setparse(&argc, &argv, "1"), 0);
    EXPECT_EQ(argv, nullptr);
}
