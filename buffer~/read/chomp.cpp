#include "chomp.h"

#include "../write/sampdecode.h"

namespace {

enum class Op { Decode, Add, Scale, Copy, End };

// decode / add: source channel `from` into destination channel `to`;
// scale: destination channel `to` by gain; copy: destination `from` into `to`.
struct Step {
    Op op;
    int from;
    int to;
    float gain;
};

constexpr int kMaxSteps = 7;
using Plan = Step[kMaxSteps];

constexpr Step dec(int k, int j) { return {Op::Decode, k, j, 0.0f}; }
constexpr Step add(int k, int j) { return {Op::Add, k, j, 0.0f}; }
constexpr Step scale(int j, float g) { return {Op::Scale, 0, j, g}; }
constexpr Step copy(int i, int j) { return {Op::Copy, i, j, 0.0f}; }
constexpr Step end{Op::End, 0, 0, 0.0f};

// Rows: destination 1, 2, 4 channels; columns: source 1, 2, 4 channels. Mixing
// sums first and scales after, so the average is formed once per frame.
constexpr Plan kPlans[3][3] = {
    {
        {dec(0, 0), end},
        {dec(0, 0), add(1, 0), scale(0, 0.5f), end},
        {dec(0, 0), add(1, 0), add(2, 0), add(3, 0), scale(0, 0.25f), end},
    },
    {
        {dec(0, 0), copy(0, 1), end},
        {dec(0, 0), dec(1, 1), end},
        {dec(0, 0), add(1, 0), scale(0, 0.5f), dec(2, 1), add(3, 1), scale(1, 0.5f), end},
    },
    {
        {dec(0, 0), copy(0, 1), copy(0, 2), copy(0, 3), end},
        {dec(0, 0), copy(0, 1), dec(1, 2), copy(2, 3), end},
        {dec(0, 0), dec(1, 1), dec(2, 2), dec(3, 3), end},
    },
};

int plan_index(short chans) {
    switch (chans) {
        case 1:
            return 0;
        case 2:
            return 1;
        case 4:
            return 2;
        default:
            return -1;
    }
}

}  // namespace

void buffer_chomp(const unsigned char *src, float *dst, t_atom_ulong frames, short srcchans, short dstchans,
                  short sampsize, t_atom_long encoding, short swap) {
    const int row = plan_index(dstchans), col = plan_index(srcchans);
    if (row < 0 || col < 0 || frames == 0) return;
    const t_atom_ulong ss = (t_atom_ulong)srcchans, ds = (t_atom_ulong)dstchans;
    const t_atom_ulong size = (t_atom_ulong)(unsigned short)sampsize;
    for (const Step &s : kPlans[row][col]) {
        switch (s.op) {
            case Op::Decode:
                vector_samp2float(src + s.from * size, dst + s.to, frames, ss, ds, size, encoding, swap);
                break;
            case Op::Add:
                vector_samp2float_accum(src + s.from * size, dst + s.to, frames, ss, ds, size, encoding, swap);
                break;
            case Op::Scale:
                vector_float_scale(dst + s.to, frames, ds, s.gain);
                break;
            case Op::Copy:
                vector_float_copy(dst + s.from, dst + s.to, frames, ds, ds);
                break;
            case Op::End:
                return;
        }
    }
}
