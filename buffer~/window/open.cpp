// The buffer~ messages that show and hide the editor. Windows are made and
// destroyed only on the main thread, so "open" and "wclose" go through defer.
#include "window.h"

void buffer_open(t_buffer *x) { defer(x, ORVO_FN(buffer_deferred<buffer_dblclick>), nullptr, 0, nullptr); }

void buffer_wclose(t_buffer *x) { defer(x, ORVO_FN(buffer_doclose), nullptr, 0, nullptr); }

void buffer_doclose(t_buffer *x, t_symbol *s, long argc, t_atom *argv) {
    (void)s;
    (void)argc;
    (void)argv;
    bufferwindow_close(x->b_window);
}

void buffer_dblclick(t_buffer *x) { bufferwindow_vis(x->b_window); }
