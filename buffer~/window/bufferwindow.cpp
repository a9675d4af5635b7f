// The editor-window companion of every buffer~: a locked patcher window with one
// waveform~ view per channel. The window object outlives its patcher, which
// exists only while the editor is open, and keeps the window's rectangle.
#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "window.h"

namespace {

const char *const kAnnotation =
    "Command+Click to navigate the waveform~: Vertical mouse movement lets you zoom in and out, while horizontal "
    "movement scrolls through the time range of the x-axis.\n\nCommand+Double Click to zoom out.";

t_atom_long shared_views(t_atom_long nchans) { return std::min<t_atom_long>(nchans, BUFFERWINDOW_MAX_SHARED); }

// More channels than share the window, or views squeezed below the minimum, scroll.
char needs_vscroll(t_atom_long nchans, double h) {
    return nchans > BUFFERWINDOW_MAX_SHARED || h < BUFFERWINDOW_MIN_VIEW ? 1 : 0;
}

}  // namespace

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

void bufferwindow_free(t_bufferwindow *w) {
    // Freeing the patcher makes it notify "free", which saves the rectangle and clears the fields.
    if (w && w->w_patcher) object_free(w->w_patcher);
    if (w) bufferwindow_clearwaveforms(w);
}

long bufferwindow_haswaveforms(t_bufferwindow *w) { return w && w->w_waveforms ? 1 : 0; }

void bufferwindow_vis(t_bufferwindow *w) {
    if (!w) return;
    if (!w->w_patcher) bufferwindow_makepatcher(w, &w->w_rect);
    if (!w->w_patcher) return;
    object_method(w->w_patcher, _common_symbols->s_vis);
    w->w_view = jpatcher_get_firstview(w->w_patcher);
    if (!w->w_view) return;
    object_attach_byptr(w, w->w_view);
    object_attr_setobj(w->w_view, gensym("owner"), w);
}

void bufferwindow_makepatcher(t_bufferwindow *w, const t_rect *rect) {
    if (!w || !rect) return;
    char text[256];
    std::snprintf(text, sizeof text,
                  "@defrect %.6f %.6f %.6f %.6f @title buffer @presentation 0 @createowner 0 @hasmenu 0 "
                  "@toolbarid \"\"",
                  rect->x, rect->y, rect->width, rect->height);
    long argc = 0;
    t_atom *argv = nullptr;
    if (atom_setparse(&argc, &argv, text) != 0) return;
    t_object *dict = dictionary_new();
    t_object *p = nullptr;
    if (dict) {
        attr_args_dictionary(dict, (short)argc, argv);
        t_atom a;
        atom_setobj(&a, dict);
        p = (t_object *)object_new_typed(_common_symbols->s_nobox, _common_symbols->s_jpatcher, 1, &a);
        object_free(dict);
    }
    sysmem_freeptr(argv);
    if (!p) return;

    object_attr_setlong(p, gensym("locked"), 1);
    object_method_parse(p, gensym("window"), "constrain 50 50 2048 2048", nullptr);
    object_attr_setchar(p, gensym("enablehscroll"), 0);
    object_attr_setchar(p, gensym("enablevscroll"), 0);
    // A patcher the host does not yet know by name cannot be attached to; naming it fixes that.
    if (object_attach_byptr(w, p) != 0) {
        object_register(_common_symbols->s_nobox, symbol_unique(), p);
        object_attach_byptr(w, p);
    }
    object_method(p, gensym("noedit"));

    w->w_patcher = p;
    bufferwindow_makeobjects(w);
    bufferwindow_assign(w);
}

void bufferwindow_makeobjects(t_bufferwindow *w) {
    if (!w || !w->w_patcher) return;
    t_atom_long n = w->w_nchans > 0 ? w->w_nchans : 1;
    t_rect r = {0, 0, 0, 0};
    object_attr_get_rect(w->w_patcher, gensym("defrect"), &r);
    double h = r.height / (double)shared_views(n);
    object_attr_setchar(w->w_patcher, gensym("enablevscroll"), needs_vscroll(w->w_nchans, h));

    bufferwindow_createwaveforms(w, n);
    if (!w->w_waveforms) return;
    double H = std::max(h, BUFFERWINDOW_MIN_VIEW);
    t_symbol *redirect = gensym("mouseredirect");
    for (t_atom_long i = 0; i < n; i++) {
        t_object *box = newobject_sprintf(
            w->w_patcher,
            "@orvoclass waveform~ @patching_rect 0. %.6f. %.6f %.6f @selectioncolor 0. 0. 0. 0. @norulerclick 1 "
            "@isbufferwindow 1 @annotation \"%s\"",
            (double)i * H, r.width, H, kAnnotation);
        w->w_waveforms[i] = box;
        if (!box) continue;
        t_atom a;
        atom_setobj(&a, w);
        object_method_typed(box, redirect, 1, &a, nullptr);
    }
}

void bufferwindow_createwaveforms(t_bufferwindow *w, t_atom_long n) {
    if (!w) return;
    bufferwindow_clearwaveforms(w);
    // A channel count whose table of views cannot even be sized gets no views.
    if (n < 1 || n > PTRDIFF_MAX / (t_atom_long)sizeof(t_object *)) return;
    w->w_waveforms = (t_object **)sysmem_newptrclear((t_ptr_int)(n * (t_atom_long)sizeof(t_object *)));
}

void bufferwindow_clearwaveforms(t_bufferwindow *w) {
    if (!w) return;
    if (w->w_waveforms) sysmem_freeptr(w->w_waveforms);
    w->w_waveforms = nullptr;
}

