// Writes the starting inputs of the file fuzzer: one short sound file of every
// container and encoding the reader accepts (libsndfile for most, FFmpeg's
// libraries for MPEG-4, MP3 and movie sound), an AIFF file with loops and
// markers, truncated copies and an empty file. Each seed is the control byte
// of the fuzz target (the extension's index, a read message and a buffer
// shape) followed by the file.
//
//   make_seeds FOLDER
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Indexes into the fuzz target's extension table.
enum Ext { WAV, AIF, AIFC, FLAC, SND, CAF, RAW, MP3, M4A, MOV, SD2, W64, AU, MP4, OGG, BIN };
const char *const kExt[] = {"wav", "aif", "aifc", "flac", "snd", "caf", "raw", "mp3",
                            "m4a", "mov", "sd2",  "w64",  "au",  "mp4", "ogg", "bin"};

std::string g_out;
int g_count = 0;

float tone(long frame, long chan) { return 0.6f * std::sin(0.07f * (float)frame * (float)(chan + 1)); }

std::vector<unsigned char> slurp(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// Saves a seed; the read message and buffer shape vary from seed to seed.
void seed(Ext ext, const std::vector<unsigned char> &file, const char *what) {
    unsigned char control = (unsigned char)(ext | ((g_count % 4) << 4) | (((g_count / 4) % 4) << 6));
    std::ofstream f(g_out + "/" + std::to_string(g_count++) + "-" + what, std::ios::binary);
    f.put((char)control);
    f.write((const char *)file.data(), (std::streamsize)file.size());
}

// A file and a copy cut short in its sample data.
void seed_with_truncated(Ext ext, const std::vector<unsigned char> &file, const std::string &what) {
    seed(ext, file, what.c_str());
    if (file.size() > 16)
        seed(ext, std::vector<unsigned char>(file.begin(), file.begin() + (long)(file.size() * 3 / 5)),
             (what + "-cut").c_str());
}

bool sndfile(Ext ext, int format, int chans, int rate, long frames, const std::string &what) {
    std::string tmp = g_out + "/.tmp";
    SF_INFO info{0, rate, chans, format, 0, 0};
    SNDFILE *s = sf_open(tmp.c_str(), SFM_WRITE, &info);
    if (!s) return false;
    std::vector<float> data((size_t)(frames * chans));
    for (size_t i = 0; i < data.size(); ++i) data[i] = tone((long)i / chans, (long)i % chans);
    sf_writef_float(s, data.data(), frames);
    sf_close(s);
    seed_with_truncated(ext, slurp(tmp), what);
    fs::remove(tmp);
    return true;
}

void put16(std::vector<unsigned char> &v, unsigned x) {
    v.push_back((unsigned char)(x >> 8)), v.push_back((unsigned char)x);
}
void put32(std::vector<unsigned char> &v, uint32_t x) { put16(v, x >> 16), put16(v, x & 0xffff); }
void chunk(std::vector<unsigned char> &v, const char *id, const std::vector<unsigned char> &body) {
    v.insert(v.end(), id, id + 4);
    put32(v, (uint32_t)body.size());
    v.insert(v.end(), body.begin(), body.end());
    if (body.size() & 1) v.push_back(0);
}

// AIFF, 16-bit mono at 44100 Hz, with four markers, a sustain and a release loop
// and instrument settings.
std::vector<unsigned char> aiff_with_loops(long frames) {
    std::vector<unsigned char> comm, mark, inst, ssnd, body, file;
    put16(comm, 1), put32(comm, (uint32_t)frames), put16(comm, 16);
    const unsigned char rate44100[10] = {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};
    comm.insert(comm.end(), rate44100, rate44100 + 10);
    put16(mark, 4);
    const char *names[] = {"a", "bb", "ccc", ""};
    for (unsigned id = 1; id <= 4; ++id) {
        put16(mark, id), put32(mark, (uint32_t)(id * frames / 5));
        size_t n = strlen(names[id - 1]);
        mark.push_back((unsigned char)n);
        mark.insert(mark.end(), names[id - 1], names[id - 1] + n);
        if (!(n & 1)) mark.push_back(0);  // count and text padded to even
    }
    const unsigned char settings[8] = {60, 0xFB, 0, 127, 1, 127, 0xFF, 0xFA};
    inst.insert(inst.end(), settings, settings + 8);
    put16(inst, 1), put16(inst, 1), put16(inst, 2);  // sustain: forward, markers 1 to 2
    put16(inst, 2), put16(inst, 3), put16(inst, 4);  // release: back and forth, markers 3 to 4
    put32(ssnd, 0), put32(ssnd, 0);
    for (long f = 0; f < frames; ++f) put16(ssnd, (unsigned)(int)(tone(f, 0) * 32767) & 0xffff);
    body.insert(body.end(), {'A', 'I', 'F', 'F'});
    chunk(body, "COMM", comm);
    chunk(body, "MARK", mark);
    chunk(body, "INST", inst);
    chunk(body, "SSND", ssnd);
    file.insert(file.end(), {'F', 'O', 'R', 'M'});
    put32(file, (uint32_t)body.size());
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

// One short stream encoded with FFmpeg; the container follows the extension.
bool ffmpeg(Ext ext, AVCodecID id, int chans, int rate, long frames, const std::string &what) {
    std::string tmp = g_out + "/.tmp." + kExt[ext];
    const AVCodec *codec = avcodec_find_encoder(id);
    if (!codec || !codec->sample_fmts) return false;
    AVFormatContext *oc = nullptr;
    if (avformat_alloc_output_context2(&oc, nullptr, nullptr, tmp.c_str()) < 0) return false;
    AVCodecContext *c = avcodec_alloc_context3(codec);
    AVStream *st = avformat_new_stream(oc, nullptr);
    c->sample_rate = rate, c->sample_fmt = codec->sample_fmts[0], c->time_base = st->time_base = {1, rate};
    c->bit_rate = 64000;
    av_channel_layout_default(&c->ch_layout, chans);
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    bool ok = avcodec_open2(c, codec, nullptr) >= 0 && avcodec_parameters_from_context(st->codecpar, c) >= 0 &&
              avio_open(&oc->pb, tmp.c_str(), AVIO_FLAG_WRITE) >= 0 && avformat_write_header(oc, nullptr) >= 0;
    AVFrame *f = av_frame_alloc();
    AVPacket *pkt = av_packet_alloc();
    int block = c->frame_size > 0 ? c->frame_size : 1024;
    for (long at = 0; ok; at += block) {
        long n = std::min<long>(block, frames - at);
        if (n > 0) {
            f->format = c->sample_fmt, f->sample_rate = rate, f->nb_samples = (int)n, f->pts = at;
            av_channel_layout_copy(&f->ch_layout, &c->ch_layout);
            ok = av_frame_get_buffer(f, 0) >= 0;
            for (long i = 0; ok && i < n; ++i)
                for (int ch = 0; ch < chans; ++ch) {
                    float v = tone(at + i, ch);
                    bool planar = av_sample_fmt_is_planar(c->sample_fmt);
                    size_t at_ = planar ? (size_t)i : (size_t)(i * chans + ch);
                    uint8_t *base = f->data[planar ? ch : 0];
                    switch (c->sample_fmt) {
                        case AV_SAMPLE_FMT_S16:
                        case AV_SAMPLE_FMT_S16P:
                            ((int16_t *)base)[at_] = (int16_t)(v * 32767);
                            break;
                        case AV_SAMPLE_FMT_S32:
                        case AV_SAMPLE_FMT_S32P:
                            ((int32_t *)base)[at_] = (int32_t)(v * 2147483000.0f);
                            break;
                        case AV_SAMPLE_FMT_FLT:
                        case AV_SAMPLE_FMT_FLTP:
                            ((float *)base)[at_] = v;
                            break;
                        default:
                            ok = false;
                    }
                }
        }
        if (ok) ok = avcodec_send_frame(c, n > 0 ? f : nullptr) >= 0;
        while (ok && avcodec_receive_packet(c, pkt) == 0) {
            av_packet_rescale_ts(pkt, c->time_base, st->time_base);
            ok = av_interleaved_write_frame(oc, pkt) >= 0;
        }
        av_frame_unref(f);
        if (n <= 0) break;
    }
    if (ok) ok = av_write_trailer(oc) >= 0;
    av_packet_free(&pkt);
    av_frame_free(&f);
    if (oc->pb) avio_closep(&oc->pb);
    avformat_free_context(oc);
    avcodec_free_context(&c);
    if (ok) seed_with_truncated(ext, slurp(tmp), what);
    fs::remove(tmp);
    return ok;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_seeds FOLDER\n");
        return 2;
    }
    g_out = argv[1];
    fs::remove_all(g_out);
    fs::create_directories(g_out);
    av_log_set_level(AV_LOG_QUIET);

    struct Plain {
        Ext ext;
        int format, chans, rate;
        const char *what;
    };
    const Plain plain[] = {
        {WAV, SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 8000, "wav-u8"},
        {WAV, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, "wav-16"},
        {WAV, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 3, 48000, "wav-24"},
        {WAV, SF_FORMAT_WAV | SF_FORMAT_PCM_32, 1, 96000, "wav-32"},
        {WAV, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 44100, "wav-float"},
        {WAV, SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 1, 22050, "wav-double"},
        {WAV, SF_FORMAT_WAV | SF_FORMAT_ULAW, 1, 8000, "wav-ulaw"},
        {WAV, SF_FORMAT_WAV | SF_FORMAT_ALAW, 1, 8000, "wav-alaw"},
        {WAV, SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 2, 22050, "wav-ima"},
        {WAV, SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, 1, 11025, "wav-msadpcm"},
        {WAV, SF_FORMAT_WAV | SF_FORMAT_GSM610, 1, 8000, "wav-gsm"},
        {WAV, SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 6, 48000, "wavex-16"},
        {WAV, SF_FORMAT_RF64 | SF_FORMAT_PCM_16, 2, 44100, "rf64-16"},
        {W64, SF_FORMAT_W64 | SF_FORMAT_PCM_16, 2, 44100, "w64-16"},
        {AIF, SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, 1, 22050, "aiff-8"},
        {AIF, SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2, 44100, "aiff-16"},
        {AIF, SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 4, 48000, "aiff-24"},
        {AIF, SF_FORMAT_AIFF | SF_FORMAT_PCM_32, 1, 44100, "aiff-32"},
        {AIFC, SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 2, 44100, "aifc-float"},
        {AIFC, SF_FORMAT_AIFF | SF_FORMAT_DOUBLE, 1, 44100, "aifc-double"},
        {AIFC, SF_FORMAT_AIFF | SF_FORMAT_ULAW, 1, 8000, "aifc-ulaw"},
        {AIFC, SF_FORMAT_AIFF | SF_FORMAT_ALAW, 1, 8000, "aifc-alaw"},
        {AIFC, SF_FORMAT_AIFF | SF_FORMAT_IMA_ADPCM, 1, 22050, "aifc-ima"},
        {FLAC, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 44100, "flac-16"},
        {FLAC, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 1, 96000, "flac-24"},
        {FLAC, SF_FORMAT_FLAC | SF_FORMAT_PCM_S8, 1, 8000, "flac-8"},
        {SND, SF_FORMAT_AU | SF_FORMAT_PCM_16, 1, 44100, "au-16"},
        {AU, SF_FORMAT_AU | SF_FORMAT_FLOAT, 2, 48000, "au-float"},
        {SND, SF_FORMAT_AU | SF_FORMAT_ULAW, 1, 8000, "au-ulaw"},
        {AU, SF_FORMAT_AU | SF_FORMAT_G721_32, 1, 8000, "au-g721"},
        {CAF, SF_FORMAT_CAF | SF_FORMAT_PCM_16, 2, 44100, "caf-16"},
        {CAF, SF_FORMAT_CAF | SF_FORMAT_FLOAT, 1, 48000, "caf-float"},
        {CAF, SF_FORMAT_CAF | SF_FORMAT_ALAC_16, 2, 44100, "caf-alac"},
        {OGG, SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1, 22050, "ogg-vorbis"},
        {RAW, SF_FORMAT_RAW | SF_FORMAT_PCM_16 | SF_ENDIAN_BIG, 1, 44100, "raw-16"},
        {BIN, SF_FORMAT_AU | SF_FORMAT_PCM_S8, 1, 8000, "au-8-bin"},
    };
    for (auto &p : plain)
        if (!sndfile(p.ext, p.format, p.chans, p.rate, 300, p.what)) fprintf(stderr, "make_seeds: no %s\n", p.what);
    seed_with_truncated(AIF, aiff_with_loops(400), "aiff-loops");
    seed(AIF, {}, "empty");
    seed(WAV, {'R', 'I', 'F', 'F'}, "magic-only");

    struct Coded {
        Ext ext;
        AVCodecID id;
        int chans, rate;
        const char *what;
    };
    const Coded coded[] = {
        {M4A, AV_CODEC_ID_ALAC, 2, 44100, "m4a-alac"}, {M4A, AV_CODEC_ID_AAC, 1, 44100, "m4a-aac"},
        {MP3, AV_CODEC_ID_MP3, 2, 44100, "mp3"},       {MOV, AV_CODEC_ID_PCM_S16BE, 2, 48000, "mov-pcm"},
        {MP4, AV_CODEC_ID_AAC, 2, 48000, "mp4-aac"},
    };
    for (auto &c : coded)
        if (!ffmpeg(c.ext, c.id, c.chans, c.rate, 3000, c.what)) fprintf(stderr, "make_seeds: no %s\n", c.what);
    printf("%d seeds in %s\n", g_count, g_out.c_str());
    return 0;
}
