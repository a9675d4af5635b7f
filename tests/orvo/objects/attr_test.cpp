// Attributes: default accessors by declared type, the getter contract, custom
// accessors installed through "setmethod", "@" arguments, messages bearing an
// attribute's name with their notification, and markings.
#include <string>
#include <tuple>
#include <vector>

#include "host_test.h"

using namespace host_test;

namespace {

struct Rec {
    t_object ob;
    t_atom_long l;
    double f64, ms;  // ms: behind custom accessors
    float f32;
    char c;
    t_symbol *sym;
    t_object *obj;
    t_rect rect;
};

long g_get_argc_in;
t_atom *g_get_argv_in;
char g_alloc;
std::vector<std::string> g_sets;  // the atoms of each setter call

t_orvo_err ms_get(Rec *x, t_object *, long *argc, t_atom **argv) {
    std::tie(g_get_argc_in, g_get_argv_in) = std::tie(*argc, *argv);
    if (atom_alloc(argc, argv, &g_alloc)) return ORVO_ERR_OUT_OF_MEM;
    **argv = as_atom(x->ms);
    return 0;
}
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
                                          {"f32", "float32", offsetof(Rec, f32)},
                                          {"c", "char", offsetof(Rec, c)},
                                          {"sym", "symbol", offsetof(Rec, sym)},
                                          {"obj", "object", offsetof(Rec, obj)},
                                          {"rect", "rect", offsetof(Rec, rect)}})
            class_addattr(k, attr_offset_new(name, gensym(type), 0, nullptr, nullptr, (long)offset));
        // As a plug-in does it: made without accessors, given them through "setmethod".
        t_object *ms = attr_offset_new("ms", gensym("float64"), 0, nullptr, nullptr, 0);
        object_method(ms, gensym("setmethod"), gensym("get"), M(ms_get));
        object_method(ms, gensym("setmethod"), gensym("set"), M(ms_set));
        class_addattr(k, ms);
        return k;
    }();
    return c;
}

using AttrTest = InstanceTest<Rec, rec_class>;

}  // namespace

TEST_F(AttrTest, DefaultAccessorsReadAndWriteTheFieldOfTheDeclaredType) {
    const char *cases[][3] = {
        {"l", "-1234567890123", "L-1234567890123"},
        {"l", "-2.9", "L-2"},                    // truncated
        {"f64", "3", "F3"},                      // widened
        {"f32", "0.1", "F0.10000000149011612"},  // kept as a 32-bit float
        {"c", "1", "L1"},
        {"sym", "hello", "S[hello]"},
        {"rect", "50 60.5 350 200", "F50 F60.5 F350 F200"},
    };
    for (auto [attr, set, get] : cases) {
        Atoms a(set);
        EXPECT_EQ(object_attr_setvalueof(x_, gensym(attr), a.argc, a.argv), 0) << attr;
        Atoms back("");
        ASSERT_EQ(object_attr_getvalueof(x_, gensym(attr), &back.argc, &back.argv), 0) << attr;
        EXPECT_EQ(describe(back), get) << attr << " set to " << set;
    }
    // Each wrote its own field at its own width.
    EXPECT_EQ(object_attr_setobj(x_, gensym("obj"), x_), 0);
    EXPECT_TRUE(x_->l == -2 && x_->f64 == 3.0 && x_->f32 == 0.1f && x_->c == 1 && x_->sym == gensym("hello") &&
                x_->rect.y == 60.5 && x_->obj == &x_->ob);
    t_rect r{};
    EXPECT_EQ(object_attr_get_rect(&x_->ob, gensym("rect"), &r), 0);
    EXPECT_EQ(r.height, 200);
    EXPECT_NE(object_attr_get_rect(&x_->ob, gensym("l"), &r), 0);  // one value is no rectangle
    EXPECT_NE(object_attr_setlong(x_, gensym("nosuch"), 1), 0);
    EXPECT_EQ(object_attr_getsym(x_, gensym("nosuch")), gensym(""));
}

