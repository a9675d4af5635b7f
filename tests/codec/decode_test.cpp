// Decoding stored samples to float, and the channel-mapping block converter.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "buffer~/read/chomp.h"
#include "buffer~/write/g711.h"
#include "buffer~/write/sampdecode.h"

namespace {

constexpr t_atom_long kNone = FOURCC('N', 'O', 'N', 'E');
constexpr t_atom_long kUnsn = FOURCC('U', 'N', 'S', 'N');
constexpr t_atom_long kFl32 = FOURCC('F', 'L', '3', '2');
constexpr t_atom_long kFl64 = FOURCC('F', 'L', '6', '4');
constexpr t_atom_long kUlaw = FOURCC('U', 'L', 'A', 'W');
constexpr t_atom_long kAlaw = FOURCC('A', 'L', 'A', 'W');
constexpr float kSentinel = -7.25f;

using Bytes = std::vector<unsigned char>;

float decode1(const Bytes &b, t_atom_ulong size, t_atom_long code, t_atom_long big) {
    float f = kSentinel;
    vector_samp2float(b.data(), &f, 1, 1, 1, size, code, big);
    return f;
}

TEST(Decode, IntegerFullScaleAndScales) {
    EXPECT_EQ(decode1({0x80, 0x00}, 2, kNone, 1), -1.0f);
    EXPECT_EQ(decode1({0x7F, 0xFF}, 2, kNone, 1), 32767.0f / 32768.0f);
    EXPECT_EQ(decode1({0xFF, 0x7F}, 2, kNone, 0), 32767.0f / 32768.0f);
    // 24 and 32 bits share the scale 1/2147450880: full scale lies just outside +-1.0.
    EXPECT_EQ(decode1({0x7F, 0xFF, 0xFF}, 3, kNone, 1), 1.000015139579773f);
    EXPECT_EQ(decode1({0x80, 0x00, 0x00}, 3, kNone, 1), -1.0000152587890625f);
    EXPECT_EQ(decode1({0xFF, 0xFF, 0x7F}, 3, kNone, 0), 1.000015139579773f);
    EXPECT_EQ(decode1({0x7F, 0xFF, 0x80}, 3, kNone, 1), 1.0f) << "0x7FFF8000 is 32768 * 65535";
    EXPECT_EQ(decode1({0x7F, 0xFF, 0x80, 0x00}, 4, kNone, 1), 1.0f);
    EXPECT_EQ(decode1({0x00, 0x00, 0x00, 0x80}, 4, kNone, 0), -1.0000152587890625f);
    EXPECT_EQ(decode1({0x80}, 1, kNone, 0), -1.0f);
    EXPECT_EQ(decode1({0x7F}, 1, kNone, 1), 0.9921875f);
    EXPECT_EQ(decode1({0x80}, 1, kUnsn, 0), 0.0f);
    EXPECT_EQ(decode1({0x00}, 1, kUnsn, 0), -1.0f);
    EXPECT_EQ(decode1({0xFF}, 1, kUnsn, 1), 0.9921875f);
}

TEST(Decode, FloatsAndCompanding) {
    EXPECT_EQ(decode1({0x3F, 0x80, 0x00, 0x00}, 0, kFl32, 1), 1.0f) << "size is ignored for FL32";
    EXPECT_EQ(decode1({0x00, 0x00, 0x80, 0x3F}, 4, kFl32, 0), 1.0f);
    const float nan = decode1({0x7F, 0xA0, 0x00, 0x01}, 4, kFl32, 1);
    EXPECT_EQ(std::bit_cast<uint32_t>(nan), 0x7FA00001u) << "FL32 is taken bit for bit";
    const double tenth = 0.1;
    Bytes le(8), be(8);
    std::memcpy(le.data(), &tenth, 8);
    for (int i = 0; i < 8; ++i) be[i] = le[7 - i];
    EXPECT_EQ(decode1(le, 8, kFl64, 0), 0.1f);
    EXPECT_EQ(decode1(be, 8, kFl64, 1), 0.1f);
    for (int c = 0; c < 256; ++c) {
        const Bytes b = {(unsigned char)c};
        EXPECT_EQ(decode1(b, 1, kUlaw, 1), (float)MuLawDecode(c)) << c;
        EXPECT_EQ(std::bit_cast<uint32_t>(decode1(b, 1, kAlaw, 1)), std::bit_cast<uint32_t>((float)ALawDecode(c))) << c;
    }
}

TEST(Decode, UnknownCodesAndSizes) {
    const Bytes src(64, 0x40);
    for (auto [size, code] : {std::pair<t_atom_ulong, t_atom_long>{5, kNone},
                              {0, kNone},
                              {2, (t_atom_long)FOURCC('X', 'Y', 'Z', 'W')},
                              {2, kNone | (1ll << 40)}}) {
        std::vector<float> dst(8, kSentinel);
        vector_samp2float(src.data(), dst.data(), 4, 1, 2, size, code, 0);
        for (int i = 0; i < 8; ++i) EXPECT_EQ(dst[i], i % 2 ? kSentinel : 0.0f) << "size " << size << " slot " << i;
        std::fill(dst.begin(), dst.end(), kSentinel);
        vector_samp2float_accum(src.data(), dst.data(), 4, 1, 1, size, code, 0);
        for (float f : dst) EXPECT_EQ(f, kSentinel);
    }
}

TEST(Decode, CountZeroReadsAndWritesNothing) {
    float dst = kSentinel;
    for (t_atom_long code : {kNone, kFl32, kFl64, kUlaw, (t_atom_long)FOURCC('?', '?', '?', '?')}) {
        vector_samp2float(nullptr, &dst, 0, 1, 1, 2, code, 1);
        vector_samp2float_accum(nullptr, &dst, 0, 1, 1, 2, code, 1);
    }
    EXPECT_EQ(dst, kSentinel);
}

TEST(Decode, StridesSkipSourceAndDestinationSlots) {
    // Channel 1 of three interleaved 16-bit big-endian channels into every other float.
    const Bytes src = {0, 0, 0x40, 0x00, 0, 0, 0, 0, 0xC0, 0x00, 0, 0, 0, 0, 0x20, 0x00, 0, 0};
    std::vector<float> dst(6, kSentinel);
    vector_samp2float(src.data() + 2, dst.data(), 3, 3, 2, 2, kNone, 1);
    EXPECT_EQ(dst, (std::vector<float>{0.5f, kSentinel, -0.5f, kSentinel, 0.25f, kSentinel}));
}

TEST(Decode, AccumulateAddsWithEachCasePrecision) {
    float d = 0.25f;
    vector_samp2float_accum((const unsigned char *)"\x40", &d, 1, 1, 1, 1, kNone, 0);
    EXPECT_EQ(d, 0.75f);
    d = 0.25f;
    vector_samp2float_accum((const unsigned char *)"\x80", &d, 1, 1, 1, 1, kUnsn, 0);
    EXPECT_EQ(d, 0.25f);
    // 32-bit sums are formed in double from the unrounded value: find a word where
    // that differs from adding the rounded single, and check the double form wins.
    const double k = 1.0 / 2147450880.0;
    int32_t w = 1;
    while (w < 1 << 20 && (float)(1.0 + w * k) == 1.0f + (float)(w * k)) ++w;
    ASSERT_LT(w, 1 << 20) << "no distinguishing word found";
    Bytes le(4);
    std::memcpy(le.data(), &w, 4);
    d = 1.0f;
    vector_samp2float_accum(le.data(), &d, 1, 1, 1, 4, kNone, 0);
    EXPECT_EQ(d, (float)(1.0 + w * k));
}

// The same values stored in both byte orders decode to identical floats, over
// odd lengths, at stride 1 (the unrolled path) and inside an interleaved block.
TEST(Decode, BigAndLittleEndianSourcesAgree) {
    std::mt19937 rng(7);
    for (auto [size, code] :
         {std::pair<size_t, t_atom_long>{2, kNone}, {3, kNone}, {4, kNone}, {4, kFl32}, {8, kFl64}}) {
        for (size_t n : {1u, 2u, 3u, 7u, 8u, 9u, 127u, 1024u, 2049u}) {
            Bytes le(n * size), be(n * size), stereo(2 * n * size);
            for (size_t i = 0; i < n; ++i) {
                unsigned char *p = le.data() + i * size;
                for (size_t k = 0; k < size; ++k) p[k] = (unsigned char)rng();
                if (code == kFl32) p[3] &= 0x3F;  // keep floats finite
                if (code == kFl64) p[7] &= 0x3F;
                for (size_t k = 0; k < size; ++k) {
                    be[i * size + k] = p[size - 1 - k];
                    stereo[(2 * i) * size + k] = stereo[(2 * i + 1) * size + k] = p[k];
                }
            }
            std::vector<float> a(n), b(n), c(n);
            vector_samp2float(le.data(), a.data(), n, 1, 1, size, code, 0);
            vector_samp2float(be.data(), b.data(), n, 1, 1, size, code, 1);
            vector_samp2float(stereo.data() + size, c.data(), n, 2, 1, size, code, 0);
            ASSERT_EQ(std::memcmp(a.data(), b.data(), n * 4), 0) << "size " << size << " n " << n;
            ASSERT_EQ(std::memcmp(a.data(), c.data(), n * 4), 0) << "size " << size << " n " << n;
        }
    }
}

TEST(FloatHelpers, ScaleAndCopyRespectStrides) {
    std::vector<float> v = {1, 2, 3, 4, 5, 6};
    vector_float_scale(v.data() + 1, 3, 2, 0.5f);
    EXPECT_EQ(v, (std::vector<float>{1, 1, 3, 2, 5, 3}));
    std::vector<float> src = {std::bit_cast<float>(0x7FA00001u), 9, -0.0f, 9}, dst(3, kSentinel);
    vector_float_copy(src.data(), dst.data(), 2, 2, 2);
    EXPECT_EQ(std::bit_cast<uint32_t>(dst[0]), 0x7FA00001u);
    EXPECT_EQ(dst[1], kSentinel);
    EXPECT_EQ(std::bit_cast<uint32_t>(dst[2]), 0x80000000u);
}

// Source frames hold channel k of frame f as the 16-bit value 1000 * (k + 1) + f
// (big-endian); the expectation follows the channel map.
TEST(Chomp, EverySupportedChannelPair) {
    const int frames = 9;
    auto in = [](int k, int f) { return (float)(1000 * (k + 1) + f) / 32768.0f; };
    for (short sc : {1, 2, 4}) {
        for (short dc : {1, 2, 4}) {
            Bytes src(frames * sc * 2);
            for (int f = 0; f < frames; ++f)
                for (int k = 0; k < sc; ++k) {
                    const int v = 1000 * (k + 1) + f;
                    src[(f * sc + k) * 2] = (unsigned char)(v >> 8);
                    src[(f * sc + k) * 2 + 1] = (unsigned char)v;
                }
            std::vector<float> dst(frames * dc + 1, kSentinel);
            buffer_chomp(src.data(), dst.data(), frames, sc, dc, 2, kNone, 1);
            for (int f = 0; f < frames; ++f)
                for (int j = 0; j < dc; ++j) {
                    float want;
                    if (sc == dc)
                        want = in(j, f);
                    else if (sc < dc)
                        want = in(j * sc / dc, f);  // each source channel repeated into consecutive ones
                    else if (sc / dc == 2)
                        want = (float)((double)in(2 * j, f) + in(2 * j + 1, f)) * 0.5f;
                    else
                        want = (float)((((double)in(0, f) + in(1, f)) + in(2, f)) + in(3, f)) * 0.25f;
                    EXPECT_EQ(dst[f * dc + j], want) << sc << "->" << dc << " frame " << f << " ch " << j;
                }
            EXPECT_EQ(dst.back(), kSentinel) << sc << "->" << dc << " wrote past the block";
        }
    }
}

TEST(Chomp, UnsupportedCountsAndEmptyBlocksWriteNothing) {
    const Bytes src(64, 0x11);
    for (auto [sc, dc] : {std::pair<short, short>{3, 1}, {1, 3}, {3, 3}, {8, 2}, {2, 8}, {0, 1}, {-2, 2}}) {
        std::vector<float> dst(16, kSentinel);
        buffer_chomp(src.data(), dst.data(), 2, sc, dc, 2, kNone, 0);
        for (float f : dst) ASSERT_EQ(f, kSentinel) << sc << "->" << dc;
    }
    std::vector<float> dst(4, kSentinel);
    buffer_chomp(src.data(), dst.data(), 0, 2, 1, 2, kNone, 0);
    buffer_chomp(src.data(), dst.data(), 0, 1, 4, 2, kNone, 0);
    for (float f : dst) EXPECT_EQ(f, kSentinel);
}

TEST(Chomp, OneByteEncodingsUseTheSampleSizeForChannelOffsets) {
    const Bytes src = {0x00, 0xFF, 0x80, 0x80};  // UNSN: -1.0, 0.9921875 / 0.0, 0.0
    std::vector<float> dst(2, kSentinel);
    buffer_chomp(src.data(), dst.data(), 2, 2, 1, 1, kUnsn, 0);
    EXPECT_EQ(dst[0], (-1.0f + 0.9921875f) * 0.5f);
    EXPECT_EQ(dst[1], 0.0f);
}

}  // namespace
