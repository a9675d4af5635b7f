// Decoding of compressed audio and of the sound of movie files through FFmpeg's
// libraries, for the containers libsndfile has no decoder for ("M4a ", movies).
// Used by jsoundfile only, on whichever thread drives that object.
#pragma once
#include <cstdint>
#include <string>

namespace orvo::detail {

struct MediaStream;

// Opens the best audio stream of a file; null when there is none or it cannot be decoded.
MediaStream *media_open(const std::string &path);
void media_close(MediaStream *m);
int media_rate(const MediaStream *m);
int media_channels(const MediaStream *m);
// Frames the stream decodes to. Exact: the first call decodes the whole stream once.
int64_t media_length(MediaStream *m);
// Writes up to frames interleaved frames of media_channels() floats from frame start
// on; returns how many were written (fewer at the end of the stream).
uint64_t media_read(MediaStream *m, uint64_t start, float *dst, uint64_t frames);

}  // namespace orvo::detail
