// Each visible jpatcher becomes a toplevel window: a scrolled drawing area the
// size of the patcher's content view, drawn by the runtime. What the user does
// to the window goes back through the runtime as the headless window statements
// do it: moving and resizing change the patcher's rectangle, the close button
// frees the patcher (so its owner keeps the rectangle), and the mouse reaches
// the waveform~ box under it.
#include "screen.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <unordered_map>

#include "orvo/draw.h"
#include "orvo/runtime.h"

namespace orvo_gtk {

namespace {

struct Window {
    t_object *patcher = nullptr;
    GtkWidget *top = nullptr, *scroller = nullptr, *area = nullptr;
    t_rect applied{};        // the rectangle last given to the toolkit
    bool resizing = false;   // a size was asked of the toolkit and is not confirmed yet
    std::string title, tooltip;
    t_object *drag_box = nullptr;  // the box a drag began in
    bool navigating = false;       // with Ctrl: the drag scrolls and zooms
};

bool same_size(const t_rect &a, double w, double h) { return a.width == w && a.height == h; }

// The waveform~ box at (x, y) of the content view, with its rectangle.
t_object *box_at(const orvo::WindowInfo &info, double x, double y, t_rect *r) {
    for (const orvo::WindowView &v : info.views)
        if (x >= v.rect.x && x < v.rect.x + v.rect.width && y >= v.rect.y && y < v.rect.y + v.rect.height) {
            *r = v.rect;
            return v.box;
        }
    return nullptr;
}

bool box_rect(const orvo::WindowInfo &info, t_object *box, t_rect *r) {
    for (const orvo::WindowView &v : info.views)
        if (v.box == box) {
            *r = v.rect;
            return true;
        }
    return false;
}

class Screen final : public orvo::WindowScreen {
  public:
    void wake() override { g_main_context_wakeup(nullptr); }

    void show(t_object *patcher) override {
        Window *w = find(patcher);
        if (!w) w = make(patcher);
        gtk_window_present(GTK_WINDOW(w->top));
    }

    void update(t_object *patcher) override {
        Window *w = find(patcher);
        orvo::WindowInfo info;
        if (!w || !orvo::window_info(patcher, &info)) return;
        if (info.title != w->title) {
            w->title = info.title;
            gtk_window_set_title(GTK_WINDOW(w->top), info.title.c_str());
        }
        const t_rect &r = info.rect;
        if (r.x != w->applied.x || r.y != w->applied.y) gtk_window_move(GTK_WINDOW(w->top), (int)r.x, (int)r.y);
        if (!same_size(w->applied, r.width, r.height)) {
            gtk_window_resize(GTK_WINDOW(w->top), std::max(1, (int)r.width), std::max(1, (int)r.height));
            w->resizing = true;
        }
        w->applied = r;
        // Views below the window's bottom are reached by scrolling; the area is as tall as they reach.
        double bottom = 0;
        for (const orvo::WindowView &v : info.views) bottom = std::max(bottom, v.rect.y + v.rect.height);
        gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(w->scroller), GTK_POLICY_NEVER,
                                       info.vscroll ? GTK_POLICY_AUTOMATIC : GTK_POLICY_NEVER);
        gtk_widget_set_size_request(w->area, -1, info.vscroll ? (int)std::ceil(bottom) : -1);
        std::string tip = info.views.empty() ? "" : annotation(info.views.front().box);
        if (tip != w->tooltip) {
            w->tooltip = tip;
            gtk_widget_set_tooltip_text(w->area, tip.empty() ? nullptr : tip.c_str());
        }
        gtk_widget_queue_draw(w->area);
    }

    void gone(t_object *patcher) override {
        auto it = windows_.find(patcher);
        if (it == windows_.end()) return;
        std::unique_ptr<Window> w = std::move(it->second);
        windows_.erase(it);
        gtk_widget_destroy(w->top);
    }

    void close_all() {
        while (!windows_.empty()) gone(windows_.begin()->first);
    }

  private:
    Window *find(t_object *patcher) {
        auto it = windows_.find(patcher);
        return it == windows_.end() ? nullptr : it->second.get();
    }

    static std::string annotation(t_object *box) {
        t_symbol *s = object_attr_getsym(box, gensym("annotation"));
        return s ? s->s_name : "";
    }

    Window *make(t_object *patcher) {
        auto owned = std::make_unique<Window>();
        Window *w = owned.get();
        w->patcher = patcher;
        orvo::WindowInfo info;
        orvo::window_info(patcher, &info);
        w->top = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        if (info.max_w > 0 && info.max_h > 0) {
            GdkGeometry g{};
            g.min_width = (int)info.min_w;
            g.min_height = (int)info.min_h;
            g.max_width = (int)info.max_w;
            g.max_height = (int)info.max_h;
            gtk_window_set_geometry_hints(GTK_WINDOW(w->top), nullptr, &g,
                                          GdkWindowHints(GDK_HINT_MIN_SIZE | GDK_HINT_MAX_SIZE));
        }
        w->title = info.title;
        gtk_window_set_title(GTK_WINDOW(w->top), info.title.c_str());
        gtk_window_set_default_size(GTK_WINDOW(w->top), std::max(1, (int)info.rect.width),
                                    std::max(1, (int)info.rect.height));
        gtk_window_move(GTK_WINDOW(w->top), (int)info.rect.x, (int)info.rect.y);
        w->applied = info.rect;

        w->scroller = gtk_scrolled_window_new(nullptr, nullptr);
        w->area = gtk_drawing_area_new();
        gtk_widget_add_events(w->area, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_BUTTON1_MOTION_MASK);
        gtk_container_add(GTK_CONTAINER(w->scroller), w->area);
        gtk_container_add(GTK_CONTAINER(w->top), w->scroller);

        g_signal_connect(w->top, "delete-event", G_CALLBACK(on_delete), w);
        g_signal_connect(w->top, "configure-event", G_CALLBACK(on_configure), w);
        g_signal_connect(w->area, "draw", G_CALLBACK(on_draw), w);
        g_signal_connect(w->area, "button-press-event", G_CALLBACK(on_press), w);
        g_signal_connect(w->area, "motion-notify-event", G_CALLBACK(on_motion), w);
        g_signal_connect(w->area, "button-release-event", G_CALLBACK(on_release), w);
        windows_.emplace(patcher, std::move(owned));
        update(patcher);
        gtk_widget_show_all(w->top);
        return w;
    }

