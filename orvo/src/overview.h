// The minimum and maximum of every channel of a buffer over blocks of frames,
// at two block sizes, so that the extremes of any stretch of a long buffer cost
// a few hundred reads instead of a scan of every sample.
#pragma once
#include <cstdint>
#include <vector>

namespace orvo::detail {

struct MinMax {
    float lo, hi;
};

class Overview {
  public:
    static constexpr int64_t kFine = 256;                // frames per fine block
    static constexpr int64_t kPerCoarse = 64;            // fine blocks per coarse block
    static constexpr int64_t kCoarse = kFine * kPerCoarse;

    // Whether it was built from this memory, of this layout.
    bool matches(const float *samples, int64_t frames, int64_t nchans) const {
        return samples == samples_ && frames == frames_ && nchans == nchans_;
    }
    // Reads every sample once. samples: interleaved frames of nchans channels.
    void build(const float *samples, int64_t frames, int64_t nchans);
    // The extremes of channel ch over frames [lo, hi), as a scan of the samples
    // would give them; the samples are read only at the ragged ends. lo < hi,
    // both within the buffer.
    MinMax range(int64_t ch, int64_t lo, int64_t hi) const;
    // The same read from the samples themselves, for a stretch too short to be worth
    // an overview of the whole buffer.
    static MinMax extremes(const float *samples, int64_t nchans, int64_t ch, int64_t lo, int64_t hi);

  private:
    MinMax scan(int64_t ch, int64_t lo, int64_t hi, MinMax m) const;
    void fine_block(const float *p, MinMax *out) const;
    const float *samples_ = nullptr;
    int64_t frames_ = 0, nchans_ = 0;
    std::vector<MinMax> fine_, coarse_;  // [block * nchans + channel]
};

}  // namespace orvo::detail
