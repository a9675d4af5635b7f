#include "orvo/runtime.h"

#include "init.h"

namespace orvo {

static bool g_running = false;

void runtime_start(bool realtime) {
    if (g_running) return;
    detail::init_objects();
    detail::init_files();
    detail::init_windows();
    detail::init_scheduler(realtime);
    g_running = true;
}

void runtime_stop() {
    if (!g_running) return;
    detail::stop_scheduler();
    g_running = false;
}

bool runtime_running() { return g_running; }

}  // namespace orvo

extern "C" long orvo_host_api_version(void) { return ORVO_HOST_API_VERSION; }
