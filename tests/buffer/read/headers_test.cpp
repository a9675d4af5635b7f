// Files whose headers do not tell the truth: lengths counted from what the file
// holds, absurd rates refused, and headerless data read back as it was written.
#include <cmath>

#include "read_fixture.h"

using namespace read_test;

namespace {

using orvo_test::slurp;
using orvo_test::spit;

void put_be(std::string &s, size_t at, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s[at + (size_t)i] = (char)(v >> (8 * (bytes - 1 - i)));
}

// The 36-bit total-sample count of a FLAC stream's STREAMINFO block (bytes 21 to 25 of the file).
std::string flac_with_total(std::string f, uint64_t total) {
    f[21] = (char)((f[21] & 0xF0) | (char)((total >> 32) & 0x0F));
    put_be(f, 22, total & 0xFFFFFFFF, 4);
    return f;
}

// Bytes of an MPEG-1 layer III frame from its header.
size_t mp3_frame_bytes(const std::string &f, size_t at) {
    static const int kbps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int rates[] = {44100, 48000, 32000};
    unsigned char b2 = (unsigned char)f[at + 2];
    return (size_t)(144000 * kbps[b2 >> 4] / rates[(b2 >> 2) & 3] + ((b2 >> 1) & 1));
}

class Headers : public ReadTest {};

TEST_F(Headers, LengthsComeFromWhatTheFileHolds) {
    make("a.flac", 1, 1000, 44100, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    const std::string flac = slurp(dir.file("a.flac"));
    spit(dir.file("unknown.flac"), flac_with_total(flac, 0));  // what an encoder writing to a pipe leaves
    spit(dir.file("lying.flac"), flac_with_total(flac, 1ull << 28));

    // Three seconds of a variable bit rate, its first frame the length tag.
    const long mp3frames = 132300;
    {
        SF_INFO info{0, 44100, 1, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 0, 0};
        SNDFILE *s = sf_open(dir.file("vbr.mp3").c_str(), SFM_WRITE, &info);
        ASSERT_NE(s, nullptr) << sf_strerror(nullptr);
        int mode = SF_BITRATE_MODE_VARIABLE;
        sf_command(s, SFC_SET_BITRATE_MODE, &mode, sizeof mode);
        std::vector<float> v(mp3frames);
        for (size_t i = 0; i < v.size(); ++i) v[i] = 0.5f * std::sin(0.01f * (float)i * (1.0f + (float)i / 20000.0f));
        sf_writef_float(s, v.data(), mp3frames);
        sf_close(s);
    }
    const std::string mp3 = slurp(dir.file("vbr.mp3"));
    const size_t tag = mp3.find("Xing");
    ASSERT_NE(tag, std::string::npos);
    std::string lying = mp3;
    put_be(lying, tag + 8, 0x7FFFFFFF, 4);  // frames of 1152 samples
    spit(dir.file("lying.mp3"), lying);
    spit(dir.file("untagged.mp3"), mp3.substr(mp3_frame_bytes(mp3, 0)));

    const struct {
        const char *file;
        long frames, slack;  // decoders of MP3 differ by a frame or two at the edges
    } cases[] = {
        {"a.flac", 1000, 0}, {"unknown.flac", 1000, 0},  {"lying.flac", 1000, 0},
        {"lying.mp3", mp3frames, 2400}, {"untagged.mp3", mp3frames, 2400},
    };
    orvo::mem_fail_above(64 << 20);  // a lie believed fails here instead of filling the machine
    for (auto &c : cases) {
        t_buffer *b = buffer("");
        send(b, "replace", c.file);
        EXPECT_NEAR(b->b_frames, c.frames, c.slack) << c.file;
        if (!c.slack) {
            long off = 0;  // 16-bit samples, written from floats
            for (long i = 0; i < b->b_frames; ++i) off += std::abs(b->b_samples[i] - pattern(i, 0)) > 1.0f / 16384;
            EXPECT_EQ(off, 0) << c.file;
        } else {
            float peak = 0;
            for (long i = b->b_frames / 2; i < b->b_frames; ++i) peak = std::max(peak, std::abs(b->b_samples[i]));
            EXPECT_GT(peak, 0.1f) << c.file << ": the second half was decoded too";
        }
        EXPECT_TRUE(console().empty()) << c.file;
    }
}

TEST_F(Headers, AbsurdRatesAreRefusedWithTheirCause) {
    make("a.au", 1, 400, 44100, SF_FORMAT_AU | SF_FORMAT_PCM_16);
    std::string au = slurp(dir.file("a.au"));
    const struct {
        const char *file;
        uint32_t rate;
        const char *cause;  // "" when the file loads
    } cases[] = {
        {"top.au", 10000000, ""},
        {"huge.au", 0x7FFFFFFF, "sample rate 2147483647 Hz is not between 1 Hz and 10 MHz"},
        {"over.au", 10000001, "sample rate 10000001 Hz is not between 1 Hz and 10 MHz"},
    };
    for (auto &c : cases) {
        put_be(au, 16, c.rate, 4);
        spit(dir.file(c.file), au);
        t_buffer *b = watched("r 10 2");
        send(b, "fill", "0.5");
        orvo::advance(1);
        events();
        send(b, "read", std::string(c.file) + " 0 100 2");
        Lines said = events();
        if (!*c.cause) {
            EXPECT_EQ(b->b_sr, (float)c.rate);
            EXPECT_TRUE(other_.empty());
        } else {
            EXPECT_EQ(said, Lines{"watch r: read_failed 3"}) << c.file;
            EXPECT_EQ(other_, (Lines{"buffer~: error: cannot open parser for this file",
                                     "buffer~: error: " + std::string(c.file) + ": " + c.cause}));
            EXPECT_EQ(b->b_frames, 441) << "unchanged";
            EXPECT_EQ(b->b_samples[0], 0.5f);
        }
        restart();
    }
}

// Headerless data carries no sample size: read with the format it was written with, it comes back whole.
TEST_F(Headers, RawDataReadsBackWithTheFormatItWasWrittenWith) {
    for (const char *format : {"float32", "int16"}) {
        t_buffer *w = buffer("w 10 1");
        for (long i = 0; i < w->b_frames; ++i) w->b_samples[i] = pattern(i, 0);
        send(w, "format", format);
        send(w, "writeraw", dir.file("data.raw"));
        t_buffer *r = buffer("r");
        send(r, "format", format);
        send(r, "replace", "data.raw");
        EXPECT_EQ(r->b_frames, 441) << format;
        EXPECT_TRUE(holds(r, 0, 441, 1, 441)) << format;
        console();
        restart();
    }
}

}  // namespace
