// What a screen needs from the windows: exact extremes from the overview, the
// hand-over of changes to the main thread, and navigation in the views.
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
    for (int64_t nchans : {1, 2, 3}) {
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
                MinMax m = ov.range(ch, cut[0], cut[1]);
                EXPECT_EQ(m.lo, lo);
                EXPECT_EQ(m.hi, hi);
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

}  // namespace
