// Attributes: a setter installed through "setmethod", "@" arguments, and
// messages bearing an attribute's name.
#include <string>
#include <tuple>
#include <vector>

#include "host_test.h"

using namespace host_test;

namespace {

struct Rec {
    t_object ob;
    t_atom_long l;
    double f64, ms;  // ms: behind a custom setter
    t_symbol *sym;
};

std::vector<std::string> g_sets;  // the atoms of each setter call

t_orvo_err ms_set(Rec *x, t_object *, long argc, t_atom *argv) {
    g_sets.push_back(describe(argv, argc));
    if (argc < 1) return -1;
    x->ms = atom_getfloat(argv) * (argc > 1 ? atom_getfloat(argv + 1) : 1.0);
    return 0;
}

t_class *rec_class() {
    static t_class *c = [] {
        t_class *k = class_new("attrtest", nullptr, nullptr, sizeof(Rec), 0, 0);
        for (auto [name, type, offset] : {std::tuple{"l", "long", offsetof(Rec, l)},
                                          {"f64", "float64", offsetof(Rec, f64)},
                                          {"sym", "symbol", offsetof(Rec, sym)}})
            class_addattr(k, attr_offset_new(name, gensym(type), 0, nullptr, nullptr, (long)offset));
        // As a plug-in does it: made without accessors, given them through "setmethod".
        t_object *ms = attr_offset_new("ms", gensym("float64"), 0, nullptr, nullptr, (long)offsetof(Rec, ms));
        object_method(ms, gensym("setmethod"), gensym("set"), M(ms_set));
        class_addattr(k, ms);
        return k;
    }();
    return c;
}

using AttrTest = InstanceTest<Rec, rec_class>;

}  // namespace

TEST_F(AttrTest, AtArgumentsAndMessagesSetThroughTheSetter) {
    g_sets.clear();
    Atoms a("foo 3 @l 7 @ms 2 10 @nosuch 1 2 @sym bar @ms @f64 1.5");
    EXPECT_EQ(attr_args_offset((short)a.argc, a.argv), 2);
    EXPECT_EQ(attr_args_offset(2, a.argv), 2);  // none: all are plain arguments
    attr_args_process(x_, (short)a.argc, a.argv);
    EXPECT_EQ(console(), std::vector<std::string>{"attrtest: error: unknown attribute \"nosuch\""});
    EXPECT_TRUE(x_->l == 7 && x_->ms == 20.0 && x_->sym == gensym("bar") && x_->f64 == 1.5);
    EXPECT_EQ(object_method_parse(x_, gensym("ms"), "4 0.5", nullptr), 0);
    EXPECT_EQ(x_->ms, 2.0);
    // The setter's refusal comes back, without a console line.
    EXPECT_NE(object_method_typed(x_, gensym("ms"), 0, nullptr, nullptr), 0);
    EXPECT_TRUE(console().empty());
    // Every value reaches the setter; the bare "@ms" is skipped, not passed on empty.
    EXPECT_EQ(g_sets, (std::vector<std::string>{"L2 L10", "L4 F0.5", ""}));
}
