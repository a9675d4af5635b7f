// The headless patcher window: a jpatcher holds one view and the boxes made in
// it, remembers where it is on screen, and answers what a visible window would.
// Nothing is shown; window_render draws it on request.
#include <cmath>
#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "init.h"
#include "orvo/runtime.h"
#include "windows_internal.h"

using orvo::detail::Patcher;
using orvo::detail::PatcherState;
using orvo::detail::PatcherView;

namespace {

t_class *s_patcher_class;
t_class *s_view_class;

std::atomic<long> g_front_counter{0};

// Every live patcher, for window_front.
std::mutex &patchers_mutex() {
    static auto *m = new std::mutex;
    return *m;
}
std::vector<Patcher *> &patchers() {
    static auto *v = new std::vector<Patcher *>;
    return *v;
}

PatcherView *as_view(void *x) { return object_class(x) == s_view_class ? (PatcherView *)x : nullptr; }

// A window size within the patcher's constraint, when it has one.
void constrain(const PatcherState *st, double *w, double *h) {
    if (!st->constrained) return;
    *w = std::clamp(*w, st->min_w, std::max(st->min_w, st->max_w));
    *h = std::clamp(*h, st->min_h, std::max(st->min_h, st->max_h));
}

void set_rect_attr(void *x, t_symbol *name, const t_rect &r) {
    t_atom av[4];
    atom_setfloat(av + 0, r.x);
    atom_setfloat(av + 1, r.y);
    atom_setfloat(av + 2, r.width);
    atom_setfloat(av + 3, r.height);
    object_attr_setvalueof(x, name, 4, av);
}

// "defrect": the window rectangle. A new size reaches the view, so that whoever
// watches the view lays its boxes out again.
t_orvo_err patcher_set_defrect(Patcher *x, t_object *, long argc, t_atom *argv) {
    if (argc < 4 || !argv) return ORVO_ERR_BAD_ARGS;
    t_rect r{atom_getfloat(argv), atom_getfloat(argv + 1), atom_getfloat(argv + 2), atom_getfloat(argv + 3)};
    constrain(x->st, &r.width, &r.height);
    bool resized = r.width != x->defrect.width || r.height != x->defrect.height;
    x->defrect = r;
    if (resized && x->st->view) set_rect_attr(x->st->view, gensym("rect"), t_rect{0, 0, r.width, r.height});
    orvo::detail::window_changed(x);
    return ORVO_ERR_NONE;
}

// What a screen shows of the window: stored, then the screen hears of it.
t_orvo_err patcher_set_title(Patcher *x, t_object *, long argc, t_atom *argv) {
    if (argc < 1 || !argv) return ORVO_ERR_BAD_ARGS;
    x->title = atom_getsym(argv);
    orvo::detail::window_changed(x);
    return ORVO_ERR_NONE;
}

t_orvo_err patcher_set_vscroll(Patcher *x, t_object *, long argc, t_atom *argv) {
    if (argc < 1 || !argv) return ORVO_ERR_BAD_ARGS;
    x->enablevscroll = (char)atom_getlong(argv);
    orvo::detail::window_changed(x);
    return ORVO_ERR_NONE;
}

void *patcher_new(t_symbol *, long argc, t_atom *argv) {
    using namespace orvo::detail;
    auto *x = (Patcher *)object_alloc(s_patcher_class);
    if (!x) return nullptr;
    x->st = new PatcherState;
    x->defrect = t_rect{100, 100, 400, 300};
    x->title = gensym("Untitled");
    x->enablehscroll = x->enablevscroll = 1;

    // Settings come in a dictionary or as "@name value" arguments. Keys this
    // window has no use for (menus, toolbars, presentation) are ignored.
    for (long i = 0; argv && i < argc; ++i) {
        if (argv[i].a_type != A_OBJ || !dictionary_is(argv[i].a_w.w_obj)) continue;
        for (t_symbol *key : dictionary_keys(argv[i].a_w.w_obj)) {
            const std::vector<t_atom> *v = dictionary_lookup(argv[i].a_w.w_obj, key);
            if (v && !v->empty() && find_attr(s_patcher_class, key))
                object_attr_setvalueof(x, key, (long)v->size(), const_cast<t_atom *>(v->data()));
        }
    }
    long first = attr_args_offset((short)argc, argv);
    for (long i = first; argv && i < argc;) {
        t_symbol *key = gensym(argv[i].a_w.w_sym->s_name + 1);
        long from = ++i;
        while (i < argc && !(argv[i].a_type == A_SYM && argv[i].a_w.w_sym->s_name[0] == '@')) ++i;
        if (i > from && find_attr(s_patcher_class, key)) object_attr_setvalueof(x, key, i - from, argv + from);
    }

    auto *view = (PatcherView *)object_alloc(s_view_class);
    if (!view) {
        delete x->st;
        x->st = nullptr;
        object_free(x);
        return nullptr;
    }
    view->rect = t_rect{0, 0, x->defrect.width, x->defrect.height};
    view->patcher = x;
    x->st->view = view;
    std::lock_guard lock(patchers_mutex());
    patchers().push_back(x);
    return x;
}

void patcher_free(Patcher *x) {
    orvo::detail::window_gone(x);
    {
        std::lock_guard lock(patchers_mutex());
        std::erase(patchers(), x);
    }
    if (!x->st) return;
    std::vector<t_object *> boxes;
    boxes.swap(x->st->boxes);
    for (t_object *b : boxes) {
        object_detach_byptr(x, b);
        object_free(b);
    }
    if (x->st->view) object_free(x->st->view);
    delete x->st;
    x->st = nullptr;
}

void *patcher_vis(Patcher *x) {
    x->st->visible = true;
    x->st->front = ++g_front_counter;
    orvo::detail::window_shown(x);
    return nullptr;
}

// "window constrain MINW MINH MAXW MAXH": the sizes the user may give the window.
void *patcher_window(Patcher *x, t_symbol *, long argc, t_atom *argv) {
    if (argc >= 5 && atom_getsym(argv) == gensym("constrain")) {
        x->st->constrained = true;
        x->st->min_w = atom_getfloat(argv + 1);
        x->st->min_h = atom_getfloat(argv + 2);
        x->st->max_w = atom_getfloat(argv + 3);
        x->st->max_h = atom_getfloat(argv + 4);
    }
    return nullptr;
}

void *patcher_noedit(Patcher *x) {
    x->st->editable = false;
    return nullptr;
}

// Boxes freed by someone else leave the patcher's list.
void *patcher_notify(Patcher *x, t_symbol *, t_symbol *msg, void *sender, void *) {
    if (msg == gensym("free") && x->st && std::erase(x->st->boxes, (t_object *)sender))
        orvo::detail::window_changed(x);
    return nullptr;
}

// The window's rectangle, for reopening it where it was.
void *view_getsaverect(PatcherView *v, t_rect *r) {
    if (r && v->patcher) *r = v->patcher->defrect;
    return nullptr;
}

// "100.000000." reads as a number although the parser calls it a word.
bool number_word(const t_atom &a, double *out) {
    if (a.a_type != A_SYM || !a.a_w.w_sym) return false;
    const char *s = a.a_w.w_sym->s_name;
    char *end = nullptr;
    double v = std::strtod(s, &end);
    if (end == s || std::strcmp(end, ".") != 0) return false;
    *out = v;
    return true;
}

void add_attr(t_class *c, const char *name, const char *type, long offset, method set = nullptr) {
    class_addattr(c, attr_offset_new(name, gensym(type), 0, nullptr, set, offset));
}

}  // namespace

