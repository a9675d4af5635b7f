#include "sampdecode.h"

#include <cstring>

#include "ext_byteorder.h"
#include "g711.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "stored byte orders are read for a little-endian host");

namespace {

using byte = unsigned char;

constexpr float k8 = 0.0078125f;            // 1/128
constexpr float k16 = 0.000030517578125f;   // 1/32768
constexpr double k32 = 1.0 / 2147450880.0;  // 24- and 32-bit: 1/(32768 * 65535), not 1/2^31
constexpr double kU8 = 0.0078125;

// One struct per stored form: its width, the value stored by vector_samp2float
// (get) and the sum vector_samp2float_accum forms (add). Where the accumulated
// sum is formed in double, wide() is the decoded value before rounding to single.

struct Int8 {
    static constexpr size_t bytes = 1;
    static float get(const byte *p) { return (float)(int8_t)p[0] * k8; }
    static float add(float d, const byte *p) { return d + get(p); }
};

template <bool BE>
struct Int16 {
    static constexpr size_t bytes = 2;
    static float get(const byte *p) {
        uint16_t u;
        std::memcpy(&u, p, 2);  // this form of the load is the one the compiler vectorizes
        if constexpr (BE) u = __builtin_bswap16(u);
        return (float)(int16_t)u * k16;
    }
    static float add(float d, const byte *p) { return (float)((double)d + (double)get(p)); }
};

// The three bytes are the top of a 32-bit word; the word passes through single
// precision before the double multiplication (exactly: it has 24 significant bits).
template <bool BE>
struct Int24 {
    static constexpr size_t bytes = 3;
    static double wide(const byte *p) {
        uint32_t u = BE ? (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8
                        : (uint32_t)p[2] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[0] << 8;
        return (double)(float)(int32_t)u * k32;
    }
    static float get(const byte *p) { return (float)wide(p); }
    static float add(float d, const byte *p) { return (float)((double)d + wide(p)); }
};

template <bool BE>
struct Int32 {
    static constexpr size_t bytes = 4;
    static double wide(const byte *p) {
        uint32_t u;
        if constexpr (BE) {
            u = codec_inline::load_be32(p);
        } else {
            std::memcpy(&u, p, 4);
        }
        return (double)(int32_t)u * k32;
    }
    static float get(const byte *p) { return (float)wide(p); }
    static float add(float d, const byte *p) { return (float)((double)d + wide(p)); }
};

struct Unsigned8 {
    static constexpr size_t bytes = 1;
    static float get(const byte *p) { return (float)((double)p[0] * kU8 - 1.0); }
    static float add(float d, const byte *p) { return (float)(((double)d - 1.0) + (double)p[0] * kU8); }
};

template <bool BE>
struct Float32 {
    static constexpr size_t bytes = 4;
    static float get(const byte *p) {
        if constexpr (BE) {
            return codec_inline::be_to_float32(p);
        } else {
            float f;
            std::memcpy(&f, p, 4);
            return f;
        }
    }
    static float add(float d, const byte *p) { return d + get(p); }
};

template <bool BE>
struct Float64 {
    static constexpr size_t bytes = 8;
    static double wide(const byte *p) {
        if constexpr (BE) {
            return codec_inline::be_to_float64(p);
        } else {
            double v;
            std::memcpy(&v, p, 8);
            return v;
        }
    }
    static float get(const byte *p) { return (float)wide(p); }
    static float add(float d, const byte *p) { return (float)((double)d + wide(p)); }
};

struct MuLaw {
    static constexpr size_t bytes = 1;
    static float get(const byte *p) { return (float)codec_inline::mulaw_decode(p[0]); }
    static float add(float d, const byte *p) { return d + get(p); }
};

struct ALaw {
    static constexpr size_t bytes = 1;
    static float get(const byte *p) { return (float)codec_inline::alaw_decode(p[0]); }
    static float add(float d, const byte *p) { return d + get(p); }
};

template <class F, bool Add>
inline void put(float &d, const byte *p) {
    if constexpr (Add) {
        d = F::add(d, p);
    } else {
        d = F::get(p);
    }
}

// Both strides 1: remainder first, then passes of eight that the compiler turns
// into vector code (the width of each pass is a compile-time constant).
template <class F, bool Add>
void run_contiguous(const byte *__restrict src, float *__restrict dst, size_t n) {
    size_t i = 0;
    for (; i < (n & 7); ++i) put<F, Add>(dst[i], src + i * F::bytes);
    for (; i < n; i += 8)
        for (size_t j = 0; j < 8; ++j) put<F, Add>(dst[i + j], src + (i + j) * F::bytes);
}

template <class F, bool Add>
void run(const byte *src, float *dst, size_t n, size_t srcstride, size_t dststride) {
    if (srcstride == 1 && dststride == 1) {
        run_contiguous<F, Add>(src, dst, n);
        return;
    }
    const size_t step = srcstride * F::bytes;
    for (size_t i = 0; i < n; ++i, src += step, dst += dststride) put<F, Add>(*dst, src);
}

template <template <bool> class F, bool Add>
void run_ordered(const byte *src, float *dst, size_t n, size_t srcstride, size_t dststride, bool big) {
    if (big)
        run<F<true>, Add>(src, dst, n, srcstride, dststride);
    else
        run<F<false>, Add>(src, dst, n, srcstride, dststride);
}

// Chooses the loop once per call. Returns false for an unknown code or size.
template <bool Add>
bool decode(const byte *src, float *dst, size_t n, size_t srcstride, size_t dststride, t_atom_ulong sampsize,
            t_atom_long encoding, bool big) {
    switch (encoding) {
        case FOURCC('N', 'O', 'N', 'E'):
            switch (sampsize) {
                case 1:
                    run<Int8, Add>(src, dst, n, srcstride, dststride);
                    return true;
                case 2:
                    run_ordered<Int16, Add>(src, dst, n, srcstride, dststride, big);
                    return true;
                case 3:
                    run_ordered<Int24, Add>(src, dst, n, srcstride, dststride, big);
                    return true;
                case 4:
                    run_ordered<Int32, Add>(src, dst, n, srcstride, dststride, big);
                    return true;
                default:
                    return false;
            }
        case FOURCC('U', 'N', 'S', 'N'):
            run<Unsigned8, Add>(src, dst, n, srcstride, dststride);
            return true;
        case FOURCC('F', 'L', '3', '2'):
            run_ordered<Float32, Add>(src, dst, n, srcstride, dststride, big);
            return true;
        case FOURCC('F', 'L', '6', '4'):
            run_ordered<Float64, Add>(src, dst, n, srcstride, dststride, big);
            return true;
        case FOURCC('U', 'L', 'A', 'W'):
            run<MuLaw, Add>(src, dst, n, srcstride, dststride);
            return true;
        case FOURCC('A', 'L', 'A', 'W'):
            run<ALaw, Add>(src, dst, n, srcstride, dststride);
            return true;
        default:
            return false;
    }
}

}  // namespace

void vector_samp2float(const unsigned char *src, float *dst, t_atom_ulong count, t_atom_ulong srcstride,
                       t_atom_ulong dststride, t_atom_ulong sampsize, t_atom_long encoding, t_atom_long swap) {
    if (decode<false>(src, dst, count, srcstride, dststride, sampsize, encoding, swap != 0)) return;
    for (t_atom_ulong i = 0; i < count; ++i) dst[i * dststride] = 0.0f;
}

void vector_samp2float_accum(const unsigned char *src, float *dst, t_atom_ulong count, t_atom_ulong srcstride,
                             t_atom_ulong dststride, t_atom_ulong sampsize, t_atom_long encoding, t_atom_long swap) {
    decode<true>(src, dst, count, srcstride, dststride, sampsize, encoding, swap != 0);
}

void vector_float_scale(float *samples, t_atom_ulong count, t_atom_ulong stride, float gain) {
    for (t_atom_ulong i = 0; i < count; ++i, samples += stride) *samples *= gain;
}

void vector_float_copy(const float *src, float *dst, t_atom_ulong count, t_atom_ulong srcstride,
                       t_atom_ulong dststride) {
    // Through an integer so that every bit pattern, signalling NaNs included, arrives unchanged.
    for (t_atom_ulong i = 0; i < count; ++i, src += srcstride, dst += dststride) {
        uint32_t u;
        std::memcpy(&u, src, 4);
        std::memcpy(dst, &u, 4);
    }
}
