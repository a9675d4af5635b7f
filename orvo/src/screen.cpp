// The link between the patcher windows and a screen that shows them. Windows
// change on any thread (an edit on the scheduler thread renames or redraws the
// views); the screen's toolkit may only be called on the main thread, so
// changes are collected here and handed over there, once per window per flush.
#include <atomic>
#include <mutex>
#include <unordered_map>

#include "orvo/runtime.h"
#include "windows_internal.h"

using orvo::detail::Patcher;

namespace {

struct Pending {
    bool show = false;
};

struct ScreenLink {
    std::atomic<orvo::WindowScreen *> screen{nullptr};
    std::mutex mutex;
    std::unordered_map<Patcher *, Pending> pending;
};

ScreenLink &link() {
    static auto *l = new ScreenLink;
    return *l;
}

// Queues p; the first of a batch wakes the screen's loop.
void queue(Patcher *p, bool show) {
    ScreenLink &l = link();
    orvo::WindowScreen *s = l.screen.load();
    if (!s || !p) return;
    bool first;
    {
        std::lock_guard lock(l.mutex);
        first = l.pending.empty();
        l.pending[p].show |= show;
    }
    if (first) s->wake();
}

}  // namespace

namespace orvo::detail {

void window_changed(Patcher *p) { queue(p, false); }

void window_shown(Patcher *p) { queue(p, true); }

void window_gone(Patcher *p) {
    ScreenLink &l = link();
    WindowScreen *s = l.screen.load();
    if (!s) return;
    {
        std::lock_guard lock(l.mutex);
        l.pending.erase(p);
    }
    s->gone(&p->ob);
}

}  // namespace orvo::detail

namespace orvo {

void set_window_screen(WindowScreen *screen) {
    ScreenLink &l = link();
    std::lock_guard lock(l.mutex);
    l.pending.clear();
    l.screen.store(screen);
}

void window_screen_flush() {
    ScreenLink &l = link();
    WindowScreen *s = l.screen.load();
    if (!s || !systhread_ismainthread()) return;
    std::unordered_map<Patcher *, Pending> batch;
    {
        std::lock_guard lock(l.mutex);
        batch.swap(l.pending);
    }
    // Windows freed since they were queued have told the screen already.
    for (auto &[p, what] : batch) {
        if (!detail::patcher_live(p)) continue;
        if (what.show) s->show(&p->ob);
        s->update(&p->ob);
    }
}

}  // namespace orvo
