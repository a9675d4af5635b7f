#include "overview.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace orvo::detail {

namespace {

constexpr MinMax kEmpty{std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()};

inline void widen(MinMax &m, MinMax by) {
    m.lo = std::min(m.lo, by.lo);
    m.hi = std::max(m.hi, by.hi);
}

}  // namespace

// The extremes of each channel over one fine block, whose kFine frames are contiguous.
void Overview::fine_block(const float *p, MinMax *out) const {
    constexpr int kLanes = 16;
    static_assert(kFine % kLanes == 0);
    if (kLanes % nchans_ == 0) {
        // Lane l always holds channel l % nchans, so the block is read in vectors.
        typedef float v4 __attribute__((vector_size(16)));
        v4 lo[kLanes / 4], hi[kLanes / 4];
        for (int v = 0; v < kLanes / 4; ++v) lo[v] = v4{} + kEmpty.lo, hi[v] = v4{} + kEmpty.hi;
        for (const float *end = p + kFine * nchans_; p < end; p += kLanes)
            for (int v = 0; v < kLanes / 4; ++v) {
                v4 x;
                std::memcpy(&x, p + 4 * v, sizeof x);
                lo[v] = x < lo[v] ? x : lo[v];  // as std::min and std::max would, NaN aside
                hi[v] = hi[v] < x ? x : hi[v];
            }
        for (int l = 0; l < kLanes; ++l) widen(out[l % nchans_], {lo[l / 4][l % 4], hi[l / 4][l % 4]});
        return;
    }
    // The block is small enough to stay in the nearest cache while each channel is read.
    for (int64_t c = 0; c < nchans_; ++c) {
        MinMax m = kEmpty;
        for (int64_t f = 0; f < kFine; ++f) {
            m.lo = std::min(m.lo, p[f * nchans_ + c]);
            m.hi = std::max(m.hi, p[f * nchans_ + c]);
        }
        out[c] = m;
    }
}

void Overview::build(const float *samples, int64_t frames, int64_t nchans) {
    samples_ = samples;
    frames_ = samples && frames > 0 && nchans > 0 ? frames : 0;
    nchans_ = nchans;
    int64_t nfine = frames_ / kFine, ncoarse = nfine / kPerCoarse;
    fine_.assign((size_t)(nfine * nchans_), kEmpty);
    coarse_.assign((size_t)(ncoarse * nchans_), kEmpty);
    for (int64_t b = 0; b < nfine; ++b) fine_block(samples_ + b * kFine * nchans_, &fine_[(size_t)(b * nchans_)]);
    for (int64_t b = 0; b < ncoarse * kPerCoarse; ++b)
        for (int64_t c = 0; c < nchans_; ++c)
            widen(coarse_[(size_t)((b / kPerCoarse) * nchans_ + c)], fine_[(size_t)(b * nchans_ + c)]);
}

MinMax Overview::scan(int64_t ch, int64_t lo, int64_t hi, MinMax m) const {
    MinMax s = extremes(samples_, nchans_, ch, lo, hi);
    widen(m, s);
    return m;
}

MinMax Overview::extremes(const float *samples, int64_t nchans, int64_t ch, int64_t lo, int64_t hi) {
    MinMax m = kEmpty;
    for (const float *p = samples + lo * nchans + ch, *end = samples + hi * nchans + ch; p < end; p += nchans) {
        m.lo = std::min(m.lo, *p);
        m.hi = std::max(m.hi, *p);
    }
    return m;
}

MinMax Overview::range(int64_t ch, int64_t lo, int64_t hi) const {
    MinMax m = kEmpty;
    lo = std::max<int64_t>(lo, 0);
    hi = std::min(hi, frames_);
    if (lo >= hi || ch < 0 || ch >= nchans_) return m;
    // Whole fine blocks [fa, fb), whole coarse blocks [ca, cb) among them.
    int64_t fa = (lo + kFine - 1) / kFine, fb = hi / kFine;
    if (fa >= fb) return scan(ch, lo, hi, m);
    int64_t ca = (fa + kPerCoarse - 1) / kPerCoarse, cb = fb / kPerCoarse;
    if (ca >= cb) ca = cb = fb / kPerCoarse + 1;  // no whole coarse block: fine blocks only
    m = scan(ch, lo, fa * kFine, m);
    for (int64_t b = fa; b < std::min(fb, ca * kPerCoarse); ++b) widen(m, fine_[(size_t)(b * nchans_ + ch)]);
    for (int64_t b = ca; b < cb; ++b) widen(m, coarse_[(size_t)(b * nchans_ + ch)]);
    for (int64_t b = std::max(fa, cb * kPerCoarse); b < fb; ++b) widen(m, fine_[(size_t)(b * nchans_ + ch)]);
    return scan(ch, fb * kFine, hi, m);
}

}  // namespace orvo::detail
