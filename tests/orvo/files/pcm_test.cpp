// Samples read straight from the file must be, bit for bit, what sf_readf_float gives.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>

#include "orvo/src/pcm_reader.h"
#include "orvo_test.h"

namespace {

using orvo::detail::PcmSource;

// Full-scale integers, extremes included, so that every bit of every width is exercised.
std::vector<int> full_range(long frames, long chans, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<int> v((size_t)(frames * chans));
    for (auto &x : v) x = (int)gen();
    v[0] = std::numeric_limits<int>::min();
    if (v.size() > 1) v[1] = std::numeric_limits<int>::max();
    return v;
}

bool write_ints(const std::string &file, int format, long chans, const std::vector<int> &data) {
    SF_INFO info{0, 48000, (int)chans, format, 0, 0};
    SNDFILE *s = sf_open(file.c_str(), SFM_WRITE, &info);
    if (!s) return false;
    sf_writef_int(s, data.data(), (sf_count_t)(data.size() / (size_t)chans));
    return sf_close(s) == 0;
}

// Frames from start into nchans channels as the direct read promises them.
std::vector<float> expected(const std::vector<float> &ref, long fch, long start, long frames, long nchans) {
    std::vector<float> v((size_t)(frames * nchans), 0.0f);
    long have = (long)ref.size() / fch;
    for (long f = 0; f < frames && start + f < have; ++f)
        for (long c = 0; c < std::min(fch, nchans); ++c) v[(size_t)(f * nchans + c)] = ref[(size_t)((start + f) * fch + c)];
    return v;
}

std::vector<uint32_t> bits(const std::vector<float> &v) {
    std::vector<uint32_t> b(v.size());
    std::memcpy(b.data(), v.data(), v.size() * sizeof(float));
    return b;
}

TEST(PcmReader, DecodesEveryPlainFormatAsLibsndfile) {
    orvo_test::TempDir dir;
    struct Case {
        int format;
        bool direct;  // read straight from the file, or left to libsndfile
    };
    const Case cases[] = {
        {SF_FORMAT_WAV | SF_FORMAT_PCM_U8, true},       {SF_FORMAT_WAV | SF_FORMAT_PCM_16, true},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_24, true},       {SF_FORMAT_WAV | SF_FORMAT_PCM_32, true},
        {SF_FORMAT_WAV | SF_FORMAT_FLOAT, true},        {SF_FORMAT_WAV | SF_FORMAT_DOUBLE, true},
        {SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, true},     {SF_FORMAT_RF64 | SF_FORMAT_PCM_16, true},
        {SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, true},      {SF_FORMAT_AIFF | SF_FORMAT_PCM_16, true},
        {SF_FORMAT_AIFF | SF_FORMAT_PCM_24, true},      {SF_FORMAT_AIFF | SF_FORMAT_PCM_32, true},
        {SF_FORMAT_AIFF | SF_FORMAT_FLOAT, true},       {SF_FORMAT_AIFF | SF_FORMAT_DOUBLE, true},
        {SF_FORMAT_AIFF | SF_ENDIAN_LITTLE | SF_FORMAT_PCM_16, true},
        {SF_FORMAT_AIFF | SF_ENDIAN_LITTLE | SF_FORMAT_PCM_24, true},
        {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, false},     {SF_FORMAT_WAV | SF_FORMAT_ULAW, false},
    };
    const long lengths[] = {1, 3, 2049}, channels[] = {1, 2, 6};
    unsigned n = 0;
    for (const Case &k : cases)
        for (long frames : lengths)
            for (long chans : channels) {
                std::string file = dir.file("p" + std::to_string(++n));
                ASSERT_TRUE(write_ints(file, k.format, chans, full_range(frames, chans, n))) << std::hex << k.format;
                auto [info, ref] = orvo_test::read_sound(file);
                PcmSource src;
                orvo::detail::pcm_probe(file, info, &src);
                ASSERT_EQ(src.usable(), k.direct) << std::hex << k.format << std::dec << " " << frames << "x" << chans;
                if (!src.usable()) continue;
                // From the start and from the middle, into fewer, as many and more channels,
                // asking for more frames than the file holds.
                for (long start : {0L, frames / 2})
                    for (long nch : {std::max(1L, chans - 1), chans, chans + 1}) {
                        long want = frames - start + 2;
                        std::vector<float> got((size_t)(want * nch), std::numeric_limits<float>::quiet_NaN());
                        uint64_t read = orvo::detail::pcm_read(src, got.data(), nch, (uint64_t)start, (uint64_t)want);
                        EXPECT_EQ(read, (uint64_t)(info.frames - start));  // 8-bit WAVE counts its pad byte
                        EXPECT_EQ(bits(got), bits(expected(ref, chans, start, want, nch)))
                            << std::hex << k.format << std::dec << " " << frames << "x" << chans << " from " << start
                            << " into " << nch;
                    }
                orvo::detail::pcm_close(&src);
            }
}

// Large enough to be split over threads; and a file cut short after it was opened reads
// zeros where it ends, without faulting.
TEST(PcmReader, SplitReadsAndShrunkFiles) {
    orvo_test::TempDir dir;
    const long frames = 1'500'001, chans = 2;
    std::string file = dir.file("big.wav");
    ASSERT_TRUE(write_ints(file, SF_FORMAT_WAV | SF_FORMAT_PCM_24, chans, full_range(frames, chans, 7)));
    auto [info, ref] = orvo_test::read_sound(file);
    PcmSource src;
    orvo::detail::pcm_probe(file, info, &src);
    ASSERT_TRUE(src.usable());
    std::vector<float> got(ref.size(), 1.0f);
    EXPECT_EQ(orvo::detail::pcm_read(src, got.data(), chans, 0, (uint64_t)frames), (uint64_t)frames);
    EXPECT_TRUE(got == ref);

    const long kept = 1000;
    std::filesystem::resize_file(file, src.offset + (uint64_t)(kept * chans * 3) + 2);  // part of a frame too
    std::fill(got.begin(), got.end(), 1.0f);
    EXPECT_EQ(orvo::detail::pcm_read(src, got.data(), chans, 0, (uint64_t)frames), (uint64_t)kept);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + kept * chans, ref.begin()));
    EXPECT_TRUE(std::all_of(got.begin() + kept * chans, got.end(), [](float v) { return v == 0.0f; }));
    int fd = src.fd;
    orvo::detail::pcm_close(&src);
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);  // the descriptor was given back

    // Coded data, decoded by libsndfile in parts with a handle each; from an offset, and
    // asking for more than the file holds.
    std::string flac = dir.file("big.flac");
    const long from = 12345;
    ASSERT_TRUE(write_ints(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, chans, full_range(800'000, chans, 9)));
    auto fref = orvo_test::read_sound(flac).data;
    info = SF_INFO{};
    SNDFILE *sf = sf_open(flac.c_str(), SFM_READ, &info);
    ASSERT_NE(sf, nullptr);
    ASSERT_EQ(sf_seek(sf, from, SEEK_SET), from);
    std::vector<float> fgot((size_t)((info.frames - from) * chans), 1.0f);
    EXPECT_EQ(orvo::detail::sf_read_split(sf, flac, info, fgot.data(), from, (uint64_t)info.frames), (uint64_t)(info.frames - from));
    EXPECT_TRUE(std::equal(fgot.begin(), fgot.end(), fref.begin() + from * chans));
    float after[chans];
    EXPECT_EQ(sf_readf_float(sf, after, 1), 0);  // left at the end
    sf_close(sf);
}

}  // namespace
