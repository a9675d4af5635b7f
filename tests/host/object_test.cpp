// Classes and instances: registration in name spaces, creation by name,
// teardown with its "free" notification, the live-object registry, attachment
// between objects, and markings on method entries.
#include <cstring>
#include <string>
#include <vector>

#include "host_test.h"

using namespace host_test;

namespace {

struct Thing {
    t_object ob;
    t_atom_long n;
    t_symbol *s;
    double f;
    char pad[200];
};

t_class *s_thing_class;
t_class *s_anything_ctor_class;
std::vector<std::string> g_log;

void *thing_new(t_atom_long n, t_symbol *s, double f) {
    auto *x = (Thing *)object_alloc(s_thing_class);
    x->n = n;
    x->s = s;
    x->f = f;
    g_log.push_back("new");
    return x;
}

void thing_free(Thing *x) { g_log.push_back("free " + std::to_string(x->n) + (object_valid(x) ? " live" : " gone")); }

void *any_new(t_symbol *classname, long argc, t_atom *argv) {
    auto *x = (Thing *)object_alloc(s_anything_ctor_class);
    x->s = classname;
    x->n = argc;
    x->f = argc > 0 ? atom_getfloat(argv + argc - 1) : -1.0;
    return x;
}

void *pointer_new(void *a, void *b) {
    auto *x = (Thing *)object_alloc(s_thing_class);
    x->n = (t_atom_long)(intptr_t)a + (t_atom_long)(intptr_t)b;
    return x;
}

// A client that records what it hears.
struct Listener {
    t_object ob;
    std::vector<std::string> *heard;
    t_object *detach_from;  // when set, detaches itself on its first notification
};

t_class *s_listener_class;

void *listener_notify(Listener *x, t_symbol *s, t_symbol *msg, void *sender, void *data) {
    std::string line = std::string(s->s_name) + " " + msg->s_name;
    // While hearing "free" the sender must still be a live, intact object.
    if (msg == gensym("free"))
        line +=
            object_valid(sender) ? " (sender live, n=" + std::to_string(((Thing *)sender)->n) + ")" : " (sender gone)";
    line += data ? " data" : " null";
    x->heard->push_back(line);
    if (x->detach_from) object_detach_byptr(x, x->detach_from);
    return nullptr;
}

void listener_free(Listener *x) { delete x->heard; }

class ObjectTest : public ObjTest {
  protected:
    static void SetUpTestSuite() {
        orvo_test::ensure_runtime(false);
        if (s_thing_class) return;  // classes outlive a repeated run
        s_thing_class =
            class_new("thingtest", M(thing_new), M(thing_free), sizeof(Thing), 0, A_DEFLONG, A_DEFSYM, A_DEFFLOAT, 0);
        class_register(gensym("box"), s_thing_class);
        s_anything_ctor_class = class_new("anyctortest", M(any_new), nullptr, sizeof(Thing), 0, A_ANY, 0);
        class_register(gensym("nobox"), s_anything_ctor_class);
        s_listener_class = class_new("listenertest", nullptr, M(listener_free), sizeof(Listener), 0, 0);
        class_addmethod(s_listener_class, M(listener_notify), "notify", A_PRIVATE, 0);
    }
    void SetUp() override {
        ObjTest::SetUp();
        g_log.clear();
    }
    Listener *listener() {
        auto *l = (Listener *)object_alloc(s_listener_class);
        l->heard = new std::vector<std::string>;
        return l;
    }
    Thing *thing(const std::string &args = "") {
        auto a = atoms(args);
        return (Thing *)object_new_typed(gensym("box"), gensym("thingtest"), (long)a.size(), a.data());
    }
};

}  // namespace

TEST_F(ObjectTest, AllocGivesAZeroFilledRecordWithItsHeader) {
    auto *x = (Thing *)object_alloc(s_thing_class);
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->ob.o_class, s_thing_class);
    EXPECT_NE(x->ob.o_extra, nullptr);
    char zeros[sizeof(Thing) - sizeof(t_object)] = {};
    EXPECT_EQ(std::memcmp((char *)x + sizeof(t_object), zeros, sizeof zeros), 0);
    EXPECT_TRUE(object_valid(x));
    EXPECT_EQ(object_class(x), s_thing_class);
    EXPECT_EQ(object_classname(x), gensym("thingtest"));
    EXPECT_EQ(class_nameget(s_thing_class), gensym("thingtest"));
    object_free(x);
}

TEST_F(ObjectTest, TheRegistryAnswersSafelyForAnyPointer) {
    Thing fake{};
    int on_stack = 0;
    for (void *p : {(void *)&fake, (void *)&on_stack, (void *)nullptr, (void *)gensym("thingtest")}) {
        EXPECT_FALSE(object_valid(p));
        EXPECT_EQ(object_classname(p), nullptr);
        EXPECT_EQ(object_class(p), nullptr);
    }
}

