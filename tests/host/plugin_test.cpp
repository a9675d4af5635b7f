// Plug-in loading failures: each refused module or folder says why in one line.
// (Successful loading is what every other test area starts with.)
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "host_test.h"

using namespace host_test;

using PluginTest = ObjTest;

TEST_F(PluginTest, RefusedModulesAndFoldersSayWhyInOneLineEach) {
    orvo_test::TempDir dir;
    auto refusal = [&](const std::string &so) { return "orvo: error: cannot load " + dir.file(so) + ": "; };
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
    EXPECT_EQ(lines[0], refusal("a_noentry.so") + "no ext_main");  // in name order
    EXPECT_EQ(lines[1].rfind(refusal("b_junk.so"), 0), 0u) << lines[1];
}
