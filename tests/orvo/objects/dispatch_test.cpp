// Typed dispatch: arguments reach the method converted to its declared
// signature; bad messages are refused with one line.
// Symbols (interning from many threads, unique names) and atoms parsed from text.
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
    return nullptr;
}
void *any_long(t_object *, t_symbol *s, long argc, t_atom *argv) {
    g_seen = std::string(s->s_name) + ": " + describe(argv, argc);
    return nullptr;
}
// Deferred-function style: the count declared as short.
void *any_short(t_object *x, t_symbol *s, short argc, t_atom *argv) { return any_long(x, s, argc, argv); }

t_class *dispatch_class() {
    static t_class *c = [] {
        t_class *k = class_new("dispatchtest", nullptr, nullptr, sizeof(t_object), 0, 0);
        class_addmethod(k, M(recv<t_atom_long, double>), "mlf", A_LONG, A_FLOAT, 0);
        class_addmethod(k, M(recv<double>), "mf", A_FLOAT, 0);
        class_addmethod(k, M(recv<t_symbol *>), "ms", A_SYM, 0);
        // Six: integers run out of registers and go on the stack.
        class_addmethod(k, M(recv<double, double, t_atom_long, t_atom_long, t_atom_long, t_atom_long>), "mffllll",
                        A_FLOAT, A_FLOAT, A_LONG, A_LONG, A_LONG, A_LONG, 0);
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

TEST_F(DispatchTest, MessagesAreConvertedOrRefusedWithExactlyOneLine) {
    const char *cases[][3] = {
        // selector, arguments, what the method saw; "!bad" or "!unknown" for a refusal
        {"mlf", "-2.9 3", "L-2 F3"},                        // floats truncate toward zero, integers widen
        {"mffllll", "1 2 3.9 4 5 6", "F1 F2 L3 L4 L5 L6"},  // and past the registers
        {"defaults", "", "L0 F0 S[]"},
        {"anyshort", "4 5.5 x", "anyshort: L4 F5.5 S[x]"},
        {"anylong", "", "anylong: "},
        {"mlf", "1", "!bad"},           // a required argument missing
        {"mf", "foo", "!bad"},          // a symbol where a number is required
        {"ms", "3", "!bad"},            // a number where a symbol is required
        {"defaults", "1 2 3", "!bad"},  // an optional symbol given a number
        {"nosuch", "", "!unknown"},
        {"secret", "1 2", "!unknown"},  // private: not reachable by typed messages
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
