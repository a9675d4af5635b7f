// G.711 companding and byte-order primitives.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "buffer~/write/ext_byteorder.h"
#include "buffer~/write/g711.h"

namespace {

uint32_t bits_of(float f) { return std::bit_cast<uint32_t>(f); }

// The linear magnitude each segment starts at and its step, written out as the
// codes' tables rather than derived from the decoder's shifts.
constexpr int kMuBase[8] = {128, 256, 512, 1024, 2048, 4096, 8192, 16384};
constexpr int kMuStep[8] = {8, 16, 32, 64, 128, 256, 512, 1024};
constexpr int kABase[8] = {0, 256, 512, 1024, 2048, 4096, 8192, 16384};
constexpr int kAStep[8] = {16, 16, 32, 64, 128, 256, 512, 1024};

TEST(G711, NumBitsIsTheBitLengthOfEveryByte) {
    for (unsigned i = 0; i < 256; ++i) EXPECT_EQ(g711NumBits[i], std::bit_width(i)) << i;
    EXPECT_EQ(kBufferEpsilon, 1e-21);
}

TEST(G711, MuLawDecodesEveryCodeToItsTableValue) {
    for (int code = 0; code < 256; ++code) {
        const int inv = ~code & 0xFF, e = (inv >> 4) & 7, m = inv & 15;
        const double mag = kMuBase[e] + m * kMuStep[e];
        const double want = (code & 0x80) ? -mag / 32768.0 : mag / 32768.0;  // top bit clear is positive
        EXPECT_EQ(MuLawDecode(code), want) << code;
    }
    EXPECT_EQ(MuLawDecode(0x00), 0.96875);
    EXPECT_EQ(MuLawDecode(0x80), -0.96875);
    EXPECT_EQ(MuLawDecode(0x7F), 0.00390625);  // the encoder's bias is not removed
    EXPECT_EQ(MuLawDecode(0xFF), -0.00390625);
    EXPECT_EQ(MuLawDecode(0x17F), MuLawDecode(0x7F)) << "only the low 8 bits count";
}

TEST(G711, ALawDecodesEveryCodeToItsTableValue) {
    for (int code = 0; code < 256; ++code) {
        const int x = code ^ 0x55, e = (x >> 4) & 7, m = x & 15;
        const double mag = kABase[e] + m * kAStep[e];
        const double got = ALawDecode(code);
        EXPECT_EQ(std::fabs(got), mag / 32768.0) << code;
        EXPECT_EQ(std::signbit(got), !(code & 0x80)) << code;  // top bit set is positive
    }
    EXPECT_EQ(ALawDecode(0xAA), 0.96875);
    EXPECT_EQ(ALawDecode(0xD5), 0.0);
    EXPECT_FALSE(std::signbit(ALawDecode(0xD5)));
    EXPECT_TRUE(std::signbit(ALawDecode(0x55))) << "0x55 is a negative zero";
}

TEST(G711, ALawEncodeAfterDecodeGivesEveryCodeBackButNegativeZero) {
    for (int code = 0; code < 256; ++code) {
        const unsigned want = code == 0x55 ? 0xD5u : (unsigned)code;
        EXPECT_EQ(sf_alaw_encode(ALawDecode(code)), want) << code;
    }
    // Each decoded value is the lower edge of its interval.
    EXPECT_EQ(ALawDecode(sf_alaw_encode(300.0 / 32767.0)), 304.0 / 32768.0);
    EXPECT_EQ(ALawDecode(sf_alaw_encode(9000.0 / 32767.0)), 8704.0 / 32768.0);
}

TEST(G711, EncodersLimitAndPlaceTheSignBit) {
    EXPECT_EQ(sf_mulaw_encode(0.0), 0x7Fu);
    EXPECT_EQ(sf_mulaw_encode(1.0), 0x00u);
    EXPECT_EQ(sf_mulaw_encode(-1.0), 0x80u);
    EXPECT_EQ(sf_mulaw_encode(2.0), sf_mulaw_encode(1.0));
    EXPECT_EQ(sf_mulaw_encode(-2.0), sf_mulaw_encode(-1.0));
    EXPECT_EQ(sf_mulaw_encode(NAN), 0x80u) << "NaN counts as -1.0 here";
    EXPECT_EQ(sf_mulaw_encode(INFINITY), 0x00u);
    EXPECT_EQ(sf_alaw_encode(0.0), 0xD5u);
    EXPECT_EQ(sf_alaw_encode(1.0), 0xAAu);
    EXPECT_EQ(sf_alaw_encode(-1.0), 0x2Au);
    EXPECT_EQ(sf_alaw_encode(3.0), 0xAAu);
    EXPECT_EQ(sf_alaw_encode(-INFINITY), 0x2Au);
    EXPECT_EQ(sf_alaw_encode(NAN), 0x2Au);
}

// The mu-law encoder adds 132 before finding the segment; its boundaries are
// therefore shifted against the decoder's, which is why this is no round trip.
TEST(G711, MuLawEncoderSegmentsIncludeTheBias) {
    auto enc = [](double v) { return sf_mulaw_encode((v + (v < 0 ? -0.5 : 0.5)) / 32767.0); };  // truncates to v
    EXPECT_EQ(enc(3), 0x7Fu);    // 135: segment 0, mantissa 0
    EXPECT_EQ(enc(4), 0x7Eu);    // 136: mantissa 1
    EXPECT_EQ(enc(123), 0x70u);  // 255: last of segment 0
    EXPECT_EQ(enc(124), 0x6Fu);  // 256: first of segment 1
    EXPECT_EQ(enc(-124), 0xEFu);
    EXPECT_EQ(enc(31611), 0x01u);  // 31743: segment 7, mantissa 14
    EXPECT_EQ(enc(31612), 0x00u);  // 31744: mantissa 15
    EXPECT_EQ(enc(32700), 0x00u);  // limited at 32767
    EXPECT_EQ(sf_mulaw_encode(MuLawDecode(0x7F)), 0x6Fu) << "128/32768 lies in segment 1 once biased";
}

TEST(ByteOrder, SwapsReverseBytes) {
    unsigned char b2[2] = {1, 2}, b4[4] = {1, 2, 3, 4}, b8[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    byteorder_swap_pointer_16(b2);
    byteorder_swap_pointer_32(b4);
    byteorder_swap_pointer_64(b8);
    EXPECT_EQ(b2[0], 2);
    EXPECT_EQ(b2[1], 1);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(b4[i], 4 - i);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(b8[i], 8 - i);

    unsigned char src[9] = {0, 1, 2, 3, 4, 5, 6, 7, 8}, dst[9] = {};
    byteorder_swap_pointer_16_copy(src + 1, dst + 1);  // odd addresses: no alignment needed
    EXPECT_EQ(dst[1], 2);
    EXPECT_EQ(dst[2], 1);
    byteorder_swap_pointer_32_copy(src + 1, dst + 1);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(dst[1 + i], 4 - i);
    byteorder_swap_pointer_64_copy(src + 1, dst + 1);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(dst[1 + i], 8 - i);
    EXPECT_EQ(dst[0], 0) << "wrote outside its 8 bytes";
}

TEST(ByteOrder, FloatSwapsKeepEveryBitPattern) {
    // Includes patterns whose reversal is a signalling NaN or an infinity.
    const uint32_t pats[] = {0x3F800000u, 0x7FA00001u, 0xFFC00001u, 0x0100807Fu, 0x0000807Fu, 0x80000000u};
    for (uint32_t p : pats) {
        float f = std::bit_cast<float>(p);
        float once = byteorder_swapf32(f);
        EXPECT_EQ(bits_of(once), __builtin_bswap32(p));
        EXPECT_EQ(bits_of(byteorder_swapf32(once)), p);
    }
    const uint64_t d = 0x7FF0000000000001ull;  // signalling NaN
    double once = byteorder_swapf64(std::bit_cast<double>(d));
    EXPECT_EQ(std::bit_cast<uint64_t>(once), __builtin_bswap64(d));
    EXPECT_EQ(std::bit_cast<uint64_t>(byteorder_swapf64(once)), d);
}

TEST(ByteOrder, BigEndianReadsFromUnalignedMemory) {
    const unsigned char one32[] = {0xEE, 0x3F, 0x80, 0x00, 0x00};
    EXPECT_EQ(byteorder_swap_pointer_32_to_float32(one32 + 1), 1.0f);
    const unsigned char d[] = {0xEE, 0xC0, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18};
    EXPECT_EQ(byteorder_swap_pointer_64_to_float64(d + 1), -3.141592653589793);
}

}  // namespace

namespace {

// Code outside the plug-in finds the library by these exact unmangled names.
TEST(Module, ExportsTheCodecLibrary) {
    void *module = dlopen(ORVO_TEST_PLUGIN_DIR "/buffer~.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    for (const char *name : {"MuLawDecode",
                             "ALawDecode",
                             "sf_mulaw_encode",
                             "sf_alaw_encode",
                             "g711NumBits",
                             "kBufferEpsilon",
                             "byteorder_swapf32",
                             "byteorder_swapf64",
                             "byteorder_swap_pointer_16",
                             "byteorder_swap_pointer_32",
                             "byteorder_swap_pointer_64",
                             "byteorder_swap_pointer_16_copy",
                             "byteorder_swap_pointer_32_copy",
                             "byteorder_swap_pointer_64_copy",
                             "byteorder_swap_pointer_32_to_float32",
                             "byteorder_swap_pointer_64_to_float64",
                             "vector_samp2float",
                             "vector_samp2float_accum",
                             "vector_float_scale",
                             "vector_float_copy",
                             "buffer_chomp",
                             "buffer_convert",
                             "buffer_createfile",
                             "buffer_writesamples"})
        EXPECT_NE(dlsym(module, name), nullptr) << name;
    const auto *eps = static_cast<const double *>(dlsym(module, "kBufferEpsilon"));
    ASSERT_NE(eps, nullptr);
    EXPECT_EQ(*eps, 1e-21);
    dlclose(module);
}

}  // namespace
