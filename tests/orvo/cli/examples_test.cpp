// Every script under examples/ runs clean in a fresh folder of its own, and the
// recipe example writes what it promises.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "orvo_test.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> listing(const std::string &folder) {
    std::vector<std::string> names;
    for (auto &e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Examples, EachRunsCleanInAFreshFolder) {
    const std::string examples = std::string(ORVO_TEST_SOURCE_DIR) + "/examples";
    const std::vector<std::string> before = listing(examples);
    int count = 0;
    for (const std::string &name : before) {
        if (fs::path(name).extension() != ".orvo") continue;
        ++count;
        const std::string script = examples + "/" + name;
        std::stringstream text;
        text << std::ifstream(script).rdbuf();
        const bool errors_on_purpose = text.str().find("shows errors on purpose") != std::string::npos;

        orvo_test::TempDir dir;
        orvo_test::OrvoRun r =
            orvo_test::run_orvo("--plugins '" + std::string(ORVO_TEST_PLUGIN_DIR) + "' '" + script + "'", dir.path);
        EXPECT_EQ(r.status, 0) << name << "\n" << r.out;
        EXPECT_EQ(r.out.find("orvo: line "), std::string::npos) << name << ": a malformed line\n" << r.out;
        EXPECT_EQ(r.out.find(": error: ") != std::string::npos, errors_on_purpose) << name << "\n" << r.out;

        if (name == "keep-two-seconds.orvo") {
            // Two seconds plus crop's extra frame, 24-bit AIFF, peak 0.9, fading out.
            auto [si, s] = orvo_test::read_sound(dir.file("take-2s.aif"));
            EXPECT_EQ(std::vector<long>({si.format, si.channels, si.samplerate, (long)si.frames}),
                      std::vector<long>({SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 2, 44100, 88201}));
            float peak = 0;
            for (float v : s) peak = std::max(peak, std::fabs(v));
            EXPECT_NEAR(peak, 0.9, 1e-6);
            auto level = [&](size_t from, size_t to) {
                double sum = 0;
                for (size_t i = from; i < to; ++i) sum += std::fabs(s[i]);
                return sum / (double)(to - from);
            };
            const size_t tenth = s.size() / 10;
            EXPECT_GT(level(0, tenth), 5 * level(s.size() - tenth, s.size()));
        }
    }
    EXPECT_GE(count, 8);
    EXPECT_EQ(listing(examples), before) << "an example wrote outside its own folder";
}

}  // namespace
