// Editing operations: the workers and helpers that core/buffer.h does not declare.
#pragma once
#include "../core/buffer.h"

// I0(x), the zeroth-order modified Bessel function of the first kind, by its power
// series; +inf when the series overflows.
double buffer_besselfn_I0(double x);

// [main thread] The work of "crop": keeps the frames from the first time (ms) up to,
// not including, the second, and shrinks the buffer to them.
void buffer_docrop(t_buffer *x, t_symbol *s, long argc, t_atom *argv);
