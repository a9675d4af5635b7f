// Outlets and connections into print boxes.
#include <string>
#include <vector>

#include "host_test.h"

using namespace host_test;

namespace {

struct Src {
    t_object ob;
    void *right;
    void *left;  // the later outlet stands to the left: outlet 0
};

// "bang" goes straight back out of the left outlet.
void *src_bang(Src *x) { return outlet_bang(x->left); }

class OutletTest : public ObjTest {
  protected:
    t_object *print(const std::string &args = "") { return make<t_object>("print", args); }
    Src *src() {
        static t_class *c = class_new("outlettest", nullptr, nullptr, sizeof(Src), 0, 0);
        class_addmethod(c, M(src_bang), "bang", 0);
        auto *s = (Src *)object_alloc(c);
        s->right = bangout(s);
        s->left = floatout(s);
        return s;
    }
};

}  // namespace

// Also shows that "anything" takes only selectors without a method of their own.
TEST_F(OutletTest, PrintShowsEachKindOfMessage) {
    t_object *p = print("p"), *q = print();
    const char *msgs[][2] = {{"bang", ""},   {"float", "12.5"},  {"float", "1e-7"},
                             {"int", "3.7"}, {"foo", "a 1 2.5"}, {"list", "1 2"}};
    for (auto [sel, args] : msgs) object_method_parse(p, gensym(sel), args, nullptr);
    object_method_parse(q, gensym("bang"), "", nullptr);
    EXPECT_EQ(console(), (std::vector<std::string>{"p: bang", "p: 12.5", "p: 1e-07", "p: 3", "p: foo a 1 2.5",
                                                   "p: list 1 2", "print: bang"}));
    object_free(p);
    object_free(q);
}

TEST_F(OutletTest, OutletsSendToEachConnectionInOrder) {
    Src *s = src(), fake{};
    t_object *a = print("a"), *b = print("b"), *c = print("c"), *gone = print("gone");
    EXPECT_EQ(orvo::outlet_count(&s->ob), 2);
    ASSERT_TRUE(orvo::connect(&s->ob, 0, c));
    ASSERT_TRUE(orvo::connect(&s->ob, 1, b));
    ASSERT_TRUE(orvo::connect(&s->ob, 1, gone));
    ASSERT_TRUE(orvo::connect(&s->ob, 1, a));
    EXPECT_FALSE(orvo::connect(&s->ob, 2, a));
    EXPECT_FALSE(orvo::connect(&s->ob, -1, a));
    EXPECT_FALSE(orvo::connect(&s->ob, 0, a, 1));
    EXPECT_FALSE(orvo::connect(a, 0, &s->ob));  // print has no outlets
    EXPECT_FALSE(orvo::connect(&s->ob, 0, &fake.ob));
    object_free(gone);  // its connection goes with it
    outlet_float(s->left, 2.25);
    outlet_int(s->right, 5);
    t_atom args[2] = {as_atom(gensym("x")), as_atom(0.5)};
    outlet_anything(s->right, gensym("sel"), 2, args);
    EXPECT_EQ(outlet_bang(&fake), nullptr);
    void *left = s->left;
    object_free(s);
    EXPECT_EQ(outlet_float(left, 1), nullptr);  // the outlets of a freed box are gone too
    EXPECT_EQ(console(), (std::vector<std::string>{"c: 2.25", "b: 5", "a: 5", "b: sel x 0.5", "a: sel x 0.5"}));
    for (t_object *p : {a, b, c}) object_free(p);
}

TEST_F(OutletTest, AFeedbackLoopIsStoppedWithOneError) {
    Src *s = src();
    orvo::connect(&s->ob, 0, &s->ob);
    outlet_bang(s->left);
    auto lines = console();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("outlettest: error: ", 0), 0u) << lines[0];
    object_free(s);
}
