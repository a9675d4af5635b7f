// Instances and their links: creation by name in name spaces (the any-list
// constructor is print's, in the outlet tests), the live-object
// registry, teardown with its "free" notification, attachment between objects,
// and named binding with the clients that follow a name.
#include <string>
#include <vector>

#include "host_test.h"

using namespace host_test;

namespace {

using ObjectTest = ObjTest;
using BindingTest = ObjTest;

std::string fresh() { return std::string("bind_") + symbol_unique()->s_name; }

}  // namespace

TEST_F(ObjectTest, CreationByNameConvertsArgumentsOrFailsWithOneLine) {
    struct Case {
        const char *ns, *cls, *args, *want;  // want: "n [s] f" of the new object, or the console line
    } cases[] = {
        {"box", "thingtest", "7.9 hello 3", "7 [hello] 3"},
        {"box", "thingtest", "", "0 [] 0"},
        {"box", "thingtest", "foo", "thingtest: error: bad creation arguments"},
        {"nobox", "thingtest", "", "orvo: error: no class \"thingtest\" in \"nobox\""},
        {"box", "nosuch", "", "orvo: error: no class \"nosuch\" in \"box\""},
    };
    for (const Case &c : cases) {
        auto a = atoms(c.args);
        auto *x = (Thing *)object_new_typed(gensym(c.ns), gensym(c.cls), (long)a.size(), a.data());
        char got[128] = "";
        if (x) std::snprintf(got, sizeof got, "%lld [%s] %g", (long long)x->n, x->s->s_name, x->f);
        EXPECT_EQ(x ? std::vector<std::string>{got} : console(), std::vector<std::string>{c.want});
        object_free(x);
    }
    auto *z = (Thing *)object_alloc(thing_class());  // likely where a freed one was: zero-filled all the same
    EXPECT_TRUE(z->ob.o_class == thing_class() && z->n == 0 && !z->s && z->f == 0);
    object_free(z);
    // A name in a name space belongs to one class.
    EXPECT_NE(class_register(gensym("box"), class_new("thingtest", nullptr, nullptr, sizeof(Thing), 0, 0)), 0);
    EXPECT_EQ(class_register(gensym("box"), thing_class()), 0);
    EXPECT_TRUE(console().empty());
}

TEST_F(ObjectTest, FreeNotifiesClientsWhileTheObjectIsWholeThenRunsTheDestructor) {
    Thing *x = thing("9");
    Client *a = client('a');
    g_freed.clear();
    ASSERT_EQ(object_attach_byptr(a, x), 0);
    EXPECT_EQ(object_free(x), 0);
    EXPECT_EQ(g_heard, std::vector<std::string>{"a: thingtest free #9 0"});  // x still whole
    EXPECT_EQ(g_freed, std::vector<std::string>{"9 live"});
    // Then x is no object: a second free, or a free of something never allocated, is refused.
    Thing fake{};
    fake.ob.o_class = thing_class();
    for (void *p : {(void *)x, (void *)&fake}) EXPECT_TRUE(!object_valid(p) && !object_class(p) && object_free(p));
    EXPECT_EQ(g_freed.size(), 1u);
    object_free(a);
}

TEST_F(ObjectTest, AttachedClientsHearNotificationsInOrderUntilDetached) {
    Thing *x = thing("1");
    Client *a = client('a'), *b = client('b');
    ASSERT_EQ(object_attach_byptr(b, x), 0);
    ASSERT_EQ(object_attach_byptr(a, x), 0);
    ASSERT_EQ(object_attach_byptr(a, x), 0);  // twice is once
    object_notify(x, gensym("changed"), (void *)7);
    EXPECT_EQ(object_detach_byptr(a, x), 0);
    EXPECT_NE(object_detach_byptr(a, x), 0);
    object_notify(x, gensym("again"), nullptr);
    object_attach_byptr(a, x);
    b->silence = a;  // detached while the notification is under way: a hears nothing more
    object_notify(x, gensym("third"), nullptr);
    object_free(x);
    std::string s = ": thingtest ";
    EXPECT_EQ(g_heard,
              (std::vector<std::string>{"b" + s + "changed #1 7", "a" + s + "changed #1 7", "b" + s + "again #1 0",
                                        "b" + s + "third #1 0", "b" + s + "free #1 0"}));
    object_free(a);
    object_free(b);
}

TEST_F(BindingTest, ClientsFollowTheNameAcrossBindingsUntilFreed) {
    std::string name = fresh();
    const char *n = name.c_str();
    Client *c = client('c'), *d = client('d');
    Thing *x = thing("1"), *y = thing("2");
    EXPECT_EQ(globalsymbol_attach(&c->ob, n), nullptr);  // before anything is bound
    EXPECT_EQ(globalsymbol_bind(&x->ob, n, 0), 0);
    EXPECT_EQ(gensym(n)->s_thing, &x->ob);
    EXPECT_EQ(globalsymbol_attach(&d->ob, n), &x->ob);  // a later client is told what is bound
    globalsymbol_notify(&x->ob, n, gensym("changed"), (void *)-1);
    globalsymbol_unbind(&y->ob, n, 0);                  // not bound there: changes nothing
    EXPECT_EQ(globalsymbol_attach(&c->ob, n), &x->ob);  // and attaching again adds no second call
    EXPECT_EQ(gensym(n)->s_thing, &x->ob);
    globalsymbol_unbind(&x->ob, n, 0);
    EXPECT_EQ(gensym(n)->s_thing, nullptr);
    globalsymbol_bind(&y->ob, n, 0);
    globalsymbol_notify(&y->ob, n, gensym("rebound"), nullptr);
    globalsymbol_detach(&c->ob, n);
    globalsymbol_notify(&y->ob, n, gensym("detached"), nullptr);
    // A freed bound object leaves its place; a detached client may attach again.
    object_free(d);
    object_free(y);
    EXPECT_EQ(gensym(n)->s_thing, nullptr);
    globalsymbol_attach(&c->ob, n);
    globalsymbol_notify(&x->ob, n, gensym("after"), nullptr);
    std::string s = name + " ";
    EXPECT_EQ(g_heard, (std::vector<std::string>{"c: " + s + "changed #1 -1", "d: " + s + "changed #1 -1",
                                                 "c: " + s + "rebound #2 0", "d: " + s + "rebound #2 0",
                                                 "d: " + s + "detached #2 0", "c: " + s + "after #1 0"}));
    object_free(c);
    object_free(x);
}

TEST_F(BindingTest, WatchPrintsNotificationsWithNumericData) {
    std::string name = fresh();
    t_object *w = orvo::watch(name);
    Thing *x = thing("6");
    globalsymbol_notify(&x->ob, name.c_str(), gensym("read_failed"), (void *)-1);
    globalsymbol_notify(&x->ob, name.c_str(), gensym("buffer_modified"), x);  // an object: not printed
    globalsymbol_notify(&x->ob, name.c_str(), gensym("code"), (void *)42);
    object_free(w);
    std::string tag = "watch " + name + ": ";
    EXPECT_EQ(console(), (std::vector<std::string>{tag + "read_failed -1", tag + "buffer_modified", tag + "code 42"}));
    object_free(x);
}
