// The host's own control interface: used by the orvo command and by tests, never
// by plug-ins (they see only buffer~/host). Everything here is [main thread]
// unless it says otherwise.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "../../../buffer~/host/buffer_record.h"

// Exported from the host library, whose other symbols are hidden. (A pragma and
// not an attribute of the namespace: clang would not carry that to definitions.)
#pragma GCC visibility push(default)
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
// [main thread] Runs the main queues (as run_until_idle) until no work announced with
// defer_work_begin is outstanding and everything it deferred has run.
void await_work();

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
// Only the k-th sysmem allocation from now fails (1: the next one; 0: off); the
// others are granted. Counts allocations on every thread.
void mem_fail_nth(long k);
// Every sysmem allocation above bytes fails (0: off).
void mem_fail_above(long long bytes);
// Switches off all three kinds of injected failure.
void mem_fail_reset();
// [any thread] sysmem_freeptr calls so far with a pointer that is no live block (never
// allocated, or freed already). Each is also reported on standard error; the test
// fixture fails every test that adds to this count.
long mem_bad_frees();
// Such a free aborts the process at once (for fuzzers and death tests); off by default.
void mem_abort_on_bad_free(bool on);

// ---- audio library -----------------------------------------------------------------------
void set_sr(double sr);
// Every buffer_edit_begin answers "not now" while set.
void set_edits_refused(bool refused);
// [any thread] Edit brackets granted and not yet closed.
long open_edits();

// Edit brackets exclude each other on one owner's memory: buffer_edit_begin
// answers "not now" at once (it never waits) while another bracket is open for
// the same owner or covers the owner's block, or while a SampleRead holds that
// block. A bracket covers the owner's block at its start and the blocks its
// thread allocates until its end (but not while a later bracket of that thread
// is open: those are the later one's), as long as they live. A bracket held open
// across returns to the event loop therefore also covers whatever else its thread
// allocates meanwhile: allocate the new memory before returning. buffer_edit_end closes the latest bracket
// granted to that box; without one it is ignored (the valid flag too).
//
// [any thread] A read of buffer samples outside the bracket, as the sound-file
// object's "writefloats" makes: frames times chans floats from p. Granted (ok())
// when they lie in one live sysmem block that no bracket covers; the block is then
// marked until destruction, and sysmem_freeptr of it waits until then. Refused
// otherwise, with the cause as an error line of reporter (when given). Nothing to
// read (null p, no frames or channels) is granted without a mark.
class SampleRead {
  public:
    SampleRead(t_object *reporter, const float *p, t_atom_long frames, long chans);
    ~SampleRead();
    SampleRead(const SampleRead &) = delete;
    SampleRead &operator=(const SampleRead &) = delete;
    bool ok() const { return ok_; }

  private:
    void *block_ = nullptr;
    bool ok_ = true;
};

// ---- files and dialogs ----------------------------------------------------------------------
void add_search_dir(const std::string &dir);
// Answers for the next dialogs, in order. A dialog with none queued is cancelled.
void dialog_answer_open(const std::string &file);
void dialog_answer_save(const std::string &file, t_fourcc type = 0);
void dialog_answer_cancel();
// Whether each file dialog prints one console line saying what it showed
// ("dialog: save "NAME" types ... selected T", " cancelled" when not answered).
// Off unless turned on; the orvo command turns it on.
void dialog_lines(bool on);
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
// [any thread] The process's open file descriptors; every sound file, stream and
// temporary file the host opens holds one, so tests check that the count comes back.
long open_descriptors();
// [any thread] The k-th write of sound-file data from now fails as a full disk
// would ("No space left on device"); 0 turns it off.
void file_fail_write(long k);

// ---- patching ------------------------------------------------------------------------------
// Whether a class of that name is registered in the name space ("box", "nobox").
bool class_exists(const std::string &name_space, const std::string &name);
// [any thread] The published record of x when x is a buffer~ box (its class is the one
// registered as "buffer~" in "box"), else null.
t_buffer *buffer_record(void *x);
// The classes registered in a name space, sorted by name.
std::vector<std::string> class_names(const std::string &name_space);
// A class as registered: its messages (sorted by name) with their argument types,
// and its attributes in the order they were added.
struct MessageDesc {
    std::string name;
    std::string args;  // "int [float]", "symbol", "..." for any list, "" for none
    bool is_private;   // reachable only by direct calls, not by typed messages
};
struct AttrDesc {
    std::string name;
    std::string type;  // its declared type ("long", "float64", ...)
};
struct ClassDesc {
    std::vector<MessageDesc> messages;
    std::vector<AttrDesc> attributes;
};
// False when no class of that name is registered in the name space.
bool class_describe(const std::string &name_space, const std::string &name, ClassDesc *out);
// Names a box in console lines: "CLASS (ID): ..." (an empty id removes the name).
// [any thread] The name is forgotten when the object is freed.
void console_box_id(const t_object *x, const std::string &id);
// Connects outlet (0 leftmost) of from to the inlet of to. False when there is no such outlet.
bool connect(t_object *from, long outlet, t_object *to, long inlet = 0);
long outlet_count(t_object *x);
// A client attached to name that prints "watch NAME: SELECTOR [number]" per notification.
t_object *watch(const std::string &name);
// A drag of one item with the given role ("audiofile", "moviefile", ...), and what was offered to it.
t_object *drag_new(const std::string &role);
std::vector<std::pair<t_object *, t_symbol *>> drag_offers(t_object *drag);

