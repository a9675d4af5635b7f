// The host's own control interface: used by the orvo command and by tests, never
// by plug-ins (they see only buffer~/host). Everything here is [main thread]
// unless it says otherwise.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "../../../buffer~/host/orvo_host.h"

namespace orvo {

// ---- life cycle ----------------------------------------------------------------
// Starts the host: the calling thread becomes the main thread, the scheduler
// thread starts, the common symbols and the host classes (print, jsoundfile,
// jpatcher, waveform~, ...) are registered. realtime: scheduler time follows the
// wall clock; otherwise it moves only with advance(), so runs are repeatable.
void runtime_start(bool realtime = false);
// Stops the scheduler thread. Objects still alive are not freed.
void runtime_stop();
bool runtime_running();

// ---- plug-ins ------------------------------------------------------------------
// Loads one module (dlopen) and calls its ext_main. False, with a console error, on failure.
bool load_plugin(const std::string &path);
// Loads every *.so of a folder, in name order; returns how many loaded.
int load_plugins(const std::string &dir);
// The folder of the build's plug-ins (compiled in), overridable with ORVO_PLUGIN_DIR.
std::string default_plugin_dir();

// ---- scheduling ------------------------------------------------------------------
// Runs everything that is due now: deferred calls, queue elements, the low-priority
// queue, and (on the scheduler thread) clocks due at the current scheduler time and
// queued scheduler work, again and again until nothing is left.
void run_until_idle();
// Advances scheduler time by ms, firing clocks in time order at their own times,
// running until idle at each step and at the end (deterministic mode only).
void advance(long ms);
// Runs fn on the scheduler thread and returns once it has run.
void run_on_scheduler(const std::function<void()> &fn);
// Real-time mode: runs due work, waiting up to timeout_ms for something to arrive.
void pump(int timeout_ms);

// ---- console ------------------------------------------------------------------------
// While capturing, console lines are kept (and not printed) until taken.
void console_capture(bool on);
std::vector<std::string> console_take();
// [any thread] Prints one line through the console (used by print, watch, the command).
void console_line(const std::string &line);

// ---- memory --------------------------------------------------------------------------
struct MemStats {
    long blocks;        // live sysmem blocks
    long long bytes;    // their total size
    long long allocs;   // allocations so far
};
MemStats mem_stats();
// The next n sysmem allocations fail.
void mem_fail_next(long n);
// Every sysmem allocation above bytes fails (0: off).
void mem_fail_above(long long bytes);
void mem_fail_reset();

// ---- audio library -----------------------------------------------------------------------
void set_sr(double sr);
void set_edits_refused(bool refused);
// Edit brackets opened and not yet closed.
long open_edits();

// ---- files and dialogs ----------------------------------------------------------------------
void add_search_dir(const std::string &dir);
// Answers for the next dialogs, in order. A dialog with none queued is cancelled.
void dialog_answer_open(const std::string &file);
void dialog_answer_save(const std::string &file, t_fourcc type = 0);
void dialog_answer_cancel();
// What the last save dialog offered, for tests and scripts.
struct SaveDialogOffer {
    std::string default_name;
    std::vector<t_fourcc> types;
    t_fourcc selected;
    bool autoextension;
};
SaveDialogOffer last_save_offer();
// Files declared with fileusage_addfilename, in order.
std::vector<std::string> file_usages();

// ---- patching ------------------------------------------------------------------------------
// Connects outlet (0 leftmost) of from to the inlet of to. False when there is no such outlet.
bool connect(t_object *from, long outlet, t_object *to, long inlet = 0);
long outlet_count(t_object *x);
// A client attached to name that prints "watch NAME: SELECTOR [number]" per notification.
t_object *watch(const std::string &name);
// A drag of one item with the given role ("audiofile", "moviefile", ...), and what was offered to it.
t_object *drag_new(const std::string &role);
std::vector<std::pair<t_object *, t_symbol *>> drag_offers(t_object *drag);

}  // namespace orvo