namespace orvo::detail {

Patcher *as_patcher(void *x) { return object_class(x) == s_patcher_class ? (Patcher *)x : nullptr; }

bool patcher_live(const Patcher *p) {
    std::lock_guard lock(patchers_mutex());
    return std::find(patchers().begin(), patchers().end(), p) != patchers().end();
}

const Overview *patcher_overview(Patcher *p, const float *samples, t_atom_long frames, t_atom_long nchans,
                                 t_atom_long wanted) {
    std::vector<Overview> &all = p->st->overviews;
    if (p->st->overviews_stale.exchange(false)) all.clear();
    for (const Overview &o : all)
        if (o.matches(samples, frames, nchans)) return &o;
    if (wanted < frames / 8) return nullptr;
    // A window shows one buffer, or a few while a name moves; older memory is forgotten.
    if (all.size() >= 4) all.clear();
    all.emplace_back().build(samples, frames, nchans);
    return &all.back();
}

void init_windows() {
    static std::once_flag once;
    std::call_once(once, [] {
        t_common_symbols_table *cs = common_symbols_gettable();
        t_class *c =
            class_new("jpatcher", as_method(patcher_new), as_method(patcher_free), sizeof(Patcher), 0, A_ANY, 0);
        class_addmethod(c, as_method(patcher_vis), "vis", 0);
        class_addmethod(c, as_method(patcher_window), "window", A_ANY, 0);
        class_addmethod(c, as_method(patcher_noedit), "noedit", 0);
        class_addmethod(c, as_method(patcher_notify), "notify", A_PRIVATE, 0);
        add_attr(c, "locked", "long", offsetof(Patcher, locked));
        add_attr(c, "title", "symbol", offsetof(Patcher, title), as_method(patcher_set_title));
        add_attr(c, "enablehscroll", "char", offsetof(Patcher, enablehscroll));
        add_attr(c, "enablevscroll", "char", offsetof(Patcher, enablevscroll), as_method(patcher_set_vscroll));
        add_attr(c, "defrect", "rect", offsetof(Patcher, defrect), as_method(patcher_set_defrect));
        class_register(cs->s_nobox, c);
        s_patcher_class = c;

        // Views belong to their patcher and are never made by name.
        s_view_class = class_new("patcherview", nullptr, nullptr, sizeof(PatcherView), 0, 0);
        class_addmethod(s_view_class, as_method(view_getsaverect), "getsaverect", A_PRIVATE, 0);
        add_attr(s_view_class, "rect", "rect", offsetof(PatcherView, rect));
        add_attr(s_view_class, "owner", "object", offsetof(PatcherView, owner));

        init_waveform();
    });
}

}  // namespace orvo::detail

