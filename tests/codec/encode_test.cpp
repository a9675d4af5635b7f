// The sample encoder, and round trips through encoder and decoder.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "buffer~/write/g711.h"
#include "buffer~/write/sampdecode.h"
#include "buffer~/write/sampencode.h"

namespace {

constexpr t_atom_long kNone = FOURCC('N', 'O', 'N', 'E');
constexpr t_atom_long kFl32 = FOURCC('F', 'L', '3', '2');
constexpr t_atom_long kUlaw = FOURCC('U', 'L', 'A', 'W');
constexpr t_atom_long kAlaw = FOURCC('A', 'L', 'A', 'W');

using Bytes = std::vector<unsigned char>;

Bytes convert(std::vector<float> x, size_t size, t_atom_long code, short little) {
    Bytes out(x.size() * size + 1, 0xEE);
    buffer_convert(x.data(), out.data(), x.size(), size, code, little);
    EXPECT_EQ(out.back(), 0xEE) << "wrote past the last sample";
    out.pop_back();
    return out;
}

// The integer a sample of the given size became (assembled as the encoder's byte order says).
int64_t stored(const Bytes &b, size_t i, size_t size, bool little) {
    uint64_t u = 0;
    for (size_t k = 0; k < size; ++k) u = u << 8 | b[i * size + (little ? size - 1 - k : k)];
    const int shift = 64 - 8 * (int)size;
    return (int64_t)(u << shift) >> shift;
}

TEST(Convert, DocumentedBytes) {
    EXPECT_EQ(convert({1.0f, 0.5f, -1.0f}, 2, kNone, 0), (Bytes{0x7F, 0xFF, 0x3F, 0xFF, 0x80, 0x01}));
    EXPECT_EQ(convert({1.0f, 0.5f, -1.0f}, 2, kNone, 1), (Bytes{0xFF, 0x7F, 0xFF, 0x3F, 0x01, 0x80}));
    EXPECT_EQ(convert({1.0f, 2.5f}, 4, kFl32, 0), (Bytes{0x3F, 0x80, 0, 0, 0x40, 0x20, 0, 0}));
    EXPECT_EQ(convert({2.5f}, 4, kFl32, 1), (Bytes{0, 0, 0x20, 0x40}));
    EXPECT_EQ(convert({-3.0f}, 8, kNone, 0), (Bytes{0xC0, 0x08, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(convert({-3.0f}, 8, kFl32, 1), (Bytes{0, 0, 0, 0, 0, 0, 0x08, 0xC0}));
    EXPECT_EQ(convert({0.0f}, 1, kUlaw, 0), Bytes{0x7F});
    EXPECT_EQ(convert({0.0f}, 1, kAlaw, 0), Bytes{0xD5});
    EXPECT_EQ(convert({0.5f, -0.5f}, 1, kNone, 0), (Bytes{63, (unsigned char)-63}));
    // 24-bit: bits 8-31 of the 32-bit product, least significant first when little.
    EXPECT_EQ(convert({1.0f, -1.0f}, 3, kNone, 1), (Bytes{0x80, 0xFE, 0x7F, 0x7F, 0x01, 0x80}));
    EXPECT_EQ(convert({1.0f}, 3, kNone, 0), (Bytes{0x7F, 0xFE, 0x80}));
}

TEST(Convert, IntegerScalesAndLimits) {
    struct Case {
        size_t size;
        int64_t plus, minus;
    };
    for (Case c : {Case{1, 127, -127}, {2, 32767, -32767}, {3, 8388224, -8388225}, {4, 2147385345, -2147385345}}) {
        for (short little : {0, 1}) {
            const Bytes b = convert({1.0f, -1.0f, 1.5f, -7.0f, INFINITY, -INFINITY, NAN, -NAN}, c.size, kNone, little);
            const int64_t want[] = {c.plus, c.minus, c.plus, c.minus, c.plus, c.minus, c.plus, c.plus};
            for (size_t i = 0; i < 8; ++i)
                EXPECT_EQ(stored(b, i, c.size, little), want[i]) << "size " << c.size << " sample " << i;
        }
    }
    EXPECT_EQ(convert({NAN, -NAN, 9.0f}, 1, kUlaw, 0), (Bytes{0x00, 0x00, 0x00}));
    EXPECT_EQ(convert({NAN, -9.0f}, 1, kAlaw, 0), (Bytes{0xAA, 0x2A}));
}

TEST(Convert, FloatOutputIsNeverLimited) {
    const float nan = std::bit_cast<float>(0x7FC01234u);
    const Bytes b = convert({3.5f, -1e30f, nan}, 4, kFl32, 1);
    std::vector<float> back(3);
    std::memcpy(back.data(), b.data(), 12);
    EXPECT_EQ(back[0], 3.5f);
    EXPECT_EQ(back[1], -1e30f);
    EXPECT_EQ(std::bit_cast<uint32_t>(back[2]), 0x7FC01234u);
    const Bytes d = convert({-1e30f, INFINITY}, 8, kNone, 1);
    double v[2];
    std::memcpy(v, d.data(), 16);
    EXPECT_EQ(v[0], (double)-1e30f);
    EXPECT_EQ(v[1], INFINITY);
}

TEST(Convert, UnsupportedSizesWriteNothing) {
    for (size_t size : {0u, 5u, 6u, 7u, 9u, 16u}) {
        const Bytes b = convert({0.5f, 0.5f}, size, kNone, 0);
        for (unsigned char c : b) ASSERT_EQ(c, 0xEE) << "size " << size;
    }
}

// A long block (remainder plus passes) encodes exactly like one sample at a time.
TEST(Convert, BlocksMatchSingleSamples) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> dist(-1.2f, 1.2f);
    std::vector<float> x(2051);
    for (auto &f : x) f = dist(rng);
    x[5] = NAN;
    for (auto [size, code] : {std::pair<size_t, t_atom_long>{1, kNone},
                              {1, kUlaw},
                              {1, kAlaw},
                              {2, kNone},
                              {3, kNone},
                              {4, kNone},
                              {4, kFl32},
                              {8, kNone}}) {
        for (short little : {0, 1}) {
            const Bytes all = convert(x, size, code, little);
            Bytes one(size);
            for (size_t i = 0; i < x.size(); ++i) {
                buffer_convert(&x[i], one.data(), 1, size, code, little);
                ASSERT_EQ(std::memcmp(one.data(), all.data() + i * size, size), 0)
                    << "size " << size << " sample " << i;
            }
        }
    }
}

TEST(Convert, GoesThroughTheG711Encoders) {
    for (int i = -1100; i <= 1100; ++i) {
        const float x = (float)i / 1000.0f;
        EXPECT_EQ(convert({x}, 1, kUlaw, 0)[0], (unsigned char)sf_mulaw_encode(x)) << x;
        EXPECT_EQ(convert({x}, 1, kAlaw, 1)[0], (unsigned char)sf_alaw_encode(x)) << x;
    }
    for (int code = 0; code < 256; ++code)
        EXPECT_EQ(convert({(float)ALawDecode(code)}, 1, kAlaw, 0)[0], (unsigned char)(code == 0x55 ? 0xD5 : code))
            << code;
}

// Encoder and decoder scales differ on purpose (127/32767/2147385345 against
// 128/32768/2147450880), so a round trip gives exactly what the two make.
TEST(RoundTrip, IntegerEncodingsInBothByteOrders) {
    const double k32 = 1.0 / 2147450880.0;
    std::vector<float> x = {1.0f, -1.0f, 0.5f, -0.25f, 0.0f, 1e-6f, 0.123456f, -0.987654f, 0.99999f};
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (int i = 0; i < 300; ++i) x.push_back(dist(rng));
    for (size_t size : {1u, 2u, 3u, 4u}) {
        for (short little : {0, 1}) {
            const Bytes b = convert(x, size, kNone, little);
            std::vector<float> back(x.size());
            vector_samp2float(b.data(), back.data(), x.size(), 1, 1, size, kNone, little ? 0 : 1);
            for (size_t i = 0; i < x.size(); ++i) {
                const double c = x[i];
                float want;
                switch (size) {
                    case 1:
                        want = (float)(int)(c * 127.0) * 0.0078125f;
                        break;
                    case 2:
                        want = (float)(int)(c * 32767.0) * 0.000030517578125f;
                        break;
                    case 3:
                        want = (float)((double)(((int64_t)(c * 2147385345.0) >> 8) * 256) * k32);
                        break;
                    default:
                        want = (float)((double)(int64_t)(c * 2147385345.0) * k32);
                        break;
                }
                ASSERT_EQ(back[i], want) << "size " << size << " little " << little << " x " << x[i];
            }
            // Full scale does not come back as 1.0.
            const float one[] = {0.9921875f, 0.999969482421875f, 0.99996948f, 0.999969482421875f};
            EXPECT_EQ(back[0], one[size - 1]) << "size " << size;
        }
    }
}

TEST(RoundTrip, FloatEncodingsAreExact) {
    std::vector<float> x = {1.0f, -2.5f, 1e-30f, 3.4e38f, -0.0f};
    for (short little : {0, 1}) {
        for (auto [size, code, dcode] :
             {std::tuple<size_t, t_atom_long, t_atom_long>{4, kFl32, kFl32}, {8, kNone, FOURCC('F', 'L', '6', '4')}}) {
            const Bytes b = convert(x, size, code, little);
            std::vector<float> back(x.size());
            vector_samp2float(b.data(), back.data(), x.size(), 1, 1, size, dcode, little ? 0 : 1);
            ASSERT_EQ(std::memcmp(back.data(), x.data(), x.size() * 4), 0) << "size " << size;
        }
    }
}

}  // namespace
