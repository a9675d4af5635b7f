// The editor window of buffer~, driven as a user and a patch would: opening,
// layout, channel changes, renaming, closing and reopening, and the messages
// that reach the views and come back from them.
#include <cmath>
#include <string>
#include <vector>

#include "buffer_test.h"

namespace {

using orvo_test::BufferTest;

class WindowTest : public BufferTest {
  protected:
    // The open patcher of b, or null.
    static t_object *patcher(t_buffer *b) { return b->b_window ? b->b_window->w_patcher : nullptr; }
    t_object *open(t_buffer *b) {
        send(b, "open");
        return patcher(b);
    }
    static orvo::WindowInfo info(t_buffer *b) {
        orvo::WindowInfo i;
        EXPECT_TRUE(orvo::window_info(patcher(b), &i)) << "window not open";
        return i;
    }
    static void expect_rect(const t_rect &r, double x, double y, double w, double h) {
        EXPECT_DOUBLE_EQ(r.x, x);
        EXPECT_DOUBLE_EQ(r.y, y);
        EXPECT_DOUBLE_EQ(r.width, w);
        EXPECT_DOUBLE_EQ(r.height, h);
    }
    // Views stacked from the top, each `height` high and as wide as the window.
    static void expect_stack(const orvo::WindowInfo &i, const std::string &name, size_t n, double height) {
        ASSERT_EQ(i.views.size(), n);
        for (size_t k = 0; k < n; ++k) {
            SCOPED_TRACE("view " + std::to_string(k + 1));
            expect_rect(i.views[k].rect, 0, (double)k * height, i.rect.width, height);
            EXPECT_EQ(i.views[k].buffer, name);
            EXPECT_EQ(i.views[k].channel, (long)k + 1);
        }
    }
};

// ---- opening -------------------------------------------------------------------------------

struct FirstOpen {
    const char *args;
    size_t views;
    double height;  // of the window
    bool vscroll;
};

TEST_F(WindowTest, FirstOpeningRectangleAndViewsFollowTheChannelCount) {
    const FirstOpen cases[] = {
        {"w1 100 1", 1, 100, false}, {"w2 100 2", 2, 200, false}, {"w12 100 12", 12, 800, true},
        {"w8 100 8", 8, 800, false}, {"w0", 1, 100, false},  // no channels: one view
    };
    for (const FirstOpen &c : cases) {
        SCOPED_TRACE(c.args);
        t_buffer *b = buffer(c.args);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(patcher(b), nullptr) << "a window before anything opened it";
        ASSERT_NE(open(b), nullptr);
        orvo::WindowInfo i = info(b);
        expect_rect(i.rect, 50, 50, 350, c.height);
        expect_rect(i.view, 0, 0, 350, c.height);
        EXPECT_EQ(i.vscroll, c.vscroll);
        EXPECT_FALSE(i.hscroll);
        EXPECT_TRUE(i.visible);
        EXPECT_TRUE(i.locked);
        EXPECT_FALSE(i.editable);
        EXPECT_EQ(i.title, b->b_name->s_name);
        expect_stack(i, b->b_name->s_name, c.views, 100);
        for (auto &v : i.views) EXPECT_EQ(v.mouse_target, &b->b_window->w_obj);
        free_box(&b->b_obj);
    }
    EXPECT_TRUE(console().empty());
}

TEST_F(WindowTest, OpeningAnOpenWindowBringsItToTheFrontWithoutRebuilding) {
    t_buffer *a = buffer("fa 100 2");
    t_buffer *b = buffer("fb 100 2");
    t_object *pa = open(a);
    std::vector<t_object *> boxes;
    for (auto &v : info(a).views) boxes.push_back(v.box);
    t_object *pb = open(b);
    EXPECT_EQ(orvo::window_front(), pb);
    EXPECT_EQ(open(a), pa);
    EXPECT_EQ(orvo::window_front(), pa);
    std::vector<t_object *> again;
    for (auto &v : info(a).views) again.push_back(v.box);
    EXPECT_EQ(again, boxes);
    object_method(a, gensym("dblclick"));
    EXPECT_EQ(patcher(a), pa);
}

TEST_F(WindowTest, OpenFromTheSchedulerWaitsForTheMainThread) {
    t_buffer *b = buffer("sched 100 1");
    send_sched(b, "open");
    EXPECT_EQ(patcher(b), nullptr);
    orvo::run_until_idle();
    ASSERT_NE(patcher(b), nullptr);
    send_sched(b, "wclose");
    EXPECT_NE(patcher(b), nullptr);
    orvo::run_until_idle();
    EXPECT_EQ(patcher(b), nullptr);
}

// ---- layout --------------------------------------------------------------------------------

struct Resize {
    double height;
    double view;  // height of each of the 8 views
    bool vscroll;
};

TEST_F(WindowTest, ResizingDividesTheHeightWithAMinimumOf32) {
    t_buffer *b = buffer("eight 100 8");
    ASSERT_NE(open(b), nullptr);
    const Resize cases[] = {
        {200, 32, true},                                        // 25 each: too low, so 32 and scrolling
        {800, 100, false},  {400, 50, false}, {240, 32, true},  // 30
        {256, 32, false},                                       // exactly 32 needs no scrolling
        {1000, 125, false},
    };
    for (const Resize &c : cases) {
        SCOPED_TRACE(c.height);
        orvo::window_resize(patcher(b), 500, c.height);
        orvo::WindowInfo i = info(b);
        expect_rect(i.rect, 50, 50, 500, c.height);
        expect_rect(i.view, 0, 0, 500, c.height);
        EXPECT_EQ(i.vscroll, c.vscroll);
        expect_stack(i, "eight", 8, c.view);
    }
    // Past eight channels the window scrolls however tall it is.
    t_buffer *many = buffer("twelve 100 12");
    ASSERT_NE(open(many), nullptr);
    orvo::window_resize(patcher(many), 350, 2048);
    EXPECT_TRUE(info(many).vscroll);
    expect_stack(info(many), "twelve", 12, 256);
}

TEST_F(WindowTest, WindowSizeStaysWithinItsConstraint) {
    t_buffer *b = buffer("tiny 100 1");
    ASSERT_NE(open(b), nullptr);
    orvo::window_resize(patcher(b), 10, 20);
    expect_rect(info(b).rect, 50, 50, 50, 50);
    orvo::window_resize(patcher(b), 5000, 3000);
    expect_rect(info(b).rect, 50, 50, 2048, 2048);
    expect_stack(info(b), "tiny", 1, 2048);
}

// ---- channel changes and names -------------------------------------------------------------

TEST_F(WindowTest, ChannelChangeWhileOpenRebuildsFreshViews) {
    t_buffer *b = buffer("chans 100 2");
    ASSERT_NE(open(b), nullptr);
    // Marks on the old views, which fresh ones do not carry.
    send(b->b_window, "display", "100 500");
    send(b, "bang");
    send(b, "sizeinsamps", "1000 4");
    ASSERT_EQ(b->b_nchans, 4);
    orvo::WindowInfo i = info(b);
    expect_stack(i, "chans", 4, 50);  // the window keeps its 200 units; the old views are gone
    for (auto &v : i.views) {
        EXPECT_EQ(v.redraws, 0);
        EXPECT_DOUBLE_EQ(v.start_ms, 0);
        EXPECT_EQ(v.mouse_target, &b->b_window->w_obj);
    }
    EXPECT_EQ(b->b_window->w_nchans, 4);
}

TEST_F(WindowTest, ChannelChangeWhileClosedOnlyCounts) {
    t_buffer *b = buffer("closedchans 100 2");
    send(b, "sizeinsamps", "1000 4");
    EXPECT_EQ(patcher(b), nullptr);
    EXPECT_EQ(b->b_window->w_nchans, 4);
    ASSERT_NE(open(b), nullptr);
    // The rectangle was made for two channels at creation.
    expect_stack(info(b), "closedchans", 4, 50);
}

TEST_F(WindowTest, RenameRetitlesAndRepointsTheViews) {
    t_buffer *b = buffer("before 100 3");
    ASSERT_NE(open(b), nullptr);
    EXPECT_EQ(info(b).title, "before");
    send(b, "name", "after");
    orvo::WindowInfo i = info(b);
    EXPECT_EQ(i.title, "after");
    expect_stack(i, "after", 3, 100);
}

TEST_F(WindowTest, EmptyNameIsTitledUntitled) {
    t_buffer *b = buffer("named 100 1");
    t_symbol *name = b->b_name;
    b->b_name = gensym("");
    ASSERT_NE(open(b), nullptr);
    EXPECT_EQ(info(b).title, "untitled");
    EXPECT_EQ(info(b).views[0].buffer, "");
    b->b_name = name;
}

// ---- closing -------------------------------------------------------------------------------

TEST_F(WindowTest, ReopeningKeepsTheRectangleTheWindowHadWhenClosed) {
    const char *const ways[] = {"by hand", "wclose"};
    for (const char *way : ways) {
        SCOPED_TRACE(way);
        t_buffer *b = buffer("keep 100 2");
        t_object *p = open(b);
        ASSERT_NE(p, nullptr);
        orvo::window_move(p, 300, 120);
        orvo::window_resize(p, 640, 480);
        if (std::string(way) == "wclose")
            send(b, "wclose");
        else
            orvo::window_user_close(p);
        EXPECT_FALSE(object_valid(p));
        EXPECT_EQ(patcher(b), nullptr);
        EXPECT_EQ(b->b_window->w_view, nullptr);
        EXPECT_EQ(b->b_window->w_waveforms, nullptr);
        expect_rect(b->b_window->w_rect, 300, 120, 640, 480);
        ASSERT_NE(open(b), nullptr);
        orvo::WindowInfo i = info(b);
        expect_rect(i.rect, 300, 120, 640, 480);
        expect_stack(i, "keep", 2, 240);
        free_box(&b->b_obj);
    }
}

TEST_F(WindowTest, ClosedWindowIgnoresCloseDisplayAndBang) {
    t_buffer *b = buffer("idle 100 1");
    send(b, "wclose");
    send(b, "bang");
    send(b->b_window, "display", "100 500");
    EXPECT_EQ(patcher(b), nullptr);
    EXPECT_TRUE(console().empty());
}

TEST_F(WindowTest, FreeingTheBufferClosesItsWindow) {
    t_buffer *b = buffer("gone 100 2");
    t_object *p = open(b);
    std::vector<t_object *> boxes;
    for (auto &v : info(b).views) boxes.push_back(v.box);
    free_box(&b->b_obj);
    EXPECT_FALSE(object_valid(p));
    for (t_object *o : boxes) EXPECT_FALSE(object_valid(o));
}

// ---- messages to and from the views ----------------------------------------------------------

TEST_F(WindowTest, DisplaySendsEachViewTheRangeAndNoSelection) {
    t_buffer *b = buffer("range 1000 3");
    ASSERT_NE(open(b), nullptr);
    send(b->b_window, "display", "100 500");
    for (auto &v : info(b).views) {
        EXPECT_DOUBLE_EQ(v.start_ms, 100);
        EXPECT_DOUBLE_EQ(v.end_ms, 500);
        EXPECT_DOUBLE_EQ(v.select_start, 0);
        EXPECT_DOUBLE_EQ(v.select_end, -1);
    }
    send(b->b_window, "display", "7");  // too few: nothing changes
    EXPECT_DOUBLE_EQ(info(b).views[2].start_ms, 100);
}

TEST_F(WindowTest, BangRedrawsEveryView) {
    t_buffer *b = buffer("redraw 100 2");
    ASSERT_NE(open(b), nullptr);
    send(b, "bang");
    send(b, "bang");
    for (auto &v : info(b).views) EXPECT_EQ(v.redraws, 2);
}

struct Click {
    const char *display;  // "" for the whole buffer
    double x;
    const char *printed;
};

TEST_F(WindowTest, MouseInAViewLeavesTheLeftOutletInMilliseconds) {
    t_buffer *b = buffer("mouse 1000 2");
    t_object *p = box("print", "pos");
    ASSERT_TRUE(orvo::connect(&b->b_obj, 0, p));
    ASSERT_NE(open(b), nullptr);
    const Click clicks[] = {
        {"", 175, "pos: 500"},        {"", 0, "pos: 0"}, {"", 35, "pos: 100"}, {"100 500", 175, "pos: 300"},
        {"100 500", 350, "pos: 500"},
    };
    for (const Click &c : clicks) {
        SCOPED_TRACE(std::string(c.display) + " at " + std::to_string(c.x));
        if (*c.display) send(b->b_window, "display", c.display);
        for (auto &v : info(b).views) {
            orvo::window_mouse(v.box, c.x);
            EXPECT_EQ(console(), std::vector<std::string>{c.printed});
        }
    }
    send(b->b_window, "mouse");  // no position: nothing to report
    EXPECT_TRUE(console().empty());
}

}  // namespace
