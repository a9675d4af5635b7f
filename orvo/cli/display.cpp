#include "display.h"

#include <poll.h>
#include <unistd.h>

#include <cstdlib>

#include "screen.h"

namespace orvo_cli {

namespace {

bool env_set(const char *name) {
    const char *v = std::getenv(name);
    return v && *v;
}

}  // namespace

void display_start(bool headless, const std::string &name) {
    if (headless || (name.empty() && !env_set("DISPLAY") && !env_set("WAYLAND_DISPLAY"))) return;
    std::string why;
    if (!orvo_gtk::open(name, &why)) orvo::console_line("orvo: " + why + "; windows stay headless");
}

void display_stop() { orvo_gtk::close(); }

bool display_shown() { return orvo_gtk::is_open(); }

void display_pump() { orvo_gtk::pump(); }

int display_run_fd(int fd, Interpreter &interp, const std::function<void(const std::string &, long)> &run) {
    std::string pending;
    long lineno = 0;
    char buf[4096];
    while (!interp.quit()) {
        display_pump();
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10) <= 0) continue;
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        pending.append(buf, (size_t)n);
        for (size_t nl; !interp.quit() && (nl = pending.find('\n')) != std::string::npos; pending.erase(0, nl + 1)) {
            run(pending.substr(0, nl), ++lineno);
            display_pump();
        }
    }
    if (!pending.empty() && !interp.quit()) run(pending, ++lineno);
    int status = interp.finish();
    display_pump();
    return status;
}

}  // namespace orvo_cli
