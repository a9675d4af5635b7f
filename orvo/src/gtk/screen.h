// The patcher windows on a display, as GTK toplevel windows drawn with cairo.
// Only the orvo command links this; the runtime and the plug-ins never see
// the toolkit. Everything here is [main thread].
#pragma once
#include <string>

namespace orvo_gtk {

// Opens the display called name (the environment's when empty) and shows the
// runtime's windows on it from now on. False, with the reason, when it cannot.
bool open(const std::string &name, std::string *why);
bool is_open();
// Hands the windows what changed and runs the toolkit's pending events, without waiting.
void pump();
// Closes every window; the runtime is headless again.
void close();

}  // namespace orvo_gtk
