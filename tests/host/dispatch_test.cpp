// Typed dispatch: every argument convention reaches the method with the values
// converted to its declared signature; bad messages are refused with one line.
#include <cmath>
#include <string>
#include <variant>
#include <vector>

#include "host_test.h"

using namespace host_test;

namespace {

using Value = std::variant<t_atom_long, double, t_symbol *>;

struct Received {
    void *x = nullptr;
    t_symbol *sel = nullptr;
    std::vector<Value> args;
    int calls = 0;
};
Received g_rx;

template <class... K>
void *recv(t_object *x, K... a) {
    g_rx.x = x;
    g_rx.args = {Value(a)...};
    ++g_rx.calls;
    return (void *)(intptr_t)(100 + (int)sizeof...(K));
}

template <class K>
constexpr short kind_type() {
    if constexpr (std::is_same_v<K, double>)
        return A_FLOAT;
    else if constexpr (std::is_same_v<K, t_symbol *>)
        return A_SYM;
    else
        return A_LONG;
}
template <class K>
constexpr char kind_char() {
    if constexpr (std::is_same_v<K, double>)
        return 'f';
    else if constexpr (std::is_same_v<K, t_symbol *>)
        return 's';
    else
        return 'l';
}

template <class... K>
void add_one(t_class *c) {
    std::string name = std::string("m") + std::string{kind_char<K>()...};
    ASSERT_EQ(class_addmethod(c, M(recv<K...>), name.c_str(), (int)kind_type<K>()..., 0), 0) << name;
}

// Every sequence of {integer, float, symbol} up to four arguments.
template <size_t N, class... K>
void add_three_kinds(t_class *c) {
    if constexpr (sizeof...(K) == N) {
        add_one<K...>(c);
    } else {
        add_three_kinds<N, K..., t_atom_long>(c);
        add_three_kinds<N, K..., double>(c);
        add_three_kinds<N, K..., t_symbol *>(c);
    }
}
// Every sequence of {integer, float} of five and six arguments.
template <size_t N, class... K>
void add_two_kinds(t_class *c) {
    if constexpr (sizeof...(K) == N) {
        add_one<K...>(c);
    } else {
        add_two_kinds<N, K..., t_atom_long>(c);
        add_two_kinds<N, K..., double>(c);
    }
}

struct Rec {
    t_object ob;
    t_atom_long gain;
};

void *defaults_method(Rec *x, t_atom_long n, double f, t_symbol *s) {
    g_rx.x = x;
    g_rx.args = {Value(n), Value(f), Value(s)};
    ++g_rx.calls;
    return nullptr;
}

void *any_long(Rec *x, t_symbol *s, long argc, t_atom *argv) {
    g_rx.x = x;
    g_rx.sel = s;
    g_rx.args.clear();
    for (long i = 0; i < argc; ++i) g_rx.args.push_back(Value(atom_getlong(argv + i)));
    ++g_rx.calls;
    return nullptr;
}

// Deferred-function style: the count declared as short.
void *any_short(Rec *x, t_symbol *s, short argc, t_atom *argv) { return any_long(x, s, argc, argv); }

void *private_method(Rec *x, void *a, void *b) {
    g_rx.x = x;
    g_rx.args = {Value((t_atom_long)(intptr_t)a), Value((t_atom_long)(intptr_t)b)};
    ++g_rx.calls;
    return (void *)(intptr_t)42;
}

void *anything_method(Rec *x, t_symbol *s, long argc, t_atom *argv) {
    g_rx.sel = s;
    return any_long(x, s, argc, argv);
}

double direct_scale(Rec *x, double f) { return f * (double)x->gain; }

t_class *dispatch_class() {
    static t_class *c = [] {
        t_class *k = class_new("dispatchtest", nullptr, nullptr, sizeof(Rec), 0, 0);
        add_three_kinds<0>(k);
        add_three_kinds<1>(k);
        add_three_kinds<2>(k);
        add_three_kinds<3>(k);
        add_three_kinds<4>(k);
        add_two_kinds<5>(k);
        add_two_kinds<6>(k);
        class_addmethod(k, M(defaults_method), "defaults", A_DEFLONG, A_DEFFLOAT, A_DEFSYM, 0);
        class_addmethod(k, M(any_long), "anylong", A_ANY, 0);
        class_addmethod(k, M(any_short), "anyshort", A_ANY, 0);
        class_addmethod(k, M(private_method), "secret", A_PRIVATE, 0);
        class_addmethod(k, M(direct_scale), "scale", A_PRIVATE, 0);
        class_addattr(k, attr_offset_new("gain", gensym("long"), 0, nullptr, nullptr, offsetof(Rec, gain)));
        return k;
    }();
    return c;
}

// A second class that takes any message through "anything".
t_class *catchall_class() {
    static t_class *c = [] {
        t_class *k = class_new("catchalltest", nullptr, nullptr, sizeof(Rec), 0, 0);
        class_addmethod(k, M(recv<t_atom_long>), "int", A_LONG, 0);
        class_addmethod(k, M(anything_method), "anything", A_ANY, 0);
        return k;
    }();
    return c;
}

class DispatchTest : public ObjTest {
  protected:
    void SetUp() override {
        ObjTest::SetUp();
        x_ = (Rec *)object_alloc(dispatch_class());
        g_rx = Received{};
    }
    void TearDown() override {
        object_free(x_);
        ObjTest::TearDown();
    }
    Rec *x_ = nullptr;
};

// The atom sent for argument i of declared kind k, and the value the method must see.
void make_arg(char k, size_t i, t_atom &a, Value &expect) {
    if (k == 'l') {
        if (i % 2 == 0) {  // a float where an integer is declared: truncated toward zero
            atom_setfloat(&a, -(double)i - 7.75);
            expect = Value((t_atom_long)(-(long)i - 7));
        } else {
            atom_setlong(&a, 1000 + (t_atom_long)i);
            expect = Value((t_atom_long)(1000 + i));
        }
    } else if (k == 'f') {
        if (i % 2 == 0) {  // an integer where a float is declared: widened
            atom_setlong(&a, 3 + (t_atom_long)i);
            expect = Value(3.0 + (double)i);
        } else {
            atom_setfloat(&a, 0.5 + (double)i);
            expect = Value(0.5 + (double)i);
        }
    } else {
        t_symbol *s = gensym(("sym" + std::to_string(i)).c_str());
        atom_setsym(&a, s);
        expect = Value(s);
    }
}

void all_names(std::vector<std::string> &out, const std::string &prefix, size_t len, const std::string &kinds) {
    if (prefix.size() == len) {
        out.push_back(prefix);
        return;
    }
    for (char k : kinds) all_names(out, prefix + k, len, kinds);
}

std::string show(const Value &v) {
    if (auto *l = std::get_if<t_atom_long>(&v)) return "long " + std::to_string(*l);
    if (auto *d = std::get_if<double>(&v)) return "float " + std::to_string(*d);
    return std::string("sym ") + std::get<t_symbol *>(v)->s_name;
}

}  // namespace

