// The editor window of buffer~, driven as a user and a patch would: opening,
// layout, channel changes, renaming, closing and reopening, and the messages
// that reach the views and come back from them.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "buffer_test.h"
#include "buffer~/window/window.h"

namespace {

using orvo_test::BufferTest;

std::string rect(const t_rect &r) {
    char s[96];
    snprintf(s, sizeof s, "%g %g %g %g", r.x, r.y, r.width, r.height);
    return s;
}

class WindowTest : public BufferTest {
  protected:
    static t_object *patcher(t_buffer *b) { return orvo::window_owned_by(b->b_window); }
    t_object *open(t_buffer *b) {
        send(b, "open");
        return patcher(b);
    }
    static orvo::WindowInfo info(t_buffer *b) {
        orvo::WindowInfo i;
        EXPECT_TRUE(orvo::window_info(patcher(b), &i)) << "window not open";
        return i;
    }
    // Views stacked from the top, each `height` high and as wide as the window, showing b.
    static void expect_stack(t_buffer *b, const std::string &name, size_t n, double height) {
        orvo::WindowInfo i = info(b);
        ASSERT_EQ(i.views.size(), n);
        for (size_t k = 0; k < n; ++k) {
            SCOPED_TRACE("view " + std::to_string(k + 1));
            EXPECT_EQ(rect(i.views[k].rect), rect({0, (double)k * height, i.rect.width, height}));
            EXPECT_EQ(i.views[k].buffer, name);
            EXPECT_EQ(i.views[k].channel, (long)k + 1);
            EXPECT_EQ(i.views[k].mouse_target, &b->b_window->w_obj);
        }
    }
};

// A window opens at its first rectangle with a view per channel; closed, by hand or
// by "wclose", it reopens where it was left.
TEST_F(WindowTest, OpeningPlacesTheWindowAndReopeningKeepsWhereItWasLeft) {
    const struct {
        const char *args;
        size_t views;
        const char *rect;
        bool vscroll, by_hand;
    } cases[] = {{"w1 100 1", 1, "50 50 350 100", false, true},
                 {"w2 100 2", 2, "50 50 350 200", false, false},
                 {"w12 100 12", 12, "50 50 350 800", true, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args);
        t_buffer *b = buffer(c.args);
        EXPECT_EQ(patcher(b), nullptr) << "a window before anything opened it";
        t_object *p = open(b);
        ASSERT_NE(p, nullptr);
        orvo::WindowInfo i = info(b);
        EXPECT_EQ(rect(i.rect), c.rect);
        EXPECT_EQ(i.vscroll, c.vscroll);
        EXPECT_TRUE(i.visible && i.locked && !i.editable && !i.hscroll);
        EXPECT_EQ(i.title, b->b_name->s_name);
        expect_stack(b, b->b_name->s_name, c.views, 100);
        // Opening again brings the same window forward without rebuilding it.
        EXPECT_EQ(open(b), p);
        EXPECT_EQ(info(b).views[0].box, i.views[0].box);
        orvo::window_move(p, 300, 120);
        orvo::window_resize(p, 640, 480);
        if (c.by_hand)
            orvo::window_user_close(p);
        else
            send(b, "wclose");
        EXPECT_FALSE(object_valid(p));
        EXPECT_EQ(patcher(b), nullptr);
        EXPECT_EQ(b->b_window->w_waveforms, nullptr);
        ASSERT_NE(open(b), nullptr);
        EXPECT_EQ(rect(info(b).rect), "300 120 640 480");
        expect_stack(b, b->b_name->s_name, c.views, 480.0 / (double)std::min<size_t>(c.views, 8));  // 8 share it
        free_box(&b->b_obj);
    }
    EXPECT_TRUE(console().empty());
}

TEST_F(WindowTest, ResizingDividesTheHeightWithAMinimumOf32) {
    t_buffer *b = buffer("eight 100 8");
    ASSERT_NE(open(b), nullptr);
    const struct {
        double height, view;  // of the window, and of each of the 8 views
        bool vscroll;
    } cases[] = {
        {200, 32, true},    // 25 each is too low: 32 each, and the window scrolls
        {256, 32, false},   // exactly 32 needs no scrolling
        {800, 100, false},  // and back
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.height);
        orvo::window_resize(patcher(b), 500, c.height);
        orvo::WindowInfo i = info(b);
        EXPECT_EQ(rect(i.rect), rect({50, 50, 500, c.height}));
        EXPECT_EQ(rect(i.view), rect({0, 0, 500, c.height}));
        EXPECT_EQ(i.vscroll, c.vscroll);
        expect_stack(b, "eight", 8, c.view);
    }
}

