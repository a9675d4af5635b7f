// The exported sample codec library with sizes, strides, channel counts and
// encodings from the input. Buffers are exactly as large as the calls may
// touch, so any stray access is a sanitizer report; floats the calls must not
// write are checked, and encoding then decoding must give the sample back
// within the encoding's step.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "buffer~/read/chomp.h"
#include "buffer~/write/ext_byteorder.h"
#include "buffer~/write/g711.h"
#include "buffer~/write/sampdecode.h"
#include "buffer~/write/sampencode.h"
#include "fuzz_host.h"

namespace {

constexpr t_atom_long kNone = FOURCC('N', 'O', 'N', 'E'), kUnsigned = FOURCC('U', 'N', 'S', 'N'),
                      kFloat32 = FOURCC('F', 'L', '3', '2'), kFloat64 = FOURCC('F', 'L', '6', '4'),
                      kMulaw = FOURCC('U', 'L', 'A', 'W'), kAlaw = FOURCC('A', 'L', 'A', 'W');

// Which floats a call writes: it runs over two different fillings, and a float
// it writes comes out the same both times while one it leaves keeps its filling.
// (A single marker value would not do: the fuzzer finds it and feeds it in.)
constexpr float kFillA = 12345.0f, kFillB = -6789.0f;

template <class F>
std::vector<bool> written(size_t n, F call, std::vector<float> *values = nullptr) {
    std::vector<float> a(n, kFillA), b(n, kFillB);
    call(a.data());
    call(b.data());
    std::vector<bool> w(n);
    for (size_t i = 0; i < n; ++i) w[i] = !(a[i] == kFillA && b[i] == kFillB);
    if (values) *values = a;
    return w;
}

t_atom_long pick_encoding(FuzzedDataProvider &in) {
    const t_atom_long codes[] = {kNone, kNone, kUnsigned, kFloat32, kFloat64, kMulaw, kAlaw};
    if (in.ConsumeIntegralInRange(0, 15) == 15) return in.ConsumeIntegral<uint32_t>();
    return codes[in.ConsumeIntegralInRange<size_t>(0, std::size(codes) - 1)];
}

// Bytes one stored sample takes; 0 when the decoders read nothing.
size_t stored_bytes(t_atom_long code, t_atom_ulong sampsize) {
    switch (code) {
        case kNone:
            return sampsize >= 1 && sampsize <= 4 ? sampsize : 0;
        case kUnsigned:
        case kMulaw:
        case kAlaw:
            return 1;
        case kFloat32:
            return 4;
        case kFloat64:
            return 8;
        default:
            return 0;
    }
}

std::vector<unsigned char> bytes_from(FuzzedDataProvider &in, size_t n) {
    std::vector<unsigned char> v = in.ConsumeBytes<unsigned char>(n);
    v.resize(n, 0x5a);
    return v;
}

bool same_float(float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); }

