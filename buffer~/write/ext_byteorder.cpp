#include "ext_byteorder.h"

#include <cstring>

// Swaps go through integer copies so that NaN patterns and unaligned addresses
// pass through bit for bit (no arithmetic ever touches a reversed value).

float byteorder_swapf32(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    u = __builtin_bswap32(u);
    std::memcpy(&f, &u, 4);
    return f;
}

double byteorder_swapf64(double d) {
    uint64_t u;
    std::memcpy(&u, &d, 8);
    u = __builtin_bswap64(u);
    std::memcpy(&d, &u, 8);
    return d;
}

void byteorder_swap_pointer_16(void *p) {
    uint16_t u;
    std::memcpy(&u, p, 2);
    u = __builtin_bswap16(u);
    std::memcpy(p, &u, 2);
}

void byteorder_swap_pointer_32(void *p) {
    uint32_t u;
    std::memcpy(&u, p, 4);
    u = __builtin_bswap32(u);
    std::memcpy(p, &u, 4);
}

void byteorder_swap_pointer_64(void *p) {
    uint64_t u;
    std::memcpy(&u, p, 8);
    u = __builtin_bswap64(u);
    std::memcpy(p, &u, 8);
}

void byteorder_swap_pointer_16_copy(const void *src, void *dst) {
    uint16_t u;
    std::memcpy(&u, src, 2);
    u = __builtin_bswap16(u);
    std::memcpy(dst, &u, 2);
}

void byteorder_swap_pointer_32_copy(const void *src, void *dst) {
    uint32_t u;
    std::memcpy(&u, src, 4);
    u = __builtin_bswap32(u);
    std::memcpy(dst, &u, 4);
}

void byteorder_swap_pointer_64_copy(const void *src, void *dst) {
    uint64_t u;
    std::memcpy(&u, src, 8);
    u = __builtin_bswap64(u);
    std::memcpy(dst, &u, 8);
}

float byteorder_swap_pointer_32_to_float32(const void *p) {
    return codec_inline::be_to_float32(static_cast<const unsigned char *>(p));
}

double byteorder_swap_pointer_64_to_float64(const void *p) {
    return codec_inline::be_to_float64(static_cast<const unsigned char *>(p));
}
