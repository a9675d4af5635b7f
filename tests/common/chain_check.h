// The rules every name's chain of buffer~ boxes keeps, whatever happened to
// it: shared by the tests and the fuzz targets.
#pragma once
#include <cmath>
#include <cstdio>
#include <string>

#include "buffer~/host/buffer_record.h"

namespace orvo_test {

// The problems of the chain bound to name (empty when all is well): the owner at
// the head, each box with the owner's memory, samples, frames, channels, size
// and padding, b_size = b_frames x b_nchans, zero guard zones.
inline std::string chain_problems(t_symbol *name) {
    auto describe = [](const t_buffer *b) {
        char s[256];
        snprintf(s, sizeof s, "%p (memory %p samples %p frames %lld chans %lld size %lld padding %lld)", (void *)b,
                 (void *)b->b_memory, (void *)b->b_samples, (long long)b->b_frames, (long long)b->b_nchans,
                 (long long)b->b_size, (long long)b->b_padding);
        return std::string(s);
    };
    auto *head = (t_buffer *)name->s_thing;
    if (!head) return "";
    std::string where = std::string("buffer ") + name->s_name + ": ";
    if (!head->b_isowner) return where + "head is not the owner: " + describe(head);
    long n = 0;
    for (t_buffer *b = head; b; b = b->b_next) {
        if (++n > 1000) return where + "chain does not end";
        if (b != head && b->b_isowner) return where + "a second owner " + describe(b);
        if (b->b_name != name) return where + "a member under another name " + describe(b);
        if (b->b_memory != head->b_memory || b->b_samples != head->b_samples || b->b_frames != head->b_frames ||
            b->b_nchans != head->b_nchans || b->b_size != head->b_size || b->b_padding != head->b_padding)
            return where + "peer " + describe(b) + " differs from owner " + describe(head);
    }
    const t_buffer *b = head;
    t_atom_long size;
    if (__builtin_mul_overflow(b->b_frames, b->b_nchans, &size) || size != b->b_size)
        return where + "size is not frames x channels: " + describe(b);
    if (b->b_frames < 0 || b->b_size < 0 || b->b_padding < 16) return where + "impossible layout " + describe(b);
    if (!b->b_memory) return "";
    if (b->b_samples != b->b_memory + b->b_padding) return where + "samples not after the front guard " + describe(b);
    for (t_atom_long i = 0; i < b->b_padding; ++i)
        if (b->b_memory[i] != 0.0f || b->b_samples[b->b_size + i] != 0.0f)
            return where + "guard zone not zero " + describe(b);
    return "";
}

// Non-finite samples in the data of b (0 without memory).
inline long nonfinite_samples(const t_buffer *b) {
    if (!b->b_memory || !b->b_samples) return 0;
    long n = 0;
    for (t_atom_long i = 0; i < b->b_size; ++i) n += !std::isfinite(b->b_samples[i]);
    return n;
}

}  // namespace orvo_test
