// The editor-window companion of every buffer~. Until the editor can be opened the
// window stays closed: these operations keep its record consistent and touch nothing else.
#include "../core/buffer.h"

t_bufferwindow *bufferwindow_new(t_buffer *b, const t_rect *rect, t_atom_long nchans) {
    t_bufferwindow *w = (t_bufferwindow *)object_alloc(s_bufferwindow_class);
    if (!w) return nullptr;
    w->w_buffer = b;
    w->w_patcher = nullptr;
    w->w_view = nullptr;
    w->w_waveforms = nullptr;
    if (rect) w->w_rect = *rect;
    w->w_nchans = nchans > 0 ? nchans : 1;
    return w;
}

void bufferwindow_free(t_bufferwindow *w) { bufferwindow_close(w); }

long bufferwindow_haswaveforms(t_bufferwindow *w) { return w && w->w_waveforms ? 1 : 0; }

void bufferwindow_assign(t_bufferwindow *w) {
    if (!w || !w->w_waveforms) return;
}

void bufferwindow_updatetitle(t_bufferwindow *w, t_symbol *name) {
    if (!w || !w->w_patcher) return;
    object_attr_setsym(w->w_patcher, gensym("title"), name == ps_nothing ? gensym("untitled") : name);
}

void bufferwindow_invalidate(t_bufferwindow *w) {
    if (!w || !w->w_waveforms) return;
    for (t_atom_long i = 0; i < w->w_nchans; i++)
        if (w->w_waveforms[i]) jbox_redraw(w->w_waveforms[i]);
}

void bufferwindow_updatechans(t_bufferwindow *w) {
    if (!w) return;
    t_atom_long n = w->w_buffer->b_nchans > 0 ? w->w_buffer->b_nchans : 1;
    w->w_nchans = n;
}

void bufferwindow_close(t_bufferwindow *w) {
    if (!w || !w->w_patcher) return;
    object_free(w->w_patcher);
    w->w_patcher = nullptr;
    w->w_view = nullptr;
    sysmem_freeptr(w->w_waveforms);
    w->w_waveforms = nullptr;
}

t_orvo_err bufferwindow_notify(t_bufferwindow *w, t_symbol *s, t_symbol *msg, void *sender, void *data) {
    (void)w;
    (void)s;
    (void)msg;
    (void)sender;
    (void)data;
    return 0;
}

void bufferwindow_mouse(t_bufferwindow *w, t_symbol *s, long argc, t_atom *argv) {
    (void)s;
    if (!w || argc < 1) return;
    outlet_float(w->w_buffer->b_floatout, atom_getfloat(argv));
}

void bufferwindow_display(t_bufferwindow *w, t_symbol *s, long argc, t_atom *argv) {
    (void)s;
    (void)argc;
    (void)argv;
    if (!w || !w->w_waveforms) return;
}

long bufferwindow_updatecommand(t_bufferwindow *w, t_symbol *cmd, char *enabled, void *a, void *b) {
    if (enabled) *enabled = 1;
    return object_commandenabled(&w->w_obj, cmd, enabled, a, b);
}
