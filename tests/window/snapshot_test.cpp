// What the editor window draws: each view shows its channel's min/max per pixel
// column around a centre line, +1 near the top of the view and -1 near the bottom
// (2 pixels in, clear of the border).
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "buffer_test.h"

namespace {

using orvo_test::BufferTest;

constexpr int kTop = orvo::window_title_height;
constexpr double kHalf = 48;  // pixels from the centre line to full scale in a 100-high view

uint8_t red(uint32_t p) { return (uint8_t)(p >> 16); }
uint8_t blue(uint32_t p) { return (uint8_t)p; }
// The waveform is drawn in blue; everything else in the window is grey or white.
bool is_wave(uint32_t p) { return blue(p) > red(p) + 0x40; }

// The rows of column x, between y0 and y1, where the waveform is drawn.
std::vector<int> wave_rows(const orvo::WindowImage &img, int x, int y0, int y1) {
    std::vector<int> rows;
    for (int y = y0; y < y1; ++y)
        if (is_wave(img.at(x, y))) rows.push_back(y);
    return rows;
}

class SnapshotTest : public BufferTest {
  protected:
    // A two-channel buffer: a positive half sine on the left, its negative on the right.
    t_buffer *half_sines(const char *name) {
        t_buffer *b = buffer(std::string(name) + " 1000 2");
        for (t_atom_long f = 0; f < b->b_frames; ++f) {
            float v = (float)std::sin(M_PI * (double)f / (double)b->b_frames);
            b->b_samples[f * 2] = v;
            b->b_samples[f * 2 + 1] = -v;
        }
        send(b, "open");
        return b;
    }
};

TEST_F(SnapshotTest, HalfSinesAreDrawnOnTheirSideOfTheCentreLine) {
    t_buffer *b = half_sines("halfsine");
    orvo::WindowImage img;
    ASSERT_TRUE(orvo::window_render(b->b_window->w_patcher, &img));
    ASSERT_EQ(img.width, 350);
    ASSERT_EQ(img.height, 200 + kTop);
    // Channel 1 occupies rows kTop..kTop+100, channel 2 the next 100; centres at +50.
    const int columns[] = {20, 60, 117, 175, 233, 290, 330};
    for (int x : columns) {
        SCOPED_TRACE("column " + std::to_string(x));
        double v = std::sin(M_PI * (x + 0.5) / 350.0);
        int expected_up = kTop + 50 - (int)std::lround(v * kHalf);
        int expected_down = kTop + 150 + (int)std::lround(v * kHalf);

        std::vector<int> up = wave_rows(img, x, kTop, kTop + 100);
        ASSERT_FALSE(up.empty());
        EXPECT_LT(up.back(), kTop + 50) << "positive samples reach below the centre";
        EXPECT_NEAR(up.front(), expected_up, 2);
        EXPECT_TRUE(wave_rows(img, x, kTop + 52, kTop + 100).empty());

        std::vector<int> down = wave_rows(img, x, kTop + 100, kTop + 200);
        ASSERT_FALSE(down.empty());
        EXPECT_GE(down.front(), kTop + 150) << "negative samples reach above the centre";
        EXPECT_NEAR(down.back(), expected_down, 2);
    }
    // The title bar holds the title's text: some pixels are much darker than the bar.
    int dark = 0;
    for (int y = 0; y < kTop; ++y)
        for (int x = 0; x < img.width; ++x) dark += red(img.at(x, y)) < 0x60;
    EXPECT_GT(dark, 10);
}

TEST_F(SnapshotTest, DisplayRangeSelectsWhatTheColumnsShow) {
    t_buffer *b = half_sines("zoomed");
    // The first 100 ms of 1000: the sine rises to sin(pi/10) ~ 0.31 at the right edge.
    send(b->b_window, "display", "0 100");
    orvo::WindowImage img;
    ASSERT_TRUE(orvo::window_render(b->b_window->w_patcher, &img));
    std::vector<int> right = wave_rows(img, 345, kTop, kTop + 100);
    ASSERT_FALSE(right.empty());
    EXPECT_NEAR(right.front(), kTop + 50 - 0.31 * kHalf, 2);
}

TEST_F(SnapshotTest, EmptyBufferDrawsNoWaveAndResizedWindowDrawsLarger) {
    t_buffer *b = buffer("silent 1000 1");
    send(b, "open");
    orvo::window_resize(b->b_window->w_patcher, 400, 300);
    orvo::WindowImage img;
    ASSERT_TRUE(orvo::window_render(b->b_window->w_patcher, &img));
    EXPECT_EQ(img.width, 400);
    EXPECT_EQ(img.height, 300 + kTop);
    // Silence is a one-pixel trace on the centre line only.
    for (int x = 10; x < 390; x += 40) {
        std::vector<int> rows = wave_rows(img, x, kTop, img.height);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_NEAR(rows[0], kTop + 150, 1);
    }
}

TEST_F(SnapshotTest, SnapshotWritesAPngOfTheWindowSize) {
    orvo_test::TempDir dir;
    t_buffer *b = half_sines("png");
    std::string file = dir.file("window.png");
    ASSERT_TRUE(orvo::window_snapshot(b->b_window->w_patcher, file));
    std::ifstream in(file, std::ios::binary);
    std::vector<unsigned char> head(24);
    in.read((char *)head.data(), 24);
    ASSERT_EQ(in.gcount(), 24);
    const unsigned char sig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    EXPECT_TRUE(std::equal(sig, sig + 8, head.begin()));
    auto be32 = [&](int at) { return (head[at] << 24) | (head[at + 1] << 16) | (head[at + 2] << 8) | head[at + 3]; };
    EXPECT_EQ(be32(16), 350);
    EXPECT_EQ(be32(20), 200 + kTop);
    EXPECT_FALSE(orvo::window_snapshot(b->b_window->w_patcher, dir.file("no/such/folder/x.png")));
    EXPECT_FALSE(orvo::window_snapshot(&b->b_obj, dir.file("notawindow.png")));
}

}  // namespace