TEST_F(AttrTest, GetterIsGivenNoRoomOrTheCallersAndTheHostFreesWhatItAllocated) {
    x_->ms = 250.0;
    EXPECT_EQ(object_attr_getfloat(x_, gensym("ms")), 250.0);
    EXPECT_TRUE(g_get_argc_in == 0 && g_get_argv_in == nullptr);
    EXPECT_EQ(g_alloc, 1);  // TearDown's block count shows the host freed it
    t_atom room[2], *argv = room;
    long argc = 2;
    ASSERT_EQ(object_attr_getvalueof(x_, gensym("ms"), &argc, &argv), 0);
    EXPECT_TRUE(g_get_argv_in == room && g_alloc == 0);
    EXPECT_EQ(describe(room, 1), "F250");
}

TEST_F(AttrTest, AtArgumentsAndMessagesSetThroughTheSetterAndAttachedObjectsHear) {
    Client *cl = client('c');
    boxes_.push_back(&cl->ob);
    ASSERT_EQ(object_attach_byptr(cl, x_), 0);
    g_sets.clear();
    Atoms a("foo 3 @l 7 @ms 2 10 @nosuch 1 2 @sym bar @ms @f64 1.5");
    EXPECT_EQ(attr_args_offset((short)a.argc, a.argv), 2);
    EXPECT_EQ(attr_args_offset(2, a.argv), 2);  // none: all are plain arguments
    attr_args_process(x_, (short)a.argc, a.argv);
    EXPECT_EQ(console(), std::vector<std::string>{"attrtest: error: unknown attribute \"nosuch\""});
    EXPECT_TRUE(x_->l == 7 && x_->ms == 20.0 && x_->sym == gensym("bar") && x_->f64 == 1.5);
    EXPECT_EQ(object_method_parse(x_, gensym("ms"), "4 0.5", nullptr), 0);
    EXPECT_EQ(x_->ms, 2.0);
    // The setter's refusal comes back, without a console line or a notification.
    EXPECT_NE(object_method_typed(x_, gensym("ms"), 0, nullptr, nullptr), 0);
    EXPECT_TRUE(console().empty());
    // Every value reaches the setter; the bare "@ms" is skipped, not passed on empty.
    EXPECT_EQ(g_sets, (std::vector<std::string>{"L2 L10", "L4 F0.5", ""}));
    std::string n = "c: attrtest attr_modified attrtest ";
    EXPECT_EQ(g_heard, (std::vector<std::string>{n + "l", n + "ms", n + "sym", n + "f64", n + "ms"}));
}

TEST_F(AttrTest, MethodEntriesAndAttributesCarryMarkings) {
    t_class *c = rec_class();
    class_addmethod(c, M(method_true), "setsize", A_FLOAT, A_DEFLONG, 0);
    t_object *tab = class_extra_lookup(c, gensym("methods")), *setsize = nullptr, *found = nullptr;
    ASSERT_EQ(hashtab_lookup(tab, gensym("setsize"), &setsize), 0);
    EXPECT_EQ(object_addattr_parse(setsize, "documentable", gensym("long"), 0, "1"), 0);
    EXPECT_NE(object_addattr_parse(setsize, "bad", gensym("long"), 0, "abc"), 0);  // not a number: not kept
    EXPECT_EQ(object_addattr_parse(setsize, "introduced", gensym("symbol"), 0, str_tr("7.0.0")), 0);
    EXPECT_EQ(class_attr_addattr_parse(c, "l", "invisible", gensym("long"), 0, "1"), 0);
    // Re-adding a method replaces its function and keeps its entry with the markings.
    class_addmethod(c, M(ms_set), "setsize", A_FLOAT, 0);
    EXPECT_EQ(object_method_direct_getmethod(&x_->ob, gensym("setsize")), M(ms_set));
    hashtab_lookup(tab, gensym("setsize"), &found);
    EXPECT_EQ(found, setsize);
    t_object *l = class_attr_get(c, gensym("l")), *f64 = class_attr_get(c, gensym("f64"));
    for (auto [ob, mark, want] : {std::tuple{setsize, "documentable", "1"}, {setsize, "introduced", "7.0.0"},
                                  {setsize, "bad", ""}, {l, "invisible", "1"}, {f64, "invisible", ""}})
        EXPECT_STREQ(object_marking_get(ob, mark), want) << mark;
}
