// The host's sound-file object, checked against direct libsndfile calls on
// files generated here.
#include <sndfile.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

#include "orvo_test.h"

namespace fs = std::filesystem;

namespace {

constexpr t_fourcc kAIFF = FOURCC('A', 'I', 'F', 'F');
constexpr t_fourcc kWAVE = FOURCC('W', 'A', 'V', 'E');
constexpr t_fourcc kFLAC = FOURCC('F', 'L', 'A', 'C');
constexpr t_fourcc kAU = FOURCC('N', 'x', 'T', 'S');
constexpr t_fourcc kDATA = FOURCC('D', 'A', 'T', 'A');
constexpr t_fourcc kRAW = FOURCC('?', '?', '?', '?');

class JsoundfileTest : public orvo_test::HostTest {
  protected:
    bool wants_plugins() const override { return false; }
    void SetUp() override {
        HostTest::SetUp();
        cs = common_symbols_gettable();
        sf = object_new(cs->s_nobox, cs->s_jsoundfile);
        ASSERT_NE(sf, nullptr);
        char file[ORVO_PATH_CHARS];
        ASSERT_EQ(path_frompathname(dir.path.c_str(), &path, file), 0);
    }
    void TearDown() override {
        if (sf) object_free(sf);
        HostTest::TearDown();
    }

    long call(const char *msg) { return (long)(intptr_t)object_method(sf, gensym(msg)); }
    long open(const std::string &name) {
        return (long)(intptr_t)object_method(sf, cs->s_open, (long)path, name.c_str(), 0L, 0L);
    }
    void close() { object_method(sf, cs->s_close); }
    long readfloats(float *dst, t_atom_ulong start, t_atom_ulong frames, long nchans) {
        return (long)(intptr_t)object_method(sf, gensym("readfloats"), dst, start, frames, nchans);
    }
    void set_write_sr(double sr) {
        method m = object_method_direct_getmethod((t_object *)sf, cs->s_setsamplerate);
        void *o = object_method_direct_getobject((t_object *)sf, cs->s_setsamplerate);
        ASSERT_NE(m, nullptr);
        reinterpret_cast<void (*)(void *, double)>(reinterpret_cast<void (*)(void)>(m))(o, sr);
    }
    long write(t_fourcc type, const std::string &name, const std::vector<float> &src, long nchans, long bits, long fl,
               double sr = 44100) {
        object_method(sf, gensym("format"), (long)type);
        open(name);
        set_write_sr(sr);
        long rc = (long)(intptr_t)object_method(sf, gensym("writefloats"), src.data(),
                                                (t_atom_long)(src.size() / (size_t)nchans), nchans, bits, fl);
        close();
        return rc;
    }

