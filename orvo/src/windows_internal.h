// The headless patcher window, its view and the waveform~ box, as the host's
// window files (patcher, waveform, render) share them.
#pragma once
#include <atomic>
#include <vector>

#include "objects_internal.h"
#include "overview.h"

namespace orvo::detail {

struct PatcherView;

// The window's state the object system does not see as attributes.
struct PatcherState {
    std::vector<t_object *> boxes;  // in creation order; the patcher frees them
    PatcherView *view = nullptr;
    bool visible = false;
    long front = 0;  // larger is nearer the front; 0 never shown
    bool editable = true;
    bool constrained = false;
    double min_w = 0, min_h = 0, max_w = 0, max_h = 0;
    // Extremes of the buffers its boxes show, rebuilt when their samples changed. [main thread]
    std::vector<Overview> overviews;
    std::atomic<bool> overviews_stale{false};  // [any thread]
};

// A jpatcher: a window whose content is one view holding boxes.
struct Patcher {
    t_object ob;
    t_rect defrect;  // the window rectangle on screen
    t_atom_long locked;
    t_symbol *title;
    char enablehscroll;
    char enablevscroll;
    PatcherState *st;
};

// The patcher's only view: its rectangle is the window's content area.
struct PatcherView {
    t_object ob;
    t_rect rect;
    t_object *owner;
    Patcher *patcher;
};

struct Rgba {
    double r, g, b, a;
};

// A waveform~ box: one channel of the buffer~ bound to a name, over a time range.
struct Waveform {
    t_object ob;
    t_rect patching_rect;  // in its view
    Rgba selectioncolor;
    t_atom_long norulerclick;
    t_atom_long isbufferwindow;
    t_symbol *annotation;
    t_symbol *bufname;
    t_atom_long channel;              // 1-based
    t_object *redirect;               // gets "mouse" instead of the box acting on it
    double start_ms, end_ms;          // end at or before start: to the end of the buffer
    double select_start, select_end;  // empty when end is not after start
    t_atom_long redraws;
    struct Patcher *patcher;          // the window it is in, or null
    t_symbol *attached;               // the name it hears "buffer_modified" from, or null
    double drag_x, drag_y;            // where a navigating drag began, in the box
    double drag_start, drag_end;      // the range shown then
};

// The patcher x is, or null.
Patcher *as_patcher(void *x);
Waveform *as_waveform(void *x);
// The buffer~ record bound to the box's name, or null.
const struct t_buffer *waveform_buffer(const Waveform *w);
// The length of the buffer w shows, in milliseconds; 0 without one.
double buffer_ms(const Waveform *w);
// The box's displayed range in milliseconds, the end resolved against its buffer.
void waveform_range(const Waveform *w, double *start_ms, double *end_ms);

void init_waveform();

// [any thread] Something a screen shows of the window changed: it hears of it
// on the main thread at the next window_screen_flush.
void window_changed(Patcher *p);
// [any thread] The same, and the window comes to the front.
void window_shown(Patcher *p);
// [main thread] The patcher is being freed: its screen window goes now.
void window_gone(Patcher *p);
// Whether p is a live patcher (for work queued before it could be freed).
bool patcher_live(const Patcher *p);
// The extremes of b's samples, built or rebuilt as needed; null when it is out of date
// and only `wanted` frames are to be drawn, far fewer than a rebuild would read (a
// view zoomed in on a long buffer that is being edited). [main thread]
const Overview *patcher_overview(Patcher *p, const float *samples, t_atom_long frames, t_atom_long nchans,
                                 t_atom_long wanted);

}  // namespace orvo::detail