TEST_F(ObjectTest, CreationByNameConvertsTypedArguments) {
    Thing *x = thing("7.9 hello 3");
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->n, 7);
    EXPECT_EQ(x->s, gensym("hello"));
    EXPECT_EQ(x->f, 3.0);
    object_free(x);

    x = thing();
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->n, 0);
    EXPECT_EQ(x->s, gensym(""));
    object_free(x);

    EXPECT_EQ(thing("foo"), nullptr);
    EXPECT_EQ(console(), std::vector<std::string>{"thingtest: error: bad creation arguments"});
}

TEST_F(ObjectTest, AnyListConstructorGetsClassNameCountAndAtoms) {
    auto a = atoms("1 2 4.5");
    auto *x = (Thing *)object_new_typed(gensym("nobox"), gensym("anyctortest"), (long)a.size(), a.data());
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->s, gensym("anyctortest"));
    EXPECT_EQ(x->n, 3);
    EXPECT_EQ(x->f, 4.5);
    object_free(x);
}

TEST_F(ObjectTest, PointerCreationPassesArgumentsAsTheyAre) {
    static t_class *c = [] {
        t_class *k = class_new("ptrctortest", M(pointer_new), nullptr, sizeof(Thing), 0, 0);
        class_register(gensym("nobox"), k);
        return k;
    }();
    (void)c;
    auto *x = (Thing *)object_new_imp(gensym("nobox"), gensym("ptrctortest"), (void *)40, (void *)2, nullptr, nullptr,
                                      nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->n, 42);
    object_free(x);
}

TEST_F(ObjectTest, UnknownClassOrWrongNameSpaceGivesNullAndOneError) {
    EXPECT_EQ(object_new(gensym("nobox"), gensym("no_such_class")), nullptr);
    EXPECT_EQ(console().size(), 1u);
    // Registered in "box" only.
    EXPECT_EQ(object_new_typed(gensym("nobox"), gensym("thingtest"), 0, nullptr), nullptr);
    auto lines = console();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("error"), std::string::npos);
    EXPECT_NE(lines[0].find("thingtest"), std::string::npos);
}

TEST_F(ObjectTest, ANameInANameSpaceBelongsToOneClass) {
    t_class *other = class_new("thingtest", nullptr, nullptr, sizeof(Thing), 0, 0);
    EXPECT_NE(class_register(gensym("box"), other), 0);
    EXPECT_EQ(class_register(gensym("box"), s_thing_class), 0);  // the same class again is fine
    Thing *x = thing("5");
    EXPECT_EQ(object_class(x), s_thing_class);
    object_free(x);
}

TEST_F(ObjectTest, FreeNotifiesClientsWhileTheObjectIsWholeThenRunsTheDestructor) {
    Thing *x = thing("9");
    Listener *a = listener(), *b = listener();
    ASSERT_EQ(object_attach_byptr(a, x), 0);
    ASSERT_EQ(object_attach_byptr(b, x), 0);
    g_log.clear();
    EXPECT_EQ(object_free(x), 0);
    EXPECT_EQ(*a->heard, std::vector<std::string>{"thingtest free (sender live, n=9) null"});
    EXPECT_EQ(*b->heard, *a->heard);
    EXPECT_EQ(g_log, std::vector<std::string>{"free 9 live"});
    EXPECT_FALSE(object_valid(x));
    EXPECT_EQ(object_classname(x), nullptr);
    // A second free, or a free of something never allocated, is refused.
    EXPECT_NE(object_free(x), 0);
    Thing fake{};
    EXPECT_NE(object_free(&fake), 0);
    EXPECT_EQ(g_log.size(), 1u);
    object_free(a);
    object_free(b);
}

TEST_F(ObjectTest, AttachedClientsHearNotificationsUntilDetached) {
    Thing *x = thing("1");
    Listener *a = listener(), *b = listener();
    ASSERT_EQ(object_attach_byptr(a, x), 0);
    ASSERT_EQ(object_attach_byptr(a, x), 0);  // twice is once
    ASSERT_EQ(object_attach_byptr(b, x), 0);
    int data = 0;
    object_notify(x, gensym("changed"), &data);
    EXPECT_EQ(*a->heard, std::vector<std::string>{"thingtest changed data"});
    EXPECT_EQ(*b->heard, std::vector<std::string>{"thingtest changed data"});

    EXPECT_EQ(object_detach_byptr(a, x), 0);
    EXPECT_NE(object_detach_byptr(a, x), 0);
    object_notify(x, gensym("again"), nullptr);
    EXPECT_EQ(a->heard->size(), 1u);
    EXPECT_EQ(b->heard->back(), "thingtest again null");

    // A freed client is forgotten: the next notification reaches nobody and harms nothing.
    object_free(b);
    EXPECT_EQ(object_notify(x, gensym("third"), nullptr), 0);
    EXPECT_NE(object_attach_byptr(a, nullptr), 0);
    EXPECT_NE(object_attach_byptr(nullptr, x), 0);
    object_free(x);
    EXPECT_EQ(a->heard->size(), 1u);  // it had detached: no "free" either
    object_free(a);
}

