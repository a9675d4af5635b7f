// The editor window: its building steps and the buffer~ workers that open and close it.
// Operations already declared in core/buffer.h keep those declarations.
#pragma once
#include "../core/buffer.h"

// At most this many channel views share the window's height; more scroll.
#define BUFFERWINDOW_MAX_SHARED 8
// No channel view is ever lower than this.
#define BUFFERWINDOW_MIN_VIEW 32.0

// [main thread] Shows the editor, building the patcher window first when it is closed.
void bufferwindow_vis(t_bufferwindow *w);
// [main thread] Creates the locked patcher window at rect, its views, and points them at the buffer.
// Leaves w_patcher null when the host cannot make the patcher.
void bufferwindow_makepatcher(t_bufferwindow *w, const t_rect *rect);
// [main thread] One waveform~ box per channel, stacked down the patcher's defrect.
void bufferwindow_makeobjects(t_bufferwindow *w);
// Frees any old box array and allocates a zeroed one of n entries (null when out of memory).
void bufferwindow_createwaveforms(t_bufferwindow *w, t_atom_long n);
// Frees the box array (not the boxes, which belong to the patcher) and clears the field.
void bufferwindow_clearwaveforms(t_bufferwindow *w);
// Lays the boxes out down the view's current rectangle; nothing while closed.
void bufferwindow_resizewaveform(t_bufferwindow *w);

// [main thread] Worker of "wclose": closes the editor of b_window.
void buffer_doclose(t_buffer *x, t_symbol *s, long argc, t_atom *argv);
