// Attributes: default accessors by declared type, the getter contract, custom
// accessors installed through "setmethod", "@" creation arguments, messages
// bearing an attribute's name, markings, and the change notification.
#include <string>
#include <vector>

#include "host_test.h"

using namespace host_test;

namespace {

struct Rec {
    t_object ob;
    t_atom_long l;
    double f64;
    float f32;
    char c;
    t_symbol *sym;
    t_object *obj;
    t_rect rect;
    double ms;  // behind custom accessors
};

struct Seen {
    long get_argc_in = -1;
    bool get_argv_in_null = false;
    char alloc = -1;
    std::vector<std::string> sets;
};
Seen g_seen;

t_orvo_err ms_get(Rec *x, t_object *, long *argc, t_atom **argv) {
    g_seen.get_argc_in = *argc;
    g_seen.get_argv_in_null = *argv == nullptr;
    if (atom_alloc(argc, argv, &g_seen.alloc)) return ORVO_ERR_OUT_OF_MEM;
    atom_setfloat(*argv, x->ms);
    return 0;
}

t_orvo_err ms_set(Rec *x, t_object *, long argc, t_atom *argv) {
    g_seen.sets.push_back(std::to_string(argc) + ":" + (argc ? std::to_string(atom_getfloat(argv)) : ""));
    if (argc < 1) return -1;
    x->ms = atom_getfloat(argv) * (argc > 1 ? atom_getfloat(argv + 1) : 1.0);
    return 0;
}

struct Listener {
    t_object ob;
    std::vector<std::string> *heard;
};

void *listener_notify(Listener *x, t_symbol *, t_symbol *msg, void *, void *data) {
    std::string line = msg->s_name;
    if (msg == gensym("attr_modified")) {
        t_symbol *name = nullptr;
        object_method(data, gensym("getname"), &name);
        line += std::string(" ") + (name ? name->s_name : "?");
    }
    x->heard->push_back(line);
    return nullptr;
}

t_class *rec_class() {
    static t_class *c = [] {
        t_class *k = class_new("attrtest", nullptr, nullptr, sizeof(Rec), 0, 0);
        class_addattr(k, attr_offset_new("l", gensym("long"), 0, nullptr, nullptr, offsetof(Rec, l)));
        class_addattr(k, attr_offset_new("f64", gensym("float64"), 0, nullptr, nullptr, offsetof(Rec, f64)));
        class_addattr(k, attr_offset_new("f32", gensym("float32"), 0, nullptr, nullptr, offsetof(Rec, f32)));
        class_addattr(k, attr_offset_new("c", gensym("char"), 0, nullptr, nullptr, offsetof(Rec, c)));
        class_addattr(k, attr_offset_new("sym", gensym("symbol"), 0, nullptr, nullptr, offsetof(Rec, sym)));
        class_addattr(k, attr_offset_new("obj", gensym("object"), 0, nullptr, nullptr, offsetof(Rec, obj)));
        class_addattr(k, attr_offset_new("rect", gensym("rect"), 0, nullptr, nullptr, offsetof(Rec, rect)));
        // As a plug-in does it: made without accessors, given them through "setmethod".
        t_object *ms = attr_offset_new("ms", gensym("float64"), 0, nullptr, nullptr, 0);
        object_method(ms, gensym("setmethod"), gensym("get"), M(ms_get));
        object_method(ms, gensym("setmethod"), gensym("set"), M(ms_set));
        class_addattr(k, ms);
        class_attr_addattr_parse(k, "l", "invisible", gensym("long"), 0, "1");
        return k;
    }();
    return c;
}

t_class *listener_class() {
    static t_class *c = [] {
        t_class *k = class_new("attrlistenertest", nullptr, nullptr, sizeof(Listener), 0, 0);
        class_addmethod(k, M(listener_notify), "notify", A_PRIVATE, 0);
        return k;
    }();
    return c;
}

class AttrTest : public ObjTest {
  protected:
    void SetUp() override {
        ObjTest::SetUp();
        x_ = (Rec *)object_alloc(rec_class());
        g_seen = Seen{};
    }
    void TearDown() override {
        object_free(x_);
        ObjTest::TearDown();  // also checks that every atom array the getters made was freed
    }
    Rec *x_ = nullptr;
};

}  // namespace