    // The window manager's close button: the same free as "wclose"; the patcher's
    // owner saves the rectangle, and gone() takes the toolkit window away.
    static gboolean on_delete(GtkWidget *, GdkEvent *, gpointer data) {
        orvo::window_user_close(static_cast<Window *>(data)->patcher);
        return TRUE;
    }

    // Moved or resized by the user (or the window manager): the patcher follows.
    static gboolean on_configure(GtkWidget *top, GdkEvent *, gpointer data) {
        auto *w = static_cast<Window *>(data);
        int x, y, width, height;
        gtk_window_get_position(GTK_WINDOW(top), &x, &y);
        gtk_window_get_size(GTK_WINDOW(top), &width, &height);
        // The first answer to a size we asked for may still carry the old size.
        bool ours = same_size(w->applied, width, height);
        bool stale = w->resizing && !ours;
        w->resizing = false;
        if (x != (int)w->applied.x || y != (int)w->applied.y) {
            w->applied.x = x;
            w->applied.y = y;
            orvo::window_move(w->patcher, x, y);
        }
        if (!ours && !stale) {
            w->applied.width = width;
            w->applied.height = height;
            orvo::window_resize(w->patcher, width, height);
        }
        return FALSE;
    }

    static gboolean on_draw(GtkWidget *, cairo_t *cr, gpointer data) {
        orvo::window_draw(static_cast<Window *>(data)->patcher, cr);
        return TRUE;
    }

    // A click or drag reports the time under the pointer; with Ctrl it scrolls and
    // zooms, and Ctrl with a double click shows the whole buffer again.
    static gboolean on_press(GtkWidget *, GdkEventButton *ev, gpointer data) {
        auto *w = static_cast<Window *>(data);
        orvo::WindowInfo info;
        t_rect r{};
        if (ev->button != 1 || !orvo::window_info(w->patcher, &info)) return FALSE;
        t_object *box = box_at(info, ev->x, ev->y, &r);
        if (!box) return FALSE;
        bool ctrl = (ev->state & GDK_CONTROL_MASK) != 0;
        if (ev->type == GDK_2BUTTON_PRESS) {
            if (ctrl) orvo::window_zoom_out(box);
            return TRUE;
        }
        if (ev->type != GDK_BUTTON_PRESS) return TRUE;
        w->drag_box = box;
        w->navigating = ctrl;
        if (ctrl)
            orvo::window_navigate_begin(box, ev->x - r.x, ev->y - r.y);
        else
            orvo::window_mouse(box, std::clamp(ev->x - r.x, 0.0, r.width));
        return TRUE;
    }

    static gboolean on_motion(GtkWidget *, GdkEventMotion *ev, gpointer data) {
        auto *w = static_cast<Window *>(data);
        orvo::WindowInfo info;
        t_rect r{};
        if (!w->drag_box || !(ev->state & GDK_BUTTON1_MASK)) return FALSE;
        // The views are rebuilt when the channels change; a drag in one that went ends.
        if (!orvo::window_info(w->patcher, &info) || !box_rect(info, w->drag_box, &r)) {
            w->drag_box = nullptr;
            return FALSE;
        }
        if (w->navigating)
            orvo::window_navigate(w->drag_box, ev->x - r.x, ev->y - r.y);
        else
            orvo::window_mouse(w->drag_box, std::clamp(ev->x - r.x, 0.0, r.width));
        return TRUE;
    }

    static gboolean on_release(GtkWidget *, GdkEventButton *ev, gpointer data) {
        if (ev->button == 1) static_cast<Window *>(data)->drag_box = nullptr;
        return FALSE;
    }

    std::unordered_map<t_object *, std::unique_ptr<Window>> windows_;
};

Screen *g_screen = nullptr;

}  // namespace

bool open(const std::string &name, std::string *why) {
    if (g_screen) return true;
    // Numbers print the same on every machine: the toolkit keeps the C locale.
    gtk_disable_setlocale();
    std::string arg0 = "orvo", opt = "--display", value = name;
    char *args[] = {arg0.data(), opt.data(), value.data(), nullptr};
    int argc = name.empty() ? 1 : 3;
    char **argv = args;
    if (!gtk_init_check(&argc, &argv)) {
        if (why) {
            const char *env = g_getenv("DISPLAY");
            *why = "cannot open display \"" + (name.empty() ? std::string(env ? env : "") : name) + "\"";
        }
        return false;
    }
    g_screen = new Screen;
    orvo::set_window_screen(g_screen);
    return true;
}

bool is_open() { return g_screen != nullptr; }

void pump() {
    if (!g_screen) return;
    // Twice: what the events change (a resize lays the views out again) is shown in the same pump.
    for (int i = 0; i < 2; ++i) {
        orvo::window_screen_flush();
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
    }
}

void close() {
    if (!g_screen) return;
    orvo::set_window_screen(nullptr);
    g_screen->close_all();
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    delete g_screen;
    g_screen = nullptr;
}

}  // namespace orvo_gtk
