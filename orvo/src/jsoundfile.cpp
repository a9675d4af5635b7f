// The host's sound-file object "jsoundfile": opens, parses and writes sound-file
// containers for its owner, through libsndfile; files libsndfile cannot decode
// (compressed audio in MPEG-4 containers, the sound of movies) are read through
// FFmpeg's libraries (jsoundfile_ffmpeg.cpp).
//
// Read side: open (path id, name, 0, 0), then the queries and "readfloats",
// then close. Write side: "format" (type code) first, then open (which only
// names the file), "setsamplerate", "writefloats" (which creates and writes
// it), then close. All messages are private; results come back as
// pointer-sized integers.
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <mutex>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "files_internal.h"
#include "init.h"
#include "jsoundfile_ffmpeg.h"
#include "orvo/runtime.h"
#include "pcm_reader.h"

namespace fs = std::filesystem;

namespace {

// Error codes of this object (libsndfile's own codes are passed on as they are).
constexpr long kErrNotOpen = -1;
constexpr long kErrNotFound = ORVO_ERR_NOT_FOUND;
constexpr long kErrBadArgs = ORVO_ERR_BAD_ARGS;

// Instrument data of an AIFF file, with the loops given as marker ids.
struct Instrument {
    bool present = false;
    int basenote = 0, detune = 0, lowkey = 0, highkey = 0, lowvel = 0, highvel = 0, gain = 0;
    int sus_mode = 0, sus_begin = 0, sus_end = 0;
    int rel_mode = 0, rel_begin = 0, rel_end = 0;
    std::vector<std::pair<int, long>> markers;  // id, frame
};

// Sample rates a file may state, as the host's own setting allows.
constexpr int kMinRate = 1, kMaxRate = 10000000;

struct Impl {
    SNDFILE *sf = nullptr;
    orvo::detail::MediaStream *media = nullptr;  // a file libsndfile has no decoder for
    uint64_t media_next = 0;                     // its frame that the next block starts at
    SF_INFO info{};                              // rate, channels and length of either
    orvo::detail::PcmSource pcm;                 // the samples, when they can be read directly
    std::string file;                            // full path of the open (or to be written) file
    bool raw = false;                            // read as headerless data
    bool raw_float = false;
    bool uncounted = false;  // the header's frame count is missing or a lie: count by decoding when asked
    std::string cause;       // why the last open failed, for the owner to report
    bool write_side = false;  // "format" was sent since the last close
    t_fourcc format = 0;
    t_fourcc encoding = 0;
    double sr = 0;
    Instrument inst;
    // One read or write at a time: a typed write may run on the scheduler thread
    // while a deferred read uses the same object on the main thread. Held from
    // "format" (write) or a successful "open" (read) until "close".
    std::recursive_mutex busy;
    int holds = 0;  // times the holding thread locked busy; touched only while holding it
};

void acquire(Impl *m) {
    m->busy.lock();
    ++m->holds;
}

// Gives the object back, when this thread holds it.
void release(Impl *m) {
    if (!m->busy.try_lock()) return;  // another thread's read or write
    int n = m->holds;
    m->holds = 0;
    for (int i = 0; i < n; i++) m->busy.unlock();
    m->busy.unlock();
}

struct t_jsoundfile {
    t_object j_ob;
    char j_forcefloat;  // attribute: read raw data as 32-bit floats
    Impl *j_impl;
};

t_class *s_jsoundfile_class = nullptr;

template <class F>
method as_method(F f) {
    return reinterpret_cast<method>(reinterpret_cast<void (*)(void)>(f));
}
void *result(long v) { return reinterpret_cast<void *>((intptr_t)v); }

uint32_t be32(const unsigned char *p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}
int16_t be16(const unsigned char *p) { return (int16_t)(uint16_t)(p[0] << 8 | p[1]); }

// Reads the INST and MARK chunks of an AIFF or AIFC file. libsndfile keeps
// neither the loops' play modes nor a release loop without a sustain loop, so
// the chunks are read here. Only chunk headers and those two bodies are read:
// the sound data is skipped, however long.
Instrument read_aiff_instrument(const std::string &path) {
    Instrument in;
    std::ifstream f(path, std::ios::binary);
    unsigned char head[12];
    if (!f.read(reinterpret_cast<char *>(head), sizeof head) || memcmp(head, "FORM", 4) != 0 ||
        (memcmp(head + 8, "AIFF", 4) != 0 && memcmp(head + 8, "AIFC", 4) != 0))
        return in;
    f.seekg(0, std::ios::end);
    const uint64_t size = (uint64_t)f.tellg();
    uint64_t pos = 12;
    std::vector<unsigned char> body;
    while (pos + 8 <= size) {
        unsigned char id[8];
        f.seekg((std::streamoff)pos);
        if (!f.read(reinterpret_cast<char *>(id), sizeof id)) break;
        uint64_t len = be32(id + 4), start = pos + 8;
        if (start + len > size) break;
        bool inst = memcmp(id, "INST", 4) == 0, mark = memcmp(id, "MARK", 4) == 0;
        if (inst || mark) {
            body.resize((size_t)len);
            if (!f.read(reinterpret_cast<char *>(body.data()), (std::streamsize)len)) break;
        }
        const unsigned char *p = body.data();
        if (inst && len >= 20) {
            in.present = true;
            in.basenote = p[0];
            in.detune = (int8_t)p[1];
            in.lowkey = p[2];
            in.highkey = p[3];
            in.lowvel = p[4];
            in.highvel = p[5];
            in.gain = be16(p + 6);
            in.sus_mode = be16(p + 8);
            in.sus_begin = be16(p + 10);
            in.sus_end = be16(p + 12);
            in.rel_mode = be16(p + 14);
            in.rel_begin = be16(p + 16);
            in.rel_end = be16(p + 18);
        } else if (mark && len >= 2) {
            size_t n = (size_t)(uint16_t)be16(p), q = 2;
            for (size_t i = 0; i < n && q + 7 <= len; ++i) {
                int mid = be16(p + q);
                long frame = (long)be32(p + q + 2);
                size_t slen = p[q + 6];
                q += 6 + ((1 + slen + 1) & ~size_t(1));  // counted name, padded to even
                in.markers.emplace_back(mid, frame);
            }
        }
        pos = start + len + (len & 1);
    }
    return in;
}

// The instrument of other containers, through libsndfile, with the loops
// numbered as markers 1 and 2 (sustain) and 3 and 4 (release).
Instrument read_sf_instrument(SNDFILE *sf) {
    Instrument in;
    SF_INSTRUMENT si{};
    if (!sf || sf_command(sf, SFC_GET_INSTRUMENT, &si, sizeof si) != SF_TRUE) return in;
    in.present = true;
    in.basenote = si.basenote;
    in.detune = si.detune;
    in.lowkey = si.key_lo;
    in.highkey = si.key_hi;
    in.lowvel = si.velocity_lo;
    in.highvel = si.velocity_hi;
    in.gain = si.gain;
    auto mode = [](int m) {
        return m == SF_LOOP_FORWARD ? 1 : m == SF_LOOP_ALTERNATING ? 2 : m == SF_LOOP_BACKWARD ? 3 : 0;
    };
    if (si.loop_count > 0) {
        in.sus_mode = mode(si.loops[0].mode), in.sus_begin = 1, in.sus_end = 2;
        in.markers.emplace_back(1, (long)si.loops[0].start);
        in.markers.emplace_back(2, (long)si.loops[0].end);
    }
    if (si.loop_count > 1) {
        in.rel_mode = mode(si.loops[1].mode), in.rel_begin = 3, in.rel_end = 4;
        in.markers.emplace_back(3, (long)si.loops[1].start);
        in.markers.emplace_back(4, (long)si.loops[1].end);
    }
    return in;
}

bool is_open(const Impl *m) { return m->sf || m->media; }

void close_file(Impl *m) {
    if (m->sf) sf_close(m->sf);
    m->sf = nullptr;
    orvo::detail::media_close(m->media);
    m->media = nullptr;
    orvo::detail::pcm_close(&m->pcm);
    m->info = SF_INFO{};
    m->file.clear();
    m->raw = m->raw_float = false;
    m->uncounted = false;
    m->inst = Instrument{};
}

// Bytes per sample of libsndfile's plain encodings; 0 for coded ones.
int sample_bytes(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_ULAW:
        case SF_FORMAT_ALAW:
            return 1;
        case SF_FORMAT_PCM_16:
            return 2;
        case SF_FORMAT_PCM_24:
            return 3;
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT:
            return 4;
        case SF_FORMAT_DOUBLE:
            return 8;
        default:
            return 0;
    }
}

