// The orvo command on a real display: a virtual X server (Xvfb), windows looked
// at with xwd, clicked and resized with xdotool, and closed with the
// WM_DELETE_WINDOW message a window manager would send.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "orvo_test.h"

// Last: Xlib's macros (None, Status, Bool) would clash with names in the headers above.
#include <X11/Xlib.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(10);

bool have(const std::string &tool) { return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0; }

std::string run(const std::string &cmd) {
    std::string out;
    if (FILE *p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        pclose(p);
    }
    return out;
}

// The orvo command on the display, fed statements through a pipe.
class Orvo {
  public:
    explicit Orvo(const orvo_test::TempDir &dir) : err_(dir.file("orvo.err")) {
        int in[2], out[2];
        if (pipe(in) || pipe(out)) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            int e = open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(e, 2);
            for (int fd : {in[0], in[1], out[0], out[1], e}) ::close(fd);
            std::string bin = std::string(ORVO_TEST_BIN_DIR) + "/orvo";
            execl(bin.c_str(), "orvo", "--plugins", ORVO_TEST_PLUGIN_DIR, "--display", getenv("DISPLAY"), nullptr);
            _exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        to_ = in[1];
        from_ = out[0];
    }
    ~Orvo() { quit(); }

    void say(const std::string &lines) {
        std::string text = lines + "\n";
        if (write(to_, text.data(), text.size()) != (ssize_t)text.size()) ADD_FAILURE() << "orvo stopped reading";
    }
    // Runs the lines and returns what they printed, up to a mark echoed after them.
    std::vector<std::string> ask(const std::string &lines) {
        std::string mark = "-- " + std::to_string(++marks_);
        say(lines + "\necho " + mark);
        std::vector<std::string> got;
        for (std::string l; (l = line()) != mark;) {
            if (l.empty() && eof_) break;
            got.push_back(l);
        }
        return got;
    }
    // The next line printed, waiting for it; empty at the end or after a long wait.
    std::string line() {
        auto until = Clock::now() + kPatience;
        for (;;) {
            if (size_t nl = buf_.find('\n'); nl != std::string::npos) {
                std::string l = buf_.substr(0, nl);
                buf_.erase(0, nl + 1);
                return l;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
            pollfd p{from_, POLLIN, 0};
            if (eof_ || left <= 0 || poll(&p, 1, (int)left) <= 0) return "";
            char b[4096];
            ssize_t n = read(from_, b, sizeof b);
            if (n <= 0) eof_ = true;
            else buf_.append(b, (size_t)n);
        }
    }
    // Ends the input and waits for orvo to exit: its status.
    int quit() {
        if (pid_ <= 0) return -1;
        ::close(to_);
        int status = 0;
        waitpid(pid_, &status, 0);
        ::close(from_);
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    }
    std::string errors() const {
        std::ifstream f(err_);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }

  private:
    std::string err_, buf_;
    pid_t pid_ = -1;
    int to_ = -1, from_ = -1, marks_ = 0;
    bool eof_ = false;
};

// A window's pixels, as xwd writes them (32 bits a pixel, 0x00RRGGBB).
struct Shot {
    int width = 0, height = 0;
    std::vector<uint32_t> px;
    uint32_t at(int x, int y) const { return px[(size_t)y * (size_t)width + (size_t)x]; }
};

uint32_t be32(const unsigned char *p) { return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]; }

