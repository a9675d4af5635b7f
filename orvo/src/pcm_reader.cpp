// Direct reading of plain integer and float samples (see pcm_reader.h). pread rather than
// a mapping: a file that shrinks meanwhile then reads short instead of faulting, and no
// file pages count against the process's memory.
#include "pcm_reader.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace orvo::detail {
namespace {

constexpr size_t kBlockBytes = size_t(256) << 10;  // read, then decoded while still in the core's cache
constexpr uint64_t kSplitBytes = uint64_t(4) << 20; // below this, starting threads costs more than it saves
constexpr uint64_t kCheckFrames = 64;

// One stored sample to float, exactly as libsndfile converts it (its scale factors are
// powers of two, so only the int-to-float rounding of 32-bit samples is inexact, and
// that rounding is the same here).
template <bool Big>
uint16_t load16(const unsigned char *p) {
    uint16_t v;
    memcpy(&v, p, 2);
    return Big == (std::endian::native == std::endian::big) ? v : __builtin_bswap16(v);
}
template <bool Big>
uint32_t load32(const unsigned char *p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return Big == (std::endian::native == std::endian::big) ? v : __builtin_bswap32(v);
}
template <bool Big>
uint64_t load64(const unsigned char *p) {
    uint64_t v;
    memcpy(&v, p, 8);
    return Big == (std::endian::native == std::endian::big) ? v : __builtin_bswap64(v);
}

constexpr float kScale8 = 1.0f / 128.0f, kScale16 = 1.0f / 32768.0f, kScale32 = 1.0f / 2147483648.0f;

struct S8 {
    static constexpr int W = 1;
    static float get(const unsigned char *p) { return (float)(int8_t)p[0] * kScale8; }
};
struct U8 {
    static constexpr int W = 1;
    static float get(const unsigned char *p) { return (float)((int)p[0] - 128) * kScale8; }
};
template <bool Big>
struct S16 {
    static constexpr int W = 2;
    static float get(const unsigned char *p) { return (float)(int16_t)load16<Big>(p) * kScale16; }
};
template <bool Big>
struct S24 {
    static constexpr int W = 3;
    static float get(const unsigned char *p) {
        // Into the top three bytes of an int, as libsndfile does.
        uint32_t v = Big ? (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8
                         : (uint32_t)p[2] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[0] << 8;
        return (float)(int32_t)v * kScale32;
    }
};
template <bool Big>
struct S32 {
    static constexpr int W = 4;
    static float get(const unsigned char *p) { return (float)(int32_t)load32<Big>(p) * kScale32; }
};
template <bool Big>
struct F32 {
    static constexpr int W = 4;
    static float get(const unsigned char *p) { return std::bit_cast<float>(load32<Big>(p)); }
};
template <bool Big>
struct F64 {
    static constexpr int W = 8;
    static float get(const unsigned char *p) { return (float)std::bit_cast<double>(load64<Big>(p)); }
};

using DecodeFn = void (*)(const unsigned char *in, size_t frames, int fchans, float *out, long nchans);

template <class D>
void decode(const unsigned char *in, size_t frames, int fchans, float *out, long nchans) {
    if (fchans == nchans) {
        size_t n = frames * (size_t)fchans;
        for (size_t i = 0; i < n; ++i) out[i] = D::get(in + i * D::W);
        return;
    }
    long copy = std::min<long>(fchans, nchans);
    for (size_t f = 0; f < frames; ++f) {
        const unsigned char *i = in + f * (size_t)fchans * D::W;
        float *o = out + f * (size_t)nchans;
        for (long c = 0; c < copy; ++c) o[c] = D::get(i + (size_t)c * D::W);
        for (long c = copy; c < nchans; ++c) o[c] = 0.0f;
    }
}

template <template <bool> class D>
DecodeFn pick(bool big) {
    return big ? decode<D<true>> : decode<D<false>>;
}

DecodeFn decoder(const PcmSource &s) {
    switch (s.subtype) {
        case SF_FORMAT_PCM_S8: return decode<S8>;
        case SF_FORMAT_PCM_U8: return decode<U8>;
        case SF_FORMAT_PCM_16: return pick<S16>(s.big);
        case SF_FORMAT_PCM_24: return pick<S24>(s.big);
        case SF_FORMAT_PCM_32: return pick<S32>(s.big);
        case SF_FORMAT_FLOAT: return pick<F32>(s.big);
        case SF_FORMAT_DOUBLE: return pick<F64>(s.big);
        default: return nullptr;
    }
}

int sample_width(int subtype) {
    switch (subtype) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8: return 1;
        case SF_FORMAT_PCM_16: return 2;
        case SF_FORMAT_PCM_24: return 3;
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT: return 4;
        case SF_FORMAT_DOUBLE: return 8;
        default: return 0;
    }
}

// Containers that hold their samples as one plain run (others, such as FLAC, use the
// same subtypes for coded data).
bool plain_container(int format) {
    switch (format & SF_FORMAT_TYPEMASK) {
        case SF_FORMAT_WAV:
        case SF_FORMAT_WAVEX:
        case SF_FORMAT_RF64:
        case SF_FORMAT_AIFF: return true;
        default: return false;
    }
}

// Reads up to want bytes at byte position at; returns the bytes read.
size_t read_at(int fd, unsigned char *to, size_t want, uint64_t at) {
    size_t got = 0;
    while (got < want && at + got <= (uint64_t)INT64_MAX) {
        ssize_t r = pread(fd, to + got, want - got, (off_t)(at + got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += (size_t)r;
    }
    return got;
}

// Reads and decodes count frames from file frame first into out (frame first of the
// request at out); what the file does not hold is zero. Returns the frames read.
uint64_t read_range(const PcmSource &s, DecodeFn fn, float *out, long nchans, uint64_t first, uint64_t count) {
    const size_t frame_bytes = (size_t)s.width * (size_t)s.channels;
    if (s.subtype == SF_FORMAT_FLOAT && !s.big == (std::endian::native == std::endian::little) && nchans == s.channels) {
        // The stored floats are the buffer's own: no decoding, straight into place.
        uint64_t done = read_at(s.fd, reinterpret_cast<unsigned char *>(out), count * frame_bytes,
                                s.offset + first * frame_bytes) / frame_bytes;
        std::fill(out + done * (size_t)nchans, out + count * (size_t)nchans, 0.0f);
        return done;
    }
    const size_t per_block = std::max<size_t>(1, kBlockBytes / frame_bytes);
    std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[std::min<uint64_t>(per_block, count) * frame_bytes]);
    uint64_t done = 0;
    while (block && done < count) {
        size_t n = (size_t)std::min<uint64_t>(per_block, count - done);
        size_t whole = read_at(s.fd, block.get(), n * frame_bytes, s.offset + (first + done) * frame_bytes) / frame_bytes;
        fn(block.get(), whole, s.channels, out + done * (size_t)nchans, nchans);
        done += whole;
        if (whole < n) break;
    }
    std::fill(out + done * (size_t)nchans, out + count * (size_t)nchans, 0.0f);
    return done;
}

}  // namespace

void pcm_close(PcmSource *src) {
    if (src->fd >= 0) close(src->fd);
    *src = PcmSource{};
}

void pcm_probe(const std::string &path, const SF_INFO &info, PcmSource *src) {
    pcm_close(src);
    PcmSource s;
    s.subtype = info.format & SF_FORMAT_SUBMASK;
    s.width = sample_width(s.subtype);
    s.channels = info.channels;
    s.frames = info.frames > 0 ? (uint64_t)info.frames : 0;
    if (!plain_container(info.format) || !s.width || s.channels < 1 || !s.frames) return;
    s.fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (s.fd < 0) return;
    // A second libsndfile handle on our descriptor tells where the samples start: its
    // seeks move the descriptor's position.
    SF_INFO pi{};
    SNDFILE *p = sf_open_fd(s.fd, SFM_READ, &pi, SF_FALSE);
    bool ok = p && pi.format == info.format && pi.channels == info.channels && pi.frames == info.frames;
    const off_t frame_bytes = (off_t)s.width * s.channels;
    if (ok) {
        off_t at1 = 0;
        if (s.frames > 1) {
            ok = sf_seek(p, 1, SEEK_SET) == 1;
            at1 = lseek(s.fd, 0, SEEK_CUR);
        }
        ok = ok && sf_seek(p, 0, SEEK_SET) == 0;
        off_t at0 = lseek(s.fd, 0, SEEK_CUR);
        ok = ok && at0 >= 0 && (s.frames == 1 || at1 - at0 == frame_bytes);
        s.offset = (uint64_t)at0;
        bool swap = sf_command(p, SFC_RAW_DATA_NEEDS_ENDSWAP, nullptr, 0) == SF_TRUE;
        s.big = swap == (std::endian::native == std::endian::little);
    }
    // The first and last frames must come out as libsndfile reads them, bit for bit.
    DecodeFn fn = decoder(s);
    uint64_t n = std::min(kCheckFrames, s.frames);
    std::vector<float> want(n * (size_t)s.channels), got(want.size());
    for (uint64_t at : {uint64_t(0), s.frames - n}) {
        if (!ok || !fn) break;
        ok = sf_seek(p, (sf_count_t)at, SEEK_SET) == (sf_count_t)at &&
             sf_readf_float(p, want.data(), (sf_count_t)n) == (sf_count_t)n &&
             read_range(s, fn, got.data(), s.channels, at, n) == n &&
             memcmp(want.data(), got.data(), want.size() * sizeof(float)) == 0;
    }
    if (p) sf_close(p);
    if (ok && fn)
        *src = s;
    else
        pcm_close(&s);
}

namespace {

// Parts to split a read of this many bytes into.
unsigned part_count(uint64_t bytes) {
    if (bytes < kSplitBytes) return 1;
    // The cores this process may run on, as the editing loops count them: a process held
    // to one core stays on it.
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return (unsigned)std::max(1, CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

// Runs part(i) for i in [0, parts): part 0 on this thread, the others on threads of their
// own (or here, when none can be had).
template <class F>
void run_parts(unsigned parts, F part) {
    std::vector<std::thread> helpers;
    for (unsigned i = 1; i < parts; ++i) {
        try {
            helpers.emplace_back(part, i);
        } catch (...) {
            part(i);
        }
    }
    part(0);
    for (auto &t : helpers) t.join();
}

uint64_t read_all(SNDFILE *sf, float *dst, int chans, uint64_t frames) {
    uint64_t done = 0;
    while (done < frames) {
        sf_count_t want = (sf_count_t)std::min<uint64_t>(frames - done, uint64_t(1) << 20);
        sf_count_t got = sf_readf_float(sf, dst + done * (uint64_t)chans, want);
        if (got <= 0) break;
        done += (uint64_t)got;
    }
    return done;
}

}  // namespace

uint64_t sf_read_split(SNDFILE *sf, const std::string &path, const SF_INFO &info, float *dst, uint64_t start,
                       uint64_t frames) {
    const int chans = info.channels;
    uint64_t length = info.frames > 0 ? (uint64_t)info.frames : 0;
    frames = start < length ? std::min(frames, length - start) : 0;
    unsigned parts = part_count(frames * (uint64_t)chans * sizeof(float));
    uint64_t per = (frames + parts - 1) / parts;
    // Part i: n frames from frame `from` of the read.
    auto part = [&](unsigned i, uint64_t *from, uint64_t *n) {
        *from = std::min(frames, per * i);
        *n = std::min(frames, *from + per) - *from;
    };
    std::vector<uint64_t> got(parts, 0);
    run_parts(parts, [&](unsigned i) {
        uint64_t from, n;
        part(i, &from, &n);
        if (i == 0) {
            got[0] = read_all(sf, dst, chans, n);
            return;
        }
        SF_INFO hi{};
        SNDFILE *h = sf_open(path.c_str(), SFM_READ, &hi);
        if (h && hi.format == info.format && hi.channels == chans && hi.frames == info.frames &&
            sf_seek(h, (sf_count_t)(start + from), SEEK_SET) == (sf_count_t)(start + from))
            got[i] = read_all(h, dst + from * (uint64_t)chans, chans, n);
        if (h) sf_close(h);
    });
    // A part that fell short (its handle could not be had, or the file ended) ends the read there.
    uint64_t done = 0;
    for (unsigned i = 0; i < parts; ++i) {
        uint64_t from, n;
        part(i, &from, &n);
        done = from + got[i];
        if (got[i] < n) break;
    }
    sf_seek(sf, (sf_count_t)(start + done), SEEK_SET);
    return done;
}

uint64_t pcm_read(const PcmSource &src, float *dst, long nchans, uint64_t start, uint64_t frames) {
    DecodeFn fn = decoder(src);
    if (!src.usable() || !fn || nchans < 1) return 0;
    // Past the samples lie other chunks, not sound.
    uint64_t whole = frames;
    frames = start < src.frames ? std::min(frames, src.frames - start) : 0;
    std::fill(dst + frames * (size_t)nchans, dst + whole * (size_t)nchans, 0.0f);
    uint64_t bytes = frames * (uint64_t)src.width * (uint64_t)src.channels;
    unsigned parts = part_count(bytes);
    uint64_t per = (frames + parts - 1) / parts;
    std::vector<uint64_t> got(parts, 0);
    // Each part touches its own stretch of the buffer's memory first too, so the page
    // faults of a fresh block are shared out as well.
    run_parts(parts, [&](unsigned i) {
        uint64_t from = std::min(frames, per * i), to = std::min(frames, from + per);
        got[i] = read_range(src, fn, dst + from * (size_t)nchans, nchans, start + from, to - from);
    });
    uint64_t total = 0;
    for (uint64_t g : got) total += g;
    return total;
}

}  // namespace orvo::detail
