// Decoding: G.711 codes, byte order, stored samples to float, and the channel map.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "buffer~/read/chomp.h"
#include "buffer~/write/ext_byteorder.h"
#include "buffer~/write/g711.h"
#include "buffer~/write/sampdecode.h"

namespace {

constexpr t_atom_long kNone = FOURCC('N', 'O', 'N', 'E'), kUnsn = FOURCC('U', 'N', 'S', 'N');
constexpr t_atom_long kFl32 = FOURCC('F', 'L', '3', '2'), kFl64 = FOURCC('F', 'L', '6', '4');
constexpr t_atom_long kUlaw = FOURCC('U', 'L', 'A', 'W'), kAlaw = FOURCC('A', 'L', 'A', 'W');
constexpr float kUnset = -7.25f;

using Bytes = std::vector<unsigned char>;

// Each segment's first magnitude and step (of 32768), as tables list them.
constexpr int kMuBase[8] = {128, 256, 512, 1024, 2048, 4096, 8192, 16384};
constexpr int kABase[8] = {0, 256, 512, 1024, 2048, 4096, 8192, 16384};
constexpr int kStep[8] = {8, 16, 32, 64, 128, 256, 512, 1024};

TEST(G711, EveryCodeDecodesToItsTableValue) {
    unsigned char all[256];
    for (int i = 0; i < 256; ++i) all[i] = (unsigned char)i;
    float mu[256], a[256];
    vector_samp2float(all, mu, 256, 1, 1, 1, kUlaw, 0);
    vector_samp2float(all, a, 256, 1, 1, 1, kAlaw, 0);
    for (int code = 0; code < 256; ++code) {
        const int m = ~code & 0xFF, m_seg = m >> 4 & 7, x = code ^ 0x55, x_seg = x >> 4 & 7;
        const double mu_mag = (kMuBase[m_seg] + (m & 15) * kStep[m_seg]) / 32768.0;
        const double a_mag = (kABase[x_seg] + (x & 15) * (x_seg ? kStep[x_seg] : 16)) / 32768.0;
        // The top bit set is negative for this mu-law, positive for A-law (so 0x55 is -0.0).
        const double mu_want = code & 0x80 ? -mu_mag : mu_mag, a_want = code & 0x80 ? a_mag : -a_mag;
        EXPECT_EQ(std::bit_cast<uint64_t>(MuLawDecode(code)), std::bit_cast<uint64_t>(mu_want)) << code;
        EXPECT_EQ(std::bit_cast<uint64_t>(ALawDecode(code)), std::bit_cast<uint64_t>(a_want)) << code;
        EXPECT_EQ(std::bit_cast<uint32_t>(mu[code]), std::bit_cast<uint32_t>((float)mu_want)) << code;
        EXPECT_EQ(std::bit_cast<uint32_t>(a[code]), std::bit_cast<uint32_t>((float)a_want)) << code;
    }
    EXPECT_EQ(MuLawDecode(0x00), 0.96875);
    EXPECT_EQ(MuLawDecode(0x7F), 0.00390625) << "the encoder's bias of 132 is not removed";
    for (unsigned i = 0; i < 256; ++i) EXPECT_EQ(g711NumBits[i], std::bit_width(i)) << i;
}

// Swaps touch exactly their bytes, at any alignment, and keep signalling NaNs.
TEST(ByteOrder, SwapsReverseExactlyTheirBytes) {
    for (auto [width, in_place, copy] : {std::tuple{2, &byteorder_swap_pointer_16, &byteorder_swap_pointer_16_copy},
                                         {4, &byteorder_swap_pointer_32, &byteorder_swap_pointer_32_copy},
                                         {8, &byteorder_swap_pointer_64, &byteorder_swap_pointer_64_copy}}) {
        unsigned char a[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, b[10] = {}, want[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
        std::reverse(want + 1, want + 1 + width);
        copy(a + 1, b + 1);
        in_place(a + 1);
        EXPECT_EQ(std::memcmp(a, want, 10), 0) << width;
        EXPECT_TRUE(std::memcmp(b + 1, want + 1, width) == 0 && b[0] == 0 && b[width + 1] == 0) << width;
    }
    EXPECT_EQ(std::bit_cast<uint32_t>(byteorder_swapf32(std::bit_cast<float>(0x0100A07Fu))), 0x7FA00001u);
    const unsigned char pi[] = {0xEE, 0xC0, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18};
    EXPECT_EQ(byteorder_swap_pointer_64_to_float64(pi + 1), -3.141592653589793);
}

// Scales 1/128, 1/32768, and 1/2147450880 for 24 and 32 bits (full scale lies outside +-1.0).
TEST(Decode, EveryEncodingAndScale) {
    using Case = std::tuple<Bytes, t_atom_long, t_atom_long, float>;  // bytes, encoding, big-endian, value
    // clang-format off
    const Case cases[] = {
        {{0x80, 0x00}, kNone, 1, -1.0f}, {{0xFF, 0x7F}, kNone, 0, 0.999969482421875f}, {{0x80}, kNone, 0, -1.0f},
        {{0x7F, 0xFF, 0xFF}, kNone, 1, 1.000015139579773f}, {{0x80, 0x00, 0x00}, kNone, 1, -1.0000152587890625f},
        {{0x7F, 0xFF, 0x80}, kNone, 1, 1.0f}, {{0x00, 0x80, 0xFF, 0x7F}, kNone, 0, 1.0f},  // 32768 * 65535
        {{0x00, 0x00, 0x00, 0x80}, kNone, 0, -1.0000152587890625f}, {{0x7F}, kNone, 1, 0.9921875f},
        {{0x80}, kUnsn, 0, 0.0f}, {{0x00}, kUnsn, 0, -1.0f}, {{0xFF}, kUnsn, 1, 0.9921875f},
        {{0x7F, 0xA0, 0x00, 0x01}, kFl32, 1, std::bit_cast<float>(0x7FA00001u)},  // taken bit for bit
        {{0x3F, 0xB9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A}, kFl64, 1, 0.1f},
        {{0x7F, 0x00}, FOURCC('X', 'Y', 'Z', 'W'), 1, 0.0f}, {{0, 0, 0, 0, 0}, kNone, 0, 0.0f}};  // unknown forms
    // clang-format on
    for (const auto &[b, code, big, want] : cases) {
        float got = kUnset;
        vector_samp2float(b.data(), &got, 1, 1, 1, b.size(), code, big);
        EXPECT_EQ(std::bit_cast<uint32_t>(got), std::bit_cast<uint32_t>(want)) << b.size() << " bytes " << code;
    }
}

// Identical floats from both byte orders, strides 1 and 2, and added onto zeros.
TEST(Decode, BigAndLittleEndianSourcesAgree) {
    std::mt19937 rng(7);
    const std::pair<size_t, t_atom_long> forms[] = {{1, kNone}, {1, kUnsn}, {1, kUlaw}, {1, kAlaw}, {2, kNone},
                                                    {3, kNone}, {4, kNone}, {4, kFl32}, {8, kFl64}};
    for (auto [s, code] : forms)
        for (size_t n : {7u, 2049u}) {
            Bytes le(n * s), be(n * s), pair(2 * n * s);
            for (auto &b : le) b = (unsigned char)rng();
            for (size_t i = 0; i < n; ++i) {
                if (code == kFl32 || code == kFl64) le[i * s + s - 1] &= 0x3F;  // finite, so == applies
                for (size_t k = 0; k < s; ++k) be[i * s + k] = pair[(2 * i + 1) * s + k] = le[i * s + s - 1 - k];
            }
            std::vector<float> a(n), b(n), c(n), sum(n, 0.0f);
            vector_samp2float(le.data(), a.data(), n, 1, 1, s, code, 0);
            vector_samp2float(be.data(), b.data(), n, 1, 1, s, code, 1);
            vector_samp2float(pair.data() + s, c.data(), n, 2, 1, s, code, 1);
            vector_samp2float_accum(le.data(), sum.data(), n, 1, 1, s, code, 0);
            EXPECT_EQ(std::memcmp(a.data(), b.data(), n * 4) | std::memcmp(a.data(), c.data(), n * 4), 0) << s;
            EXPECT_TRUE(sum == a) << "size " << s << " n " << n;
        }
}

// Channel k of frame f holds (10 * (k + 1) + f) / 128, so sums are exact. Fewer
// channels take the mean of neighbours, more repeat each; 3 on either side write nothing.
TEST(Chomp, EveryChannelPair) {
    const int frames = 9;
    for (short size : {1, 2})
        for (short sc : {1, 2, 3, 4})
            for (short dc : {1, 2, 3, 4}) {
                Bytes src(frames * sc * size, 0);
                for (int i = 0; i < frames * sc; ++i) src[i * size] = (unsigned char)(10 * (i % sc + 1) + i / sc);
                std::vector<float> dst(frames * dc + 1, kUnset);
                buffer_chomp(src.data(), dst.data(), frames, sc, dc, size, kNone, 1);
                if (sc == 3 || dc == 3) {
                    EXPECT_EQ(dst, std::vector<float>(dst.size(), kUnset)) << sc << "->" << dc;
                    continue;
                }
                const int group = sc > dc ? sc / dc : 1;
                for (int i = 0; i < frames * dc; ++i) {
                    float sum = 0.0f;
                    for (int k = (i % dc) * sc / dc, end = k + group; k < end; ++k)
                        sum += (10.0f * (k + 1) + i / dc) / 128;
                    EXPECT_EQ(dst[i], sum / (float)group) << sc << "->" << dc << " size " << size << " at " << i;
                }
                EXPECT_EQ(dst.back(), kUnset) << sc << "->" << dc << " wrote past the block";
            }
}

}  // namespace
