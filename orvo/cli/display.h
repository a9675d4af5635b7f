// Where the orvo command shows windows: a display when one is there, else headless.
#pragma once
#include <functional>
#include <string>

#include "interpreter.h"

namespace orvo_cli {

// Opens the display called name, or the environment's (DISPLAY, WAYLAND_DISPLAY)
// when name is empty; headless forces the headless windows. One console line
// when a display was asked for and cannot be opened.
void display_start(bool headless, const std::string &name);
// Closes the windows on the display.
void display_stop();
bool display_shown();
// Brings the windows up to date and answers their events, without waiting.
void display_pump();
// Runs the statements read from fd with run, until its end or "quit", the windows alive meanwhile.
int display_run_fd(int fd, Interpreter &interp, const std::function<void(const std::string &, long)> &run);

}  // namespace orvo_cli
