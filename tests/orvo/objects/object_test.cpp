// Instances and their links: creation by name in name spaces (the any-list
// constructor is print's, below), outlets and connections, and plug-in loading.
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "host_test.h"

using namespace host_test;
using ObjectTest = ObjTest;

TEST_F(ObjectTest, CreationByNameConvertsArgumentsOrFailsWithOneLine) {
    const char *cases[][4] = {
        // name space, class, arguments; "n [s] f" of the new object, or the console line
        {"box", "thingtest", "7.9 hello 3", "7 [hello] 3"},
        {"box", "thingtest", "foo", "thingtest: error: bad creation arguments"},
        {"nobox", "thingtest", "", "orvo: error: no class \"thingtest\" in \"nobox\""},
        {"box", "nosuch", "", "orvo: error: no class \"nosuch\" in \"box\""},
    };
    for (auto [ns, cls, args, want] : cases) {
        Atoms a(args);
        auto *x = (Thing *)object_new_typed(gensym(ns), gensym(cls), a.argc, a.argv);
        char got[128] = "";
        if (x) std::snprintf(got, sizeof got, "%lld [%s] %g", (long long)x->n, x->s->s_name, x->f);
        EXPECT_EQ(x ? std::vector<std::string>{got} : console(), std::vector<std::string>{want});
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

// A box with two outlets; "bang" goes straight back out of the left one.
struct Src {
    t_object ob;
    void *right;
    void *left;  // the later outlet stands to the left: outlet 0
};
static void *src_bang(Src *x) { return outlet_bang(x->left); }
static Src *src() {
    static t_class *c = class_new("outlettest", nullptr, nullptr, sizeof(Src), 0, 0);
    class_addmethod(c, M(src_bang), "bang", 0);
    auto *s = (Src *)object_alloc(c);
    s->right = bangout(s);
    s->left = floatout(s);
    return s;
}
using OutletTest = ObjTest;

// Outlets send to each connection in order; a loop through them is stopped.
TEST_F(OutletTest, OutletsSendToEachConnectionInOrder) {
    Src *s = src();
    t_object *a = box("print", "a"), *b = box("print", "b"), *c = box("print", "c"), *gone = box("print", "gone");
    EXPECT_EQ(orvo::outlet_count(&s->ob), 2);
    for (auto [outlet, to] : {std::pair{0, c}, {1, b}, {1, gone}, {1, a}}) ASSERT_TRUE(orvo::connect(&s->ob, outlet, to));
    free_box(gone);  // its connection goes with it
    outlet_float(s->left, 2.25);
    outlet_bang(s->right);
    object_free(s);
    // A feedback loop is stopped with one error.
    Src *loop = src();
    orvo::connect(&loop->ob, 0, &loop->ob);
    outlet_bang(loop->left);
    object_free(loop);
    EXPECT_EQ(console(), (std::vector<std::string>{"c: 2.25", "b: bang", "a: bang",
                                                   "outlettest: error: stack overflow: message loop through outlets stopped"}));
}

// Plug-in loading failures: each refused module or folder says why in one line.
// (Successful loading is what every other test area starts with.)
using PluginTest = ObjTest;
TEST_F(PluginTest, RefusedModulesAndFoldersSayWhyInOneLineEach) {
    orvo_test::TempDir dir;
    EXPECT_EQ(orvo::load_plugins(dir.file("no_such_folder")), 0);
    EXPECT_EQ(console().size(), 1u);
    std::ofstream(dir.file("b_junk.so")) << "not a shared object";
    std::ofstream(dir.file("notes.txt")) << "ignored";
    std::ofstream(dir.file("a_noentry.c")) << "int not_an_entry(void) { return 1; }\n";
    std::string cc = "cc -shared -fPIC -o '" + dir.file("a_noentry.so") + "' '" + dir.file("a_noentry.c") + "'";
    if (std::system((cc + " 2>/dev/null").c_str()) != 0) GTEST_SKIP() << "no C compiler to build a test module";
    EXPECT_EQ(orvo::load_plugins(dir.path), 0);
    auto lines = console();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "orvo: error: cannot load " + dir.file("a_noentry.so") + ": no ext_main");  // in name order
    EXPECT_EQ(lines[1].rfind("orvo: error: cannot load " + dir.file("b_junk.so") + ": ", 0), 0u) << lines[1];
}
