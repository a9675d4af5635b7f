// The G.711 encoders, the sample encoder, and round trips through encoder and decoder.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <tuple>
#include <vector>

#include "buffer~/write/g711.h"
#include "buffer~/write/sampdecode.h"
#include "buffer~/write/sampencode.h"

namespace {

constexpr t_atom_long kNone = FOURCC('N', 'O', 'N', 'E'), kFl32 = FOURCC('F', 'L', '3', '2');
constexpr t_atom_long kUlaw = FOURCC('U', 'L', 'A', 'W'), kAlaw = FOURCC('A', 'L', 'A', 'W');

using Bytes = std::vector<unsigned char>;

Bytes convert(const std::vector<float> &x, size_t size, t_atom_long code, short little) {
    Bytes out(x.size() * size + 1, 0xEE);
    buffer_convert(x.data(), out.data(), x.size(), size, code, little);
    EXPECT_EQ(out.back(), 0xEE) << "wrote past the last sample";
    out.pop_back();
    return out;
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

TEST(G711Encode, ALawEncodeAfterDecodeGivesEveryCodeButNegativeZero) {
    for (int code = 0; code < 256; ++code) {
        const unsigned want = code == 0x55 ? 0xD5u : (unsigned)code;
        EXPECT_EQ(sf_alaw_encode(ALawDecode(code)), want) << code;
        EXPECT_EQ(convert({(float)ALawDecode(code)}, 1, kAlaw, 1)[0], want) << code;
    }
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
             {std::array<t_atom_long, 3>{4, kFl32, kFl32}, {8, kNone, FOURCC('F', 'L', '6', '4')}}) {
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
