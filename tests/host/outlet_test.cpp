// Outlets and connections into print boxes, the console, and the small host
// objects (drag, dictionary).
#include <algorithm>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "../../orvo/src/objects_internal.h"
#include "host_test.h"

using namespace host_test;

namespace {

struct Src {
    t_object ob;
    void *bang;
    void *flt;
    void *loop;
};

t_class *src_class() {
    static t_class *c = class_new("outlettest", nullptr, nullptr, sizeof(Src), 0, 0);
    return c;
}

// A box whose "bang" goes straight back out into itself.
void *looper_bang(Src *x) {
    outlet_bang(x->loop);
    return nullptr;
}

t_class *looper_class() {
    static t_class *c = [] {
        t_class *k = class_new("looptest", nullptr, nullptr, sizeof(Src), 0, 0);
        class_addmethod(k, M(looper_bang), "bang", 0);
        return k;
    }();
    return c;
}

class OutletTest : public ObjTest {
  protected:
    void TearDown() override {
        for (t_object *o : made_) object_free(o);
        ObjTest::TearDown();
    }
    t_object *print(const std::string &args = "") {
        auto a = atoms(args);
        auto *p = (t_object *)object_new_typed(gensym("box"), gensym("print"), (long)a.size(), a.data());
        if (p) made_.push_back(p);
        return p;
    }
    Src *src() {
        auto *s = (Src *)object_alloc(src_class());
        s->bang = bangout(s);
        s->flt = floatout(s);
        made_.push_back(&s->ob);
        return s;
    }
    std::vector<t_object *> made_;
};

}  // namespace

TEST_F(OutletTest, PrintShowsEachKindOfMessage) {
    t_object *p = print("p");
    ASSERT_NE(p, nullptr);
    object_method_typed(p, gensym("bang"), 0, nullptr, nullptr);
    object_method_parse(p, gensym("float"), "12.5", nullptr);
    object_method_parse(p, gensym("int"), "3", nullptr);
    object_method_parse(p, gensym("int"), "3.7", nullptr);
    object_method_parse(p, gensym("foo"), "a 1 2.5", nullptr);
    object_method_parse(p, gensym("list"), "1 2", nullptr);
    object_method_parse(p, gensym("float"), "1e-7", nullptr);
    EXPECT_EQ(console(), (std::vector<std::string>{"p: bang", "p: 12.5", "p: 3", "p: 3", "p: foo a 1 2.5",
                                                   "p: list 1 2", "p: 1e-07"}));
    t_object *q = print();
    object_method_typed(q, gensym("bang"), 0, nullptr, nullptr);
    EXPECT_EQ(console(), std::vector<std::string>{"print: bang"});
}

TEST_F(OutletTest, TheLaterOutletStandsToTheLeft) {
    Src *s = src();
    EXPECT_EQ(orvo::outlet_count(&s->ob), 2);
    t_object *left = print("left"), *right = print("right");
    ASSERT_TRUE(orvo::connect(&s->ob, 0, left));
    ASSERT_TRUE(orvo::connect(&s->ob, 1, right));
    outlet_float(s->flt, 2.25);
    outlet_bang(s->bang);
    EXPECT_EQ(console(), (std::vector<std::string>{"left: 2.25", "right: bang"}));
}

TEST_F(OutletTest, EachConnectionReceivesInConnectionOrder) {
    Src *s = src();
    t_object *a = print("a"), *b = print("b"), *c = print("c");
    orvo::connect(&s->ob, 1, b);
    orvo::connect(&s->ob, 1, a);
    orvo::connect(&s->ob, 1, c);
    outlet_int(s->bang, 5);
    t_atom args[2];
    atom_setsym(args, gensym("x"));
    atom_setfloat(args + 1, 0.5);
    outlet_anything(s->bang, gensym("sel"), 2, args);
    EXPECT_EQ(console(),
              (std::vector<std::string>{"b: 5", "a: 5", "c: 5", "b: sel x 0.5", "a: sel x 0.5", "c: sel x 0.5"}));
}

TEST_F(OutletTest, ConnectRefusesMissingOutletsAndNonObjects) {
    Src *s = src();
    t_object *p = print();
    EXPECT_FALSE(orvo::connect(&s->ob, 2, p));
    EXPECT_FALSE(orvo::connect(&s->ob, -1, p));
    EXPECT_FALSE(orvo::connect(&s->ob, 0, p, 1));
    EXPECT_FALSE(orvo::connect(p, 0, &s->ob));  // print has no outlets
    Src fake{};
    EXPECT_FALSE(orvo::connect(&s->ob, 0, &fake.ob));
    EXPECT_EQ(orvo::outlet_count(&fake.ob), 0);
    // Sending through something that is not an outlet does nothing.
    EXPECT_EQ(outlet_bang(&fake), nullptr);
    EXPECT_EQ(outlet_bang(nullptr), nullptr);
    EXPECT_TRUE(console().empty());
}

TEST_F(OutletTest, FreeingABoxRemovesItsConnections) {
    Src *s = src();
    auto a = atoms("gone");
    auto *p = (t_object *)object_new_typed(gensym("box"), gensym("print"), 1, a.data());
    t_object *q = print("kept");
    orvo::connect(&s->ob, 0, p);
    orvo::connect(&s->ob, 0, q);
    object_free(p);
    outlet_float(s->flt, 1);
    EXPECT_EQ(console(), std::vector<std::string>{"kept: 1"});

    // And the outlets of a freed box are no longer outlets.
    void *flt = s->flt;
    made_.erase(std::find(made_.begin(), made_.end(), &s->ob));
    object_free(s);
    EXPECT_EQ(outlet_float(flt, 1), nullptr);
    EXPECT_TRUE(console().empty());
}

