// Files libsndfile has no decoder for go through FFmpeg's libraries: an MPEG-4
// file of lossless audio, encoded here with the same libraries, must read exactly.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <algorithm>

#include "read_fixture.h"

using namespace read_test;

namespace {

// Writes frames x chans of pattern() as 16-bit ALAC; the container follows the extension.
void encode_alac(const std::string &path, long chans, long frames, int rate) {
    av_log_set_level(AV_LOG_QUIET);  // encoders report their choices on stderr
    AVFormatContext *oc = nullptr;
    ASSERT_GE(avformat_alloc_output_context2(&oc, nullptr, nullptr, path.c_str()), 0);
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_ALAC);
    AVCodecContext *c = avcodec_alloc_context3(codec);
    AVStream *st = avformat_new_stream(oc, nullptr);
    c->sample_rate = rate, c->sample_fmt = AV_SAMPLE_FMT_S16P, c->time_base = st->time_base = {1, rate};
    av_channel_layout_default(&c->ch_layout, (int)chans);
    ASSERT_GE(avcodec_open2(c, codec, nullptr), 0);
    ASSERT_GE(avcodec_parameters_from_context(st->codecpar, c), 0);
    ASSERT_GE(avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE), 0);
    ASSERT_GE(avformat_write_header(oc, nullptr), 0);
    AVFrame *f = av_frame_alloc();
    AVPacket *pkt = av_packet_alloc();
    f->nb_samples = c->frame_size, f->format = c->sample_fmt, f->sample_rate = rate;
    av_channel_layout_copy(&f->ch_layout, &c->ch_layout);
    ASSERT_GE(av_frame_get_buffer(f, 0), 0);
    for (long at = 0;; at += c->frame_size) {  // the last block is a short one, then a flush
        const long n = std::min<long>(c->frame_size, frames - at);
        if (n > 0) {
            f->nb_samples = (int)n, f->pts = at;
            ASSERT_GE(av_frame_make_writable(f), 0);
            for (long i = 0; i < n; ++i)
                for (long ch = 0; ch < chans; ++ch)
                    ((int16_t *)f->data[ch])[i] = (int16_t)(pattern(at + i, ch) * 32768);
        }
        ASSERT_GE(avcodec_send_frame(c, n > 0 ? f : nullptr), 0);
        while (avcodec_receive_packet(c, pkt) == 0) {
            av_packet_rescale_ts(pkt, c->time_base, st->time_base);
            ASSERT_GE(av_interleaved_write_frame(oc, pkt), 0);  // a single stream: index 0
        }
        if (n <= 0) break;
    }
    ASSERT_GE(av_write_trailer(oc), 0);
    av_packet_free(&pkt);
    av_frame_free(&f);
    avio_closep(&oc->pb);
    avformat_free_context(oc);
    avcodec_free_context(&c);
}

class Media : public ReadTest {};

TEST_F(Media, LosslessMpeg4AudioReadsExactly) {
    // An odd length: the codec's last block is a short one.
    ASSERT_NO_FATAL_FAILURE(encode_alac(dir.file("two.m4a"), 2, 10007, 48000));
    t_buffer *a = buffer("a");
    send(a, "replace", "two.m4a");
    EXPECT_EQ(a->b_filetype, (t_atom_long)FOURCC('M', '4', 'a', ' '));
    EXPECT_EQ(a->b_sr, 48000.0f);
    EXPECT_EQ(a->b_nchans, 2);
    EXPECT_EQ(a->b_frames, 10007);
    EXPECT_TRUE(holds(a, 0, 10007, 2, 10007));
    // From an offset, into the size the buffer has now: the decoder starts over and skips.
    send(a, "read", "two.m4a 50");
    EXPECT_TRUE(holds(a, 2400, 10007, 2, 10007));
    EXPECT_TRUE(console().empty());
}

}  // namespace
