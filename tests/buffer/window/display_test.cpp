// What a screen needs from the windows: exact extremes from the overview, the
// hand-over of changes to the main thread, navigation in the views, and what
// the window draws.
#include <cmath>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "buffer_test.h"
#include "orvo/src/overview.h"

namespace {

using orvo::detail::MinMax;
using orvo::detail::Overview;
using orvo_test::BufferTest;

TEST(Overview, ExtremesEqualAScanOverAnyStretch) {
    constexpr int64_t kFine = Overview::kFine, kCoarse = Overview::kCoarse;
    for (int64_t nchans : {1, 2, 3, 4, 16}) {
        const int64_t frames = 3 * kCoarse + 5 * kFine + 17;
        std::vector<float> s((size_t)(frames * nchans));
        std::mt19937 rng(7);
        std::uniform_real_distribution<float> d(-1, 1);
        for (float &v : s) v = d(rng);
        Overview ov;
        ov.build(s.data(), frames, nchans);
        ASSERT_TRUE(ov.matches(s.data(), frames, nchans));
        // Stretches inside one block, across block and coarse-block edges, and the whole buffer.
        const int64_t cuts[][2] = {{0, 1},         {5, 9},
                                   {kFine - 1, kFine + 1},         {3, 2 * kFine + 1},
                                   {kFine, 2 * kFine},             {kCoarse - 3, kCoarse + kFine + 5},
                                   {1, 2 * kCoarse + 1},           {kFine * 3 + 1, 3 * kCoarse + kFine},
                                   {frames - 20, frames},          {0, frames}};
        for (auto &cut : cuts)
            for (int64_t ch = 0; ch < nchans; ++ch) {
                SCOPED_TRACE(std::to_string(nchans) + " channels, channel " + std::to_string(ch) + ", frames " +
                             std::to_string(cut[0]) + ".." + std::to_string(cut[1]));
                float lo = INFINITY, hi = -INFINITY;
                for (int64_t f = cut[0]; f < cut[1]; ++f) {
                    lo = std::min(lo, s[(size_t)(f * nchans + ch)]);
                    hi = std::max(hi, s[(size_t)(f * nchans + ch)]);
                }
                for (MinMax m : {ov.range(ch, cut[0], cut[1]), Overview::extremes(s.data(), nchans, ch, cut[0], cut[1])}) {
                    EXPECT_EQ(m.lo, lo);
                    EXPECT_EQ(m.hi, hi);
                }
            }
    }
}

// Records what the runtime hands it, and on which thread.
struct FakeScreen : orvo::WindowScreen {
    std::vector<std::string> calls;
    std::thread::id main = std::this_thread::get_id();
    bool off_main = false;
    int wakes = 0;
    void wake() override { ++wakes; }
    void note(const char *what, t_object *p) {
        off_main |= std::this_thread::get_id() != main;
        orvo::WindowInfo i;
        calls.push_back(std::string(what) + " " + (orvo::window_info(p, &i) ? i.title : "?"));
    }
    void show(t_object *p) override { note("show", p); }
    void update(t_object *p) override { note("update", p); }
    void gone(t_object *p) override { note("gone", p); }
    std::vector<std::string> take() {
        orvo::window_screen_flush();
        return std::move(calls);
    }
};

class ScreenLinkTest : public BufferTest {
  protected:
    void SetUp() override {
        BufferTest::SetUp();
        orvo::set_window_screen(&screen);
    }
    void TearDown() override {
        BufferTest::TearDown();
        orvo::set_window_screen(nullptr);
        EXPECT_FALSE(screen.off_main) << "the screen was called off the main thread";
    }
    FakeScreen screen;
};

using Calls = std::vector<std::string>;

TEST_F(ScreenLinkTest, ChangesReachTheScreenOnTheMainThreadOncePerFlush) {
    t_buffer *b = buffer("shown 1000 2");
    send(b, "open");
    EXPECT_EQ(screen.take(), (Calls{"show shown", "update shown"}));
    EXPECT_EQ(screen.take(), Calls{});

    // An edit on the scheduler thread renames nothing but redraws every view; the
    // screen hears of it only when the main thread flushes.
    int wakes = screen.wakes;
    send_sched(b, "fill", "0.5");
    send_sched(b, "name", "renamed");
    EXPECT_TRUE(screen.calls.empty());
    orvo::run_until_idle();
    EXPECT_GT(screen.wakes, wakes);
    EXPECT_EQ(screen.take(), Calls{"update renamed"});

    // A peer's edit reaches the views through the name.
    t_buffer *peer = buffer("renamed");
    send(peer, "fill", "0.25");
    EXPECT_EQ(screen.take(), Calls{"update renamed"});

    // Closed with changes still queued: the screen hears only that it went.
    send(b, "bang");
    orvo::window_user_close(orvo::window_owned_by(b->b_window));
    EXPECT_EQ(screen.take(), Calls{"gone renamed"});
    free_box(&peer->b_obj);
}

TEST_F(ScreenLinkTest, CtrlDragScrollsAndZoomsEveryViewAndDoubleClickZoomsOut) {
    t_buffer *b = buffer("nav 1000 2");  // 350 pixels wide, 1000 ms
    send(b, "open");
    orvo::WindowInfo info;
    ASSERT_TRUE(orvo::window_info(orvo::window_owned_by(b->b_window), &info));
    t_object *box = info.views[1].box;
    // Each drag begins from what the one before it left.
    const struct {
        double x0, y0, x, y;  // the drag, in the box
        double start, end;    // the range shown afterwards
    } drags[] = {
        {175, 50, 175, 50, 0, 1000},   // no movement
        {175, 10, 175, 74, 250, 750},  // 64 down: twice as close, around the middle
        {0, 10, 0, 74, 250, 500},      // again, around the left edge
        {175, 50, 105, 50, 300, 550},  // dragged left by a fifth of the view: later by a fifth
        {175, 74, 175, 10, 175, 675},  // 64 up: twice as far, around the middle
        {175, 50, 175, -78, 0, 1000},  // far out: the whole buffer at most
        {175, 10, 175, 74, 250, 750},
        {175, 50, 500, 50, 0, 500},    // nothing before the start
    };
    for (const auto &d : drags) {
        SCOPED_TRACE(std::to_string(d.x) + "," + std::to_string(d.y));
        orvo::window_navigate_begin(box, d.x0, d.y0);
        orvo::window_navigate(box, d.x, d.y);
        ASSERT_TRUE(orvo::window_info(orvo::window_owned_by(b->b_window), &info));
        for (auto &v : info.views) {
            EXPECT_NEAR(v.start_ms, d.start, 1e-9);
            EXPECT_NEAR(v.end_ms, d.end, 1e-9);
        }
    }
    orvo::window_zoom_out(box);
    ASSERT_TRUE(orvo::window_info(orvo::window_owned_by(b->b_window), &info));
    for (auto &v : info.views) EXPECT_LE(v.end_ms, v.start_ms) << "not back to the whole buffer";
    screen.take();
}

constexpr int kTop = orvo::window_title_height;
constexpr double kHalf = 48;  // pixels from the centre line to full scale in a 100-high view

uint8_t red(uint32_t p) { return (uint8_t)(p >> 16); }
// The waveform is drawn in blue; everything else in the window is grey or white.
bool is_wave(uint32_t p) { return (uint8_t)p > red(p) + 0x40; }

// The rows of column x, between y0 and y1, where the waveform is drawn.
std::vector<int> wave_rows(const orvo::WindowImage &img, int x, int y0, int y1) {
    std::vector<int> rows;
    for (int y = y0; y < y1; ++y)
        if (is_wave(img.at(x, y))) rows.push_back(y);
    return rows;
}

// Each view shows its channel's min/max per pixel column around a centre line, +1
// near the top of the view and -1 near the bottom (2 pixels in, clear of the border).
using SnapshotTest = BufferTest;
TEST_F(SnapshotTest, HalfSinesAreDrawnOnTheirSideOfTheCentreLine) {
    // A positive half sine on the left channel, its negative on the right.
    t_buffer *b = buffer("halfsine 1000 2");
    for (t_atom_long f = 0; f < b->b_frames; ++f) {
        float v = (float)std::sin(M_PI * (double)f / (double)b->b_frames);
        b->b_samples[f * 2] = v;
        b->b_samples[f * 2 + 1] = -v;
    }
    send(b, "open");
    orvo::WindowImage img;
    ASSERT_TRUE(orvo::window_render(orvo::window_owned_by(b->b_window), &img));
    ASSERT_EQ(img.width, 350);
    ASSERT_EQ(img.height, 200 + kTop);
    // Channel 1 occupies rows kTop..kTop+100, channel 2 the next 100; centres at +50.
    for (int x : {20, 117, 175, 290, 330}) {
        SCOPED_TRACE("column " + std::to_string(x));
        double v = std::sin(M_PI * (x + 0.5) / 350.0);
        std::vector<int> up = wave_rows(img, x, kTop, kTop + 100);
        ASSERT_FALSE(up.empty());
        EXPECT_LT(up.back(), kTop + 50) << "positive samples reach below the centre";
        EXPECT_NEAR(up.front(), kTop + 50 - v * kHalf, 2);
        std::vector<int> down = wave_rows(img, x, kTop + 100, kTop + 200);
        ASSERT_FALSE(down.empty());
        EXPECT_GE(down.front(), kTop + 150) << "negative samples reach above the centre";
        EXPECT_NEAR(down.back(), kTop + 150 + v * kHalf, 2);
    }
    // The title bar holds the title's text: some pixels are much darker than the bar.
    int dark = 0;
    for (int y = 0; y < kTop; ++y)
        for (int x = 0; x < img.width; ++x) dark += red(img.at(x, y)) < 0x60;
    EXPECT_GT(dark, 10);

    // The first 100 ms of 1000: the sine rises to sin(pi/10) ~ 0.31 at the right edge.
    send(b->b_window, "display", "0 100");
    ASSERT_TRUE(orvo::window_render(orvo::window_owned_by(b->b_window), &img));
    std::vector<int> right = wave_rows(img, 345, kTop, kTop + 100);
    ASSERT_FALSE(right.empty());
    EXPECT_NEAR(right.front(), kTop + 50 - 0.31 * kHalf, 2);
}

}  // namespace