TEST_F(OutletTest, AFeedbackLoopIsStoppedWithOneError) {
    auto *x = (Src *)object_alloc(looper_class());
    x->loop = bangout(x);
    made_.push_back(&x->ob);
    orvo::connect(&x->ob, 0, &x->ob);
    outlet_bang(x->loop);
    auto lines = console();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("looptest: error: ", 0), 0u) << lines[0];
}

TEST_F(OutletTest, MessagesSentOnTheSchedulerThreadArriveWhole) {
    Src *s = src();
    t_object *p = print("sched");
    orvo::connect(&s->ob, 0, p);
    orvo::run_on_scheduler([s] {
        for (int i = 0; i < 3; ++i) outlet_float(s->flt, i + 0.5);
    });
    EXPECT_EQ(console(), (std::vector<std::string>{"sched: 0.5", "sched: 1.5", "sched: 2.5"}));
}

TEST_F(OutletTest, ConsoleLinesAreTaggedWholeAndInOrderFromAnyThread) {
    Src *s = src();
    object_post(&s->ob, "hello %d", 5);
    object_error(&s->ob, "bad %s", "thing");
    object_post(nullptr, "plain");
    object_error(nullptr, "%s", "");
    EXPECT_EQ(console(), (std::vector<std::string>{"outlettest: hello 5", "outlettest: error: bad thing", "orvo: plain",
                                                   "orvo: error: "}));
    std::string longtext(2000, 'z');
    object_post(nullptr, "%s", longtext.c_str());
    EXPECT_EQ(console(), std::vector<std::string>{"orvo: " + longtext});

    constexpr int kThreads = 4, kLines = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) object_post(nullptr, "t%d line %d", t, i);
        });
    for (auto &th : threads) th.join();
    auto lines = console();
    ASSERT_EQ(lines.size(), (size_t)kThreads * kLines);
    std::vector<int> next(kThreads, 0);
    for (const std::string &l : lines) {
        int t = -1, i = -1;
        ASSERT_EQ(std::sscanf(l.c_str(), "orvo: t%d line %d", &t, &i), 2) << l;
        ASSERT_TRUE(t >= 0 && t < kThreads);
        EXPECT_EQ(i, next[t]++) << "lines of one thread out of order";
    }
}

TEST_F(OutletTest, ADragOffersItsRoleAndRecordsWhatWasOffered) {
    t_object *d = orvo::drag_new("audiofile");
    Src *s = src();
    EXPECT_TRUE(jdrag_matchdragrole(d, gensym("audiofile"), 0));
    EXPECT_FALSE(jdrag_matchdragrole(d, gensym("moviefile"), 0));
    EXPECT_FALSE(jdrag_matchdragrole(&s->ob, gensym("audiofile"), 0));  // not a drag
    EXPECT_TRUE(orvo::drag_offers(d).empty());
    jdrag_object_add(d, &s->ob, gensym("replace"));
    auto offers = orvo::drag_offers(d);
    ASSERT_EQ(offers.size(), 1u);
    EXPECT_EQ(offers[0].first, &s->ob);
    EXPECT_EQ(offers[0].second, gensym("replace"));
    object_free(d);
}

TEST_F(OutletTest, ADictionaryKeepsEachKeysAtoms) {
    t_object *d = dictionary_new();
    ASSERT_NE(d, nullptr);
    auto a = atoms("@defrect 50 50 350 100 @title buffer @toolbarid \"\" @empty @title again");
    ASSERT_EQ(attr_args_dictionary(d, (short)a.size(), a.data()), 0);
    using orvo::detail::dictionary_keys;
    using orvo::detail::dictionary_lookup;
    EXPECT_EQ(dictionary_keys(d),
              (std::vector<t_symbol *>{gensym("defrect"), gensym("title"), gensym("toolbarid"), gensym("empty")}));
    const auto *rect = dictionary_lookup(d, gensym("defrect"));
    ASSERT_NE(rect, nullptr);
    ASSERT_EQ(rect->size(), 4u);
    EXPECT_EQ(atom_getfloat(&(*rect)[2]), 350.0);
    ASSERT_EQ(dictionary_lookup(d, gensym("title"))->size(), 1u);
    EXPECT_EQ(atom_getsym(dictionary_lookup(d, gensym("title"))->data()), gensym("again"));
    EXPECT_EQ(atom_getsym(dictionary_lookup(d, gensym("toolbarid"))->data()), gensym(""));
    EXPECT_TRUE(dictionary_lookup(d, gensym("empty"))->empty());
    EXPECT_EQ(dictionary_lookup(d, gensym("nosuch")), nullptr);
    EXPECT_NE(attr_args_dictionary(nullptr, 0, nullptr), 0);
    // Also made by name, as host objects are.
    t_object *e = (t_object *)object_new(gensym("nobox"), gensym("dictionary"));
    EXPECT_TRUE(orvo::detail::dictionary_is(e));
    EXPECT_FALSE(orvo::detail::dictionary_is(nullptr));
    object_free(e);
    object_free(d);
}
