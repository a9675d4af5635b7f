// Boxes and menu commands as the headless host sees them.
#include "../../buffer~/host/orvo_host.h"

extern "C" void jbox_redraw(t_object *box) {
    // Boxes that draw themselves answer "redraw"; others have nothing to draw.
    if (box && object_valid(box) && object_hasmethod(box, gensym("redraw")))
        object_method_imp(box, gensym("redraw"), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr);
}

extern "C" long object_commandenabled(t_object *x, t_symbol *cmd, char *enabled, void *a, void *b) {
    (void)x;
    (void)cmd;
    (void)a;
    (void)b;
    // This host has no menus: a command stays as its object set it.
    return enabled ? *enabled : 0;
}
