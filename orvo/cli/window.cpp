// "window ID ...": what a user does to the editor window of a buffer~ box.
#include <cstdio>

#include "interpreter.h"

namespace orvo_cli {

namespace {

const char *const kUsage =
    "usage: window ID info | snapshot FILE.png | resize W H | move X Y | close | mouse CHANNEL X";

bool is_number(const t_atom &a) { return a.a_type == A_LONG || a.a_type == A_FLOAT; }

std::string rect_text(const t_rect &r) {
    char buf[128];
    snprintf(buf, sizeof buf, "%g %g %g %g", r.x, r.y, r.width, r.height);
    return buf;
}

void print_info(const std::string &id, t_object *patcher) {
    orvo::WindowInfo info;
    if (!orvo::window_info(patcher, &info)) return;
    orvo::console_line(id + " window: title " + info.title + " rect " + rect_text(info.rect) + " vscroll " +
                       (info.vscroll ? "1" : "0") + " views " + std::to_string(info.views.size()));
    for (size_t i = 0; i < info.views.size(); ++i) {
        const orvo::WindowView &v = info.views[i];
        orvo::console_line(id + " view " + std::to_string(i + 1) + ": " + v.buffer + " channel " +
                           std::to_string(v.channel) + " rect " + rect_text(v.rect));
    }
}

}  // namespace

bool Interpreter::st_window(long argc, t_atom *argv) {
    if (argc < 2 || argv[1].a_type != A_SYM) return fail(kUsage);
    std::string id = atom_word(argv[0]);
    t_object *x = box(argv[0]);
    if (!x) return fail("unknown box \"" + id + "\"");
    t_buffer *b = orvo::buffer_record(x);
    if (!b) return fail("\"" + id + "\" is not a buffer~");
    t_object *patcher = orvo::window_owned_by(b->b_window);
    if (!patcher) return fail("the window of \"" + id + "\" is not open");

    std::string what = atom_word(argv[1]);
    if (what == "info" && argc == 2) {
        print_info(id, patcher);
        return true;
    }
    if (what == "close" && argc == 2) {
        orvo::window_user_close(patcher);
        return true;
    }
    if (what == "snapshot" && argc == 3) {
        if (!orvo::window_snapshot(patcher, atom_word(argv[2])))
            return fail("cannot write \"" + atom_word(argv[2]) + "\"");
        return true;
    }
    if ((what == "resize" || what == "move") && argc == 4 && is_number(argv[2]) && is_number(argv[3])) {
        double a = atom_getfloat(argv + 2), b = atom_getfloat(argv + 3);
        if (what == "resize")
            orvo::window_resize(patcher, a, b);
        else
            orvo::window_move(patcher, a, b);
        return true;
    }
    if (what == "mouse" && argc == 4 && argv[2].a_type == A_LONG && is_number(argv[3])) {
        orvo::WindowInfo info;
        orvo::window_info(patcher, &info);
        t_atom_long ch = argv[2].a_w.w_long;
        if (ch < 1 || ch > (t_atom_long)info.views.size())
            return fail("no channel " + std::to_string(ch) + " in the window of \"" + id + "\"");
        orvo::window_mouse(info.views[(size_t)ch - 1].box, atom_getfloat(argv + 3));
        return true;
    }
    return fail(kUsage);
}

}  // namespace orvo_cli