    t_common_symbols_table *cs = nullptr;
    void *sf = nullptr;
    orvo_test::TempDir dir;
    short path = 0;
};

// A test signal that differs per frame and channel and stays inside +-1.
std::vector<float> signal(long frames, long chans) {
    std::vector<float> v((size_t)(frames * chans));
    for (long f = 0; f < frames; ++f)
        for (long c = 0; c < chans; ++c)
            v[(size_t)(f * chans + c)] = 0.8f * std::sin(0.05f * (float)f * (float)(c + 1) + 0.3f * (float)c);
    return v;
}

void write_with_libsndfile(const std::string &file, int format, long chans, const std::vector<float> &data,
                           int sr = 44100) {
    SF_INFO info{};
    info.samplerate = sr;
    info.channels = (int)chans;
    info.format = format;
    SNDFILE *s = sf_open(file.c_str(), SFM_WRITE, &info);
    ASSERT_NE(s, nullptr) << sf_strerror(nullptr);
    sf_writef_float(s, data.data(), (sf_count_t)(data.size() / (size_t)chans));
    sf_close(s);
}

struct Decoded {
    SF_INFO info{};
    std::vector<float> data;
};

Decoded read_with_libsndfile(const std::string &file, SF_INFO hint = {}) {
    Decoded d;
    d.info = hint;
    SNDFILE *s = sf_open(file.c_str(), SFM_READ, &d.info);
    if (!s) return d;
    d.data.resize((size_t)(d.info.frames * d.info.channels));
    sf_readf_float(s, d.data.data(), d.info.frames);
    sf_close(s);
    return d;
}

// ---- read side -----------------------------------------------------------------------------

TEST_F(JsoundfileTest, ReadsWhatLibsndfileReads) {
    struct Case {
        int format;
        const char *ext;
    };
    const Case formats[] = {
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, "wav"},  {SF_FORMAT_WAV | SF_FORMAT_PCM_24, "wav"},
        {SF_FORMAT_WAV | SF_FORMAT_FLOAT, "wav"},   {SF_FORMAT_AIFF | SF_FORMAT_PCM_16, "aif"},
        {SF_FORMAT_AIFF | SF_FORMAT_PCM_32, "aif"}, {SF_FORMAT_FLAC | SF_FORMAT_PCM_24, "flac"},
        {SF_FORMAT_AU | SF_FORMAT_ULAW, "au"},      {SF_FORMAT_CAF | SF_FORMAT_DOUBLE, "caf"},
    };
    const long lengths[] = {1, 2, 3, 7, 127, 1024, 2049, 5000};
    const long channels[] = {1, 2, 3, 4, 6, 8};
    int n = 0;
    for (auto &fmt : formats)
        for (long frames : lengths)
            for (long chans : channels) {
                if ((n++ % 3) != 0 && frames > 7) continue;  // a spread of the combinations keeps it quick
                std::string name = "r" + std::to_string(n) + "." + fmt.ext;
                write_with_libsndfile(dir.file(name), fmt.format, chans, signal(frames, chans), 32000 + n);
                Decoded ref = read_with_libsndfile(dir.file(name));
                ASSERT_EQ(open(name), 0) << name;
                EXPECT_EQ(call("getsr"), ref.info.samplerate) << name;
                EXPECT_EQ(call("getchannelcount"), ref.info.channels) << name;
                EXPECT_EQ(call("getlength"), ref.info.frames) << name;
                std::vector<float> got(ref.data.size(), std::numeric_limits<float>::quiet_NaN());
                readfloats(got.data(), 0, (t_atom_ulong)frames, chans);
                EXPECT_EQ(got, ref.data) << name;
                close();
            }
}

