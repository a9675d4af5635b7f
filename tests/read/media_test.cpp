// Files libsndfile has no decoder for: MPEG-4 audio and the sound of movies, read
// through FFmpeg's libraries; media encoded here with the same libraries' encoders.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>

#include "read_fixture.h"

using namespace read_test;

namespace {

constexpr t_fourcc M4A = FOURCC('M', '4', 'a', ' ');

// One encoder and its stream in an output file.
struct Track {
    AVCodecContext *c = nullptr;
    AVStream *st = nullptr;
    ~Track() { avcodec_free_context(&c); }
};

bool drain(AVFormatContext *oc, Track &t, AVFrame *f) {
    if (avcodec_send_frame(t.c, f) < 0) return false;
    AVPacket *pkt = av_packet_alloc();
    while (avcodec_receive_packet(t.c, pkt) == 0) {
        av_packet_rescale_ts(pkt, t.c->time_base, t.st->time_base);
        pkt->stream_index = t.st->index;
        av_interleaved_write_frame(oc, pkt);
    }
    av_packet_free(&pkt);
    return true;
}

bool add_track(AVFormatContext *oc, Track &t, AVCodecID id, const std::function<void(AVCodecContext *)> &setup) {
    const AVCodec *codec = avcodec_find_encoder(id);
    if (!codec || !(t.c = avcodec_alloc_context3(codec))) return false;
    setup(t.c);
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) t.c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(t.c, codec, nullptr) < 0 || !(t.st = avformat_new_stream(oc, nullptr))) return false;
    t.st->time_base = t.c->time_base;
    return avcodec_parameters_from_context(t.st->codecpar, t.c) >= 0;
}

// Writes frames x chans of pattern() (times scale) with the audio codec, and with a small
// grey video track in front when movie is set. The container follows the file's extension.
bool encode(const std::string &path, AVCodecID audio, long chans, long frames, int rate, bool movie,
            float scale = 1.0f) {
    av_log_set_level(AV_LOG_QUIET);  // encoders report their choices on stderr
    AVFormatContext *oc = nullptr;
    if (avformat_alloc_output_context2(&oc, nullptr, nullptr, path.c_str()) < 0) return false;
    Track a, v;
    bool ok = add_track(oc, a, audio, [&](AVCodecContext *c) {
        c->sample_rate = rate;
        av_channel_layout_default(&c->ch_layout, (int)chans);
        c->sample_fmt = c->codec->sample_fmts[0];
        c->time_base = {1, rate};
        c->bit_rate = 192000;
    });
    if (ok && movie)
        ok = add_track(oc, v, AV_CODEC_ID_MPEG4, [](AVCodecContext *c) {
            c->width = 32;
            c->height = 32;
            c->pix_fmt = AV_PIX_FMT_YUV420P;
            c->time_base = {1, 25};
            c->framerate = {25, 1};
        });
    ok = ok && avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0 && avformat_write_header(oc, nullptr) >= 0;
    AVFrame *f = av_frame_alloc();
    for (long n = 0; ok && movie && n * rate < frames * 25; ++n) {  // a picture per 40 ms of sound
        av_frame_unref(f);
        f->format = AV_PIX_FMT_YUV420P, f->width = 32, f->height = 32, f->pts = n;
        ok = av_frame_get_buffer(f, 0) >= 0;
        for (int p = 0; ok && p < 3; ++p) std::memset(f->data[p], 128, (size_t)(f->linesize[p] * (p ? 16 : 32)));
        ok = ok && drain(oc, v, f);
    }
    const long block = a.c->frame_size > 0 ? a.c->frame_size : 1024;
    for (long at = 0; ok && at < frames; at += block) {
        av_frame_unref(f);
        f->nb_samples = (int)std::min(block, frames - at);
        f->format = a.c->sample_fmt, f->sample_rate = rate, f->pts = at;
        av_channel_layout_copy(&f->ch_layout, &a.c->ch_layout);
        ok = av_frame_get_buffer(f, 0) >= 0;
        for (long i = 0; ok && i < f->nb_samples; ++i)
            for (long c = 0; c < chans; ++c) {
                float s = scale * pattern(at + i, c);
                switch (a.c->sample_fmt) {
                    case AV_SAMPLE_FMT_S16P:
                        ((int16_t *)f->data[c])[i] = (int16_t)(s * 32768.0f);
                        break;
                    case AV_SAMPLE_FMT_S32P:
                        ((int32_t *)f->data[c])[i] = (int32_t)(s * 32768.0f) * 65536;
                        break;
                    case AV_SAMPLE_FMT_FLTP:
                        ((float *)f->data[c])[i] = s;
                        break;
                    default:
                        ok = false;
                }
            }
        ok = ok && drain(oc, a, f);
    }
    av_frame_free(&f);
    ok = ok && drain(oc, a, nullptr) && (!movie || drain(oc, v, nullptr)) && av_write_trailer(oc) >= 0;
    avio_closep(&oc->pb);
    avformat_free_context(oc);
    return ok;
}