extern "C" {

t_object *newobject_sprintf(t_object *patcher, const char *fmt, ...) {
    using namespace orvo::detail;
    Patcher *p = as_patcher(patcher);
    if (!p || !fmt) return nullptr;
    va_list ap, ap2;
    va_start(ap, fmt);
    va_copy(ap2, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string text(n > 0 ? (size_t)n : 0, '\0');
    if (n > 0) std::vsnprintf(text.data(), text.size() + 1, fmt, ap2);
    va_end(ap2);

    std::vector<t_atom> atoms = parse_atoms(text.c_str());
    // "@name values..." groups, in order.
    struct Group {
        t_symbol *name;
        size_t first, count;
    };
    std::vector<Group> groups;
    for (size_t i = (size_t)attr_args_offset((short)atoms.size(), atoms.data()); i < atoms.size();) {
        t_symbol *name = gensym(atoms[i].a_w.w_sym->s_name + 1);
        size_t first = ++i;
        while (i < atoms.size() && !(atoms[i].a_type == A_SYM && atoms[i].a_w.w_sym->s_name[0] == '@')) ++i;
        groups.push_back({name, first, i - first});
    }
    t_symbol *classname = nullptr;
    for (auto &g : groups)
        if (g.name == gensym("orvoclass") && g.count > 0) classname = atom_getsym(&atoms[g.first]);
    if (!classname) {
        error_line("jpatcher", "no class in \"" + text + "\"");
        return nullptr;
    }
    t_common_symbols_table *cs = common_symbols_gettable();
    t_symbol *ns = find_class(cs->s_box, classname) ? cs->s_box : cs->s_nobox;
    auto *box = (t_object *)object_new_typed(ns, classname, 0, nullptr);
    if (!box) return nullptr;

    t_class *c = object_class(box);
    for (auto &g : groups) {
        Attr *a = find_attr(c, g.name);
        if (!a || g.count == 0) continue;
        std::vector<t_atom> values(atoms.begin() + (long)g.first, atoms.begin() + (long)(g.first + g.count));
        if (a->type != gensym("symbol")) {
            double v;
            for (t_atom &at : values)
                if (number_word(at, &v)) atom_setfloat(&at, v);
        }
        object_attr_setvalueof(box, g.name, (long)values.size(), values.data());
    }
    p->st->boxes.push_back(box);
    object_attach_byptr(p, box);
    if (Waveform *w = as_waveform(box)) w->patcher = p;
    window_changed(p);
    return box;
}

t_object *jpatcher_get_firstview(t_object *patcher) {
    Patcher *p = orvo::detail::as_patcher(patcher);
    return p && p->st && p->st->view ? &p->st->view->ob : nullptr;
}

t_orvo_err patcherview_get_rect(t_object *view, t_rect *r) {
    PatcherView *v = as_view(view);
    if (!v || !r) return ORVO_ERR_INVALID_PTR;
    *r = v->rect;
    return ORVO_ERR_NONE;
}

t_orvo_err jbox_set_rect_for_view(t_object *box, t_object *view, t_rect *r) {
    if (!as_view(view) || !r || !object_valid(box)) return ORVO_ERR_INVALID_PTR;
    static t_symbol *const patching_rect = gensym("patching_rect");
    if (!orvo::detail::find_attr(object_class(box), patching_rect)) return ORVO_ERR_NOT_FOUND;
    set_rect_attr(box, patching_rect, *r);
    return ORVO_ERR_NONE;
}

}  // extern "C"

namespace orvo {

bool window_info(t_object *patcher, WindowInfo *out) {
    using namespace orvo::detail;
    Patcher *p = as_patcher(patcher);
    if (!p || !out) return false;
    *out = WindowInfo{};
    out->rect = p->defrect;
    out->view = p->st->view ? p->st->view->rect : t_rect{};
    out->title = p->title ? p->title->s_name : "";
    out->visible = p->st->visible;
    out->locked = p->locked != 0;
    out->editable = p->st->editable;
    out->hscroll = p->enablehscroll != 0;
    out->vscroll = p->enablevscroll != 0;
    if (p->st->constrained) {
        out->min_w = p->st->min_w;
        out->min_h = p->st->min_h;
        out->max_w = p->st->max_w;
        out->max_h = p->st->max_h;
    }
    for (t_object *b : p->st->boxes) {
        Waveform *w = as_waveform(b);
        if (!w) continue;
        WindowView v;
        v.box = b;
        v.rect = w->patching_rect;
        v.buffer = w->bufname ? w->bufname->s_name : "";
        v.channel = (long)w->channel;
        v.start_ms = w->start_ms;
        v.end_ms = w->end_ms;
        v.select_start = w->select_start;
        v.select_end = w->select_end;
        v.mouse_target = w->redirect;
        v.redraws = (long)w->redraws;
        out->views.push_back(v);
    }
    return true;
}

t_object *window_owned_by(const void *owner) {
    if (!owner) return nullptr;
    std::lock_guard lock(patchers_mutex());
    for (Patcher *p : patchers())
        if (p->st && p->st->view && p->st->view->owner == owner) return &p->ob;
    return nullptr;
}

t_object *window_front() {
    std::lock_guard lock(patchers_mutex());
    Patcher *best = nullptr;
    for (Patcher *p : patchers())
        if (p->st && p->st->visible && (!best || p->st->front > best->st->front)) best = p;
    return best ? &best->ob : nullptr;
}

void window_resize(t_object *patcher, double w, double h) {
    Patcher *p = orvo::detail::as_patcher(patcher);
    if (!p) return;
    set_rect_attr(p, gensym("defrect"), t_rect{p->defrect.x, p->defrect.y, w, h});
}

void window_move(t_object *patcher, double x, double y) {
    Patcher *p = orvo::detail::as_patcher(patcher);
    if (!p) return;
    // Windows stay within reach of a screen, so their saved rectangle always fits its creation text.
    auto reach = [](double v) { return std::isfinite(v) ? std::clamp(v, -32768.0, 32768.0) : 0.0; };
    set_rect_attr(p, gensym("defrect"), t_rect{reach(x), reach(y), p->defrect.width, p->defrect.height});
}

void window_user_close(t_object *patcher) {
    if (orvo::detail::as_patcher(patcher)) object_free(patcher);
}

}  // namespace orvo
