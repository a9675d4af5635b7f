// Drawing a patcher window with cairo: a title bar, the content view's
// background and every box in its rectangle. Boxes below the view's bottom
// edge are where a scrolled window would show them: out of sight. A screen
// draws the content alone (window_draw); its own frame has the title.
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "orvo/draw.h"
#include "orvo/runtime.h"
#include "windows_internal.h"

using orvo::detail::Patcher;
using orvo::detail::Waveform;

namespace {

struct Colour {
    double r, g, b;
};
constexpr Colour kWindow{0.90, 0.90, 0.90};
constexpr Colour kTitleBar{0.78, 0.78, 0.80};
constexpr Colour kTitleText{0.10, 0.10, 0.10};
constexpr Colour kBoxFill{1.00, 1.00, 1.00};
constexpr Colour kBoxBorder{0.55, 0.55, 0.55};
constexpr Colour kCentreLine{0.70, 0.70, 0.70};
constexpr Colour kWave{0.10, 0.25, 0.60};
constexpr Colour kRuler{0.45, 0.45, 0.45};
constexpr double kWaveInset = 2;
constexpr double kRulerSpacing = 60;  // pixels, at least, between labelled ticks
constexpr double kRulerLabels = 40;   // views lower than this get ticks without labels

void set(cairo_t *cr, Colour c) { cairo_set_source_rgb(cr, c.r, c.g, c.b); }

// The font caches that drawing text fills are let go at exit, so that leak
// checkers see only what the program itself kept.
void release_fonts_at_exit() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::atexit([] {
            cairo_debug_reset_static_data();
            FcFini();
        });
    });
}

// The channel's min/max for every pixel column of the box, between the centre
// line and the box's top (+1) and bottom (-1), less an inset.
void draw_wave(cairo_t *cr, Patcher *p, const Waveform *w, const t_rect &r) {
    const t_buffer *b = orvo::detail::waveform_buffer(w);
    if (!b || !b->b_valid || !b->b_samples || b->b_frames < 1 || b->b_nchans < 1 || w->channel > b->b_nchans) return;
    double start_ms, end_ms;
    orvo::detail::waveform_range(w, &start_ms, &end_ms);
    double msr = (double)b->b_sr / 1000.0;
    double first = start_ms * msr, span = (end_ms - start_ms) * msr;
    int columns = (int)std::floor(r.width);
    if (columns < 1 || span <= 0) return;
    double per_column = span / columns;
    const t_atom_long ch = w->channel - 1;
    using orvo::detail::Overview;
    const Overview *ov = orvo::detail::patcher_overview(p, b->b_samples, b->b_frames, b->b_nchans,
                                                        (t_atom_long)std::ceil(span) + 1);
    // Full scale stays clear of the box's border.
    double mid = r.y + r.height / 2, half = std::max(r.height / 2 - kWaveInset, 1.0);

    set(cr, kWave);
    for (int px = 0; px < columns; ++px) {
        auto lo = (t_atom_long)std::floor(first + px * per_column);
        auto hi = std::max(lo + 1, (t_atom_long)std::floor(first + (px + 1) * per_column));
        lo = std::max<t_atom_long>(lo, 0);
        hi = std::min(hi, b->b_frames);
        if (lo >= hi) continue;
        orvo::detail::MinMax m = ov ? ov->range(ch, lo, hi) : Overview::extremes(b->b_samples, b->b_nchans, ch, lo, hi);
        if (!(m.lo <= m.hi)) continue;  // nothing but NaN
        double top = mid - std::clamp((double)m.hi, -1.0, 1.0) * half;
        double bottom = mid - std::clamp((double)m.lo, -1.0, 1.0) * half;
        cairo_rectangle(cr, r.x + px, top, 1, std::max(bottom - top, 1.0));
    }
    cairo_fill(cr);
}

