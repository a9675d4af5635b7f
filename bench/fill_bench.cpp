// fill over ten minutes of stereo at 48 kHz, driven through the host as a patch
// would, against the machine's memory-copy bandwidth measured in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "buffer~/core/buffer_record.h"
#include "orvo/runtime.h"

namespace {

constexpr long kFrames = 10L * 60 * 48000;
constexpr long kSamples = kFrames * 2;

t_buffer *g_buffer = nullptr;

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
    for (auto _ : state) send_fill(b, text);
    state.SetBytesProcessed(state.iterations() * (int64_t)sizeof(float) * kSamples);
    state.counters["samples/s"] = benchmark::Counter((double)state.iterations() * kSamples, benchmark::Counter::kIsRate);
}

BENCHMARK(BM_memcpy_baseline)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(BM_fill, constant, "0.5")->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(BM_fill, sin, "sin 1000")->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(BM_fill, cos, "cos 1000")->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