// ---- windows ----------------------------------------------------------------------------------
// The headless patcher windows (class jpatcher in "nobox") and their waveform~ boxes.
struct WindowView {
    t_object *box = nullptr;
    t_rect rect{};             // in the view
    std::string buffer;        // the name it displays
    long channel = 0;          // 1-based
    double start_ms = 0, end_ms = 0;      // as last set by "list"; end <= start: to the end
    double select_start = 0, select_end = 0;
    t_object *mouse_target = nullptr;     // its "mouseredirect" object
    long redraws = 0;          // "redraw" requests so far
};
struct WindowInfo {
    t_rect rect{};             // on screen
    t_rect view{};             // the content view, in the window
    std::string title;
    bool visible = false, locked = false, editable = true, hscroll = false, vscroll = false;
    double min_w = 0, min_h = 0, max_w = 0, max_h = 0;  // the sizes it may have; 0: any
    std::vector<WindowView> views;  // waveform~ boxes in creation order
};
// False when patcher is not a live jpatcher.
bool window_info(t_object *patcher, WindowInfo *out);
// The visible window nearest the front, or null.
t_object *window_front();
// The live window whose view has owner as its "owner" (as a plug-in's editor object
// sets it), or null: how the command finds a buffer~'s editor without its private record.
t_object *window_owned_by(const void *owner);
// Pixels of a rendered window: 0xAARRGGBB, row-major, premultiplied alpha. The title
// bar (window_title_height rows) is above the content view.
struct WindowImage {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    uint32_t at(int x, int y) const { return pixels[(size_t)y * (size_t)width + (size_t)x]; }
};
constexpr int window_title_height = 22;
// Draws the window: background, title, each box in its rectangle (waveform~ boxes with
// the min/max of their channel per pixel column). False when patcher is not a jpatcher.
bool window_render(t_object *patcher, WindowImage *out);
// The same, written to a PNG file. False when it cannot be drawn or written.
bool window_snapshot(t_object *patcher, const std::string &png);
// As the user dragging the window's edge: the size is kept within the window's
// constraint, the view follows and its attached objects hear "attr_modified".
void window_resize(t_object *patcher, double w, double h);
// As the user dragging the title bar: only the position changes.
void window_move(t_object *patcher, double x, double y);
// As the user closing the window: the patcher is freed (attached objects hear "free").
void window_user_close(t_object *patcher);
// A click at horizontal pixel x in a waveform~ box: its "mouseredirect" object gets
// "mouse" with the position in milliseconds first.
void window_mouse(t_object *box, double x);
// A navigating drag (Ctrl held) in a waveform~ box, begun at (x, y) in the box. Each
// move to (x, y) shows the range the box showed at the beginning, zoomed by the
// vertical distance (down zooms in, twice per 64 pixels) around the time under the
// beginning and scrolled by the horizontal one, within the buffer. Every view of
// the window follows, so the channels stay aligned.
void window_navigate_begin(t_object *box, double x, double y);
void window_navigate(t_object *box, double x, double y);
// Ctrl+double click: every view of the box's window shows the whole buffer again.
void window_zoom_out(t_object *box);

// ---- screens ------------------------------------------------------------------------------------
// What shows the patcher windows on a display. Headless when none is installed.
// The runtime calls it on the main thread only, except wake().
class WindowScreen {
  public:
    virtual ~WindowScreen() = default;
    // [any thread] Changes wait for window_screen_flush: wake the main thread's loop.
    virtual void wake() = 0;
    // The window was asked to the front ("vis"); make it first when it has none.
    virtual void show(t_object *patcher) = 0;
    // Its title, rectangle, boxes or what they display changed: bring it up to date and draw it.
    virtual void update(t_object *patcher) = 0;
    // The patcher is being freed: its window goes now, before the patcher does.
    virtual void gone(t_object *patcher) = 0;
};
// [main thread] Installs the screen; null goes back to headless.
void set_window_screen(WindowScreen *screen);
// [main thread] Tells the screen what changed since the last flush, once per window.
void window_screen_flush();

}  // namespace orvo
#pragma GCC visibility pop
