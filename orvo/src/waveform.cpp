// waveform~: a box that shows one channel of the buffer~ bound to a name. It
// reads the samples through the name's slot each time it is drawn, so it never
// holds on to memory the buffer may replace, and follows the name's
// "buffer_modified" to be drawn again after a change.
#include <algorithm>
#include <cmath>

#include "orvo/runtime.h"
#include "windows_internal.h"

using orvo::detail::Rgba;
using orvo::detail::Waveform;

namespace {

t_class *s_waveform_class;

// The window shows something new of this box.
void changed(Waveform *x) {
    if (x->patcher) orvo::detail::window_changed(x->patcher);
}

// Samples may differ from what the window last drew.
void samples_changed(Waveform *x) {
    if (!x->patcher) return;
    x->patcher->st->overviews_stale = true;
    orvo::detail::window_changed(x->patcher);
}

void follow(Waveform *x, t_symbol *name) {
    if (x->attached == name) return;
    if (x->attached) globalsymbol_detach(&x->ob, x->attached->s_name);
    x->attached = name && name->s_name[0] ? name : nullptr;
    if (x->attached) globalsymbol_attach(&x->ob, x->attached->s_name);
}

void *waveform_new() {
    auto *x = (Waveform *)object_alloc(s_waveform_class);
    if (!x) return nullptr;
    x->bufname = gensym("");
    x->annotation = gensym("");
    x->channel = 1;
    x->end_ms = -1;  // the whole buffer
    x->select_end = -1;
    return x;
}

void *waveform_name(Waveform *x, t_symbol *name, t_atom_long channel) {
    x->bufname = name;
    x->channel = channel > 0 ? channel : 1;
    follow(x, name);
    changed(x);
    return nullptr;
}

void waveform_free(Waveform *x) { follow(x, nullptr); }

// Every change of the buffer (contents, size, memory) reaches the clients of its name.
void *waveform_notify(Waveform *x, t_symbol *, t_symbol *msg, void *, void *) {
    if (msg == gensym("buffer_modified")) samples_changed(x);
    return nullptr;
}

void *waveform_mouseredirect(Waveform *x, t_object *target) {
    x->redirect = target;
    return nullptr;
}

// "list START END SELSTART SELEND": the displayed time range and the selection, in milliseconds.
void *waveform_list(Waveform *x, t_symbol *, long argc, t_atom *argv) {
    if (argc < 2) return nullptr;
    x->start_ms = atom_getfloatarg(0, argc, argv);
    x->end_ms = atom_getfloatarg(1, argc, argv);
    x->select_start = argc > 2 ? atom_getfloatarg(2, argc, argv) : 0;
    x->select_end = argc > 3 ? atom_getfloatarg(3, argc, argv) : -1;
    changed(x);
    return nullptr;
}

void *waveform_redraw(Waveform *x) {
    ++x->redraws;
    samples_changed(x);
    return nullptr;
}

t_orvo_err rect_set(Waveform *x, t_object *, long argc, t_atom *argv) {
    if (argc < 4 || !argv) return ORVO_ERR_BAD_ARGS;
    x->patching_rect = t_rect{atom_getfloat(argv), atom_getfloat(argv + 1), atom_getfloat(argv + 2),
                              atom_getfloat(argv + 3)};
    changed(x);
    return ORVO_ERR_NONE;
}

t_orvo_err rgba_get(Waveform *x, t_object *, long *argc, t_atom **argv) {
    if (!*argv || *argc < 4) {
        auto *arr = (t_atom *)sysmem_newptr(4 * sizeof(t_atom));
        if (!arr) return ORVO_ERR_OUT_OF_MEM;
        *argv = arr;
    }
    *argc = 4;
    const Rgba &c = x->selectioncolor;
    atom_setfloat(*argv + 0, c.r);
    atom_setfloat(*argv + 1, c.g);
    atom_setfloat(*argv + 2, c.b);
    atom_setfloat(*argv + 3, c.a);
    return ORVO_ERR_NONE;
}

t_orvo_err rgba_set(Waveform *x, t_object *, long argc, t_atom *argv) {
    if (argc < 3 || !argv) return ORVO_ERR_BAD_ARGS;
    x->selectioncolor = Rgba{atom_getfloat(argv), atom_getfloat(argv + 1), atom_getfloat(argv + 2),
                             argc > 3 ? atom_getfloat(argv + 3) : 1.0};
    changed(x);
    return ORVO_ERR_NONE;
}

}  // namespace

