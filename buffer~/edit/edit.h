// Editing operations: fill, window functions and point operations, normalize, crop.
// All but crop change the samples in place on the delivering thread, without a lock.
#pragma once
#include "../core/buffer.h"

// ---- message handlers ----------------------------------------------------------------
// "fill": overwrites every sample with a constant or a generated sinc, cosine or sine.
void buffer_fill(t_buffer *x, t_symbol *s, long argc, t_atom *argv);
// "apply": multiplies by a window function (whole or falling half), or a gain, offset or difference.
void buffer_apply(t_buffer *x, t_symbol *s, long argc, t_atom *argv);
// "normalize": scales all samples by one factor so that the largest magnitude meets the target.
void buffer_normalize(t_buffer *x, t_symbol *s, long argc, t_atom *argv);
// "crop": defers to buffer_docrop.
void buffer_crop(t_buffer *x, t_symbol *s, long argc, t_atom *argv);

// ---- workers and helpers ---------------------------------------------------------------

// I0(x), the zeroth-order modified Bessel function of the first kind, by its power
// series; +inf when the series overflows.
double buffer_besselfn_I0(double x);

// [main thread] The work of "crop": keeps the frames from the first time (ms) up to,
// not including, the second, and shrinks the buffer to them.
void buffer_docrop(t_buffer *x, t_symbol *s, long argc, t_atom *argv);