// The most frames one byte of a compressed stream can decode to (a block of
// silence in its smallest frame), or 0 when the container is not compressed.
sf_count_t max_frames_per_byte(int format) {
    switch (format & SF_FORMAT_TYPEMASK) {
        case SF_FORMAT_FLAC:
        case SF_FORMAT_OGG:
            return 8192;
        case SF_FORMAT_MPEG:
            return 64;
        default:
            return 0;
    }
}

// Whether an MP3 file's first frame carries a length tag ("Xing", "Info" or
// "VBRI"). Without one the length is an estimate from the first frame's bit
// rate, wrong for variable bit rates.
bool mp3_has_length_tag(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    unsigned char head[10] = {};
    if (!f.read(reinterpret_cast<char *>(head), sizeof head)) return false;
    uint64_t at = 0;
    if (memcmp(head, "ID3", 3) == 0)  // a tag in front: its size is stored seven bits a byte
        at = 10 + ((uint64_t)(head[6] & 0x7f) << 21 | (uint64_t)(head[7] & 0x7f) << 14 |
                   (uint64_t)(head[8] & 0x7f) << 7 | (head[9] & 0x7f)) + (head[5] & 0x10 ? 10 : 0);
    std::vector<char> buf(4096 + 64);
    f.clear();
    f.seekg((std::streamoff)at);
    f.read(buf.data(), (std::streamsize)buf.size());
    size_t n = (size_t)f.gcount();
    for (size_t i = 0; i + 1 < n; ++i) {
        if ((unsigned char)buf[i] != 0xff || ((unsigned char)buf[i + 1] & 0xe0) != 0xe0) continue;
        // The tag follows the frame header and side information, within the first 40 bytes.
        std::string frame(buf.data() + i, std::min<size_t>(n - i, 48));
        for (const char *tag : {"Xing", "Info", "VBRI"})
            if (frame.find(tag, 4) != std::string::npos) return true;
        return false;
    }
    return false;
}

