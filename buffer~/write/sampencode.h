// Encoding of float samples into stored forms, and a raw writer that streams a
// buffer's samples into a host file in the buffer's output format without the
// sound-file object. The caller opens the file with buffer_createfile and closes
// it itself (sysfile_close).
#pragma once
#include "../host/buffer_record.h"
#include "../host/orvo_file.h"
#include "../host/orvo_types.h"

ORVO_BEGIN_C

// Encodes count floats into consecutive bytes of dst. By sample size:
//   1: "ALAW" / "ULAW" code, else signed 8-bit of c * 127
//   2: signed 16-bit of c * 32767
//   3: bits 8-31 of c * 2147385345 (a 64-bit integer)
//   4: "FL32" the float's own bits, else signed 32-bit of c * 2147385345
//   8: the sample widened to double
// where c is the sample limited to -1.0..1.0 (NaN gives 1.0) and products are
// truncated toward zero; float output is never limited. A nonzero swap flag
// writes little-endian, zero big-endian. Other sizes convert nothing.
// [any thread]
ORVO_EXPORT void buffer_convert(const float *src, unsigned char *dst, t_atom_ulong count, t_atom_ulong sampsize,
                                t_atom_long encoding, short swap);

// Creates (or truncates) the file name in folder path with the given type and
// stores its handle in *fh. 0 on success; otherwise posts "can't make file" and
// returns the host's error code. [main thread]
ORVO_EXPORT t_orvo_err buffer_createfile(t_buffer *x, const char *name, short path, t_fourcc type, t_filehandle *fh);

// Writes the first count samples of x's memory (interleaved, memory order)
// encoded per b_outsampsize and b_samptype, 8192 at a time through one staging
// block, then cuts the file at the position reached. name is used only in
// messages. A write error is posted and ends the call with the file's end left
// where it was. A b_outsampsize other than 1, 2, 3, 4 or 8 is rejected without
// a console line: nothing is written and the file is left as it was. [any thread]
ORVO_EXPORT void buffer_writesamples(t_buffer *x, const char *name, t_atom_long count, t_filehandle fh, short swap);

ORVO_END_C