bool screenshot(const orvo_test::TempDir &dir, Window w, Shot *shot) {
    std::string file = dir.file("shot.xwd");
    if (std::system(("xwd -silent -id " + std::to_string(w) + " -out " + file).c_str()) != 0) return false;
    std::ifstream f(file, std::ios::binary);
    std::vector<unsigned char> d((std::istreambuf_iterator<char>(f)), {});
    if (d.size() < 100) return false;
    auto field = [&](int i) { return be32(&d[(size_t)i * 4]); };
    uint32_t header = field(0), width = field(4), height = field(5), lsb = field(7) == 0, bpp = field(11),
             stride = field(12), ncolors = field(19);
    size_t first = header + (size_t)ncolors * 12;
    if (bpp != 32 || d.size() < first + (size_t)stride * height) return false;
    shot->width = (int)width;
    shot->height = (int)height;
    shot->px.resize((size_t)width * height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const unsigned char *p = &d[first + (size_t)y * stride + (size_t)x * 4];
            shot->px[(size_t)y * width + x] =
                lsb ? (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 : be32(p) & 0xffffff;
        }
    return true;
}

// The waveform is drawn in blue; everything else in the window is grey or white.
bool is_wave(uint32_t p) { return (int)(p & 0xff) > (int)((p >> 16) & 0xff) + 0x40; }

// Whether every strip [k * h, (k + 1) * h) of the first n has waveform pixels.
bool waves_in_strips(const Shot &s, int n, int h) {
    for (int k = 0; k < n; ++k) {
        int found = 0;
        for (int y = k * h; y < (k + 1) * h && y < s.height; ++y)
            for (int x = 0; x < s.width; ++x) found += is_wave(s.at(x, y));
        if (found < 50) return false;
    }
    return true;
}

class XServer {
  public:
    XServer() : d_(XOpenDisplay(nullptr)) {}
    ~XServer() {
        if (d_) XCloseDisplay(d_);
    }
    ::Display *get() const { return d_; }

    // The mapped top-level window titled name, waiting for it; 0 when none comes.
    Window find(const std::string &name) {
        for (auto until = Clock::now() + kPatience; Clock::now() < until;) {
            if (Window w = lookup(name)) return w;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return 0;
    }
    Window lookup(const std::string &name) {
        Window root, parent, *kids = nullptr, found = 0;
        unsigned n = 0;
        XSync(d_, False);
        if (!XQueryTree(d_, DefaultRootWindow(d_), &root, &parent, &kids, &n)) return 0;
        for (unsigned i = 0; i < n && !found; ++i) {
            char *title = nullptr;
            XWindowAttributes a;
            if (XFetchName(d_, kids[i], &title) && title && name == title && XGetWindowAttributes(d_, kids[i], &a) &&
                a.map_state == IsViewable)
                found = kids[i];
            if (title) XFree(title);
        }
        if (kids) XFree(kids);
        return found;
    }
    std::vector<int> geometry(Window w) {
        XWindowAttributes a{};
        XGetWindowAttributes(d_, w, &a);
        return {a.x, a.y, a.width, a.height};
    }
    // What a window manager sends when the user closes the window.
    void request_close(Window w) {
        XEvent ev{};
        ev.xclient.type = ClientMessage;
        ev.xclient.window = w;
        ev.xclient.message_type = XInternAtom(d_, "WM_PROTOCOLS", False);
        ev.xclient.format = 32;
        ev.xclient.data.l[0] = (long)XInternAtom(d_, "WM_DELETE_WINDOW", False);
        ev.xclient.data.l[1] = CurrentTime;
        XSendEvent(d_, w, False, NoEventMask, &ev);
        XFlush(d_);
    }

  private:
    ::Display *d_;
};

// Screenshots until every strip shows its waveform (drawing follows the events).
testing::AssertionResult shows_waves(const orvo_test::TempDir &dir, Window w, int strips, int h) {
    Shot s;
    for (auto until = Clock::now() + kPatience; Clock::now() < until;) {
        if (screenshot(dir, w, &s) && waves_in_strips(s, strips, h)) return testing::AssertionSuccess();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return testing::AssertionFailure() << "no waveform in some of " << strips << " strips of " << h << " rows ("
                                       << s.width << "x" << s.height << " screenshot)";
}

void xdo(const std::string &args) { ASSERT_EQ(std::system(("xdotool " + args).c_str()), 0) << args; }

std::string id(Window w) { return std::to_string(w); }

// Runs the body on a fresh virtual display, in a child of this test binary.
bool on_xvfb(const char *test) {
    if (getenv("ORVO_TEST_ON_XVFB")) return true;
    std::string self = run("readlink -f /proc/" + std::to_string(getpid()) + "/exe");
    while (!self.empty() && self.back() == '\n') self.pop_back();
    std::string cmd = "xvfb-run -a -s '-screen 0 1280x1024x24' env ORVO_TEST_ON_XVFB=1 NO_AT_BRIDGE=1 '" + self +
                      "' --gtest_filter='" + test + "' 2>&1";
    std::string out;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return false;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    int status = pclose(p);
    EXPECT_EQ(status, 0) << out;
    return false;
}

TEST(Screen, WindowsOnAVirtualDisplay) {
    if (!getenv("ORVO_TEST_ON_XVFB")) {
        for (const char *tool : {"xvfb-run", "xdotool", "xwd"})
            if (!have(tool)) GTEST_SKIP() << tool << " is not installed: no test on a display";
        // The toolkit keeps its caches to the end and runs threads of its own.
        if (*ORVO_TEST_SANITIZE)
            GTEST_SKIP() << "the toolkit is not built for the sanitizers: no test on a display";
    }
    if (!on_xvfb("Screen.WindowsOnAVirtualDisplay")) return;

    orvo_test::TempDir dir;
    XServer x;
    ASSERT_NE(x.get(), nullptr) << "cannot open the display";
    Orvo orvo(dir);
    ASSERT_EQ(orvo.ask("new p print pos\n"
                       "new m buffer~ mono 1000 1\nm fill sin 3\nconnect m 0 p\n"
                       "new s buffer~ stereo 1000 2\ns fill sin 3\nconnect s 0 p\n"
                       "new t buffer~ twelve 1000 12\nt fill sin 3\nconnect t 0 p"),
              std::vector<std::string>{})
        << orvo.errors();

    // Each opens at (50, 50), 350 wide and 100 high a channel, at most 8 channels
    // high; the last opened is in front. A click at 7/10 of the width is at 700 ms.
    const struct {
        const char *box, *name;
        int channels, height, strips;
    } windows[] = {{"m", "mono", 1, 100, 1}, {"s", "stereo", 2, 200, 2}, {"t", "twelve", 12, 800, 8}};
    for (const auto &c : windows) {
        SCOPED_TRACE(c.name);
        orvo.ask(std::string(c.box) + " open");
        Window w = x.find(c.name);
        ASSERT_NE(w, 0u) << "no window \"" << c.name << "\"\n" << orvo.errors();
        EXPECT_EQ(x.geometry(w), (std::vector<int>{50, 50, 350, c.height}));
        EXPECT_TRUE(shows_waves(dir, w, c.strips, 100));
        xdo("mousemove --window " + id(w) + " 245 " + std::to_string(c.height - 30) + " click 1");
        EXPECT_EQ(orvo.line(), "pos: 700");
    }

    // The 12 channels scroll; shrunk to 400 high, each view is 50 high.
    Window twelve = x.find("twelve");
    EXPECT_EQ(orvo.ask("window t info").at(0), "t window: title twelve rect 50 50 350 800 vscroll 1 views 12");
    xdo("windowsize --sync " + id(twelve) + " 350 400");
    std::vector<std::string> info;
    for (auto until = Clock::now() + kPatience; Clock::now() < until;) {
        info = orvo.ask("window t info");
        if (info.size() == 13 && info[0].find("350 400") != std::string::npos) break;
    }
    ASSERT_EQ(info.size(), 13u);
    EXPECT_EQ(info[0], "t window: title twelve rect 50 50 350 400 vscroll 1 views 12");
    EXPECT_EQ(info[12], "t view 12: twelve channel 12 rect 0 550 350 50");
    EXPECT_TRUE(shows_waves(dir, twelve, 8, 50));

    // Moved, then closed as a window manager closes it, it reopens where the user left it.
    xdo("windowmove --sync " + id(twelve) + " 120 90");
    for (auto until = Clock::now() + kPatience; Clock::now() < until;)
        if ((info = orvo.ask("window t info")).at(0).find("rect 120 90") != std::string::npos) break;
    EXPECT_EQ(info.at(0), "t window: title twelve rect 120 90 350 400 vscroll 1 views 12");
    x.request_close(twelve);
    for (auto until = Clock::now() + kPatience; Clock::now() < until && x.lookup("twelve");)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    info = orvo.ask("window t info");
    ASSERT_EQ(info.size(), 1u);
    EXPECT_NE(info[0].find("the window of \"t\" is not open"), std::string::npos) << info[0];
    orvo.ask("t open");
    Window again = x.find("twelve");
    ASSERT_NE(again, 0u);
    EXPECT_EQ(x.geometry(again), (std::vector<int>{120, 90, 350, 400}));
    EXPECT_TRUE(shows_waves(dir, again, 8, 50));

    // Windows close when orvo ends.
    EXPECT_EQ(orvo.quit(), 1) << orvo.errors();  // the one statement above that failed
    EXPECT_EQ(x.lookup("mono"), 0u);
}

}  // namespace