// Checks what a libsndfile header says against the file's size. Plain samples:
// no more frames than the bytes hold. Compressed streams: a count that is missing
// or more than the file could decode to is found by decoding, when asked.
void check_length(Impl *m, uint64_t filesize) {
    int bps = sample_bytes(m->info.format);
    sf_count_t per_byte = max_frames_per_byte(m->info.format);
    if (per_byte) {
        sf_count_t most = (sf_count_t)std::min<uint64_t>(filesize, (uint64_t)INT64_MAX / (uint64_t)per_byte) * per_byte;
        m->uncounted = m->info.frames <= 0 || m->info.frames > most;
    } else if (bps && m->info.channels > 0) {
        m->info.frames = std::min<sf_count_t>(m->info.frames, (sf_count_t)(filesize / ((uint64_t)bps * (uint64_t)m->info.channels)));
    }
}

// Decodes the whole stream once to count its frames, and rewinds.
sf_count_t count_frames(Impl *m) {
    if (sf_seek(m->sf, 0, SEEK_SET) < 0) return 0;
    std::vector<float> tmp((size_t)4096 * (size_t)std::max(1, m->info.channels));
    sf_count_t n = 0, got;
    while ((got = sf_readf_float(m->sf, tmp.data(), 4096)) > 0) n += got;
    sf_seek(m->sf, 0, SEEK_SET);
    return n;
}

// Headerless data: big-endian 16-bit integers, or 32-bit floats when asked,
// one channel at the system sample rate.
bool open_raw(Impl *m, bool as_float) {
    if (m->sf) sf_close(m->sf);
    m->info = SF_INFO{};
    double sr = sys_getsr();
    m->info.samplerate = sr >= 1 ? (int)std::lround(sr) : 44100;
    m->info.channels = 1;
    m->info.format = SF_FORMAT_RAW | SF_ENDIAN_BIG | (as_float ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);
    m->sf = sf_open(m->file.c_str(), SFM_READ, &m->info);
    m->raw = true;
    m->raw_float = as_float;
    return m->sf != nullptr;
}

// ---- methods ---------------------------------------------------------------------

void *js_open_locked(t_jsoundfile *x, long path, const char *name);