// A channel change through the box or through a peer of its name rebuilds an open
// window and is counted by a closed one.
TEST_F(WindowTest, ChannelChangeRebuildsAnOpenWindowAndIsCountedByAClosedOne) {
    for (bool opened : {true, false}) {
        SCOPED_TRACE(opened ? "open" : "closed");
        t_buffer *b = buffer("chans 100 2");
        if (opened) open(b);
        // A mark the old views carry and fresh ones do not; a closed window ignores all three.
        send(b, "bang");
        send(b->b_window, "display", "100 500");
        if (!opened) send(b, "wclose");
        send(b, "sizeinsamps", "1000 4");
        EXPECT_EQ(b->b_window->w_nchans, 4);
        EXPECT_EQ(patcher(b) != nullptr, opened);
        ASSERT_NE(open(b), nullptr);
        expect_stack(b, "chans", 4, 50);  // the window keeps the 200 units made for two channels
        for (auto &v : info(b).views) EXPECT_TRUE(v.redraws == 0 && v.start_ms == 0);
        free_box(&b->b_obj);
    }
    t_buffer *owner = buffer("shared 100 2"), *peer = buffer("shared"), *closed = buffer("shared");
    open(peer);
    send(owner, "sizeinsamps", "1000 3");
    expect_stack(peer, "shared", 3, 200.0 / 3);
    EXPECT_EQ(closed->b_window->w_nchans, 3);
    EXPECT_TRUE(console().empty());
}

TEST_F(WindowTest, RenameRetitlesAndRepointsTheViewsAndNoNameIsUntitled) {
    t_buffer *b = buffer("before 100 3");
    ASSERT_NE(open(b), nullptr);
    send(b, "name", "after");
    EXPECT_EQ(info(b).title, "after");
    expect_stack(b, "after", 3, 100);

    t_buffer *u = buffer("named 100 1");
    t_symbol *name = u->b_name;
    u->b_name = gensym("");
    ASSERT_NE(open(u), nullptr);
    EXPECT_EQ(info(u).title, "untitled");
    EXPECT_EQ(info(u).views[0].buffer, "");
    u->b_name = name;
}

TEST_F(WindowTest, OpenAndCloseFromTheSchedulerWaitForTheMainThread) {
    t_buffer *b = buffer("sched 100 1");
    for (const char *msg : {"open", "wclose"}) {
        bool was_open = patcher(b) != nullptr;
        send_sched(b, msg);
        EXPECT_EQ(patcher(b) != nullptr, was_open) << msg;
        orvo::run_until_idle();
        EXPECT_EQ(patcher(b) != nullptr, !was_open) << msg;
    }
}

// "display" and "bang" reach every view; a click in a view leaves the left outlet
// in milliseconds of what the view shows.
TEST_F(WindowTest, DisplayBangAndClicksReachEveryView) {
    t_buffer *b = buffer("mouse 1000 2");
    t_object *p = box("print", "pos");
    ASSERT_TRUE(orvo::connect(&b->b_obj, 0, p));
    ASSERT_NE(open(b), nullptr);
    send(b, "bang");
    send(b, "bang");
    const struct {
        const char *display;  // "" for the whole buffer
        double x;
        const char *printed;
    } clicks[] = {{"", 175, "pos: 500"}, {"", 0, "pos: 0"}, {"100 500", 175, "pos: 300"},
                  {"7", 175, "pos: 300"},  // too few: nothing changes
                  {"0 1", 175, "pos: 0.5"}};
    for (const auto &c : clicks) {
        SCOPED_TRACE(std::string(c.display) + " at " + std::to_string(c.x));
        if (*c.display) send(b->b_window, "display", c.display);
        for (auto &v : info(b).views) {
            EXPECT_EQ(v.redraws, 2);
            orvo::window_mouse(v.box, c.x);
            EXPECT_EQ(console(), std::vector<std::string>{c.printed});
        }
    }
    for (auto &v : info(b).views)
        EXPECT_EQ((std::vector<double>{v.start_ms, v.end_ms, v.select_start, v.select_end}),
                  (std::vector<double>{0, 1, 0, -1}));
    send(b->b_window, "mouse");  // no position: nothing to report
    EXPECT_TRUE(console().empty());
}

}  // namespace