TEST_F(ObjectTest, AClientDetachingDuringANotificationStopsHearingAtOnce) {
    Thing *x = thing("1");
    Listener *a = listener(), *b = listener();
    a->detach_from = &x->ob;
    object_attach_byptr(a, x);
    object_attach_byptr(b, x);
    object_notify(x, gensym("one"), nullptr);
    object_notify(x, gensym("two"), nullptr);
    EXPECT_EQ(*a->heard, std::vector<std::string>{"thingtest one null"});
    EXPECT_EQ(b->heard->size(), 2u);
    object_free(x);
    object_free(a);
    object_free(b);
}

TEST_F(ObjectTest, FreeingAServerForgetsItInItsClients) {
    Thing *x = thing("1");
    Listener *a = listener();
    object_attach_byptr(a, x);
    object_free(x);
    // x is gone; detaching from it is refused rather than touching freed memory.
    EXPECT_NE(object_detach_byptr(a, x), 0);
    object_free(a);
}

TEST_F(ObjectTest, RegisteringANameHoldsItUntilTheObjectIsFreed) {
    Thing *x = thing("1"), *y = thing("2");
    t_symbol *name = symbol_unique();
    EXPECT_EQ(object_register(gensym("nobox"), name, x), x);
    EXPECT_EQ(object_register(gensym("nobox"), name, y), x);
    object_free(x);
    EXPECT_EQ(object_register(gensym("nobox"), name, y), y);
    Thing fake{};
    EXPECT_EQ(object_register(gensym("nobox"), symbol_unique(), &fake), nullptr);
    object_free(y);
}

TEST_F(ObjectTest, MethodEntriesCarryMarkings) {
    static t_class *c = [] {
        t_class *k = class_new("markingtest", nullptr, nullptr, sizeof(Thing), 0, 0);
        class_addmethod(k, M(method_true), "(remote)", A_PRIVATE, 0);
        class_addmethod(k, M(method_true), "setsize", A_FLOAT, A_DEFLONG, 0);
        return k;
    }();
    t_object *tab = class_extra_lookup(c, gensym("methods"));
    ASSERT_NE(tab, nullptr);
    EXPECT_EQ(class_extra_lookup(c, gensym("other")), nullptr);

    t_object *remote = nullptr, *setsize = nullptr, *missing = (t_object *)1;
    EXPECT_EQ(hashtab_lookup(tab, gensym("(remote)"), &remote), 0);
    EXPECT_EQ(hashtab_lookup(tab, gensym("setsize"), &setsize), 0);
    EXPECT_NE(hashtab_lookup(tab, gensym("nosuch"), &missing), 0);
    EXPECT_EQ(missing, nullptr);
    ASSERT_TRUE(object_valid(remote));
    ASSERT_TRUE(object_valid(setsize));
    EXPECT_NE(remote, setsize);

    EXPECT_EQ(object_addattr_parse(remote, "documentable", gensym("long"), 0, "1"), 0);
    EXPECT_EQ(object_addattr_parse(setsize, "introduced", gensym("symbol"), 0, str_tr("7.0.0")), 0);
    EXPECT_EQ(object_addattr_parse(setsize, "undocumented", gensym("long"), 0, "1"), 0);
    EXPECT_STREQ(object_marking_get(remote, "documentable"), "1");
    EXPECT_STREQ(object_marking_get(setsize, "introduced"), "7.0.0");
    EXPECT_STREQ(object_marking_get(setsize, "undocumented"), "1");
    EXPECT_STREQ(object_marking_get(remote, "introduced"), "");
    // A numeric marking whose text is no number is refused.
    EXPECT_NE(object_addattr_parse(remote, "bad", gensym("long"), 0, "abc"), 0);
    EXPECT_STREQ(object_marking_get(remote, "bad"), "");
    // Replacing a marking keeps one value, and re-adding a method keeps its entry and markings.
    object_addattr_parse(remote, "documentable", gensym("long"), 0, "0");
    EXPECT_STREQ(object_marking_get(remote, "documentable"), "0");
    class_addmethod(c, M(method_true), "(remote)", A_PRIVATE, 0);
    t_object *again = nullptr;
    hashtab_lookup(tab, gensym("(remote)"), &again);
    EXPECT_EQ(again, remote);
    EXPECT_STREQ(object_marking_get(again, "documentable"), "0");

    EXPECT_NE(hashtab_lookup(remote, gensym("x"), &again), 0);  // not a table
}
