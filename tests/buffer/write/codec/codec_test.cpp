// The sample codecs: G.711 codes, byte order, stored samples to float and back, and
// the channel map; round trips through encoder and decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "buffer~/read/chomp.h"
#include "buffer~/write/ext_byteorder.h"
#include "buffer~/write/g711.h"
#include "buffer~/write/sampdecode.h"
#include "buffer~/write/sampencode.h"

namespace {

constexpr t_atom_long kNone = FOURCC('N', 'O', 'N', 'E'), kUnsn = FOURCC('U', 'N', 'S', 'N');
constexpr t_atom_long kFl32 = FOURCC('F', 'L', '3', '2'), kFl64 = FOURCC('F', 'L', '6', '4');
constexpr t_atom_long kUlaw = FOURCC('U', 'L', 'A', 'W'), kAlaw = FOURCC('A', 'L', 'A', 'W');
constexpr float kUnset = -7.25f;

using Bytes = std::vector<unsigned char>;

Bytes convert(const std::vector<float> &x, size_t size, t_atom_long code, short little) {
    Bytes out(x.size() * size + 1, 0xEE);
    buffer_convert(x.data(), out.data(), x.size(), size, code, little);
    EXPECT_EQ(out.back(), 0xEE) << "wrote past the last sample";
    out.pop_back();
    return out;
}

// Each segment's first magnitude and step (of 32768), as tables list them.
constexpr int kMuBase[8] = {128, 256, 512, 1024, 2048, 4096, 8192, 16384};
constexpr int kABase[8] = {0, 256, 512, 1024, 2048, 4096, 8192, 16384};
constexpr int kStep[8] = {8, 16, 32, 64, 128, 256, 512, 1024};

TEST(G711, EveryCodeDecodesToItsTableValueAndALawBack) {
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
        // A-law encodes every decoded value back to its code, but negative zero.
        const unsigned back = code == 0x55 ? 0xD5u : (unsigned)code;
        EXPECT_EQ(sf_alaw_encode(ALawDecode(code)), back) << code;
        EXPECT_EQ(convert({(float)ALawDecode(code)}, 1, kAlaw, 1)[0], back) << code;
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

// The mu-law encoder adds 132 before finding the segment, so its boundaries sit
// apart from the decoder's: checked against values, not as a round trip.
TEST(G711Encode, ValuesAndLimits) {
    const std::pair<int, unsigned> mu_law[] = {{3, 0x7F},    {4, 0x7E},     {123, 0x70},   {124, 0x6F},
                                               {-124, 0xEF}, {31611, 0x01}, {31612, 0x00}, {32700, 0x00}};
    for (auto [v, code] : mu_law) {
        const double x = (v + (v < 0 ? -0.5 : 0.5)) / 32767.0;  // truncates to v on the 16-bit scale
        EXPECT_EQ(sf_mulaw_encode(x), code) << v;
        EXPECT_EQ(convert({(float)x}, 1, kUlaw, 0)[0], code) << v;
    }
    EXPECT_EQ(sf_mulaw_encode(MuLawDecode(0x7F)), 0x6Fu) << "128/32768 lies in segment 1 once biased";
    // NaN is -1.0 to the encoders themselves, +1.0 to buffer_convert.
    for (auto [x, mu, a] : {std::tuple{3.0, 0x00u, 0xAAu}, {-INFINITY, 0x80u, 0x2Au}, {NAN, 0x80u, 0x2Au}})
        EXPECT_TRUE(sf_mulaw_encode(x) == mu && sf_alaw_encode(x) == a) << x;
    EXPECT_EQ(convert({NAN}, 1, kUlaw, 0), Bytes{0x00});
    EXPECT_EQ(convert({NAN}, 1, kAlaw, 0), Bytes{0xAA});
}

// Encoder scales 127, 32767, 2147385345 (truncated; 24 bits keep bits 8-31) differ on
// purpose from the decoder's 1/128, 1/32768, 1/2147450880. Each row gives the integer
// stored at 8, 16, 24 and 32 bits; it must come back over the decoder's divisor.
TEST(RoundTrip, IntegerEncodingsInBothByteOrders) {
    using N = std::array<int64_t, 4>;
    constexpr N kTop = {127, 32767, 8388224, 2147385345}, kBottom = {-127, -32767, -8388225, -2147385345};
    // clang-format off
    const std::pair<float, N> rows[] = {
        {1.0f, kTop}, {-1.0f, kBottom}, {1.5f, kTop}, {-7.0f, kBottom}, {INFINITY, kTop}, {-INFINITY, kBottom},
        {NAN, kTop}, {-NAN, kTop}, {0.0f, {}}, {1e-6f, {0, 0, 8, 2147}},
        {0.5f, {63, 16383, 4194112, 1073692672}}, {-0.5f, {-63, -16383, -4194112, -1073692672}},
        {0.3f, {38, 9830, 2516467, 644215629}}, {-0.3f, {-38, -9830, -2516468, -644215629}}};
    // clang-format on
    const double divisor[4] = {128.0, 32768.0, 8388480.0, 2147450880.0};
    std::vector<float> x(2 * std::size(rows) + 3);  // a remainder and passes of eight
    for (size_t i = 0; i < x.size(); ++i) x[i] = rows[i % std::size(rows)].first;
    for (size_t size = 1; size <= 4; ++size)
        for (short little : {0, 1}) {
            const Bytes b = convert(x, size, kNone, little);
            std::vector<float> back(x.size());
            vector_samp2float(b.data(), back.data(), x.size(), 1, 1, size, kNone, !little);
            for (size_t i = 0; i < x.size(); ++i) {
                const int64_t n = rows[i % std::size(rows)].second[size - 1];
                uint64_t u = 0;  // the stored integer, read in the order asked for
                for (size_t k = 0; k < size; ++k) u = u << 8 | b[i * size + (little ? size - 1 - k : k)];
                EXPECT_EQ((int64_t)(u << (64 - 8 * size)) >> (64 - 8 * size), n) << size << " bytes, x " << x[i];
                EXPECT_EQ(back[i], (float)(n / divisor[size - 1])) << size << " bytes, x " << x[i];
            }
            const float one[4] = {0.9921875f, 0.999969482421875f, 0.99996948f, 0.99996948f};
            EXPECT_EQ(back[0], one[size - 1]) << "+1.0 comes back at " << size << " bytes";
        }
}

// Float output is never limited and comes back bit for bit (8 bytes through double).
TEST(RoundTrip, FloatEncodingsAreExact) {
    const std::vector<float> x = {3.5f, -1e30f, INFINITY, std::bit_cast<float>(0x7FC01234u), -0.0f, 1e-40f};
    for (short little : {0, 1})
        for (auto [size, code, decode_as] :
             {std::array<t_atom_long, 3>{4, kFl32, kFl32}, {8, kNone, kFl64}}) {
            const Bytes b = convert(x, size, code, little);
            std::vector<float> back(x.size());
            vector_samp2float(b.data(), back.data(), x.size(), 1, 1, size, decode_as, !little);
            EXPECT_EQ(std::memcmp(back.data(), x.data(), x.size() * 4), 0) << "size " << size;
        }
    EXPECT_EQ(convert({2.5f}, 4, kFl32, 0), (Bytes{0x40, 0x20, 0, 0}));  // swap flag 0 writes big-endian
    EXPECT_EQ(convert({-3.0f}, 8, kNone, 1), (Bytes{0, 0, 0, 0, 0, 0, 0x08, 0xC0}));
    for (size_t size : {0u, 5u, 6u, 7u, 9u, 16u})
        EXPECT_EQ(convert({0.5f, 0.5f}, size, kNone, 0), Bytes(2 * size, 0xEE)) << "unsupported size " << size;
}

}  // namespace