// Refuses a file whose rate no buffer could take: its lengths in time would be nonsense.
void *check_rate(Impl *m) {
    int rate = m->info.samplerate;
    if (rate >= kMinRate && rate <= kMaxRate) return result(0);
    close_file(m);
    m->cause = "sample rate " + std::to_string(rate) + " Hz is not between 1 Hz and 10 MHz";
    return result(SF_ERR_MALFORMED_FILE);
}

void *js_open(t_jsoundfile *x, long path, const char *name, long, long) {
    Impl *m = x->j_impl;
    acquire(m);
    m->cause.clear();
    void *r = js_open_locked(x, path, name);
    if (r == result(0)) {
        m->cause.clear();
        if (!m->write_side) r = check_rate(m);
    }
    if (!m->write_side && r != result(0)) release(m);  // a failed read is not closed
    return r;
}

void *js_open_locked(t_jsoundfile *x, long path, const char *name) {
    Impl *m = x->j_impl;
    if (is_open(m)) close_file(m);
    std::string folder = orvo::detail::folder_path((short)path);
    if (folder.empty() || !name || !*name) {
        m->cause = folder.empty() ? "no such folder" : "no file name";
        return result(kErrNotFound);
    }
    std::string full = (fs::path(folder) / name).string();
    if (m->write_side) {
        // The file is created by "writefloats", once its layout is known.
        m->file = full;
        return result(0);
    }
    std::error_code ec;
    if (!fs::is_regular_file(full, ec)) {
        m->cause = "no such file";
        return result(kErrNotFound);
    }
    uint64_t filesize = (uint64_t)fs::file_size(full, ec);
    m->file = full;
    m->sf = sf_open(full.c_str(), SFM_READ, &m->info);
    if (m->sf && (m->info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG && !mp3_has_length_tag(full)) {
        // libsndfile would stop at its estimate: the decoder that reads to the end takes over.
        if ((m->media = orvo::detail::media_open(full))) {
            sf_close(m->sf);
            m->sf = nullptr;
            m->info = SF_INFO{};
            m->info.samplerate = orvo::detail::media_rate(m->media);
            m->info.channels = orvo::detail::media_channels(m->media);
            return result(0);
        }
    }
    if (!m->sf) {
        int err = sf_error(nullptr);
        m->cause = sf_error_number(err ? err : SF_ERR_UNRECOGNISED_FORMAT);
        if (orvo::detail::file_type(full) == FOURCC('D', 'A', 'T', 'A')) {
            if (open_raw(m, false)) return result(0);
        } else if ((m->media = orvo::detail::media_open(full))) {
            // Compressed audio or a movie's sound track. The length is asked for only when
            // needed: finding it exactly means decoding the whole stream once.
            m->info = SF_INFO{};
            m->info.samplerate = orvo::detail::media_rate(m->media);
            m->info.channels = orvo::detail::media_channels(m->media);
            return result(0);
        }
        m->file.clear();
        return result(err ? err : kErrNotOpen);
    }
    orvo::detail::pcm_probe(full, m->info, &m->pcm);
    check_length(m, filesize);
    if ((m->info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_AIFF)
        m->inst = read_aiff_instrument(full);
    else
        m->inst = read_sf_instrument(m->sf);
    return result(0);
}

void *js_close(t_jsoundfile *x) {
    close_file(x->j_impl);
    x->j_impl->write_side = false;
    x->j_impl->format = 0;
    x->j_impl->encoding = 0;
    release(x->j_impl);
    return nullptr;
}

void *js_getsr(t_jsoundfile *x) { return result(is_open(x->j_impl) ? x->j_impl->info.samplerate : 0); }
void *js_getchannelcount(t_jsoundfile *x) { return result(is_open(x->j_impl) ? x->j_impl->info.channels : 0); }
// Raw data is read as the "forcefloat" attribute says when asked: its length and samples depend on it.
bool raw_as_asked(t_jsoundfile *x) {
    Impl *m = x->j_impl;
    return !m->raw || m->raw_float == (x->j_forcefloat != 0) || open_raw(m, x->j_forcefloat != 0);
}

void *js_getlength(t_jsoundfile *x) {
    Impl *m = x->j_impl;
    if (!raw_as_asked(x)) return result(0);
    if (m->media) return result((long)orvo::detail::media_length(m->media));
    if (m->sf && m->uncounted) {
        m->info.frames = count_frames(m);
        m->uncounted = false;
    }
    return result(m->sf ? (long)m->info.frames : 0);
}

// Why the last open failed ("" after a successful one), until the next open.
void *js_getcause(t_jsoundfile *x) { return (void *)x->j_impl->cause.c_str(); }

// Up to want frames of the open file from where the last call stopped, in its own channels.
sf_count_t read_block(Impl *m, float *tmp, sf_count_t want) {
    if (m->media) {
        uint64_t got = orvo::detail::media_read(m->media, m->media_next, tmp, (uint64_t)want);
        m->media_next += got;
        return (sf_count_t)got;
    }
    return sf_readf_float(m->sf, tmp, want);
}

// Writes exactly frames interleaved frames of nchans channels: file channel c
// to channel c, other channels and frames past the end of the file zero.
void *js_readfloats(t_jsoundfile *x, float *dst, t_atom_ulong start, t_atom_ulong frames, long nchans) {
    Impl *m = x->j_impl;
    if (!dst || nchans < 1) return result(kErrBadArgs);
    size_t total = (size_t)frames * (size_t)nchans;
    t_atom_ulong done = 0;
    // Every requested frame is written: whatever the file does not cover is zero.
    auto zero_rest = [&] { std::fill(dst + done * (size_t)nchans, dst + total, 0.0f); };
    if (!is_open(m)) return zero_rest(), result(kErrNotOpen);
    if (!raw_as_asked(x)) return zero_rest(), result(kErrNotOpen);
    long fch = m->info.channels;
    if (frames == 0) return result(0);
    if (m->media) {
        m->media_next = start;  // the decoder finds its way there; past the end it reads nothing
    } else {
        if (start >= (t_atom_ulong)m->info.frames) return zero_rest(), result(0);
        if (sf_seek(m->sf, (sf_count_t)start, SEEK_SET) < 0) return zero_rest(), result(sf_error(m->sf));
    }
    if (m->pcm.usable() && !m->raw) {
        t_atom_ulong have = std::min<t_atom_ulong>(frames, (t_atom_ulong)m->info.frames - start);
        orvo::detail::pcm_read(m->pcm, dst, nchans, start, have);  // zero where the file fell short
        done = have;
        zero_rest();
        return result(0);
    }
    if (fch == nchans) {
        // Same layout: decode straight into the buffer.
        if (m->sf && !m->raw) {
            t_atom_ulong have = std::min<t_atom_ulong>(frames, (t_atom_ulong)m->info.frames - start);
            done = orvo::detail::sf_read_split(m->sf, m->file, m->info, dst, start, have);
        }
        while (done < frames) {
            sf_count_t want = (sf_count_t)std::min<t_atom_ulong>(frames - done, (t_atom_ulong)1 << 20);
            sf_count_t got = read_block(m, dst + done * (size_t)nchans, want);
            if (got <= 0) break;
            done += (t_atom_ulong)got;
        }
        zero_rest();
        return result(0);
    }
    const sf_count_t block = 4096;
    std::vector<float> tmp((size_t)(block * fch));
    long copy = std::min(nchans, fch);
    while (done < frames) {
        sf_count_t want = (sf_count_t)std::min<t_atom_ulong>(frames - done, (t_atom_ulong)block);
        sf_count_t got = read_block(m, tmp.data(), want);
        if (got <= 0) break;
        float *out = dst + done * (size_t)nchans;
        for (sf_count_t f = 0; f < got; ++f) {
            const float *in = tmp.data() + (size_t)f * (size_t)fch;
            float *o = out + (size_t)f * (size_t)nchans;
            for (long c = 0; c < copy; ++c) o[c] = in[c];
            for (long c = copy; c < nchans; ++c) o[c] = 0.0f;
        }
        done += (t_atom_ulong)got;
    }
    zero_rest();
    return result(0);
}

void *js_format(t_jsoundfile *x, long type) {
    acquire(x->j_impl);
    x->j_impl->write_side = true;
    x->j_impl->format = (t_fourcc)type;
    return nullptr;
}

void js_setsr(t_jsoundfile *x, double sr) { x->j_impl->sr = sr; }

// What a container can hold: the libsndfile format for a type code, bit depth,
// float flag and encoding, or 0 with the reason in why.
int sf_format_for(t_fourcc type, long bits, bool fl, t_fourcc encoding, std::string *why) {
    const orvo::detail::SoundFileType *t = orvo::detail::sound_file_type(type);
    if (!t || !t->writable) {
        char code[5] = {(char)(type >> 24), (char)(type >> 16), (char)(type >> 8), (char)type, 0};
        *why = type ? std::string("files of type '") + code + "' cannot be written" : "no file type to write";
        return 0;
    }
    const int major = t->sf_format;
    const char *name = t->name;
    int sub;
    std::string what;
    if (encoding == FOURCC('U', 'L', 'A', 'W') || encoding == FOURCC('A', 'L', 'A', 'W')) {
        sub = encoding == FOURCC('U', 'L', 'A', 'W') ? SF_FORMAT_ULAW : SF_FORMAT_ALAW;
        what = "G.711 samples";
    } else if (fl) {
        sub = bits == 64 ? SF_FORMAT_DOUBLE : bits == 32 ? SF_FORMAT_FLOAT : 0;
        what = std::to_string(bits) + "-bit float samples";
    } else {
        sub = bits == 8    ? ((major == SF_FORMAT_WAV) ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_S8)
              : bits == 16 ? SF_FORMAT_PCM_16
              : bits == 24 ? SF_FORMAT_PCM_24
              : bits == 32 ? SF_FORMAT_PCM_32
                           : 0;
        what = std::to_string(bits) + "-bit integer samples";
    }
    SF_INFO probe{0, 44100, 1, major | sub, 0, 0};
    if (!sub || !sf_format_check(&probe)) {
        *why = std::string(name) + " cannot hold " + what;
        return 0;
    }
    return major | sub;
}

// ---- writing ----------------------------------------------------------------------------------

// Test hook: the k-th write of sound-file bytes from now fails as a full disk would (0: off).
std::atomic<long> g_fail_write{0};

// libsndfile writes through these, into the temporary file: every failure is kept.
struct WriteSink {
    int fd;
    int err = 0;  // the first errno
};

sf_count_t sink_length(void *u) {
    struct stat sb;
    return fstat(static_cast<WriteSink *>(u)->fd, &sb) == 0 ? (sf_count_t)sb.st_size : -1;
}
sf_count_t sink_seek(sf_count_t offset, int whence, void *u) {
    return (sf_count_t)lseek(static_cast<WriteSink *>(u)->fd, (off_t)offset, whence);
}
sf_count_t sink_tell(void *u) { return (sf_count_t)lseek(static_cast<WriteSink *>(u)->fd, 0, SEEK_CUR); }
sf_count_t sink_read(void *ptr, sf_count_t n, void *u) {
    ssize_t got;
    do got = read(static_cast<WriteSink *>(u)->fd, ptr, (size_t)n);
    while (got < 0 && errno == EINTR);
    return got < 0 ? 0 : (sf_count_t)got;
}
sf_count_t sink_write(const void *ptr, sf_count_t n, void *u) {
    auto *w = static_cast<WriteSink *>(u);
    long k = g_fail_write.load();
    while (k > 0 && !g_fail_write.compare_exchange_weak(k, k - 1)) {
    }
    if (k == 1) {
        if (!w->err) w->err = ENOSPC;
        return 0;
    }
    const char *p = static_cast<const char *>(ptr);
    sf_count_t done = 0;
    while (done < n) {
        ssize_t put = write(w->fd, p + done, (size_t)(n - done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (!w->err) w->err = put < 0 ? errno : EIO;
            break;
        }
        done += put;
    }
    return done;
}

// The file a name stands for: symbolic links are followed, even to a file not yet there.
std::string link_target(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(path, ec)) return path;
        fs::path to = fs::read_symlink(path, ec);
        if (ec) return path;
        path = (to.is_absolute() ? to : fs::path(path).parent_path() / to).lexically_normal().string();
    }
    return path;
}

// The mode a new file gets from this process: 0666 less the umask, read without changing it.
mode_t new_file_mode() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Umask:", 0) == 0) return 0666 & ~(mode_t)std::stoul(line.substr(6), nullptr, 8);
    return 0644;
}