namespace orvo::detail {

Waveform *as_waveform(void *x) { return object_class(x) == s_waveform_class ? (Waveform *)x : nullptr; }

const t_buffer *waveform_buffer(const Waveform *w) {
    if (!w || !w->bufname || !w->bufname->s_name[0]) return nullptr;
    return orvo::buffer_record(w->bufname->s_thing);
}

double buffer_ms(const Waveform *w) {
    const t_buffer *b = waveform_buffer(w);
    return b && b->b_sr > 0 ? (double)b->b_frames * 1000.0 / (double)b->b_sr : 0;
}

void waveform_range(const Waveform *w, double *start_ms, double *end_ms) {
    double start = w->start_ms, end = w->end_ms;
    const t_buffer *b = waveform_buffer(w);
    if (end <= start) end = b && b->b_sr > 0 ? buffer_ms(w) : start;
    *start_ms = start;
    *end_ms = end;
}

void init_waveform() {
    t_class *c = class_new("waveform~", as_method(waveform_new), as_method(waveform_free), sizeof(Waveform), 0, 0);
    class_addmethod(c, as_method(waveform_name), "name", A_SYM, A_DEFLONG, 0);
    class_addmethod(c, as_method(waveform_mouseredirect), "mouseredirect", A_OBJ, 0);
    class_addmethod(c, as_method(waveform_list), "list", A_ANY, 0);
    class_addmethod(c, as_method(waveform_redraw), "redraw", 0);
    class_addmethod(c, as_method(waveform_notify), "notify", A_PRIVATE, 0);
    auto attr = [c](const char *name, const char *type, long offset, method get = nullptr, method set = nullptr) {
        class_addattr(c, attr_offset_new(name, gensym(type), 0, get, set, offset));
    };
    attr("patching_rect", "rect", offsetof(Waveform, patching_rect), nullptr, as_method(rect_set));
    attr("selectioncolor", "rgba", offsetof(Waveform, selectioncolor), as_method(rgba_get), as_method(rgba_set));
    attr("norulerclick", "long", offsetof(Waveform, norulerclick));
    attr("isbufferwindow", "long", offsetof(Waveform, isbufferwindow));
    attr("annotation", "symbol", offsetof(Waveform, annotation));
    class_register(common_symbols_gettable()->s_nobox, c);
    s_waveform_class = c;
}

}  // namespace orvo::detail

namespace orvo {

void window_mouse(t_object *box, double x) {
    using namespace orvo::detail;
    Waveform *w = as_waveform(box);
    if (!w || !w->redirect || !object_valid(w->redirect)) return;
    double start, end;
    waveform_range(w, &start, &end);
    double width = w->patching_rect.width;
    double ms = width > 0 ? start + (x / width) * (end - start) : start;
    t_atom a;
    atom_setfloat(&a, ms);
    object_method_typed(w->redirect, gensym("mouse"), 1, &a, nullptr);
}

}  // namespace orvo

namespace {

// Every waveform~ of w's window shows [start, end] (the one box alone when it is in none).
void show_range(Waveform *w, double start, double end) {
    std::vector<t_object *> boxes{&w->ob};
    if (w->patcher && w->patcher->st) boxes = w->patcher->st->boxes;
    for (t_object *box : boxes) {
        Waveform *v = orvo::detail::as_waveform(box);
        if (!v) continue;
        t_atom av[4];
        atom_setfloat(av, start);
        atom_setfloat(av + 1, end);
        atom_setfloat(av + 2, v->select_start);
        atom_setfloat(av + 3, v->select_end);
        object_method_typed(box, gensym("list"), 4, av, nullptr);
    }
}

}  // namespace

namespace orvo {

void window_navigate_begin(t_object *box, double x, double y) {
    Waveform *w = detail::as_waveform(box);
    if (!w) return;
    w->drag_x = x;
    w->drag_y = y;
    detail::waveform_range(w, &w->drag_start, &w->drag_end);
}

void window_navigate(t_object *box, double x, double y) {
    Waveform *w = detail::as_waveform(box);
    double total = w ? detail::buffer_ms(w) : 0, width = w ? w->patching_rect.width : 0;
    if (!w || total <= 0 || width <= 0 || w->drag_end <= w->drag_start) return;
    const t_buffer *b = detail::waveform_buffer(w);
    // Never closer than a few samples across the whole view.
    double least = std::min(total, 4000.0 / (double)b->b_sr);
    double span0 = w->drag_end - w->drag_start;
    double span = std::clamp(span0 * std::exp2(-(y - w->drag_y) / 64.0), least, total);
    // The time under the beginning of the drag stays under it, then the drag scrolls.
    double anchor = w->drag_start + w->drag_x / width * span0;
    double start = anchor - w->drag_x / width * span - (x - w->drag_x) / width * span;
    start = std::clamp(start, 0.0, total - span);
    show_range(w, start, start + span);
}

void window_zoom_out(t_object *box) {
    if (Waveform *w = detail::as_waveform(box)) show_range(w, 0, -1);
}

}  // namespace orvo
