// Every script under examples/ runs clean in a fresh folder of its own, and the
// recipe example writes what it promises.
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "orvo_test.h"

namespace fs = std::filesystem;

namespace {

orvo_test::OrvoRun run_in(const std::string &folder, const std::string &script) {
    return orvo_test::run_orvo("--plugins '" + std::string(ORVO_TEST_PLUGIN_DIR) + "' '" + script + "'", folder);
}

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
        std::ifstream in(script);
        std::stringstream text;
        text << in.rdbuf();
        const bool errors_on_purpose = text.str().find("shows errors on purpose") != std::string::npos;

        orvo_test::TempDir dir;
        orvo_test::OrvoRun r = run_in(dir.path, script);
        EXPECT_EQ(r.status, 0) << name << "\n" << r.out;
        EXPECT_EQ(r.out.find("orvo: line "), std::string::npos) << name << ": a malformed line\n" << r.out;
        if (errors_on_purpose)
            EXPECT_NE(r.out.find(": error: "), std::string::npos) << name << " shows no error";
        else
            EXPECT_EQ(r.out.find(": error: "), std::string::npos) << name << "\n" << r.out;

        if (name == "keep-two-seconds.orvo") {
            // Two seconds plus crop's extra frame, 24-bit AIFF, peak 0.9, fading out.
            SF_INFO si{};
            SNDFILE *f = sf_open(dir.file("take-2s.aif").c_str(), SFM_READ, &si);
            ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
            std::vector<float> s((size_t)(si.frames * si.channels));
            sf_readf_float(f, s.data(), si.frames);
            sf_close(f);
            EXPECT_EQ(si.format, SF_FORMAT_AIFF | SF_FORMAT_PCM_24);
            EXPECT_EQ(si.channels, 2);
            EXPECT_EQ(si.samplerate, 44100);
            EXPECT_EQ(si.frames, 88201);
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