// Reports why a write fails, on its own console line, and gives the failure's code.
void *write_failed(t_jsoundfile *x, const std::string &why, long code) {
    object_error(&x->j_ob, "%s", why.c_str());
    return result(code);
}

// Writes the samples into a new file beside the target and moves it over the
// target only once complete, so that a failed write leaves the user's file as
// it was. The new file keeps the mode (and, where allowed, the owner) of the one
// it replaces; a symbolic link keeps pointing to the file, which is written.
void *js_writefloats(t_jsoundfile *x, float *src, t_atom_long frames, long nchans, long bits, long floatflag) {
    orvo::SampleRead reading(&x->j_ob, src, frames, nchans);  // marks the block until the file is written
    if (!reading.ok()) return result(kErrBadArgs);
    Impl *m = x->j_impl;
    if (!m->write_side || m->file.empty())
        return write_failed(x, m->cause.empty() ? "no file was named to write" : m->cause, kErrNotOpen);
    if (nchans < 1) return write_failed(x, "no channels to write", kErrBadArgs);
    if ((!src && frames > 0) || frames < 0) return write_failed(x, "no samples to write", kErrBadArgs);
    t_fourcc type = m->format;
    if (!type) type = orvo::detail::file_type(m->file);  // no type given: the name's extension, else raw
    if (!type) type = FOURCC('D', 'A', 'T', 'A');
    SF_INFO info{};
    info.samplerate = m->sr >= 1 ? (int)std::lround(m->sr) : 44100;
    info.channels = (int)nchans;
    std::string why;
    info.format = sf_format_for(type, bits, floatflag != 0, m->encoding, &why);
    if (!info.format) return write_failed(x, why, kErrBadArgs);
    if (!sf_format_check(&info)) return write_failed(x, "cannot write " + std::to_string(nchans) + " channels", kErrBadArgs);

    std::string target = link_target(m->file);
    struct stat old;
    bool existed = lstat(target.c_str(), &old) == 0;
    if (existed && !S_ISREG(old.st_mode)) return write_failed(x, strerror(S_ISDIR(old.st_mode) ? EISDIR : EINVAL), kErrBadArgs);
    if (existed && access(target.c_str(), W_OK) != 0) return write_failed(x, strerror(errno), kErrBadArgs);

    std::string temp = (fs::path(target).parent_path() / ".orvo-XXXXXX").string();
    WriteSink sink{mkstemp(temp.data())};
    if (sink.fd < 0) return write_failed(x, strerror(errno), kErrNotOpen);
    fcntl(sink.fd, F_SETFD, FD_CLOEXEC);
    SF_VIRTUAL_IO io{sink_length, sink_seek, sink_read, sink_write, sink_tell};
    SNDFILE *sf = sf_open_virtual(&io, SFM_WRITE, &info, &sink);
    sf_count_t wrote = -1;
    int closed = 0;
    if (sf) {
        sf_command(sf, SFC_SET_CLIPPING, nullptr, SF_TRUE);
        wrote = frames ? sf_writef_float(sf, src, frames) : 0;
        closed = sf_close(sf);
    } else if (!sink.err) {
        why = sf_strerror(nullptr);
    }
    if (sf && !sink.err && (wrote != frames || closed)) why = sf_error_number(closed ? closed : SF_ERR_SYSTEM);
    mode_t mode = existed ? old.st_mode & 07777 : new_file_mode();
    if (why.empty() && !sink.err && fchmod(sink.fd, mode) != 0) sink.err = errno;
    if (existed && (old.st_uid != geteuid() || old.st_gid != getegid()))
        (void)!fchown(sink.fd, old.st_uid, old.st_gid);  // only the superuser may give a file away
    if (close(sink.fd) != 0 && !sink.err) sink.err = errno;
    if (why.empty() && !sink.err && rename(temp.c_str(), target.c_str()) != 0) sink.err = errno;
    if (sink.err) why = strerror(sink.err);
    if (!why.empty()) {
        unlink(temp.c_str());
        return write_failed(x, why, kErrNotOpen);
    }
    return result(0);
}

