// The orvo command on a real display: a virtual X server (Xvfb), windows looked
// at through Xlib, found, clicked and resized with xdotool, and closed with the
// WM_DELETE_WINDOW message a window manager would send.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "orvo_test.h"

// Last: Xlib's macros (None, Status, Bool) would clash with names in the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(10);

// Waits until done() or the patience runs out: whether it was done.
template <class F>
bool within_patience(F done) {
    for (auto until = Clock::now() + kPatience; Clock::now() < until;
         std::this_thread::sleep_for(std::chrono::milliseconds(20)))
        if (done()) return true;
    return false;
}

// The mapped window titled name, or 0.
Window lookup(const std::string &name) {
    std::string out = orvo_test::run_command("xdotool search --onlyvisible --name '^" + name + "$'").out;
    return out.empty() ? 0 : std::stoul(out);
}

Window find(const std::string &name) {
    Window w = 0;
    within_patience([&] { return (w = lookup(name)) != 0; });
    return w;
}

std::vector<int> geometry(Display *d, Window w) {
    XWindowAttributes a{};
    XGetWindowAttributes(d, w, &a);
    return {a.x, a.y, a.width, a.height};
}

// The waveform is drawn in blue; everything else in the window is grey or white.
bool is_wave(unsigned long p) { return (int)(p & 0xff) > (int)((p >> 16) & 0xff) + 0x40; }

// Whether every strip [k * h, (k + 1) * h) of the first n of the window's pixels
// shows waveform, waiting for it (drawing follows the events).
testing::AssertionResult shows_waves(Display *d, Window w, int strips, int h) {
    auto drawn = [&] {
        std::vector<int> g = geometry(d, w);
        XImage *img = XGetImage(d, w, 0, 0, (unsigned)g[2], (unsigned)g[3], AllPlanes, ZPixmap);
        bool all = img != nullptr;
        for (int k = 0; all && k < strips; ++k) {
            int found = 0;
            for (int y = k * h; y < (k + 1) * h && y < g[3]; ++y)
                for (int x = 0; x < g[2]; ++x) found += is_wave(XGetPixel(img, x, y));
            all = found >= 50;
        }
        if (img) XDestroyImage(img);
        return all;
    };
    if (within_patience(drawn)) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "no waveform in some of " << strips << " strips of " << h << " rows";
}

// What a window manager sends when the user closes the window.
void request_close(Display *d, Window w) {
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = w;
    ev.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = (long)XInternAtom(d, "WM_DELETE_WINDOW", False);
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, w, False, NoEventMask, &ev);
    XFlush(d);
}

void xdo(const std::string &args) { ASSERT_EQ(std::system(("xdotool " + args).c_str()), 0) << args; }

std::string id(Window w) { return std::to_string(w); }

TEST(Screen, WindowsOnAVirtualDisplay) {
    if (!getenv("ORVO_TEST_ON_XVFB")) {
        for (const char *tool : {"xvfb-run", "xdotool"})
            if (orvo_test::run_command(std::string("command -v ") + tool).status != 0)
                GTEST_SKIP() << tool << " is not installed: no test on a display";
        // The toolkit keeps its caches to the end and runs threads of its own.
        if (*ORVO_TEST_SANITIZE) GTEST_SKIP() << "the toolkit is not built for the sanitizers: no test on a display";
        // The body runs on a fresh virtual display, in a child of this test binary.
        orvo_test::OrvoRun r = orvo_test::run_command(
            "xvfb-run -a -s '-screen 0 1280x1024x24' env ORVO_TEST_ON_XVFB=1 NO_AT_BRIDGE=1 '" +
            std::filesystem::read_symlink("/proc/self/exe").string() +
            "' --gtest_filter=Screen.WindowsOnAVirtualDisplay 2>&1");
        EXPECT_EQ(r.status, 0) << r.out;
        return;
    }

    orvo_test::TempDir dir;
    Display *x = XOpenDisplay(nullptr);
    ASSERT_NE(x, nullptr) << "cannot open the display";
    orvo_test::OrvoSession orvo(dir);
    ASSERT_EQ(orvo.ask("new p print pos\n"
                       "new m buffer~ mono 1000 1\nm fill sin 3\nconnect m 0 p\n"
                       "new s buffer~ stereo 1000 2\ns fill sin 3\nconnect s 0 p\n"
                       "new t buffer~ twelve 1000 12\nt fill sin 3\nconnect t 0 p"),
              std::vector<std::string>{});

    // Each opens at (50, 50), 350 wide and 100 high a channel, at most 8 channels
    // high; the last opened is in front. A click at 7/10 of the width is at 700 ms.
    const struct {
        const char *box, *name;
        int height, strips;
    } windows[] = {{"m", "mono", 100, 1}, {"s", "stereo", 200, 2}, {"t", "twelve", 800, 8}};
    for (const auto &c : windows) {
        SCOPED_TRACE(c.name);
        orvo.ask(std::string(c.box) + " open");
        Window w = find(c.name);
        ASSERT_NE(w, 0u) << "no window \"" << c.name << "\"";
        EXPECT_EQ(geometry(x, w), (std::vector<int>{50, 50, 350, c.height}));
        EXPECT_TRUE(shows_waves(x, w, c.strips, 100));
        xdo("mousemove --window " + id(w) + " 245 " + std::to_string(c.height - 30) + " click 1");
        EXPECT_EQ(orvo.line(), "pos: 700");
    }

    // The 12 channels scroll; shrunk to 400 high, each view is 50 high.
    Window twelve = find("twelve");
    std::vector<std::string> info;
    auto info_says = [&](const std::string &what) {
        return within_patience([&] { return (info = orvo.ask("window t info")).at(0).find(what) != std::string::npos; });
    };
    EXPECT_EQ(orvo.ask("window t info").at(0), "t window: title twelve rect 50 50 350 800 vscroll 1 views 12");
    xdo("windowsize --sync " + id(twelve) + " 350 400");
    EXPECT_TRUE(info_says("350 400"));
    ASSERT_EQ(info.size(), 13u);
    EXPECT_EQ(info[0], "t window: title twelve rect 50 50 350 400 vscroll 1 views 12");
    EXPECT_EQ(info[12], "t view 12: twelve channel 12 rect 0 550 350 50");
    EXPECT_TRUE(shows_waves(x, twelve, 8, 50));

    // Moved, then closed as a window manager closes it, it reopens where the user left it.
    xdo("windowmove --sync " + id(twelve) + " 120 90");
    EXPECT_TRUE(info_says("rect 120 90"));
    EXPECT_EQ(info.at(0), "t window: title twelve rect 120 90 350 400 vscroll 1 views 12");
    request_close(x, twelve);
    within_patience([&] { return !lookup("twelve"); });
    info = orvo.ask("window t info");
    ASSERT_EQ(info.size(), 1u);
    EXPECT_NE(info[0].find("the window of \"t\" is not open"), std::string::npos) << info[0];
    orvo.ask("t open");
    Window again = find("twelve");
    ASSERT_NE(again, 0u);
    EXPECT_EQ(geometry(x, again), (std::vector<int>{120, 90, 350, 400}));
    EXPECT_TRUE(shows_waves(x, again, 8, 50));

    // Windows close when orvo ends.
    EXPECT_EQ(orvo.quit(), 1);  // the one statement above that failed
    EXPECT_EQ(lookup("mono"), 0u);
    XCloseDisplay(x);
}

}  // namespace