void bufferwindow_resizewaveform(t_bufferwindow *w) {
    if (!w || !w->w_waveforms || !w->w_view) return;
    t_rect vr = {0, 0, 0, 0};
    if (patcherview_get_rect(w->w_view, &vr) != 0) return;
    double h = vr.height / (double)shared_views(w->w_nchans);
    object_attr_setchar(w->w_patcher, gensym("enablevscroll"), needs_vscroll(w->w_nchans, h));
    double H = h < BUFFERWINDOW_MIN_VIEW ? BUFFERWINDOW_MIN_VIEW : h;
    for (t_atom_long i = 0; i < w->w_nchans; i++) {
        if (!w->w_waveforms[i]) continue;
        t_rect br = {0, (double)i * H, vr.width, H};
        jbox_set_rect_for_view(w->w_waveforms[i], w->w_view, &br);
    }
}

void bufferwindow_assign(t_bufferwindow *w) {
    if (!w) return;
    // A peer's window learns of a new channel count here, through propagation.
    t_atom_long chans = w->w_buffer->b_nchans > 0 ? w->w_buffer->b_nchans : 1;
    if (!w->w_waveforms) {
        if (!w->w_patcher && chans != w->w_nchans) w->w_nchans = chans;
        return;
    }
    if (chans != w->w_nchans && systhread_ismainthread()) {
        bufferwindow_updatechans(w);   // rebuilds the views and comes back here
        return;
    }
    t_symbol *name = nullptr;
    object_method(w->w_buffer, _common_symbols->s_getname, &name);
    if (!name) return;
    for (t_atom_long i = 0; i < w->w_nchans; i++) {
        if (!w->w_waveforms[i]) continue;
        t_atom av[2];
        atom_setsym(av, name);
        atom_setlong(av + 1, i + 1);
        object_method_typed(w->w_waveforms[i], _common_symbols->s_name, 2, av, nullptr);
    }
    bufferwindow_updatetitle(w, name);
}

void bufferwindow_updatetitle(t_bufferwindow *w, t_symbol *name) {
    if (!w || !w->w_patcher) return;
    if (!name || name == ps_nothing) name = gensym("untitled");
    object_attr_setsym(w->w_patcher, _common_symbols->s_title, name);
}

void bufferwindow_invalidate(t_bufferwindow *w) {
    if (!w || !w->w_waveforms) return;
    for (t_atom_long i = 0; i < w->w_nchans; i++)
        if (w->w_waveforms[i]) jbox_redraw(w->w_waveforms[i]);
}

void bufferwindow_updatechans(t_bufferwindow *w) {
    if (!w) return;
    t_atom_long n = w->w_buffer->b_nchans > 0 ? w->w_buffer->b_nchans : 1;
    if (!w->w_patcher) {
        w->w_nchans = n;
        return;
    }
    if (w->w_waveforms)
        for (t_atom_long i = 0; i < w->w_nchans; i++)
            if (w->w_waveforms[i]) freeobject(w->w_waveforms[i]);
    w->w_nchans = n;
    bufferwindow_makeobjects(w);
    bufferwindow_resizewaveform(w);
    bufferwindow_assign(w);
}

void bufferwindow_close(t_bufferwindow *w) {
    if (!w || !w->w_patcher) return;
    object_free(w->w_patcher);
    w->w_view = nullptr;
    w->w_patcher = nullptr;
    bufferwindow_clearwaveforms(w);
}

t_orvo_err bufferwindow_notify(t_bufferwindow *w, t_symbol *s, t_symbol *msg, void *sender, void *data) {
    (void)s;
    if (!w) return 0;
    if (msg == _common_symbols->s_free && sender && sender == w->w_patcher) {
        if (t_object *view = jpatcher_get_firstview(w->w_patcher))
            object_method(view, gensym("getsaverect"), &w->w_rect);
        object_detach_byptr(w, w->w_patcher);
        w->w_patcher = nullptr;
        bufferwindow_clearwaveforms(w);
        w->w_view = nullptr;
    } else if (msg == _common_symbols->s_attr_modified && sender && sender == w->w_view) {
        t_symbol *name = (t_symbol *)object_method(data, _common_symbols->s_getname);
        if (name == _common_symbols->s_rect) bufferwindow_resizewaveform(w);
    }
    return 0;
}

// With no argument there is no position to report.
void bufferwindow_mouse(t_bufferwindow *w, t_symbol *s, long argc, t_atom *argv) {
    (void)s;
    if (!w || argc < 1 || !argv) return;
    outlet_float(w->w_buffer->b_floatout, atom_getfloat(argv));
}

// Fewer than the two range values leaves the views as they are.
void bufferwindow_display(t_bufferwindow *w, t_symbol *s, long argc, t_atom *argv) {
    (void)s;
    if (!w || !w->w_waveforms || argc < 2 || !argv) return;
    t_atom av[4] = {argv[0], argv[1], {}, {}};
    atom_setfloat(av + 2, 0.);
    atom_setfloat(av + 3, -1.);
    for (t_atom_long i = 0; i < w->w_nchans; i++)
        if (w->w_waveforms[i]) object_method_typed(w->w_waveforms[i], _common_symbols->s_list, 4, av, nullptr);
}

long bufferwindow_updatecommand(t_bufferwindow *w, t_symbol *cmd, char *enabled, void *a, void *b) {
    if (enabled) *enabled = 1;
    return object_commandenabled(&w->w_obj, cmd, enabled, a, b);
}
