// Typed dispatch: every argument convention reaches the method with the values
// converted to its declared signature; bad messages are refused with one line.
#include <string>
#include <vector>

#include "host_test.h"

using namespace host_test;

namespace {

std::string g_seen;  // what the last method called received

template <class... K>
void *recv(t_object *, K... a) {
    g_seen = describe({as_atom(a)...});
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
        add_all<0, true>(k);
        add_all<1, true>(k);
        add_all<2, true>(k);
        add_all<3, true>(k);
        add_all<6, false>(k);
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
        EXPECT_EQ(g_seen, describe(argv)) << "signature " << sig;
        EXPECT_EQ(rv.a_type, A_OBJ);
        EXPECT_EQ((intptr_t)rv.a_w.w_obj, 100 + (intptr_t)sig.size()) << sig;
    }
    EXPECT_TRUE(console().empty());
}

TEST_F(DispatchTest, MessagesAreConvertedOrRefusedWithExactlyOneLine) {
    struct Case {
        const char *sel, *args, *want;  // what the method saw; "!bad" or "!unknown" for a refusal
    } cases[] = {
        {"mlfs", "3 2.5 foo", "L3 F2.5 S[foo]"},
        {"mlf", "-2.9 3", "L-2 F3"},                        // floats truncate toward zero, integers widen
        {"mffllll", "1 2 3.9 4 5 6", "F1 F2 L3 L4 L5 L6"},  // and past the registers
        {"mlf", "1 2 3 4 5", "L1 F2"},                      // extra atoms are ignored
        {"defaults", "", "L0 F0 S[]"},
        {"defaults", "9 2", "L9 F2 S[]"},
        {"anylong", "4 5.5 x", "anylong: L4 F5.5 S[x]"},
        {"anyshort", "4 5.5 x", "anyshort: L4 F5.5 S[x]"},
        {"anylong", "", "anylong: "},
        {"mlf", "1", "!bad"},  // a required argument missing
        {"ml", "", "!bad"},
        {"mf", "foo", "!bad"},          // a symbol where a number is required
        {"ms", "3", "!bad"},            // a number where a symbol is required
        {"defaults", "x", "!bad"},      // an optional integer given a symbol
        {"defaults", "1 2 3", "!bad"},  // an optional symbol given a number
        {"nosuch", "", "!unknown"},
        {"secret", "1 2", "!unknown"},  // private: not reachable by typed messages
        {"int", "1", "!unknown"},       // "int" is an ordinary name the class lacks
    };
    for (const Case &c : cases) {
        g_seen = "(not called)";
        std::string want = c.want, what = std::string(c.sel) + " " + c.args;
        bool refused = want[0] == '!';
        std::string error = std::string("dispatchtest: error: ") +
                            (want == "!bad" ? "bad arguments for message \"" : "doesn't understand \"") + c.sel + "\"";
        EXPECT_EQ(object_method_parse(x_, gensym(c.sel), c.args, nullptr) != 0, refused) << what;
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
    EXPECT_EQ(object_method(x_, gensym("nosuch")), nullptr);
    EXPECT_EQ(object_method(&fake, gensym("secret")), nullptr);
    EXPECT_EQ(object_method_direct_getobject(x_, gensym("nosuch")), nullptr);
    EXPECT_TRUE(console().empty());
    EXPECT_NE(object_method_typed(&fake, gensym("ml"), 0, nullptr, nullptr), 0);  // this one says so
    EXPECT_EQ(console().size(), 1u);
    EXPECT_EQ(g_seen, "L5 L-6");  // nothing called since
}