TEST_F(DispatchTest, EverySignatureReceivesItsConvertedArguments) {
    std::vector<std::string> sigs;
    for (size_t n = 0; n <= 4; ++n) all_names(sigs, "", n, "lfs");
    for (size_t n = 5; n <= 6; ++n) all_names(sigs, "", n, "lf");
    ASSERT_EQ(sigs.size(), 1u + 3 + 9 + 27 + 81 + 32 + 64);
    for (const std::string &sig : sigs) {
        std::vector<t_atom> argv(sig.size());
        std::vector<Value> expect(sig.size());
        for (size_t i = 0; i < sig.size(); ++i) make_arg(sig[i], i, argv[i], expect[i]);
        g_rx = Received{};
        t_atom rv{};
        ASSERT_EQ(object_method_typed(x_, gensym(("m" + sig).c_str()), (long)argv.size(), argv.data(), &rv), 0) << sig;
        ASSERT_EQ(g_rx.calls, 1) << sig;
        EXPECT_EQ(g_rx.x, x_) << sig;
        ASSERT_EQ(g_rx.args.size(), expect.size()) << sig;
        for (size_t i = 0; i < expect.size(); ++i)
            EXPECT_EQ(show(g_rx.args[i]), show(expect[i])) << "signature " << sig << ", argument " << i;
        EXPECT_EQ(rv.a_type, A_OBJ);
        EXPECT_EQ((intptr_t)rv.a_w.w_obj, 100 + (intptr_t)sig.size()) << sig;
    }
    EXPECT_TRUE(console().empty());
}

