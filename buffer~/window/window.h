// The editor window: the bufferwindow companion of every buffer~, its patcher window
// with one waveform~ view per channel, and the buffer~ messages that open and close it.
#pragma once
#include "../core/buffer.h"

// Private to the plug-in: the host reaches the editor through the patcher's view,
// whose "owner" is this object.
typedef struct t_bufferwindow {
    t_object w_obj;
    t_buffer *w_buffer;
    t_object *w_patcher;      // the patcher window while the editor is open, else null
    t_object *w_view;
    t_object **w_waveforms;   // w_nchans waveform~ boxes while open, else null
    t_rect w_rect;            // where the window opens next
    t_atom_long w_nchans;
} t_bufferwindow;

// ---- buffer~ message handlers ----------------------------------------------------------
// "open": defers to buffer_dblclick.
void buffer_open(t_buffer *x);
// "wclose": defers to buffer_doclose.
void buffer_wclose(t_buffer *x);
// Private "dblclick": makes the editor visible, building it first when needed.
void buffer_dblclick(t_buffer *x);

// ---- bufferwindow: life, messages and the calls the core makes ------------------------------
// The companion of b with the window rectangle and channel count given; null when out of memory.
t_bufferwindow *bufferwindow_new(t_buffer *b, const t_rect *rect, t_atom_long nchans);
// Closes the editor (freeing its patcher) and frees the box array.
void bufferwindow_free(t_bufferwindow *w);
// Points the views at the buffer's name and channels after a change of name or description.
void bufferwindow_assign(t_bufferwindow *w);
// The window title: name, or "untitled" for none; nothing while closed.
void bufferwindow_updatetitle(t_bufferwindow *w, t_symbol *name);
// Asks every view to redraw; nothing while closed.
void bufferwindow_invalidate(t_bufferwindow *w);
// Rebuilds the views for the buffer's channel count (only the count while closed).
void bufferwindow_updatechans(t_bufferwindow *w);
// [main thread] Closes the editor; the companion stays.
void bufferwindow_close(t_bufferwindow *w);
// 1 while the views exist (the editor is open), else 0.
long bufferwindow_haswaveforms(t_bufferwindow *w);
// "notify": the patcher's "free" keeps its rectangle and clears the fields; the view's new rect lays out.
t_orvo_err bufferwindow_notify(t_bufferwindow *w, t_symbol *s, t_symbol *msg, void *sender, void *data);
// "mouse": sends the position in milliseconds out of the buffer's left outlet.
void bufferwindow_mouse(t_bufferwindow *w, t_symbol *s, long argc, t_atom *argv);
// "display": shows the range of its two values in every view.
void bufferwindow_display(t_bufferwindow *w, t_symbol *s, long argc, t_atom *argv);
// "updatecommand": enables every menu command.
long bufferwindow_updatecommand(t_bufferwindow *w, t_symbol *cmd, char *enabled, void *a, void *b);

// ---- building steps ---------------------------------------------------------------------

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
