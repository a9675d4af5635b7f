// Audio decoding through FFmpeg's libraries for jsoundfile. Frames are decoded in
// order and converted to interleaved floats at the stream's own rate and channel
// count; a read before the current position starts over from the beginning, so
// every position is exact whatever the codec's seeking granularity.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "jsoundfile_ffmpeg.h"

namespace orvo::detail {

struct MediaStream {
    std::string path;
    AVFormatContext *fmt = nullptr;
    AVCodecContext *dec = nullptr;
    SwrContext *swr = nullptr;
    AVPacket *pkt = nullptr;
    AVFrame *frame = nullptr;
    int stream = -1;
    int rate = 0;
    int channels = 0;
    int swr_format = -1, swr_rate = 0;  // of the frames the converter was made for
    bool draining = false;              // the demuxer is exhausted; the decoder is being flushed
    bool done = false;
    std::vector<float> pending;  // decoded frames not yet handed out, interleaved
    size_t pending_at = 0;       // floats of pending already handed out
    uint64_t position = 0;       // frames handed out since the stream was (re)opened
    int64_t length = -1;
};

namespace {

// FFmpeg reports every oddity of a probed file on stderr; the caller reports failures itself.
void quiet_ffmpeg() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

void release(MediaStream *m) {
    swr_free(&m->swr);
    avcodec_free_context(&m->dec);
    avformat_close_input(&m->fmt);
    av_packet_free(&m->pkt);
    av_frame_free(&m->frame);
    m->pending.clear();
    m->pending_at = 0;
    m->position = 0;
    m->draining = m->done = false;
}

bool start(MediaStream *m) {
    release(m);
    if (avformat_open_input(&m->fmt, m->path.c_str(), nullptr, nullptr) < 0) return false;
    if (avformat_find_stream_info(m->fmt, nullptr) < 0) return false;
    const AVCodec *codec = nullptr;
    m->stream = av_find_best_stream(m->fmt, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (m->stream < 0 || !codec) return false;
    m->dec = avcodec_alloc_context3(codec);
    if (!m->dec || avcodec_parameters_to_context(m->dec, m->fmt->streams[m->stream]->codecpar) < 0 ||
        avcodec_open2(m->dec, codec, nullptr) < 0)
        return false;
    m->rate = m->dec->sample_rate;
    m->channels = m->dec->ch_layout.nb_channels;
    m->pkt = av_packet_alloc();
    m->frame = av_frame_alloc();
    return m->rate > 0 && m->channels > 0 && m->pkt && m->frame;
}

// The converter is made for the first decoded frame: some decoders settle their
// sample format only then.
bool converter_for(MediaStream *m, AVFrame *f) {
    // Every later frame must be alike: the converter reads as many planes as it was made for.
    if (m->swr)
        return f->ch_layout.nb_channels == m->channels && f->format == m->swr_format && f->sample_rate == m->swr_rate;
    if (f->ch_layout.nb_channels != m->channels) return false;
    m->swr_format = f->format, m->swr_rate = f->sample_rate;
    if (swr_alloc_set_opts2(&m->swr, &f->ch_layout, AV_SAMPLE_FMT_FLT, f->sample_rate, &f->ch_layout,
                            (AVSampleFormat)f->format, f->sample_rate, 0, nullptr) < 0)
        return false;
    return swr_init(m->swr) >= 0;
}

// Appends the converted frames of f (or, with f null, what the converter still holds).
void convert(MediaStream *m, const AVFrame *f) {
    if (m->pending_at) {
        m->pending.erase(m->pending.begin(), m->pending.begin() + (std::ptrdiff_t)m->pending_at);
        m->pending_at = 0;
    }
    int room = swr_get_out_samples(m->swr, f ? f->nb_samples : 0);
    if (room <= 0) return;
    size_t old = m->pending.size();
    m->pending.resize(old + (size_t)room * (size_t)m->channels);
    auto *out = reinterpret_cast<uint8_t *>(m->pending.data() + old);
    int got = swr_convert(m->swr, &out, room, f ? const_cast<const uint8_t **>(f->extended_data) : nullptr,
                          f ? f->nb_samples : 0);
    m->pending.resize(old + (size_t)std::max(got, 0) * (size_t)m->channels);
}

// Decodes until some frames are pending or the stream has ended.
bool decode_more(MediaStream *m) {
    while (!m->done) {
        int r = avcodec_receive_frame(m->dec, m->frame);
        if (r == 0) {
            bool ok = converter_for(m, m->frame);
            if (ok) convert(m, m->frame);
            av_frame_unref(m->frame);
            if (!ok) {
                m->done = true;  // the stream changed its layout midway: stop there
                break;
            }
            if (m->pending.size() > m->pending_at) return true;
            continue;
        }
        if (r != AVERROR(EAGAIN)) {  // the end, or a decoder that gave up
            if (m->swr) convert(m, nullptr);
            m->done = true;
            break;
        }
        if (m->draining) {
            m->done = true;
            break;
        }
        if (av_read_frame(m->fmt, m->pkt) < 0) {
            avcodec_send_packet(m->dec, nullptr);
            m->draining = true;
            continue;
        }
        // A damaged packet is skipped: the decoder resynchronises on the next one.
        if (m->pkt->stream_index == m->stream) avcodec_send_packet(m->dec, m->pkt);
        av_packet_unref(m->pkt);
    }
    return m->pending.size() > m->pending_at;
}

// Hands out up to frames frames (into dst, or nowhere when dst is null).
uint64_t take(MediaStream *m, float *dst, uint64_t frames) {
    uint64_t done = 0;
    const size_t ch = (size_t)m->channels;
    while (done < frames) {
        if (m->pending.size() <= m->pending_at && !decode_more(m)) break;
        uint64_t have = (m->pending.size() - m->pending_at) / ch;
        uint64_t n = std::min(have, frames - done);
        if (dst) std::memcpy(dst + done * ch, m->pending.data() + m->pending_at, (size_t)n * ch * sizeof(float));
        m->pending_at += (size_t)n * ch;
        done += n;
    }
    m->position += done;
    return done;
}

}  // namespace

MediaStream *media_open(const std::string &path) {
    quiet_ffmpeg();
    auto *m = new MediaStream;
    m->path = path;
    if (!start(m)) {
        media_close(m);
        return nullptr;
    }
    return m;
}

void media_close(MediaStream *m) {
    if (!m) return;
    release(m);
    delete m;
}

int media_rate(const MediaStream *m) { return m ? m->rate : 0; }
int media_channels(const MediaStream *m) { return m ? m->channels : 0; }

int64_t media_length(MediaStream *m) {
    if (!m) return 0;
    if (m->length < 0) {
        if (m->position != 0 && !start(m)) return 0;
        take(m, nullptr, UINT64_MAX);
        m->length = (int64_t)m->position;
    }
    return m->length;
}

uint64_t media_read(MediaStream *m, uint64_t first, float *dst, uint64_t frames) {
    if (!m || !dst) return 0;
    if (first < m->position && !start(m)) return 0;
    if (first > m->position) take(m, nullptr, first - m->position);
    if (m->position != first) return 0;  // the stream ends before first
    return take(m, dst, frames);
}

}  // namespace orvo::detail