TEST_F(DispatchTest, OptionalArgumentsDefaultAndExtraAtomsAreIgnored) {
    ASSERT_EQ(object_method_typed(x_, gensym("defaults"), 0, nullptr, nullptr), 0);
    ASSERT_EQ(g_rx.args.size(), 3u);
    EXPECT_EQ(std::get<t_atom_long>(g_rx.args[0]), 0);
    EXPECT_EQ(std::get<double>(g_rx.args[1]), 0.0);
    EXPECT_EQ(std::get<t_symbol *>(g_rx.args[2]), gensym(""));

    auto a = atoms("9 2");
    ASSERT_EQ(object_method_typed(x_, gensym("defaults"), (long)a.size(), a.data(), nullptr), 0);
    EXPECT_EQ(std::get<t_atom_long>(g_rx.args[0]), 9);
    EXPECT_EQ(std::get<double>(g_rx.args[1]), 2.0);
    EXPECT_EQ(std::get<t_symbol *>(g_rx.args[2]), gensym(""));

    a = atoms("1 2 3 4 5");
    ASSERT_EQ(object_method_typed(x_, gensym("mlf"), (long)a.size(), a.data(), nullptr), 0);
    EXPECT_EQ(show(g_rx.args[0]), show(Value((t_atom_long)1)));
    EXPECT_EQ(show(g_rx.args[1]), show(Value(2.0)));
    EXPECT_EQ(g_rx.calls, 3);
    EXPECT_TRUE(console().empty());
}

TEST_F(DispatchTest, BadArgumentsAreRefusedWithOneLineAndNoCall) {
    struct Case {
        const char *sel;
        const char *args;
    } cases[] = {
        {"mlf", "1"},           // a required argument missing
        {"ml", ""},             // the only one missing
        {"mf", "foo"},          // a symbol where a number is required
        {"ml", "bar"},          // likewise for an integer
        {"ms", "3"},            // a number where a symbol is required
        {"defaults", "x"},      // an optional integer given a symbol
        {"defaults", "1 2 3"},  // an optional symbol given a number
    };
    for (const Case &c : cases) {
        auto a = atoms(c.args);
        EXPECT_NE(object_method_typed(x_, gensym(c.sel), (long)a.size(), a.data(), nullptr), 0) << c.sel;
        EXPECT_EQ(console(), std::vector<std::string>{std::string("dispatchtest: error: bad arguments for message \"") +
                                                      c.sel + "\""})
            << c.sel << " " << c.args;
    }
    EXPECT_EQ(g_rx.calls, 0);
}

TEST_F(DispatchTest, UnknownAndPrivateSelectorsAreNotUnderstood) {
    EXPECT_NE(object_method_typed(x_, gensym("nosuch"), 0, nullptr, nullptr), 0);
    EXPECT_EQ(console(), std::vector<std::string>{"dispatchtest: error: doesn't understand \"nosuch\""});
    EXPECT_NE(object_method_typed(x_, gensym("secret"), 0, nullptr, nullptr), 0);
    EXPECT_EQ(console(), std::vector<std::string>{"dispatchtest: error: doesn't understand \"secret\""});
    EXPECT_EQ(g_rx.calls, 0);

    // "int", "float", "bang" are ordinary names: a class without them does not understand them.
    t_atom one;
    atom_setlong(&one, 1);
    EXPECT_NE(object_method_typed(x_, gensym("int"), 1, &one, nullptr), 0);
    EXPECT_EQ(console(), std::vector<std::string>{"dispatchtest: error: doesn't understand \"int\""});
}

TEST_F(DispatchTest, PlainPointerCallsReachAnyMethodSilently) {
    void *r = object_method(x_, gensym("secret"), (void *)(intptr_t)5, (void *)(intptr_t)-6);
    EXPECT_EQ((intptr_t)r, 42);
    ASSERT_EQ(g_rx.args.size(), 2u);
    EXPECT_EQ(std::get<t_atom_long>(g_rx.args[0]), 5);
    EXPECT_EQ(std::get<t_atom_long>(g_rx.args[1]), -6);

    // Not understood: null, and nothing in the console.
    EXPECT_EQ(object_method(x_, gensym("nosuch")), nullptr);
    EXPECT_EQ(object_method(nullptr, gensym("secret")), nullptr);
    EXPECT_TRUE(console().empty());
}

TEST_F(DispatchTest, AnyListMethodsGetSelectorCountAndAtomsWhateverTheCountType) {
    auto a = atoms("4 5 6");
    for (const char *sel : {"anylong", "anyshort"}) {
        g_rx = Received{};
        ASSERT_EQ(object_method_typed(x_, gensym(sel), (long)a.size(), a.data(), nullptr), 0);
        EXPECT_EQ(g_rx.sel, gensym(sel));
        ASSERT_EQ(g_rx.args.size(), 3u) << sel;
        EXPECT_EQ(std::get<t_atom_long>(g_rx.args[2]), 6);
    }
    g_rx = Received{};
    ASSERT_EQ(object_method_typed(x_, gensym("anylong"), 0, nullptr, nullptr), 0);
    EXPECT_EQ(g_rx.calls, 1);
    EXPECT_TRUE(g_rx.args.empty());
}