TEST_F(AttrTest, DefaultAccessorsReadAndWriteTheFieldOfTheDeclaredType) {
    EXPECT_EQ(object_attr_setlong(x_, gensym("l"), -1234567890123LL), 0);
    EXPECT_EQ(x_->l, -1234567890123LL);
    EXPECT_EQ(object_attr_getlong(x_, gensym("l")), -1234567890123LL);

    EXPECT_EQ(object_attr_setfloat(x_, gensym("f64"), 0.1), 0);
    EXPECT_EQ(x_->f64, 0.1);
    EXPECT_EQ(object_attr_getfloat(x_, gensym("f64")), 0.1);

    EXPECT_EQ(object_attr_setfloat(x_, gensym("f32"), 0.1), 0);
    EXPECT_EQ(x_->f32, 0.1f);
    EXPECT_EQ(object_attr_getfloat(x_, gensym("f32")), (double)0.1f);

    EXPECT_EQ(object_attr_setchar(x_, gensym("c"), 1), 0);
    EXPECT_EQ(x_->c, 1);
    EXPECT_EQ(object_attr_getlong(x_, gensym("c")), 1);
    EXPECT_EQ(x_->l, -1234567890123LL);  // neighbours untouched

    EXPECT_EQ(object_attr_setsym(x_, gensym("sym"), gensym("hello")), 0);
    EXPECT_EQ(x_->sym, gensym("hello"));
    EXPECT_EQ(object_attr_getsym(x_, gensym("sym")), gensym("hello"));

    EXPECT_EQ(object_attr_setobj(x_, gensym("obj"), x_), 0);
    EXPECT_EQ(x_->obj, &x_->ob);

    // A long attribute set from a float truncates; a float one set from an integer widens.
    object_attr_setfloat(x_, gensym("l"), -2.9);
    EXPECT_EQ(x_->l, -2);
    object_attr_setlong(x_, gensym("f64"), 3);
    EXPECT_EQ(x_->f64, 3.0);
}

TEST_F(AttrTest, RectanglesTravelAsFourFloats) {
    t_atom four[4];
    atom_setlong(four, 50);
    atom_setfloat(four + 1, 60.5);
    atom_setfloat(four + 2, 350);
    atom_setfloat(four + 3, 200);
    ASSERT_EQ(object_attr_setvalueof(x_, gensym("rect"), 4, four), 0);
    t_rect r{};
    ASSERT_EQ(object_attr_get_rect(&x_->ob, gensym("rect"), &r), 0);
    EXPECT_EQ(r.x, 50);
    EXPECT_EQ(r.y, 60.5);
    EXPECT_EQ(r.width, 350);
    EXPECT_EQ(r.height, 200);
    // A one-value attribute is no rectangle.
    EXPECT_NE(object_attr_get_rect(&x_->ob, gensym("l"), &r), 0);
    EXPECT_NE(object_attr_get_rect(&x_->ob, gensym("nosuch"), &r), 0);
}

TEST_F(AttrTest, GetterIsGivenNoRoomAndTheHostFreesWhatItAllocated) {
    x_->ms = 250.0;
    EXPECT_EQ(object_attr_getfloat(x_, gensym("ms")), 250.0);
    EXPECT_EQ(g_seen.get_argc_in, 0);
    EXPECT_TRUE(g_seen.get_argv_in_null);
    EXPECT_EQ(g_seen.alloc, 1);
    // TearDown's block count shows the array was freed.
}

TEST_F(AttrTest, GetterFillsRoomTheCallerPresets) {
    x_->ms = 8.0;
    t_atom room[2];
    long argc = 2;
    t_atom *argv = room;
    ASSERT_EQ(object_attr_getvalueof(x_, gensym("ms"), &argc, &argv), 0);
    EXPECT_EQ(argv, room);
    EXPECT_EQ(g_seen.alloc, 0);
    EXPECT_EQ(atom_getfloat(room), 8.0);

    argc = 0;
    argv = nullptr;
    ASSERT_EQ(object_attr_getvalueof(x_, gensym("l"), &argc, &argv), 0);
    ASSERT_EQ(argc, 1);
    EXPECT_EQ(atom_gettype(argv), A_LONG);
    sysmem_freeptr(argv);
}

