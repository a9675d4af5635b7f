// The console: one line per message, whole lines only, in the order they
// happen, from any thread.
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "objects_internal.h"
#include "orvo/runtime.h"

namespace {

struct Console {
    std::mutex mutex;
    bool capturing = false;
    std::vector<std::string> captured;
    std::unordered_map<const void *, std::string> ids;  // box ids given by the orvo command
};

Console &console() {
    static Console *c = new Console;  // outlives static destructors: threads may still post at exit
    return *c;
}

std::string vformat(const char *fmt, va_list ap) {
    if (!fmt) return {};
    va_list copy;
    va_copy(copy, ap);
    char small[512];
    int n = std::vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (n < 0) return {};
    if ((size_t)n < sizeof small) return std::string(small, (size_t)n);
    std::string big((size_t)n + 1, '\0');
    std::vsnprintf(big.data(), big.size(), fmt, ap);
    big.resize((size_t)n);
    return big;
}

}  // namespace

namespace orvo {

void console_capture(bool on) {
    Console &c = console();
    std::lock_guard lock(c.mutex);
    c.capturing = on;
}

std::vector<std::string> console_take() {
    Console &c = console();
    std::lock_guard lock(c.mutex);
    std::vector<std::string> out;
    out.swap(c.captured);
    return out;
}

void console_line(const std::string &line) {
    Console &c = console();
    std::lock_guard lock(c.mutex);
    if (c.capturing) {
        c.captured.push_back(line);
        return;
    }
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void console_box_id(const t_object *x, const std::string &id) {
    Console &c = console();
    std::lock_guard lock(c.mutex);
    if (id.empty())
        c.ids.erase(x);
    else
        c.ids[x] = id;
}

}  // namespace orvo

namespace orvo::detail {

void console_write(const std::string &line) { orvo::console_line(line); }

void console_forget(const void *x) {
    Console &c = console();
    std::lock_guard lock(c.mutex);
    c.ids.erase(x);
}

std::string console_tag(const void *x) {
    t_symbol *cls = x ? object_classname(const_cast<void *>(x)) : nullptr;
    if (!cls) return "orvo";
    Console &c = console();
    std::lock_guard lock(c.mutex);
    auto it = c.ids.find(x);
    return it == c.ids.end() ? std::string(cls->s_name) : std::string(cls->s_name) + " (" + it->second + ")";
}

void post_line(const std::string &tag, const std::string &text) { console_write(tag + ": " + text); }

void error_line(const std::string &tag, const std::string &text) { console_write(tag + ": error: " + text); }

}  // namespace orvo::detail

extern "C" void object_post(t_object *x, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string text = vformat(fmt, ap);
    va_end(ap);
    orvo::detail::post_line(orvo::detail::console_tag(x), text);
}

extern "C" void object_error(t_object *x, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string text = vformat(fmt, ap);
    va_end(ap);
    orvo::detail::error_line(orvo::detail::console_tag(x), text);
}
