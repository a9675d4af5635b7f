// What the editor window draws: each view shows its channel's min/max per pixel
// column around a centre line, +1 near the top of the view and -1 near the bottom
// (2 pixels in, clear of the border).
#include <cmath>
#include <string>
#include <vector>

#include "buffer_test.h"

namespace {

using orvo_test::BufferTest;

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
