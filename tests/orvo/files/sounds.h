// Sound files made and read with libsndfile directly: the reference for the host's own reading and writing;
// and the fixture of this area, which needs the host library only.
#pragma once
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <string>
#include <vector>

#include "orvo_test.h"

namespace orvo_test {

struct LibTest : HostTest {
    bool wants_plugins() const override { return false; }
};

// A signal that differs per frame and channel and stays inside +-1.
inline std::vector<float> signal(long frames, long chans) {
    std::vector<float> v((size_t)(frames * chans));
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = 0.8f * std::sin(0.05f * (float)(i / chans) * (float)(i % chans + 1) + 0.3f * (float)(i % chans));
    return v;
}

inline void write_sound(const std::string &file, int format, long chans = 1,
                        const std::vector<float> &data = signal(16, 1), int sr = 44100) {
    SF_INFO info{0, sr, (int)chans, format, 0, 0};
    SNDFILE *s = sf_open(file.c_str(), SFM_WRITE, &info);
    ASSERT_NE(s, nullptr) << file << ": " << sf_strerror(nullptr);
    sf_writef_float(s, data.data(), (sf_count_t)(data.size() / (size_t)chans));
    sf_close(s);
}

struct Decoded {
    SF_INFO info{};
    std::vector<float> data;
};

// hint: the layout of a headerless file.
inline Decoded read_sound(const std::string &file, SF_INFO hint = {}) {
    Decoded d{hint, {}};
    SNDFILE *s = sf_open(file.c_str(), SFM_READ, &d.info);
    if (!s) return d;
    d.data.resize((size_t)(d.info.frames * d.info.channels));
    sf_readf_float(s, d.data.data(), d.info.frames);
    sf_close(s);
    return d;
}

}  // namespace orvo_test
