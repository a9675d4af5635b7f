// Byte-order reversal for 16-, 32- and 64-bit values, and big-endian reads of
// floats from unaligned memory. Pure functions: the in-place swaps touch only
// the bytes they are given; a copying swap's source and destination must not
// overlap. [any thread]
#pragma once
#include <stdint.h>
#include <string.h>

#include "../host/orvo_types.h"

ORVO_BEGIN_C

// The float / double whose bytes are those of the argument in reverse order.
ORVO_EXPORT float byteorder_swapf32(float f);
ORVO_EXPORT double byteorder_swapf64(double d);

// Reverse 2, 4 or 8 bytes in place.
ORVO_EXPORT void byteorder_swap_pointer_16(void *p);
ORVO_EXPORT void byteorder_swap_pointer_32(void *p);
ORVO_EXPORT void byteorder_swap_pointer_64(void *p);

// Write the 2, 4 or 8 bytes of src to dst in reverse order.
ORVO_EXPORT void byteorder_swap_pointer_16_copy(const void *src, void *dst);
ORVO_EXPORT void byteorder_swap_pointer_32_copy(const void *src, void *dst);
ORVO_EXPORT void byteorder_swap_pointer_64_copy(const void *src, void *dst);

// The float / double stored big-endian (first byte most significant) at p, any
// alignment, whatever the host's own byte order.
ORVO_EXPORT float byteorder_swap_pointer_32_to_float32(const void *p);
ORVO_EXPORT double byteorder_swap_pointer_64_to_float64(const void *p);

ORVO_END_C

#ifdef __cplusplus
// The same operations inline, for the codec's own per-sample loops: a call
// across files per sample would keep the loops from vectorizing.
namespace codec_inline {

inline uint32_t load_be32(const unsigned char *b) {
    return (uint32_t)b[0] << 24 | (uint32_t)b[1] << 16 | (uint32_t)b[2] << 8 | (uint32_t)b[3];
}

inline uint64_t load_be64(const unsigned char *b) { return (uint64_t)load_be32(b) << 32 | load_be32(b + 4); }

inline float be_to_float32(const unsigned char *b) {
    uint32_t u = load_be32(b);
    float f;
    memcpy(&f, &u, 4);
    return f;
}

inline double be_to_float64(const unsigned char *b) {
    uint64_t u = load_be64(b);
    double d;
    memcpy(&d, &u, 8);
    return d;
}

}  // namespace codec_inline
#endif