// The sample encoding of the next "writefloats": G.711 ("ULAW", "ALAW") or plain (anything else).
void *js_setencoding(t_jsoundfile *x, long encoding) {
    x->j_impl->encoding = (t_fourcc)encoding;
    return nullptr;
}

// ---- instrument queries ----------------------------------------------------------------

void *js_sus_mode(t_jsoundfile *x) { return result(x->j_impl->inst.sus_mode); }
void *js_sus_start(t_jsoundfile *x) { return result(x->j_impl->inst.sus_begin); }
void *js_sus_end(t_jsoundfile *x) { return result(x->j_impl->inst.sus_end); }
void *js_rel_mode(t_jsoundfile *x) { return result(x->j_impl->inst.rel_mode); }
void *js_rel_start(t_jsoundfile *x) { return result(x->j_impl->inst.rel_begin); }
void *js_rel_end(t_jsoundfile *x) { return result(x->j_impl->inst.rel_end); }
void *js_basepitch(t_jsoundfile *x) { return result(x->j_impl->inst.basenote); }
void *js_detune(t_jsoundfile *x) { return result(x->j_impl->inst.detune); }
void *js_lowpitch(t_jsoundfile *x) { return result(x->j_impl->inst.lowkey); }
void *js_highpitch(t_jsoundfile *x) { return result(x->j_impl->inst.highkey); }
void *js_lowvel(t_jsoundfile *x) { return result(x->j_impl->inst.lowvel); }
void *js_highvel(t_jsoundfile *x) { return result(x->j_impl->inst.highvel); }
void *js_gain(t_jsoundfile *x) { return result(x->j_impl->inst.gain); }