class Media : public ReadTest {};

TEST_F(Media, LosslessMpeg4AudioReadsExactly) {
    struct Case {
        const char *file;
        long chans, frames;
        int rate;
        bool movie;
        const char *sel;
    };
    // Odd lengths: the last block of the codec is a short one.
    const Case cases[] = {
        {"two.m4a", 2, 10007, 48000, false, "replace"},
        {"one.m4a", 1, 4097, 44100, false, "read"},
        {"four.mp4", 4, 3001, 22050, false, "replace"},
        {"clip.mov", 2, 9000, 44100, true, "import"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_TRUE(encode(dir.file(c.file), AV_CODEC_ID_ALAC, c.chans, c.frames, c.rate, c.movie));
        t_buffer *a = buffer("a");
        send(a, c.sel, c.file);
        EXPECT_EQ(a->b_filetype, (t_atom_long)M4A);
        EXPECT_EQ(a->b_sr, (float)c.rate);
        EXPECT_EQ(a->b_nchans, c.chans);
        EXPECT_EQ(a->b_frames, c.frames);
        EXPECT_TRUE(holds(a, 0, c.frames, c.chans, c.frames));
        // From an offset, into the size the buffer has now: the decoder starts over and skips.
        send(a, "read", std::string(c.file) + " 50");
        long first = (long)(50 * (double)a->b_msr + 0.5);
        EXPECT_TRUE(holds(a, first, c.frames, c.chans, c.frames));
        EXPECT_TRUE(console().empty());
        free_box(&a->b_obj);
    }
}

TEST_F(Media, AacDecodesToTheSameSound) {
    // Lossy: the length may gain the codec's padding and the samples differ a little.
    ASSERT_TRUE(encode(dir.file("aac.m4a"), AV_CODEC_ID_AAC, 2, 48000, 48000, false, 0.5f));
    t_buffer *a = buffer("a");
    send(a, "replace", "aac.m4a");
    EXPECT_EQ(a->b_nchans, 2);
    EXPECT_NEAR((double)a->b_frames, 48000.0, 2048.0);
    double err = 0, energy = 0;
    for (long f = 2048; f < 40000; ++f)
        for (long c = 0; c < 2; ++c) {
            double want = 0.5 * pattern(f, c), got = a->b_samples[f * 2 + c];
            err += (got - want) * (got - want);
            energy += want * want;
        }
    EXPECT_GT(10 * std::log10(energy / err), 10.0) << "signal to error ratio in dB";
}

TEST_F(Media, DamagedOrSoundlessFilesFail) {
    ASSERT_TRUE(encode(dir.file("good.m4a"), AV_CODEC_ID_ALAC, 1, 1000, 44100, false));
    std::ifstream in(dir.file("good.m4a"), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(dir.file("cut.m4a"), std::ios::binary) << bytes.substr(0, 40);
    std::ofstream(dir.file("noise.mov"), std::ios::binary) << std::string(500, '\x5a');
    t_buffer *a = buffer("a 10 1");
    watch("a");
    for (const char *name : {"cut.m4a", "noise.mov"}) {
        send(a, "import", name);
        auto lines = console();
        ASSERT_EQ(lines.size(), 2u) << name;
        EXPECT_EQ(lines[0], "buffer~: error: cannot open parser for this file");
        EXPECT_EQ(lines[1].rfind("watch a: read_failed ", 0), 0u) << lines[1];
    }
    EXPECT_EQ(a->b_frames, 441);
}

}  // namespace
