// Decoding of stored samples into 32-bit float, one channel of an interleaved
// block at a time, and two strided float helpers.
//
// Strides count samples, not bytes: the source advances by source stride times
// the encoding's sample width, the destination by destination stride floats.
// Encodings (code in the low 32 bits): "NONE" signed integers of 1-4 bytes,
// "UNSN" unsigned 8-bit, "FL32", "FL64", "ULAW", "ALAW". A nonzero swap flag
// means the source is big-endian. Source and destination must not overlap.
// Pure loops over the caller's memory: no lock, no allocation, no error.
// [any thread]
#pragma once
#include "../host/orvo_types.h"

ORVO_BEGIN_C

// Stores count decoded samples at dst, dst + dststride, ... Unknown codes and
// "NONE" sizes other than 1-4 store 0.0 in every slot.
ORVO_EXPORT void vector_samp2float(const unsigned char *src, float *dst, t_atom_ulong count, t_atom_ulong srcstride,
                                   t_atom_ulong dststride, t_atom_ulong sampsize, t_atom_long encoding,
                                   t_atom_long swap);

// The same, adding each decoded sample to the float already there. Unknown codes
// and sizes leave the destination untouched.
ORVO_EXPORT void vector_samp2float_accum(const unsigned char *src, float *dst, t_atom_ulong count,
                                         t_atom_ulong srcstride, t_atom_ulong dststride, t_atom_ulong sampsize,
                                         t_atom_long encoding, t_atom_long swap);

// Multiplies count floats, stride apart, by gain in place.
ORVO_EXPORT void vector_float_scale(float *samples, t_atom_ulong count, t_atom_ulong stride, float gain);

// Copies count floats bit for bit from src (step srcstride) to dst (step dststride).
ORVO_EXPORT void vector_float_copy(const float *src, float *dst, t_atom_ulong count, t_atom_ulong srcstride,
                                   t_atom_ulong dststride);

ORVO_END_C
