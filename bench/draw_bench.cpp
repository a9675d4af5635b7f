// Redrawing the editor window of ten minutes of stereo at 44.1 kHz, 350 pixels
// wide (two views, one a channel), against scanning every sample for each pixel
// column as a drawing without the overview would, measured in the same run.
//
// scan: the baseline, min/max of both channels per column over all 26.5 million
// frames. redraw: the whole window drawn while the overview is up to date (an
// expose, a move, a resize). changed: the first redraw after the samples changed,
// which brings the overview up to date first; changed_zoomed: the same with the views
// showing the first second, which reads that second alone. vs_scan = scan seconds / these seconds
// (above 1: faster than the scan).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

#include "buffer~/host/buffer_record.h"
#include "orvo/runtime.h"

namespace {

constexpr int kColumns = 350;

t_buffer *g_buffer;
t_object *g_window;
double g_scan_seconds;

using Clock = std::chrono::steady_clock;
double since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

void scan_all(const t_buffer *b) {
    const float *s = b->b_samples;
    double per = (double)b->b_frames / kColumns;
    float acc = 0;
    for (long ch = 0; ch < b->b_nchans; ++ch)
        for (int px = 0; px < kColumns; ++px) {
            auto lo = (long)(px * per), hi = (long)((px + 1) * per);
            float mn = s[lo * b->b_nchans + ch], mx = mn;
            for (long f = lo + 1; f < hi; ++f) {
                mn = std::min(mn, s[f * b->b_nchans + ch]);
                mx = std::max(mx, s[f * b->b_nchans + ch]);
            }
            acc += mx - mn;
        }
    benchmark::DoNotOptimize(acc);
}

void BM_scan(benchmark::State &state) {
    double total = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        scan_all(g_buffer);
        total += since(t0);
    }
    g_scan_seconds = total / (double)state.iterations();
}

void redraw(benchmark::State &state, bool changed) {
    orvo::WindowImage img;
    orvo::window_render(g_window, &img);  // the overview is built once before timing
    double total = 0;
    for (auto _ : state) {
        if (changed) {
            state.PauseTiming();
            object_method(g_buffer, gensym("bang"));  // redraw: the samples may have changed
            state.ResumeTiming();
        }
        auto t0 = Clock::now();
        orvo::window_render(g_window, &img);
        total += since(t0);
    }
    if (g_scan_seconds > 0) state.counters["vs_scan"] = g_scan_seconds / (total / (double)state.iterations());
}

void BM_redraw(benchmark::State &state) { redraw(state, false); }
void BM_changed(benchmark::State &state) { redraw(state, true); }
// The same with the views zoomed in on the first second: only that second is read.
void BM_changed_zoomed(benchmark::State &state) {
    t_atom range[2];
    atom_setfloat(range, 0);
    atom_setfloat(range + 1, 1000);
    object_method_typed(g_buffer->b_window, gensym("display"), 2, range, nullptr);
    redraw(state, true);
}

}  // namespace

BENCHMARK(BM_scan)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_redraw)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_changed)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_changed_zoomed)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    orvo::runtime_start(false);
    orvo::load_plugins(orvo::default_plugin_dir());
    t_atom av[3];
    atom_setsym(av, gensym("long"));
    atom_setlong(av + 1, 600000);  // ten minutes
    atom_setlong(av + 2, 2);
    g_buffer = (t_buffer *)object_new_typed(gensym("box"), gensym("buffer~"), 3, av);
    if (!g_buffer || g_buffer->b_frames != 600L * 44100) return 1;
    // Two tones a fifth apart with a little noise, so that no stretch is special.
    unsigned noise = 12345;
    for (long f = 0; f < g_buffer->b_frames; ++f)
        for (long c = 0; c < 2; ++c) {
            noise = noise * 1664525u + 1013904223u;
            g_buffer->b_samples[f * 2 + c] = (float)(0.6 * std::sin(2 * M_PI * (220.0 + 110.0 * c) * f / 44100.0) +
                                                     0.05 * ((double)(noise >> 8) / (1u << 24) - 0.5));
        }
    object_method(g_buffer, gensym("open"));
    g_window = orvo::window_owned_by(g_buffer->b_window);
    orvo::WindowInfo info;
    if (!orvo::window_info(g_window, &info) || info.views.size() != 2 || info.views[0].rect.width != kColumns) return 1;
    benchmark::RunSpecifiedBenchmarks();
    object_free(g_buffer);
    orvo::runtime_stop();
    return 0;
}