TEST_F(JsoundfileTest, ReadfloatsMapsChannelsAndZeroFillsEverythingAsked) {
    const long frames = 300;
    auto src = signal(frames, 3);
    write_with_libsndfile(dir.file("three.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 3, src);
    ASSERT_EQ(open("three.wav"), 0);
    const float nan = std::numeric_limits<float>::quiet_NaN();

    // More buffer channels than file channels: the extra ones are zero.
    std::vector<float> five((size_t)(frames * 5), nan);
    readfloats(five.data(), 0, frames, 5);
    for (long f = 0; f < frames; ++f)
        for (long c = 0; c < 5; ++c)
            ASSERT_EQ(five[(size_t)(f * 5 + c)], c < 3 ? src[(size_t)(f * 3 + c)] : 0.0f) << f << " " << c;

    // Fewer: the first channels only.
    std::vector<float> two((size_t)(frames * 2), nan);
    readfloats(two.data(), 0, frames, 2);
    for (long f = 0; f < frames; ++f)
        for (long c = 0; c < 2; ++c) ASSERT_EQ(two[(size_t)(f * 2 + c)], src[(size_t)(f * 3 + c)]);

    // From a start frame, past the end of the file: zeros after the last frame.
    std::vector<float> tail((size_t)(100 * 3), nan);
    readfloats(tail.data(), 250, 100, 3);
    for (long f = 0; f < 100; ++f)
        for (long c = 0; c < 3; ++c)
            ASSERT_EQ(tail[(size_t)(f * 3 + c)], f < 50 ? src[(size_t)((250 + f) * 3 + c)] : 0.0f) << f;

    // Entirely beyond the end.
    std::vector<float> beyond(30, nan);
    readfloats(beyond.data(), 1000, 10, 3);
    for (float v : beyond) ASSERT_EQ(v, 0.0f);
    close();
}

TEST_F(JsoundfileTest, OpenFailures) {
    std::ofstream(dir.file("junk.wav"), std::ios::binary) << std::string(200, 'j');
    EXPECT_NE(open("absent.wav"), 0);
    EXPECT_NE(open("junk.wav"), 0);
    EXPECT_NE((long)(intptr_t)object_method(sf, cs->s_open, 30000L, "x.wav", 0L, 0L), 0) << "unknown path id";
    float f[4] = {1, 1, 1, 1};
    EXPECT_NE(readfloats(f, 0, 2, 2), 0) << "nothing open";
    EXPECT_EQ(f[0], 0.0f) << "still every frame written";
    EXPECT_EQ(call("getlength"), 0);
    close();
}

TEST_F(JsoundfileTest, RawDataIsBigEndianShortsOrFloats) {
    orvo::set_sr(22050);
    const int16_t values[] = {0, 16384, -32768, 32767, -1, 100};
    std::string bytes;
    for (int16_t v : values) bytes += (char)((uint16_t)v >> 8), bytes += (char)((uint16_t)v & 0xFF);
    std::ofstream(dir.file("data.raw"), std::ios::binary) << bytes;
    ASSERT_EQ(open("data.raw"), 0);
    EXPECT_EQ(call("getchannelcount"), 1);
    EXPECT_EQ(call("getsr"), 22050);
    EXPECT_EQ(call("getlength"), 6);
    float got[6];
    readfloats(got, 0, 6, 1);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(got[i], values[i] / 32768.0f) << i;
    close();

    // The same kind of file holding big-endian floats, read with forcefloat.
    const float fl[] = {0.5f, -0.25f, 1.5f};
    std::string fbytes;
    for (float v : fl) {
        uint32_t u;
        memcpy(&u, &v, 4);
        for (int s = 24; s >= 0; s -= 8) fbytes += (char)(u >> s);
    }
    std::ofstream(dir.file("floats.raw"), std::ios::binary) << fbytes;
    ASSERT_EQ(open("floats.raw"), 0);
    ASSERT_EQ(object_attr_setchar(sf, gensym("forcefloat"), 1), 0);
    float back[3];
    readfloats(back, 0, 3, 1);
    object_attr_setchar(sf, gensym("forcefloat"), 0);
    close();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(back[i], fl[i]) << i;
}

// ---- write side --------------------------------------------------------------------------------

TEST_F(JsoundfileTest, WritesEveryContainerAndDepth) {
    struct Case {
        t_fourcc type;
        int major;
        const char *ext;
    };
    const Case types[] = {
        {kAIFF, SF_FORMAT_AIFF, "aif"}, {kWAVE, SF_FORMAT_WAV, "wav"}, {kFLAC, SF_FORMAT_FLAC, "flac"},
        {kAU, SF_FORMAT_AU, "au"},      {kDATA, SF_FORMAT_RAW, "raw"}, {kRAW, SF_FORMAT_RAW, "raw"},
    };
    struct Depth {
        long bits, fl;
        double tolerance;
    };
    const Depth depths[] = {{8, 0, 1.0 / 64}, {16, 0, 1.0 / 16384}, {24, 0, 1e-6},
                            {32, 0, 1e-8},    {32, 1, 0},           {64, 1, 0}};
    const long chans = 3, frames = 127;
    auto src = signal(frames, chans);
    int n = 0;
    for (auto &t : types)
        for (auto &d : depths) {
            std::string name = "w" + std::to_string(n++) + "." + t.ext;
            long rc = write(t.type, name, src, chans, d.bits, d.fl, 48000);
            bool flac_cannot = t.type == kFLAC && (d.fl || d.bits == 32);
            if (flac_cannot) {
                EXPECT_NE(rc, 0) << name << " " << d.bits;
                EXPECT_FALSE(fs::exists(dir.file(name))) << "refused before anything was created";
                continue;
            }
            ASSERT_EQ(rc, 0) << name << " " << d.bits << " " << d.fl;
            SF_INFO hint{};
            if (t.major == SF_FORMAT_RAW) {
                hint.samplerate = 48000;
                hint.channels = (int)chans;
                hint.format = SF_FORMAT_RAW | SF_ENDIAN_BIG |
                              (d.fl           ? (d.bits == 64 ? SF_FORMAT_DOUBLE : SF_FORMAT_FLOAT)
                               : d.bits == 8  ? SF_FORMAT_PCM_S8
                               : d.bits == 16 ? SF_FORMAT_PCM_16
                               : d.bits == 24 ? SF_FORMAT_PCM_24
                                              : SF_FORMAT_PCM_32);
            }
            Decoded back = read_with_libsndfile(dir.file(name), hint);
            ASSERT_EQ(back.info.frames, frames) << name;
            EXPECT_EQ(back.info.format & SF_FORMAT_TYPEMASK, t.major) << name;
            EXPECT_EQ(back.info.channels, chans) << name;
            EXPECT_EQ(back.info.samplerate, 48000) << name;
            for (size_t i = 0; i < src.size(); ++i) ASSERT_NEAR(back.data[i], src[i], d.tolerance) << name << " " << i;
        }
}

TEST_F(JsoundfileTest, WriteClipsInsteadOfWrapping) {
    std::vector<float> loud = {1.5f, -2.0f, 0.5f};
    ASSERT_EQ(write(kWAVE, "loud.wav", loud, 1, 16, 0), 0);
    Decoded back = read_with_libsndfile(dir.file("loud.wav"));
    ASSERT_EQ(back.data.size(), 3u);
    EXPECT_GT(back.data[0], 0.99f);
    EXPECT_EQ(back.data[1], -1.0f);
    EXPECT_NEAR(back.data[2], 0.5f, 1.0 / 32768);
}

TEST_F(JsoundfileTest, WriteFailures) {
    auto src = signal(10, 1);
    EXPECT_NE(write(kWAVE, "odd.wav", src, 1, 12, 0), 0) << "no 12-bit samples";
    EXPECT_NE(write(FOURCC('Q', 'Q', 'Q', 'Q'), "q.bin", src, 1, 16, 0), 0) << "unknown container";
    EXPECT_NE(write(kWAVE, "nowhere/x.wav", src, 1, 16, 0), 0);
    // writefloats without format/open first
    EXPECT_NE((long)(intptr_t)object_method(sf, gensym("writefloats"), src.data(), (t_atom_long)10, 1L, 16L, 0L), 0);
    // A type of 0 takes the name's extension.
    ASSERT_EQ(write(0, "byext.aif", src, 1, 16, 0), 0);
    EXPECT_EQ(read_with_libsndfile(dir.file("byext.aif")).info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_AIFF);
}

TEST_F(JsoundfileTest, ReadAfterWriteUsesTheReadSideAgain) {
    auto src = signal(50, 2);
    ASSERT_EQ(write(kAIFF, "again.aif", src, 2, 24, 0, 96000), 0);
    ASSERT_EQ(open("again.aif"), 0) << "close ended the write side";
    EXPECT_EQ(call("getsr"), 96000);
    EXPECT_EQ(call("getlength"), 50);
    close();
}

// ---- AIFF instrument data ------------------------------------------------------------------------

void put16(std::string &s, int v) { s += (char)((v >> 8) & 0xFF), s += (char)(v & 0xFF); }
void put32(std::string &s, uint32_t v) {
    for (int sh = 24; sh >= 0; sh -= 8) s += (char)((v >> sh) & 0xFF);
}
std::string chunk(const char *id, std::string body) {
    std::string s(id, 4);
    put32(s, (uint32_t)body.size());
    if (body.size() & 1) body += '\0';
    return s + body;
}

struct InstrumentChunk {
    int base = 60, detune = 0, lowkey = 0, highkey = 127, lowvel = 1, highvel = 127, gain = 0;
    int sus_mode = 0, sus_a = 0, sus_b = 0, rel_mode = 0, rel_a = 0, rel_b = 0;
    bool with_inst = true;
};

// A mono 16-bit AIFF of 100 frames at 44100 Hz with markers 1..4 at frames
// 10, 50, 60 and 90, and an INST chunk as given.
std::string aiff_with_instrument(const InstrumentChunk &in) {
    std::string comm;
    put16(comm, 1);
    put32(comm, 100);
    put16(comm, 16);
    comm += std::string("\x40\x0E\xAC\x44\0\0\0\0\0\0", 10);  // 44100 as an 80-bit float
    std::string mark;
    put16(mark, 4);
    const int pos[] = {10, 50, 60, 90};
    for (int i = 0; i < 4; ++i) {
        put16(mark, i + 1);
        put32(mark, (uint32_t)pos[i]);
        mark += '\x01';
        mark += (char)('a' + i);  // count byte + one letter: already even
    }
    std::string inst;
    for (int v : {in.base, in.detune, in.lowkey, in.highkey, in.lowvel, in.highvel}) inst += (char)v;
    for (int v : {in.gain, in.sus_mode, in.sus_a, in.sus_b, in.rel_mode, in.rel_a, in.rel_b}) put16(inst, v);
    std::string ssnd;
    put32(ssnd, 0);
    put32(ssnd, 0);
    ssnd += std::string(200, '\0');
    std::string body = "AIFF" + chunk("COMM", comm) + chunk("MARK", mark) +
                       (in.with_inst ? chunk("INST", inst) : std::string()) + chunk("SSND", ssnd);
    std::string file = "FORM";
    put32(file, (uint32_t)body.size());
    return file + body;
}

TEST_F(JsoundfileTest, InstrumentWithBothLoopsAgreesWithLibsndfile) {
    InstrumentChunk in;
    in.base = 62, in.detune = -5, in.lowkey = 20, in.highkey = 100, in.lowvel = 10, in.highvel = 120, in.gain = -3;
    in.sus_mode = 1, in.sus_a = 1, in.sus_b = 2, in.rel_mode = 2, in.rel_a = 3, in.rel_b = 4;
    std::ofstream(dir.file("inst.aif"), std::ios::binary) << aiff_with_instrument(in);

    SF_INFO info{};
    SNDFILE *ref = sf_open(dir.file("inst.aif").c_str(), SFM_READ, &info);
    ASSERT_NE(ref, nullptr);
    SF_INSTRUMENT si{};
    ASSERT_EQ(sf_command(ref, SFC_GET_INSTRUMENT, &si, sizeof si), SF_TRUE);
    sf_close(ref);
    ASSERT_EQ(si.loop_count, 2);

    ASSERT_EQ(open("inst.aif"), 0);
    EXPECT_EQ(call("getbasepitch"), si.basenote);
    EXPECT_EQ(call("getdetune"), si.detune);
    EXPECT_EQ(call("getlowpitch"), si.key_lo);
    EXPECT_EQ(call("gethighpitch"), si.key_hi);
    EXPECT_EQ(call("getlowvelocity"), si.velocity_lo);
    EXPECT_EQ(call("gethighvelocity"), si.velocity_hi);
    EXPECT_EQ(call("getgain"), si.gain);
    EXPECT_EQ(call("getsustainloopmode"), 1);
    EXPECT_EQ(call("getreleaseloopmode"), 2) << "the play mode is kept (forward and back)";
    auto marker = [&](long id) { return (long)(intptr_t)object_method(sf, gensym("searchmarkers"), id); };
    EXPECT_EQ(marker(call("getsustainloopstart")), (long)si.loops[0].start);
    EXPECT_EQ(marker(call("getsustainloopend")), (long)si.loops[0].end);
    EXPECT_EQ(marker(call("getreleaseloopstart")), (long)si.loops[1].start);
    EXPECT_EQ(marker(call("getreleaseloopend")), (long)si.loops[1].end);
    EXPECT_EQ(marker(9), 0) << "a marker the file does not hold";
    close();
}

TEST_F(JsoundfileTest, InstrumentWithOnlyAReleaseLoop) {
    InstrumentChunk in;
    in.sus_mode = 0, in.sus_a = 1, in.sus_b = 2;  // ids set, loop off
    in.rel_mode = 1, in.rel_a = 3, in.rel_b = 4;
    std::ofstream(dir.file("rel.aif"), std::ios::binary) << aiff_with_instrument(in);
    ASSERT_EQ(open("rel.aif"), 0);
    EXPECT_EQ(call("getsustainloopmode"), 0);
    EXPECT_EQ(call("getreleaseloopmode"), 1);
    auto marker = [&](long id) { return (long)(intptr_t)object_method(sf, gensym("searchmarkers"), id); };
    EXPECT_EQ(marker(call("getreleaseloopstart")), 60);
    EXPECT_EQ(marker(call("getreleaseloopend")), 90);
    EXPECT_EQ(call("getbasepitch"), 60);
    close();
}

TEST_F(JsoundfileTest, NoInstrumentChunkAnswersZero) {
    InstrumentChunk in;
    in.with_inst = false;
    std::ofstream(dir.file("plain.aif"), std::ios::binary) << aiff_with_instrument(in);
    ASSERT_EQ(open("plain.aif"), 0);
    for (const char *q : {"getsustainloopmode", "getreleaseloopmode", "getbasepitch", "getgain", "gethighpitch"})
        EXPECT_EQ(call(q), 0) << q;
    close();
}

TEST_F(JsoundfileTest, FreedWhileOpenLeavesNothingBehind) {
    write_with_libsndfile(dir.file("open.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, signal(10, 1));
    ASSERT_EQ(open("open.wav"), 0);
    object_free(sf);
    sf = nullptr;  // TearDown's memory check covers the object's blocks
}

}  // namespace