void decode(FuzzedDataProvider &in) {
    auto count = in.ConsumeIntegralInRange<t_atom_ulong>(0, 300);
    auto sstride = in.ConsumeIntegralInRange<t_atom_ulong>(1, 9);
    auto dstride = in.ConsumeIntegralInRange<t_atom_ulong>(1, 9);
    auto sampsize = in.ConsumeIntegralInRange<t_atom_ulong>(0, 9);
    t_atom_long code = pick_encoding(in);
    size_t bps = stored_bytes(code, sampsize);
    // Encodings the decoders do not read still come with a block as large as they say.
    size_t width = bps ? bps : std::max<size_t>(sampsize, 1);
    size_t srcbytes = count ? ((count - 1) * sstride + 1) * width : 0;
    std::vector<unsigned char> src = bytes_from(in, srcbytes);
    size_t nd = count ? (count - 1) * dstride + 1 : 0;
    std::vector<float> be, le, acc(nd, kFillA);
    for (size_t i = 0; i < nd; i += dstride) acc[i] = 0.0f;

    auto wbe = written(
        nd, [&](float *d) { vector_samp2float(src.data(), d, count, sstride, dstride, sampsize, code, 1); }, &be);
    vector_samp2float_accum(src.data(), acc.data(), count, sstride, dstride, sampsize, code, 1);
    // The same values stored least significant byte first.
    std::vector<unsigned char> rev = src;
    for (size_t i = 0; bps > 1 && i < count; ++i) std::reverse(&rev[i * sstride * bps], &rev[i * sstride * bps + bps]);
    auto wle = written(
        nd, [&](float *d) { vector_samp2float(rev.data(), d, count, sstride, dstride, sampsize, code, 0); }, &le);

    for (size_t i = 0; i < nd; ++i) {
        bool slot = i % dstride == 0;
        if (wbe[i] != slot || wle[i] != slot) fuzz::fail("decoding missed a strided slot or wrote between them");
        if (!slot) {
            if (acc[i] != kFillA) fuzz::fail("accumulating wrote between the strided slots");
            continue;
        }
        if (!same_float(be[i], le[i])) fuzz::fail("big- and little-endian samples decode differently");
        // Adding into zeros gives the decoded value (unknown encodings add nothing).
        if (!same_float(acc[i], bps ? be[i] : 0.0f)) fuzz::fail("accumulating into zero differs from decoding");
        if (!bps && be[i] != 0.0f) fuzz::fail("an unknown encoding did not decode to zero");
    }
}

void scale_and_copy(FuzzedDataProvider &in) {
    auto count = in.ConsumeIntegralInRange<t_atom_ulong>(0, 300);
    auto s1 = in.ConsumeIntegralInRange<t_atom_ulong>(1, 9), s2 = in.ConsumeIntegralInRange<t_atom_ulong>(1, 9);
    float gain = in.ConsumeFloatingPoint<float>();
    size_t n1 = count ? (count - 1) * s1 + 1 : 0, n2 = count ? (count - 1) * s2 + 1 : 0;
    std::vector<float> a(n1), b;
    for (auto &f : a) f = in.ConsumeFloatingPoint<float>();
    std::vector<float> orig = a;
    auto wb = written(
        n2, [&](float *d) { vector_float_copy(a.data(), d, count, s1, s2); }, &b);
    vector_float_scale(a.data(), count, s1, gain);
    for (size_t i = 0; i < n2; ++i) {
        bool slot = i % s2 == 0;
        if (wb[i] != slot && !(slot && orig[i / s2 * s1] == kFillA)) fuzz::fail("copy wrote outside its slots");
        if (slot && memcmp(&b[i], &orig[i / s2 * s1], 4) != 0) fuzz::fail("copy missed a slot or changed bits");
    }
    for (size_t i = 0; i < n1; ++i) {
        float want = i % s1 == 0 ? orig[i] * gain : orig[i];
        if (!same_float(a[i], want)) fuzz::fail("scale wrong or outside its slots");
    }
}

void chomp(FuzzedDataProvider &in) {
    auto frames = in.ConsumeIntegralInRange<t_atom_ulong>(0, 200);
    auto sch = in.ConsumeIntegralInRange<short>(0, 6), dch = in.ConsumeIntegralInRange<short>(0, 6);
    auto sampsize = in.ConsumeIntegralInRange<short>(0, 9);
    t_atom_long code = pick_encoding(in);
    short swap = in.ConsumeBool();
    bool mapped = (sch == 1 || sch == 2 || sch == 4) && (dch == 1 || dch == 2 || dch == 4);
    size_t bps = stored_bytes(code, (t_atom_ulong)sampsize);
    // Channels lie sample size apart: a code of fixed width comes with its own size.
    if (bps) sampsize = (short)bps;
    size_t width = bps ? bps : std::max<size_t>((size_t)sampsize, 1);
    std::vector<unsigned char> src = bytes_from(in, mapped ? frames * (size_t)sch * width : 0);
    auto w = written(frames * (size_t)std::max<short>(dch, 0),
                     [&](float *d) { buffer_chomp(src.data(), d, frames, sch, dch, sampsize, code, swap); });
    for (bool f : w)
        if (f != mapped) fuzz::fail(mapped ? "chomp left a float unwritten" : "chomp wrote an unmapped layout");
}

