// Plain integer and float samples read straight from the file: libsndfile parses the
// container and says where the samples lie; they are then read with pread in large
// blocks and decoded here, on every core, with libsndfile's own scaling, so that every
// value is the one sf_readf_float gives.
#pragma once
#include <sndfile.h>

#include <cstdint>
#include <string>

namespace orvo::detail {

struct PcmSource {
    int fd = -1;          // our own descriptor of the file, open while usable
    uint64_t offset = 0;  // byte position of frame 0
    uint64_t frames = 0;  // as libsndfile counts them
    int channels = 0;
    int subtype = 0;  // SF_FORMAT_PCM_16 and the like
    int width = 0;    // bytes per sample
    bool big = false; // samples stored most significant byte first
    bool usable() const { return fd >= 0; }
};

// [any thread] Probes an opened file whose libsndfile description is info: leaves src
// usable when its samples can be read directly and decode exactly as libsndfile does
// (checked on its first and last frames), else leaves it unusable.
void pcm_probe(const std::string &path, const SF_INFO &info, PcmSource *src);
// [any thread] Makes src unusable and closes its descriptor.
void pcm_close(PcmSource *src);
// [any thread] Decodes frames [start, start + frames) of a usable source into dst, as
// nchans interleaved channels: file channel c to channel c, the other channels zero, and
// every frame the file no longer holds zero. Returns the frames read from the file.
// Large reads are split over the machine's cores.
uint64_t pcm_read(const PcmSource &src, float *dst, long nchans, uint64_t start, uint64_t frames);

// [any thread] Reads up to frames frames (as many as the file holds) from file frame start of sf, an open libsndfile
// handle on path, into dst in the file's own channel layout, for coded data (FLAC) that
// libsndfile must decode: large reads are split over the cores, each further part
// through a handle of its own on the same file. Returns the frames read from start on,
// without a gap; sf is left positioned after them.
uint64_t sf_read_split(SNDFILE *sf, const std::string &path, const SF_INFO &info, float *dst, uint64_t start,
                       uint64_t frames);

}  // namespace orvo::detail