TEST_F(AttrTest, SetmethodReplacesAndNullRestoresTheDefault) {
    t_object *attr = class_attr_get(rec_class(), gensym("ms"));
    ASSERT_NE(attr, nullptr);
    EXPECT_EQ(object_classname(attr), gensym("attr"));
    EXPECT_EQ(class_attr_get(rec_class(), gensym("nosuch")), nullptr);

    object_attr_setfloat(x_, gensym("ms"), 2.0);
    EXPECT_EQ(x_->ms, 2.0);
    ASSERT_EQ(g_seen.sets.size(), 1u);

    // Offset 0 with the float64 default would write over the object header, so use a fresh attribute.
    t_object *plain = attr_offset_new("plain", gensym("float64"), 0, M(ms_get), M(ms_set), offsetof(Rec, f64));
    object_method(plain, gensym("setmethod"), gensym("set"), nullptr);
    object_method(plain, gensym("setmethod"), gensym("get"), nullptr);
    static t_class *c = [&] {
        t_class *k = class_new("attrtest2", nullptr, nullptr, sizeof(Rec), 0, 0);
        class_addattr(k, plain);
        return k;
    }();
    auto *y = (Rec *)object_alloc(c);
    object_attr_setfloat(y, gensym("plain"), 6.5);
    EXPECT_EQ(y->f64, 6.5);
    EXPECT_EQ(g_seen.sets.size(), 1u);  // the custom setter is gone
    object_free(y);
}

TEST_F(AttrTest, CreationArgumentsAfterTheFirstAtNameSetAttributes) {
    auto a = atoms("foo 3 @l 7 @ms 2 10 @sym bar @c @f64 1.5");
    EXPECT_EQ(attr_args_offset((short)a.size(), a.data()), 2);
    EXPECT_EQ(attr_args_offset(0, nullptr), 0);
    auto plain = atoms("1 2 3");
    EXPECT_EQ(attr_args_offset((short)plain.size(), plain.data()), 3);

    attr_args_process(x_, (short)a.size(), a.data());
    EXPECT_EQ(x_->l, 7);
    EXPECT_EQ(x_->ms, 20.0);  // the setter saw both values
    EXPECT_EQ(g_seen.sets, std::vector<std::string>{"2:" + std::to_string(2.0)});
    EXPECT_EQ(x_->sym, gensym("bar"));
    EXPECT_EQ(x_->c, 0);  // "@c" without a value is skipped
    EXPECT_EQ(x_->f64, 1.5);
    EXPECT_TRUE(console().empty());
}

TEST_F(AttrTest, UnknownAttributeArgumentPostsOneErrorAndTheRestStillApply) {
    auto a = atoms("@nosuch 1 2 @l 4");
    attr_args_process(x_, (short)a.size(), a.data());
    EXPECT_EQ(console(), std::vector<std::string>{"attrtest: error: unknown attribute \"nosuch\""});
    EXPECT_EQ(x_->l, 4);
}

TEST_F(AttrTest, MessagesBearingTheNameSetThroughTheSetter) {
    auto a = atoms("4 0.5");
    ASSERT_EQ(object_method_typed(x_, gensym("ms"), 2, a.data(), nullptr), 0);
    EXPECT_EQ(x_->ms, 2.0);
    // The setter's refusal comes back, without a console line.
    EXPECT_NE(object_method_typed(x_, gensym("ms"), 0, nullptr, nullptr), 0);
    EXPECT_EQ(g_seen.sets.back(), "0:");
    EXPECT_EQ(x_->ms, 2.0);
    EXPECT_TRUE(console().empty());
}

TEST_F(AttrTest, AttributesCarryMarkings) {
    t_object *l = class_attr_get(rec_class(), gensym("l"));
    EXPECT_STREQ(object_marking_get(l, "invisible"), "1");
    EXPECT_STREQ(object_marking_get(class_attr_get(rec_class(), gensym("f64")), "invisible"), "");
    EXPECT_NE(class_attr_addattr_parse(rec_class(), "nosuch", "invisible", gensym("long"), 0, "1"), 0);
}

TEST_F(AttrTest, AttachedObjectsHearWhichAttributeChanged) {
    auto *l = (Listener *)object_alloc(listener_class());
    l->heard = new std::vector<std::string>;
    object_attach_byptr(l, x_);
    object_attr_setlong(x_, gensym("l"), 1);
    object_attr_setsym(x_, gensym("sym"), gensym("a"));
    object_method_typed(x_, gensym("ms"), 0, nullptr, nullptr);  // refused: no notification
    EXPECT_EQ(*l->heard, (std::vector<std::string>{"attr_modified l", "attr_modified sym"}));
    delete l->heard;
    object_free(l);
}

TEST_F(AttrTest, UnknownAttributesAreReportedAsSuch) {
    EXPECT_NE(object_attr_setlong(x_, gensym("nosuch"), 1), 0);
    EXPECT_EQ(object_attr_getlong(x_, gensym("nosuch")), 0);
    EXPECT_EQ(object_attr_getsym(x_, gensym("nosuch")), gensym(""));
    long argc = 0;
    t_atom *argv = nullptr;
    EXPECT_NE(object_attr_getvalueof(x_, gensym("nosuch"), &argc, &argv), 0);
    EXPECT_EQ(argv, nullptr);
}
