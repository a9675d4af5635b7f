#include "overview.h"

#include <algorithm>
#include <limits>

namespace orvo::detail {

namespace {

constexpr MinMax kEmpty{std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()};

inline void widen(MinMax &m, MinMax by) {
    m.lo = std::min(m.lo, by.lo);
    m.hi = std::max(m.hi, by.hi);
}

}  // namespace

void Overview::build(const float *samples, int64_t frames, int64_t nchans) {
    samples_ = samples;
    frames_ = samples && frames > 0 && nchans > 0 ? frames : 0;
    nchans_ = nchans;
    int64_t nfine = frames_ / kFine, ncoarse = nfine / kPerCoarse;
    fine_.assign((size_t)(nfine * nchans_), kEmpty);
    coarse_.assign((size_t)(ncoarse * nchans_), kEmpty);
    for (int64_t b = 0; b < nfine; ++b) {
        MinMax *out = &fine_[(size_t)(b * nchans_)];
        const float *p = samples_ + b * kFine * nchans_;
        // Frame by frame keeps the reads in memory order for any channel count.
        for (int64_t f = 0; f < kFine; ++f, p += nchans_)
            for (int64_t c = 0; c < nchans_; ++c) {
                out[c].lo = std::min(out[c].lo, p[c]);
                out[c].hi = std::max(out[c].hi, p[c]);
            }
    }
    for (int64_t b = 0; b < ncoarse * kPerCoarse; ++b)
        for (int64_t c = 0; c < nchans_; ++c)
            widen(coarse_[(size_t)((b / kPerCoarse) * nchans_ + c)], fine_[(size_t)(b * nchans_ + c)]);
}

MinMax Overview::scan(int64_t ch, int64_t lo, int64_t hi, MinMax m) const {
    for (const float *p = samples_ + lo * nchans_ + ch, *end = samples_ + hi * nchans_ + ch; p < end; p += nchans_) {
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
