// The buffer~ messages that show and hide the editor. Windows are made and
// destroyed only on the main thread, so "open" and "wclose" go through defer.
#include "window.h"

namespace {

void buffer_dblclick_deferred(t_buffer *x, t_symbol *s, long argc, t_atom *argv) {
    (void)s;
    (void)argc;
    (void)argv;
    buffer_dblclick(x);
}

}  // namespace

void buffer_open(t_buffer *x) { defer(x, ORVO_FN(buffer_dblclick_deferred), nullptr, 0, nullptr); }

void buffer_wclose(t_buffer *x) { defer(x, ORVO_FN(buffer_doclose), nullptr, 0, nullptr); }

void buffer_doclose(t_buffer *x, t_symbol *s, long argc, t_atom *argv) {
    (void)s;
    (void)argc;
    (void)argv;
    bufferwindow_close(x->b_window);
}

void buffer_dblclick(t_buffer *x) { bufferwindow_vis(x->b_window); }
