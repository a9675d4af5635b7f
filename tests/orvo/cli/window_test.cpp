// The orvo command's "window" statement, run as a separate process on a script.
#include <filesystem>
#include <fstream>
#include <string>

#include "orvo_test.h"

namespace {

std::string run_script(const orvo_test::TempDir &dir, const std::string &text, const std::string &options = "") {
    return orvo_test::run_orvo_script(dir, text, options).out;
}

TEST(OrvoWindowStatement, ActsOnTheOpenWindowAndRefusesAClosedOne) {
    orvo_test::TempDir dir;
    std::string out = run_script(dir,
                                 "new b buffer~ snd 1000 2\n"
                                 "new p print pos\n"
                                 "connect b 0 p\n"
                                 "window b info\n"
                                 "b open\n"
                                 "window b resize 200 64\n"
                                 "window b info\n"
                                 "window b mouse 2 50\n"
                                 "window b mouse 3 50\n"
                                 "window b snapshot " +
                                     dir.file("w.png") +
                                     "\n"
                                     "window b close\n"
                                     "window b close\n"
                                     "window p info\n");
    EXPECT_EQ(out,
              "orvo: line 4: the window of \"b\" is not open\n"
              "b window: title snd rect 50 50 200 64 vscroll 0 views 2\n"
              "b view 1: snd channel 1 rect 0 0 200 32\n"
              "b view 2: snd channel 2 rect 0 32 200 32\n"
              "pos: 250\n"
              "orvo: line 9: no channel 3 in the window of \"b\"\n"
              "orvo: line 12: the window of \"b\" is not open\n"
              "orvo: line 13: \"p\" is not a buffer~\n");
    EXPECT_GT(std::filesystem::file_size(dir.file("w.png")), 100u);
}

TEST(OrvoWindowStatement, ADisplayThatCannotBeOpenedLeavesTheWindowsHeadless) {
    orvo_test::TempDir dir;
    const std::string script = "new b buffer~ snd 1000 1\nb open\nwindow b info\n";
    const std::string headless = "b window: title snd rect 50 50 350 100 vscroll 0 views 1\nb view 1: snd channel 1 rect 0 0 350 100\n";
    EXPECT_EQ(run_script(dir, script, "--display nowhere:99"),
              "orvo: cannot open display \"nowhere:99\"; windows stay headless\n" + headless);
    EXPECT_EQ(run_script(dir, script, "--headless --display nowhere:99"), headless);
}

}  // namespace