TEST_F(DispatchTest, ParsedMessagesAreTypedMessages) {
    ASSERT_EQ(object_method_parse(x_, gensym("mlfs"), "3 2.5 foo", nullptr), 0);
    EXPECT_EQ(show(g_rx.args[0]), show(Value((t_atom_long)3)));
    EXPECT_EQ(show(g_rx.args[1]), show(Value(2.5)));
    EXPECT_EQ(show(g_rx.args[2]), show(Value(gensym("foo"))));
    EXPECT_NE(object_method_parse(x_, gensym("mlfs"), "3 2.5", nullptr), 0);
    EXPECT_EQ(console().size(), 1u);
}

TEST_F(DispatchTest, MessageBearingAnAttributeNameSetsIt) {
    auto a = atoms("12");
    ASSERT_EQ(object_method_typed(x_, gensym("gain"), 1, a.data(), nullptr), 0);
    EXPECT_EQ(x_->gain, 12);
    EXPECT_TRUE(console().empty());
}

TEST_F(DispatchTest, DirectLookupGivesTheRealSignature) {
    x_->gain = 3;
    method m = object_method_direct_getmethod(&x_->ob, gensym("scale"));
    void *obj = object_method_direct_getobject(&x_->ob, gensym("scale"));
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(obj, x_);
    auto scale = reinterpret_cast<double (*)(void *, double)>(reinterpret_cast<void (*)()>(m));
    EXPECT_EQ(scale(obj, 1.5), 4.5);
    EXPECT_EQ(object_method_direct_getmethod(&x_->ob, gensym("nosuch")), nullptr);
    EXPECT_EQ(object_method_direct_getobject(&x_->ob, gensym("nosuch")), nullptr);
    EXPECT_TRUE(object_hasmethod(x_, gensym("secret")));
    EXPECT_FALSE(object_hasmethod(x_, gensym("nosuch")));
}

TEST_F(DispatchTest, AnythingCatchesOnlySelectorsWithoutAMethod) {
    auto *y = (Rec *)object_alloc(catchall_class());
    auto a = atoms("7 8");
    ASSERT_EQ(object_method_typed(y, gensym("whatever"), (long)a.size(), a.data(), nullptr), 0);
    EXPECT_EQ(g_rx.sel, gensym("whatever"));
    EXPECT_EQ(g_rx.args.size(), 2u);
    g_rx = Received{};
    ASSERT_EQ(object_method_typed(y, gensym("int"), 1, a.data(), nullptr), 0);
    EXPECT_EQ(g_rx.sel, nullptr);  // went to "int", not "anything"
    EXPECT_EQ(std::get<t_atom_long>(g_rx.args[0]), 7);
    object_free(y);
    EXPECT_TRUE(console().empty());
}

TEST_F(DispatchTest, MessagesToSomethingNotAnObjectAreRefused) {
    Rec fake{};
    EXPECT_NE(object_method_typed(&fake, gensym("ml"), 0, nullptr, nullptr), 0);
    EXPECT_EQ(console().size(), 1u);
    EXPECT_EQ(object_method_imp(&fake, gensym("ml"), 0, 0, 0, 0, 0, 0, 0, 0), nullptr);
    EXPECT_EQ(g_rx.calls, 0);
}

TEST_F(DispatchTest, MalformedTypeListsAreRejected) {
    t_class *c = class_new("malformedtest", nullptr, nullptr, sizeof(Rec), 0, 0);
    EXPECT_NE(class_addmethod(c, M(any_long), "a", A_LONG, A_ANY, 0), 0);
    EXPECT_NE(class_addmethod(c, M(any_long), "b", A_ANY, A_LONG, 0), 0);
    EXPECT_NE(class_addmethod(c, M(any_long), "c", A_LONG, A_PRIVATE, 0), 0);
    EXPECT_NE(class_addmethod(c, M(any_long), "d", 99, 0), 0);
    EXPECT_NE(class_addmethod(c, M(any_long), "e", A_LONG, A_LONG, A_LONG, A_LONG, A_LONG, A_LONG, A_LONG, 0), 0);
    EXPECT_EQ(class_addmethod(c, M(any_long), "f", A_LONG, A_LONG, A_LONG, A_LONG, A_LONG, A_LONG, 0), 0);
    auto *y = object_alloc(c);
    for (const char *sel : {"a", "b", "c", "d", "e"}) EXPECT_FALSE(object_hasmethod(y, gensym(sel))) << sel;
    EXPECT_TRUE(object_hasmethod(y, gensym("f")));
    object_free(y);
}
