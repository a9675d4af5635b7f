// Drawing a patcher window's content into a cairo context, for whatever shows
// it on a display. Needs cairo's headers; runtime.h does not.
#pragma once
#include <cairo.h>

#include "runtime.h"

// Exported from the host library (a pragma: clang keeps a namespace attribute from definitions).
#pragma GCC visibility push(default)
namespace orvo {

// [main thread] Draws the content view of a live patcher: the background and
// every box in its rectangle, in view coordinates (y down from the view's top).
// False when patcher is not a live jpatcher.
bool window_draw(t_object *patcher, cairo_t *cr);

}  // namespace orvo
#pragma GCC visibility pop
