// fill over ten minutes of stereo at 48 kHz, driven through the host as a patch
// would, against the machine's memory-copy bandwidth measured in the same run.
// vs_memcpy = bytes a fill writes per second / bytes memcpy copies per second
// (median of several copies of a block of the same size, before the benchmarks).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "buffer~/host/buffer_record.h"
#include "orvo/runtime.h"

namespace {

constexpr long kFrames = 10L * 60 * 48000;
constexpr long kSamples = kFrames * 2;

t_buffer *g_buffer = nullptr;
double g_copy_rate = 0.0;   // bytes copied per second by memcpy

void measure_copy_rate() {
    std::vector<float> src(kSamples, 0.25f), dst(kSamples, 0.0f);
    std::vector<double> rates;
    for (int i = 0; i < 9; i++) {
        auto t0 = std::chrono::steady_clock::now();
        std::memcpy(dst.data(), src.data(), sizeof(float) * kSamples);
        benchmark::ClobberMemory();
        std::chrono::duration<double> dt = std::chrono::steady_clock::now() - t0;
        rates.push_back(sizeof(float) * (double)kSamples / dt.count());
    }
    std::sort(rates.begin(), rates.end());
    g_copy_rate = rates[rates.size() / 2];
}

t_buffer *the_buffer() {
    if (!g_buffer) {
        orvo::runtime_start(false);
        orvo::load_plugins(orvo::default_plugin_dir());
        orvo::set_sr(48000);
        t_atom av[3];
        atom_setsym(av, gensym("bench"));
        atom_setfloat(av + 1, 600000.0);
        atom_setlong(av + 2, 2);
        g_buffer = (t_buffer *)object_new_typed(gensym("box"), gensym("buffer~"), 3, av);
        if (!g_buffer || g_buffer->b_size != kSamples) std::abort();
    }
    return g_buffer;
}

void send_fill(t_buffer *b, const char *text) {
    object_method_parse(b, gensym("fill"), text, nullptr);
    benchmark::DoNotOptimize(b->b_samples[kSamples - 1]);
}

// The baseline: copying as many bytes as a fill writes.
void BM_memcpy_baseline(benchmark::State &state) {
    std::vector<float> src(kSamples, 0.25f), dst(kSamples, 0.0f);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), sizeof(float) * kSamples);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * (int64_t)sizeof(float) * kSamples);
    state.counters["samples/s"] = benchmark::Counter((double)state.iterations() * kSamples, benchmark::Counter::kIsRate);
}

void BM_fill(benchmark::State &state, const char *text) {
    t_buffer *b = the_buffer();
    double seconds = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        send_fill(b, text);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    state.SetBytesProcessed(state.iterations() * (int64_t)sizeof(float) * kSamples);
    state.counters["vs_memcpy"] = (double)state.iterations() * sizeof(float) * kSamples / seconds / g_copy_rate;
    state.counters["samples/s"] = benchmark::Counter((double)state.iterations() * kSamples, benchmark::Counter::kIsRate);
}

BENCHMARK(BM_memcpy_baseline)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(BM_fill, constant, "0.5")->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(BM_fill, sin, "sin 1000")->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(BM_fill, cos, "cos 1000")->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    measure_copy_rate();
    std::printf("memcpy baseline: %.2f GB/s copied, %ld samples per fill\n", g_copy_rate / 1e9, kSamples);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