// Ticks along the bottom of the view at round numbers of milliseconds, labelled
// where the view has room.
void draw_ruler(cairo_t *cr, const Waveform *w, const t_rect &r) {
    double start, end;
    orvo::detail::waveform_range(w, &start, &end);
    if (!(end > start) || r.width < 1) return;
    double per_px = (end - start) / r.width;
    double step = std::pow(10.0, std::floor(std::log10(kRulerSpacing * per_px)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (step * m >= kRulerSpacing * per_px) {
            step *= m;
            break;
        }
    bool labels = r.height >= kRulerLabels;
    set(cr, kRuler);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 9);
    double bottom = r.y + r.height - 1;
    for (double k = std::ceil(start / step); k * step <= end; k += 1) {
        double x = std::floor(r.x + (k * step - start) / per_px);
        cairo_rectangle(cr, x, bottom - 4, 1, 4);
        cairo_fill(cr);
        if (!labels) continue;
        char text[48];
        std::snprintf(text, sizeof text, "%g ms", k * step);
        cairo_move_to(cr, x + 2, bottom - 2);
        cairo_show_text(cr, text);
    }
}

void draw_box(cairo_t *cr, Patcher *p, t_object *box) {
    t_rect r{};
    Waveform *w = orvo::detail::as_waveform(box);
    if (w)
        r = w->patching_rect;
    else if (object_attr_get_rect(box, gensym("patching_rect"), &r) != 0)
        return;
    if (r.width <= 0 || r.height <= 0) return;
    cairo_save(cr);
    cairo_rectangle(cr, r.x, r.y, r.width, r.height);
    cairo_clip(cr);
    set(cr, kBoxFill);
    cairo_paint(cr);
    if (w) {
        if (w->select_end > w->select_start && w->selectioncolor.a > 0) {
            double start, end;
            orvo::detail::waveform_range(w, &start, &end);
            if (end > start) {
                double x0 = r.x + (w->select_start - start) / (end - start) * r.width;
                double x1 = r.x + (w->select_end - start) / (end - start) * r.width;
                const auto &c = w->selectioncolor;
                cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a);
                cairo_rectangle(cr, x0, r.y, x1 - x0, r.height);
                cairo_fill(cr);
            }
        }
        set(cr, kCentreLine);
        cairo_rectangle(cr, r.x, std::floor(r.y + r.height / 2), r.width, 1);
        cairo_fill(cr);
        draw_ruler(cr, w, r);
        draw_wave(cr, p, w, r);
    }
    set(cr, kBoxBorder);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, r.x + 0.5, r.y + 0.5, r.width - 1, r.height - 1);
    cairo_stroke(cr);
    cairo_restore(cr);
}

// The content view: its background and its boxes.
void draw_content(cairo_t *cr, Patcher *p) {
    release_fonts_at_exit();
    cairo_save(cr);
    set(cr, kWindow);
    cairo_paint(cr);
    for (t_object *box : p->st->boxes) draw_box(cr, p, box);
    cairo_restore(cr);
}

// The window drawn on a new surface, or null.
cairo_surface_t *draw_window(Patcher *p) {
    t_rect view = p->st->view ? p->st->view->rect : t_rect{0, 0, p->defrect.width, p->defrect.height};
    int width = std::max(1, (int)std::lround(view.width));
    int height = std::max(1, (int)std::lround(view.height)) + orvo::window_title_height;
    cairo_surface_t *s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    cairo_t *cr = cairo_create(s);
    set(cr, kTitleBar);
    cairo_rectangle(cr, 0, 0, width, orvo::window_title_height);
    cairo_fill(cr);
    const char *title = p->title ? p->title->s_name : "";
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 12);
    cairo_text_extents_t ext;
    cairo_text_extents(cr, title, &ext);
    set(cr, kTitleText);
    cairo_move_to(cr, std::max(4.0, (width - ext.width) / 2 - ext.x_bearing),
                  orvo::window_title_height / 2.0 - ext.height / 2 - ext.y_bearing);
    cairo_show_text(cr, title);

    cairo_translate(cr, 0, orvo::window_title_height);
    cairo_rectangle(cr, 0, 0, width, height - orvo::window_title_height);
    cairo_clip(cr);
    draw_content(cr, p);
    cairo_destroy(cr);
    cairo_surface_flush(s);
    return s;
}

}  // namespace

namespace orvo {

bool window_draw(t_object *patcher, cairo_t *cr) {
    Patcher *p = orvo::detail::as_patcher(patcher);
    if (!p || !p->st || !cr) return false;
    draw_content(cr, p);
    return true;
}

bool window_render(t_object *patcher, WindowImage *out) {
    Patcher *p = orvo::detail::as_patcher(patcher);
    if (!p || !out) return false;
    cairo_surface_t *s = draw_window(p);
    if (!s) return false;
    out->width = cairo_image_surface_get_width(s);
    out->height = cairo_image_surface_get_height(s);
    int stride = cairo_image_surface_get_stride(s);
    const unsigned char *data = cairo_image_surface_get_data(s);
    out->pixels.resize((size_t)out->width * (size_t)out->height);
    for (int y = 0; y < out->height; ++y)
        std::memcpy(&out->pixels[(size_t)y * (size_t)out->width], data + (size_t)y * (size_t)stride,
                    (size_t)out->width * sizeof(uint32_t));
    cairo_surface_destroy(s);
    return true;
}

bool window_snapshot(t_object *patcher, const std::string &png) {
    Patcher *p = orvo::detail::as_patcher(patcher);
    if (!p) return false;
    cairo_surface_t *s = draw_window(p);
    if (!s) return false;
    bool ok = cairo_surface_write_to_png(s, png.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(s);
    return ok;
}

}  // namespace orvo
