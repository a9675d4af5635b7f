#include "sampencode.h"

#include <cstring>

#include "../host/orvo_memory.h"
#include "../host/orvo_symbol.h"
#include "g711.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "stored byte orders are built for a little-endian host");

namespace {

using byte = unsigned char;

constexpr t_atom_long kBlockSamples = 8192;
// 127, 32767 and 32767 * 65535: deliberately one step short of the full range.
constexpr double kScale8 = 127.0;
constexpr double kScale16 = 32767.0;
constexpr double kScale32 = 2147385345.0;

// Above 1.0 and NaN give 1.0 (NaN fails the first comparison), below -1.0 gives -1.0.
inline double limit(float x) {
    double c = x;
    if (!(c <= 1.0)) return 1.0;
    return c < -1.0 ? -1.0 : c;
}

// One struct per stored form: its width and how one sample is written. LE is
// the byte order written (the flag's sense here is the reverse of the decoders').

struct Lin8 {
    static constexpr size_t bytes = 1;
    static void put(byte *d, float x) { d[0] = (byte)(int8_t)(int)(limit(x) * kScale8); }
};

struct MuLaw8 {
    static constexpr size_t bytes = 1;
    static void put(byte *d, float x) { d[0] = (byte)codec_inline::mulaw_encode(limit(x)); }
};

struct ALaw8 {
    static constexpr size_t bytes = 1;
    static void put(byte *d, float x) { d[0] = (byte)codec_inline::alaw_encode(limit(x)); }
};

template <bool LE>
struct Lin16 {
    static constexpr size_t bytes = 2;
    static void put(byte *d, float x) {
        uint16_t u = (uint16_t)(int16_t)(int)(limit(x) * kScale16);
        if constexpr (!LE) u = __builtin_bswap16(u);
        std::memcpy(d, &u, 2);
    }
};

template <bool LE>
struct Lin24 {
    static constexpr size_t bytes = 3;
    static void put(byte *d, float x) {
        int64_t w = (int64_t)(limit(x) * kScale32);
        byte lo = (byte)(w >> 8), mid = (byte)(w >> 16), hi = (byte)(w >> 24);
        d[0] = LE ? lo : hi;
        d[1] = mid;
        d[2] = LE ? hi : lo;
    }
};

template <bool LE>
struct Lin32 {
    static constexpr size_t bytes = 4;
    static void put(byte *d, float x) {
        uint32_t u = (uint32_t)(int32_t)(limit(x) * kScale32);
        if constexpr (!LE) u = __builtin_bswap32(u);
        std::memcpy(d, &u, 4);
    }
};

template <bool LE>
struct Float32 {
    static constexpr size_t bytes = 4;
    static void put(byte *d, float x) {
        uint32_t u;
        std::memcpy(&u, &x, 4);
        if constexpr (!LE) u = __builtin_bswap32(u);
        std::memcpy(d, &u, 4);
    }
};

template <bool LE>
struct Float64 {
    static constexpr size_t bytes = 8;
    static void put(byte *d, float x) {
        double v = x;
        uint64_t u;
        std::memcpy(&u, &v, 8);
        if constexpr (!LE) u = __builtin_bswap64(u);
        std::memcpy(d, &u, 8);
    }
};

// Remainder first, then passes of eight that the compiler can turn into vector code.
template <class E>
void run(const float *__restrict src, byte *__restrict dst, size_t n) {
    size_t i = 0;
    for (; i < (n & 7); ++i) E::put(dst + i * E::bytes, src[i]);
    for (; i < n; i += 8)
        for (size_t j = 0; j < 8; ++j) E::put(dst + (i + j) * E::bytes, src[i + j]);
}

template <template <bool> class E>
void run_ordered(const float *src, byte *dst, size_t n, bool little) {
    if (little)
        run<E<true>>(src, dst, n);
    else
        run<E<false>>(src, dst, n);
}

bool size_supported(t_atom_long size) { return size == 1 || size == 2 || size == 3 || size == 4 || size == 8; }

}  // namespace

void buffer_convert(const float *src, unsigned char *dst, t_atom_ulong count, t_atom_ulong sampsize,
                    t_atom_long encoding, short swap) {
    const bool little = swap != 0;
    switch (sampsize) {
        case 1:
            if (encoding == FOURCC('A', 'L', 'A', 'W'))
                run<ALaw8>(src, dst, count);
            else if (encoding == FOURCC('U', 'L', 'A', 'W'))
                run<MuLaw8>(src, dst, count);
            else
                run<Lin8>(src, dst, count);
            break;
        case 2:
            run_ordered<Lin16>(src, dst, count, little);
            break;
        case 3:
            run_ordered<Lin24>(src, dst, count, little);
            break;
        case 4:
            if (encoding == FOURCC('F', 'L', '3', '2'))
                run_ordered<Float32>(src, dst, count, little);
            else
                run_ordered<Lin32>(src, dst, count, little);
            break;
        case 8:
            run_ordered<Float64>(src, dst, count, little);
            break;
        default:
            break;
    }
}

t_orvo_err buffer_createfile(t_buffer *x, const char *name, short path, t_fourcc type, t_filehandle *fh) {
    short err = path_createsysfile(name, path, type, fh);
    if (err) {
        object_error(reinterpret_cast<t_object *>(x), "can't make file %s, err %d", name ? name : "", (int)err);
        return err;
    }
    return 0;
}

void buffer_writesamples(t_buffer *x, const char *name, t_atom_long count, t_filehandle fh, short swap) {
    const t_atom_long size = x->b_outsampsize;
    // Sizes the encoder cannot produce would put undefined staging bytes into the
    // user's file; refusing leaves the file as it was.
    if (!size_supported(size)) return;
    if (!name) name = "";
    byte *block = reinterpret_cast<byte *>(sysmem_newptr(size * kBlockSamples));
    if (!block) {
        object_error(reinterpret_cast<t_object *>(x), "%s: out of memory", name);
        return;
    }
    const float *src = x->b_samples;
    for (t_atom_long done = 0; done < count;) {
        const t_atom_long n = count - done < kBlockSamples ? count - done : kBlockSamples;
        buffer_convert(src, block, (t_atom_ulong)n, (t_atom_ulong)size, x->b_samptype, swap);
        t_ptr_size bytes = (t_ptr_size)(n * size);
        short err = sysfile_write(fh, &bytes, block);
        if (err) {
            object_error(reinterpret_cast<t_object *>(x), "%s: write error %d", name, (int)err);
            sysmem_freeptr(block);
            return;
        }
        src += n;
        done += n;
    }
    sysmem_freeptr(block);
    // Cut a file that was longer before to what was just written.
    t_ptr_size pos = 0;
    if (sysfile_getpos(fh, &pos) == 0) sysfile_seteof(fh, pos);
}
