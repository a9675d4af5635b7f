// buffer~ driven by the orvo command from a patch script, output compared line for line.
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>

#include "orvo_test.h"

namespace {

struct ScriptRun {
    std::vector<std::string> lines;
    int status;
};

ScriptRun run_script(const std::string &script) {
    orvo_test::TempDir dir;
    std::string path = dir.file("s.orvo");
    std::ofstream(path) << script;
    std::string cmd = std::string(ORVO_TEST_BIN_DIR) + "/orvo --plugins " + ORVO_TEST_PLUGIN_DIR + " " + path;
    FILE *p = popen(cmd.c_str(), "r");
    ScriptRun r{{}, -1};
    if (!p) return r;
    char line[4096];
    while (std::fgets(line, sizeof line, p)) {
        std::string s(line);
        if (!s.empty() && s.back() == '\n') s.pop_back();
        r.lines.push_back(s);
    }
    r.status = pclose(p);
    return r;
}

TEST(BufferScript, FillResizeRateAndInspect) {
    ScriptRun r = run_script(
        "new a buffer~ a 1000 2\n"
        "a fill sin 1 2\n"
        "peek a 44100\n"
        "a setsize 500\n"
        "a sr 48000\n"
        "info a\n"
        "peek a 0 4\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.lines, (std::vector<std::string>{
                           "a[44100] = 1",
                           "a: name a frames 22050 chans 2 size 44100 sr 48000 ms 459.37499507999746 valid 1 owner 1",
                           "a[0] = 0", "a[1] = 0", "a[2] = 0", "a[3] = 0"}));
}

TEST(BufferScript, NamesPeersAndWatching) {
    ScriptRun r = run_script(
        "watch drums\n"
        "new a buffer~ drums 10 1\n"
        "new b buffer~ drums\n"
        "b name snare\n"
        "info b\n"
        "poke a 3 0.5\n"
        "peek b 3\n"
        "free a\n"
        "new c buffer~ other 10 1\n"
        "c set drums\n"
        "c sizeinsamps 20\n"
        "info c\n"
        "bogus line\n"
        "c enumerate\n");
    EXPECT_EQ(r.status, 256);   // one malformed line
    ASSERT_EQ(r.lines.size(), 8u);
    EXPECT_EQ(std::vector<std::string>(r.lines.begin(), r.lines.begin() + 7),
              (std::vector<std::string>{
                  "b: name snare frames 441 chans 1 size 441 sr 44100 ms 9.999999816500349 valid 1 owner 1",
                  "watch drums: buffer_modified", "b[3] = 0", "watch drums: buffer_modified",
                  "c: name drums frames 20 chans 1 size 20 sr 44100 ms 0.4535147309070453 valid 1 owner 1",
                  "orvo: line 13: unknown box \"bogus\"", "buffer~ (c): buffers hanging off drums:"}));
    EXPECT_TRUE(std::regex_match(r.lines[7], std::regex(R"(buffer~ \(c\):  0: [0-9a-f]+ \(this one\))"))) << r.lines[7];
}

}  // namespace