// Encoding then decoding gives back the limited sample within one step of the encoding.
void round_trip(FuzzedDataProvider &in) {
    struct Form {
        t_atom_ulong size;
        t_atom_long code;
        double step;
    };
    const Form forms[] = {{1, kNone, 2.0 / 127}, {2, kNone, 2.0 / 32767}, {3, kNone, 2.0 / 8388607},
                          {4, kNone, 1e-4},      {4, kFloat32, 0},        {8, kFloat64, 0},
                          {1, kMulaw, 0.04},     {1, kAlaw, 0.04},        {5, kNone, -1}};
    const Form &f = forms[in.ConsumeIntegralInRange<size_t>(0, std::size(forms) - 1)];
    auto count = in.ConsumeIntegralInRange<t_atom_ulong>(0, 300);
    short little = in.ConsumeBool();
    std::vector<float> src(count);
    for (auto &x : src)
        x = in.ConsumeBool() ? in.ConsumeFloatingPointInRange<float>(-1.5f, 1.5f) : in.ConsumeFloatingPoint<float>();
    std::vector<unsigned char> enc(count * f.size);
    buffer_convert(src.data(), enc.data(), count, f.size, f.code, little);
    if (f.step < 0) return;  // a size the encoder does not know: nothing more to hold it to
    // The decoders take the code's size from the code, except for plain integers.
    std::vector<float> dec(count);
    vector_samp2float(enc.data(), dec.data(), count, 1, 1, f.size, f.code, little ? 0 : 1);
    for (size_t i = 0; i < count; ++i) {
        float x = src[i];
        bool floats = f.code == kFloat32 || f.code == kFloat64;
        if (floats) {
            if (!same_float(dec[i], x)) fuzz::fail("float samples changed in a round trip");
            continue;
        }
        double want = std::isnan(x) ? 1.0 : std::clamp((double)x, -1.0, 1.0);
        if (!(std::fabs(dec[i] - want) <= f.step + std::fabs(want) * 1e-4))
            fuzz::fail("round trip off by more than a step: size " + std::to_string(f.size) + " sample " +
                       std::to_string(x) + " came back " + std::to_string(dec[i]));
    }
}

void primitives(FuzzedDataProvider &in) {
    auto code = in.ConsumeIntegral<uint8_t>();
    if (sf_mulaw_encode(MuLawDecode(code)) > 255 || sf_alaw_encode(ALawDecode(code)) > 255)
        fuzz::fail("G.711 code out of range");
    double x = in.ConsumeFloatingPoint<double>();
    if (sf_mulaw_encode(x) > 255 || sf_alaw_encode(x) > 255) fuzz::fail("G.711 code out of range");
    unsigned char b[8];
    auto raw = bytes_from(in, 8);
    memcpy(b, raw.data(), 8);
    double d = byteorder_swap_pointer_64_to_float64(b), twice;
    float f = byteorder_swap_pointer_32_to_float32(b);
    byteorder_swap_pointer_64(b);
    memcpy(&twice, b, 8);
    if (memcmp(&twice, &d, 8) != 0) fuzz::fail("64-bit swap and big-endian read disagree");
    float g = byteorder_swapf32(byteorder_swapf32(f));
    if (memcmp(&g, &f, 4) != 0) fuzz::fail("swapping twice changed a float");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange(0, 4)) {
        case 0:
            decode(in);
            break;
        case 1:
            scale_and_copy(in);
            break;
        case 2:
            chomp(in);
            break;
        case 3:
            round_trip(in);
            break;
        default:
            primitives(in);
            break;
    }
    return 0;
}
