// Block conversion of interleaved stored frames into interleaved float frames,
// mapping 1, 2 or 4 source channels onto 1, 2 or 4 destination channels.
#pragma once
#include "../host/orvo_types.h"

ORVO_BEGIN_C

// Decodes frames frames of srcchans interleaved channels (sampsize bytes each,
// encoding and swap flag as for vector_samp2float) into dst, dstchans floats per
// frame. Fewer destination channels average neighbouring source channels, more
// repeat each source channel into consecutive destination channels. Any other
// pair of counts (3, or more than 4, on either side) writes nothing. [any thread]
ORVO_EXPORT void buffer_chomp(const unsigned char *src, float *dst, t_atom_ulong frames, short srcchans, short dstchans,
                              short sampsize, t_atom_long encoding, short swap);

ORVO_END_C
