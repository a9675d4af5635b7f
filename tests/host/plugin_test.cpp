// Plug-in loading: modules are built here at run time from a few lines of C,
// so loading, ordering and refusal are tested without the real plug-in.
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "host_test.h"

using namespace host_test;

namespace {

const char *kPluginSource = R"(
#include "orvo_host.h"
static struct t_class *s_class;
static void *plug_new(void) { return object_alloc(s_class); }
void ext_main(void *module) {
    s_class = class_new(NAME, (method)plug_new, 0, sizeof(t_object), 0, 0);
    class_register(gensym("box"), s_class);
    object_post(0, "loaded %s%s", NAME, module ? "" : " without its handle");
}
)";

const char *kNoEntrySource = "int not_an_entry(void) { return 1; }\n";

class PluginTest : public ObjTest {
  protected:
    // Builds a module from C source; false when no C compiler is at hand.
    bool build(const std::string &source, const std::string &so, const std::string &name = "") {
        std::string src = dir_.file(so + ".c");
        std::ofstream(src) << source;
        std::string cmd = "cc -shared -fPIC -o '" + dir_.file(so) + "' '" + src +
                          "' -I'" ORVO_TEST_SOURCE_DIR "/buffer~/host'" +
                          (name.empty() ? "" : " -DNAME='\"" + name + "\"'") + " 2>/dev/null";
        return std::system(cmd.c_str()) == 0;
    }
    orvo_test::TempDir dir_;
};

}  // namespace

TEST_F(PluginTest, MissingOrBrokenModulesAreRefusedWithOneLine) {
    EXPECT_FALSE(orvo::load_plugin(dir_.file("absent.so")));
    auto lines = console();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("orvo: error: cannot load " + dir_.file("absent.so"), 0), 0u) << lines[0];

    std::ofstream(dir_.file("junk.so")) << "not a shared object";
    EXPECT_FALSE(orvo::load_plugin(dir_.file("junk.so")));
    EXPECT_EQ(console().size(), 1u);

    if (!build(kNoEntrySource, "noentry.so")) GTEST_SKIP() << "no C compiler to build test modules";
    EXPECT_FALSE(orvo::load_plugin(dir_.file("noentry.so")));
    EXPECT_EQ(console(),
              std::vector<std::string>{"orvo: error: cannot load " + dir_.file("noentry.so") + ": no ext_main"});
}

TEST_F(PluginTest, ModulesOfAFolderLoadInNameOrderAndRegisterTheirClasses) {
    if (!build(kPluginSource, "b_second.so", "plugtest_b") || !build(kPluginSource, "a_first.so", "plugtest_a") ||
        !build(kNoEntrySource, "c_broken.so"))
        GTEST_SKIP() << "no C compiler to build test modules";
    std::ofstream(dir_.file("notes.txt")) << "ignored";
    EXPECT_EQ(orvo::load_plugins(dir_.path), 2);
    EXPECT_EQ(console(),
              (std::vector<std::string>{"orvo: loaded plugtest_a", "orvo: loaded plugtest_b",
                                        "orvo: error: cannot load " + dir_.file("c_broken.so") + ": no ext_main"}));
    void *x = object_new(gensym("box"), gensym("plugtest_a"));
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(object_classname(x), gensym("plugtest_a"));
    object_free(x);

    // A module already loaded is not started twice.
    EXPECT_TRUE(orvo::load_plugin(dir_.file("a_first.so")));
    EXPECT_TRUE(console().empty());
}

TEST_F(PluginTest, AFolderThatCannotBeReadLoadsNothing) {
    EXPECT_EQ(orvo::load_plugins(dir_.file("no_such_folder")), 0);
    EXPECT_EQ(console().size(), 1u);
    EXPECT_EQ(orvo::load_plugins(dir_.path), 0);  // empty
    EXPECT_TRUE(console().empty());
}

TEST_F(PluginTest, DefaultFolderIsTheBuildsUnlessTheEnvironmentSaysOtherwise) {
    const char *old = std::getenv("ORVO_PLUGIN_DIR");
    std::string saved = old ? old : "";
    unsetenv("ORVO_PLUGIN_DIR");
    EXPECT_EQ(orvo::default_plugin_dir(), ORVO_TEST_PLUGIN_DIR);
    setenv("ORVO_PLUGIN_DIR", "/somewhere/else", 1);
    EXPECT_EQ(orvo::default_plugin_dir(), "/somewhere/else");
    setenv("ORVO_PLUGIN_DIR", "", 1);
    EXPECT_EQ(orvo::default_plugin_dir(), ORVO_TEST_PLUGIN_DIR);
    if (old)
        setenv("ORVO_PLUGIN_DIR", saved.c_str(), 1);
    else
        unsetenv("ORVO_PLUGIN_DIR");
}
