// Named binding: the object bound under a name, clients that follow the name
// (attached before or after binding, across rebinding), and the watch client.
#include <string>
#include <vector>

#include "host_test.h"

using namespace host_test;

namespace {

struct Named {
    t_object ob;
    t_atom_long id;
};

struct Client {
    t_object ob;
    std::vector<std::string> *heard;
};

void *client_notify(Client *x, t_symbol *s, t_symbol *msg, void *sender, void *data) {
    x->heard->push_back(std::string(s->s_name) + " " + msg->s_name + " from " +
                        (object_valid(sender) ? std::to_string(((Named *)sender)->id) : "?") + " data " +
                        std::to_string((intptr_t)data));
    return nullptr;
}

void client_free(Client *x) { delete x->heard; }

t_class *client_class() {
    static t_class *c = [] {
        t_class *k = class_new("bindclienttest", nullptr, M(client_free), sizeof(Client), 0, 0);
        class_addmethod(k, M(client_notify), "notify", A_PRIVATE, 0);
        return k;
    }();
    return c;
}

t_class *named_class() {
    static t_class *c = class_new("bindnamedtest", nullptr, nullptr, sizeof(Named), 0, 0);
    return c;
}

class BindingTest : public ObjTest {
  protected:
    Client *client() {
        auto *c = (Client *)object_alloc(client_class());
        c->heard = new std::vector<std::string>;
        return c;
    }
    Named *named(t_atom_long id) {
        auto *n = (Named *)object_alloc(named_class());
        n->id = id;
        return n;
    }
    // A name no other test uses.
    std::string fresh() { return std::string("bind_") + symbol_unique()->s_name; }
};

}  // namespace

TEST_F(BindingTest, ClientsAttachedBeforeBindingHearTheBoundObject) {
    std::string name = fresh();
    Client *c = client();
    EXPECT_EQ(globalsymbol_attach(&c->ob, name.c_str()), nullptr);
    Named *x = named(1);
    EXPECT_EQ(globalsymbol_bind(&x->ob, name.c_str(), 0), 0);
    EXPECT_EQ(gensym(name.c_str())->s_thing, &x->ob);
    globalsymbol_notify(&x->ob, name.c_str(), gensym("changed"), (void *)(intptr_t)-1);
    EXPECT_EQ(*c->heard, std::vector<std::string>{name + " changed from 1 data -1"});

    // A later client is told what is bound now.
    Client *d = client();
    EXPECT_EQ(globalsymbol_attach(&d->ob, name.c_str()), &x->ob);
    object_free(c);
    object_free(d);
    globalsymbol_unbind(&x->ob, name.c_str(), 0);
    object_free(x);
}

TEST_F(BindingTest, AttachmentSurvivesUnbindingAndRebinding) {
    std::string name = fresh();
    Named *x = named(1), *y = named(2);
    globalsymbol_bind(&x->ob, name.c_str(), 0);
    Client *c = client();
    globalsymbol_attach(&c->ob, name.c_str());
    globalsymbol_unbind(&x->ob, name.c_str(), 0);
    EXPECT_EQ(gensym(name.c_str())->s_thing, nullptr);
    globalsymbol_bind(&y->ob, name.c_str(), 0);
    EXPECT_EQ(gensym(name.c_str())->s_thing, &y->ob);
    globalsymbol_notify(&y->ob, name.c_str(), gensym("m"), nullptr);
    EXPECT_EQ(*c->heard, std::vector<std::string>{name + " m from 2 data 0"});

    // Unbinding by an object that is not bound there changes nothing.
    globalsymbol_unbind(&x->ob, name.c_str(), 0);
    EXPECT_EQ(gensym(name.c_str())->s_thing, &y->ob);

    globalsymbol_detach(&c->ob, name.c_str());
    globalsymbol_notify(&y->ob, name.c_str(), gensym("n"), nullptr);
    EXPECT_EQ(c->heard->size(), 1u);
    globalsymbol_unbind(&y->ob, name.c_str(), 0);
    object_free(c);
    object_free(x);
    object_free(y);
}

TEST_F(BindingTest, EveryClientHearsEachNotificationInAttachOrder) {
    std::string name = fresh();
    Named *x = named(3);
    globalsymbol_bind(&x->ob, name.c_str(), 0);
    std::vector<std::string> order;
    Client *a = client(), *b = client();
    globalsymbol_attach(&b->ob, name.c_str());
    globalsymbol_attach(&a->ob, name.c_str());
    globalsymbol_attach(&a->ob, name.c_str());  // once only
    globalsymbol_notify(&x->ob, name.c_str(), gensym("one"), nullptr);
    globalsymbol_notify(&x->ob, name.c_str(), gensym("two"), nullptr);
    EXPECT_EQ(a->heard->size(), 2u);
    EXPECT_EQ(*b->heard, *a->heard);
    // Notifying a name nobody follows is harmless.
    globalsymbol_notify(&x->ob, fresh().c_str(), gensym("one"), nullptr);
    globalsymbol_unbind(&x->ob, name.c_str(), 0);
    object_free(a);
    object_free(b);
    object_free(x);
}

TEST_F(BindingTest, FreedObjectsLeaveTheirNames) {
    std::string name = fresh();
    Named *x = named(4);
    Client *c = client(), *d = client();
    globalsymbol_bind(&x->ob, name.c_str(), 0);
    globalsymbol_attach(&c->ob, name.c_str());
    globalsymbol_attach(&d->ob, name.c_str());
    object_free(c);  // a freed client is not called again
    object_free(x);  // a freed bound object no longer occupies the slot
    EXPECT_EQ(gensym(name.c_str())->s_thing, nullptr);
    Named *y = named(5);
    globalsymbol_notify(&y->ob, name.c_str(), gensym("after"), nullptr);
    EXPECT_EQ(*d->heard, std::vector<std::string>{name + " after from 5 data 0"});
    object_free(d);
    object_free(y);
}

TEST_F(BindingTest, WatchPrintsNotificationsWithNumericData) {
    std::string name = fresh();
    t_object *w = orvo::watch(name);
    ASSERT_NE(w, nullptr);
    Named *x = named(6);
    globalsymbol_bind(&x->ob, name.c_str(), 0);
    globalsymbol_notify(&x->ob, name.c_str(), gensym("read_failed"), (void *)(intptr_t)-1);
    globalsymbol_notify(&x->ob, name.c_str(), gensym("buffer_modified"), x);  // an object: not printed
    globalsymbol_notify(&x->ob, name.c_str(), gensym("code"), (void *)(intptr_t)42);
    EXPECT_EQ(console(),
              (std::vector<std::string>{"watch " + name + ": read_failed -1", "watch " + name + ": buffer_modified",
                                        "watch " + name + ": code 42"}));
    object_free(w);
    globalsymbol_notify(&x->ob, name.c_str(), gensym("gone"), nullptr);
    EXPECT_TRUE(console().empty());
    globalsymbol_unbind(&x->ob, name.c_str(), 0);
    object_free(x);
}