// The frame of a marker; 0 for an id the file does not hold.
void *js_searchmarkers(t_jsoundfile *x, long id) {
    for (auto &[mid, frame] : x->j_impl->inst.markers)
        if (mid == id) return result(frame);
    return result(0);
}

// ---- life cycle ----------------------------------------------------------------------------

void *js_new() {
    auto *x = static_cast<t_jsoundfile *>(object_alloc(s_jsoundfile_class));
    if (!x) return nullptr;
    x->j_impl = new Impl;
    return x;
}

void js_free(t_jsoundfile *x) {
    if (!x->j_impl) return;
    close_file(x->j_impl);
    release(x->j_impl);
    delete x->j_impl;
    x->j_impl = nullptr;
}

}  // namespace

namespace orvo {

long open_descriptors() {
    long fds = 0;
    std::error_code ec;
    for (fs::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec)) ++fds;
    return fds - 1;  // less the one that lists them
}

void file_fail_write(long k) { g_fail_write = k > 0 ? k : 0; }

}  // namespace orvo

namespace orvo::detail {

void init_jsoundfile() {
    if (s_jsoundfile_class) return;
    t_common_symbols_table *cs = common_symbols_gettable();
    t_class *c = class_new("jsoundfile", as_method(js_new), as_method(js_free), (long)sizeof(t_jsoundfile), 0L, 0L);
    if (!c) return;
    struct Entry {
        method fn;
        const char *name;
    };
    const Entry priv[] = {
        {as_method(js_open), cs->s_open->s_name},
        {as_method(js_close), cs->s_close->s_name},
        {as_method(js_getsr), "getsr"},
        {as_method(js_getchannelcount), "getchannelcount"},
        {as_method(js_getlength), "getlength"},
        {as_method(js_getcause), "getcause"},
        {as_method(js_readfloats), "readfloats"},
        {as_method(js_format), "format"},
        {as_method(js_writefloats), "writefloats"},
        {as_method(js_setencoding), "setencoding"},
        {as_method(js_sus_mode), "getsustainloopmode"},
        {as_method(js_sus_start), "getsustainloopstart"},
        {as_method(js_sus_end), "getsustainloopend"},
        {as_method(js_rel_mode), "getreleaseloopmode"},
        {as_method(js_rel_start), "getreleaseloopstart"},
        {as_method(js_rel_end), "getreleaseloopend"},
        {as_method(js_searchmarkers), "searchmarkers"},
        {as_method(js_basepitch), "getbasepitch"},
        {as_method(js_detune), "getdetune"},
        {as_method(js_lowpitch), "getlowpitch"},
        {as_method(js_highpitch), "gethighpitch"},
        {as_method(js_lowvel), "getlowvelocity"},
        {as_method(js_highvel), "gethighvelocity"},
        {as_method(js_gain), "getgain"},
    };
    for (auto &e : priv) class_addmethod(c, e.fn, e.name, A_PRIVATE, 0L);
    // Takes a double: callers find it by direct lookup and call it with its real signature.
    class_addmethod(c, as_method(js_setsr), cs->s_setsamplerate->s_name, A_FLOAT, 0L);
    class_addattr(c, attr_offset_new("forcefloat", gensym("char"), 0, nullptr, nullptr,
                                     (long)offsetof(t_jsoundfile, j_forcefloat)));
    class_register(cs->s_nobox, c);
    s_jsoundfile_class = c;
}

}  // namespace orvo::detail
