// G.711 companding (mu-law "ULAW" and A-law "ALAW") on a 16-bit linear scale.
//
// A code is one byte: sign (bit 7), segment (bits 6-4), mantissa (bits 3-0),
// stored inverted (all bits for mu-law, XOR 0x55 for A-law). Decoders return
// magnitude / 32768; encoders map -1.0..1.0 onto -32767..32767. This mu-law's
// top bit has the reverse sense of A-law's: clear means positive, so 0.0
// encodes as 0x7F. Pure functions. [any thread]
#pragma once
#include "../host/orvo_types.h"

ORVO_BEGIN_C

// Decoded value of the code in the low 8 bits of code, -0.96875..0.96875.
// The mu-law decoder does not remove the encoder's bias of 132: 0x7F gives +128/32768.
ORVO_EXPORT double MuLawDecode(int code);
// A-law: 0xD5 gives 0.0 and 0x55 gives -0.0.
ORVO_EXPORT double ALawDecode(int code);

// Code byte (low 8 bits) of a sample; above 1.0 counts as 1.0, below -1.0 (and NaN) as -1.0.
ORVO_EXPORT unsigned int sf_mulaw_encode(double sample);
ORVO_EXPORT unsigned int sf_alaw_encode(double sample);

// Bit length of each byte value (0 for 0, 8 for 128..255): the encoders' segment lookup.
extern __attribute__((visibility("default"))) const unsigned char g711NumBits[256];

// The small-term limit shared with the window functions.
extern __attribute__((visibility("default"))) const double kBufferEpsilon;

ORVO_END_C

#ifdef __cplusplus
// The same algorithms inline, for the codec's per-sample loops.
namespace codec_inline {

constexpr double kG711Pos = 1.0 / 32768.0;
constexpr double kG711Neg = -1.0 / 32768.0;

inline double mulaw_decode(unsigned code) {
    unsigned c = ~code & 0xFFu;
    unsigned e = (c >> 4) & 7u, m = c & 15u;
    return (double)((16u + m) << (e + 3)) * ((code & 0x80u) ? kG711Neg : kG711Pos);
}

inline double alaw_decode(unsigned code) {
    unsigned c = (code ^ 0x55u) & 0xFFu;
    unsigned e = (c >> 4) & 7u, m = c & 15u;
    unsigned mag = e ? (16u + m) << (e + 3) : m << 4;
    return (double)mag * ((code & 0x80u) ? kG711Pos : kG711Neg);
}

// The sample on the encoders' 16-bit scale, truncated toward zero.
inline int g711_linear(double x) {
    if (x > 1.0) return 32767;
    double c = x >= -1.0 ? x : -1.0;  // NaN fails the comparison and counts as -1.0
    return (int)(c * 32767.0);
}

inline unsigned mulaw_encode(double x) {
    int v = g711_linear(x);
    unsigned s = v >= 0 ? 0x80u : 0u;
    unsigned mag = (unsigned)(v < 0 ? -v : v) + 132u;
    if (mag > 32767u) mag = 32767u;
    unsigned e = g711NumBits[mag >> 7] - 1u;
    unsigned m = (mag >> (e + 3)) & 0x0Fu;
    return ~(e << 4 | s | m) & 0xFFu;
}

inline unsigned alaw_encode(double x) {
    int v = g711_linear(x);
    unsigned s = v >= 0 ? 0x80u : 0u;
    unsigned mag = (unsigned)(v < 0 ? -v : v) + 8u;
    if (mag > 32767u) mag = 32767u;
    unsigned e = g711NumBits[(mag >> 8) & 0x7Fu];
    unsigned m = (e ? mag >> (e + 3) : mag >> 4) & 0x0Fu;
    return ((e << 4 | s | m) ^ 0x55u) & 0xFFu;
}

}  // namespace codec_inline
#endif
