// buffer~ driven by the orvo command from a patch script, output compared line for line.
#include <regex>

#include "orvo_test.h"

namespace {

orvo_test::OrvoRun run_script(const std::string &script) {
    orvo_test::TempDir dir;
    return orvo_test::run_orvo_script(dir, script);
}

TEST(BufferScript, FillResizeRateAndInspect) {
    orvo_test::OrvoRun r = run_script(
        "new a buffer~ a 1000 2\n"
        "a fill sin 1 2\n"
        "peek a 44100\n"
        "a setsize 500\n"
        "a sr 48000\n"
        "info a\n"
        "peek a 0 4\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.lines(), (std::vector<std::string>{
                           "a[44100] = 1",
                           "a: name a frames 22050 chans 2 size 44100 sr 48000 ms 459.37499507999746 valid 1 owner 1",
                           "a[0] = 0", "a[1] = 0", "a[2] = 0", "a[3] = 0"}));
}

TEST(BufferScript, NamesPeersAndWatching) {
    orvo_test::OrvoRun r = run_script(
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
    EXPECT_EQ(r.status, 1);   // one malformed line
    std::vector<std::string> lines = r.lines();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 7),
              (std::vector<std::string>{
                  "b: name snare frames 441 chans 1 size 441 sr 44100 ms 9.999999816500349 valid 1 owner 1",
                  "watch drums: buffer_modified", "b[3] = 0", "watch drums: buffer_modified",
                  "c: name drums frames 20 chans 1 size 20 sr 44100 ms 0.4535147309070453 valid 1 owner 1",
                  "orvo: line 13: unknown box \"bogus\"", "buffer~ (c): buffers hanging off drums:"}));
    EXPECT_TRUE(std::regex_match(lines[7], std::regex(R"(buffer~ \(c\):  0: [0-9a-f]+ \(this one\))"))) << lines[7];
}

}  // namespace
