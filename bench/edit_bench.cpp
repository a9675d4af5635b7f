// Every editing operation over ten minutes of stereo at 48 kHz (57.6 M samples), sent
// through the host as a patch would send it, on one core and on all of them, against
// memcpy of the same bytes measured in the same run:
//   vs_memcpy = bytes of samples edited per second / bytes memcpy copies per second,
// from the fastest of a few runs of each, and the same ratio of processor time (of
// all threads) as cpu_vs_memcpy: on a machine whose cores are busy elsewhere the
// wall-clock ratio says little, while the processor-time ratio shows the work done.
// The buffer is filled with 0.5 before each run, outside the timing.
#include <benchmark/benchmark.h>
#include <sched.h>
#include <sys/resource.h>

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
constexpr double kBytes = sizeof(float) * (double)kSamples;

t_buffer *g_buffer = nullptr;
double g_copy_rate = 0.0;      // bytes copied per second by memcpy
double g_copy_cpu_rate = 0.0;  // the same per second of processor time

// Processor time of all threads of the process, in seconds.
double cpu_seconds() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return (double)(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + 1e-6 * (double)(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void measure_copy_rate() {
    std::vector<float> src(kSamples, 0.25f), dst(kSamples, 0.0f);
    std::vector<double> rates, cpu_rates;
    for (int i = 0; i < 7; i++) {
        auto t0 = std::chrono::steady_clock::now();
        double c0 = cpu_seconds();
        std::memcpy(dst.data(), src.data(), sizeof(float) * kSamples);
        benchmark::ClobberMemory();
        cpu_rates.push_back(kBytes / (cpu_seconds() - c0));
        rates.push_back(kBytes / seconds_since(t0));
    }
    std::sort(rates.begin(), rates.end());
    std::sort(cpu_rates.begin(), cpu_rates.end());
    g_copy_rate = rates[rates.size() / 2];
    g_copy_cpu_rate = cpu_rates[cpu_rates.size() / 2];
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

// Holds the calling thread, and so the operation, to one core while it lives.
class OneCore {
  public:
    explicit OneCore(bool on) : on_(on) {
        if (!on_) return;
        sched_getaffinity(0, sizeof all_, &all_);
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int c = 0; c < CPU_SETSIZE; c++)
            if (CPU_ISSET(c, &all_)) {
                CPU_SET(c, &one);
                break;
            }
        sched_setaffinity(0, sizeof one, &one);
    }
    ~OneCore() {
        if (on_) sched_setaffinity(0, sizeof all_, &all_);
    }

  private:
    bool on_;
    cpu_set_t all_;
};

// range(0): 1 for one core, 0 for all of them.
void BM_edit(benchmark::State &state, const char *sel, const char *args) {
    t_buffer *b = the_buffer();
    OneCore hold(state.range(0) == 1);
    double best = 1e30, best_cpu = 1e30;
    for (auto _ : state) {
        std::fill(b->b_samples, b->b_samples + kSamples, 0.5f);
        auto t0 = std::chrono::steady_clock::now();
        double c0 = cpu_seconds();
        object_method_parse(b, gensym(sel), args, nullptr);
        benchmark::DoNotOptimize(b->b_samples[kSamples - 1]);
        double dt = seconds_since(t0);
        best_cpu = std::min(best_cpu, cpu_seconds() - c0);
        state.SetIterationTime(dt);
        best = std::min(best, dt);
    }
    state.SetBytesProcessed(state.iterations() * (int64_t)kBytes);
    state.counters["vs_memcpy"] = kBytes / best / g_copy_rate;
    state.counters["cpu_vs_memcpy"] = kBytes / best_cpu / g_copy_cpu_rate;
}

#define EDIT(name, sel, args)                                                                            \
    BENCHMARK_CAPTURE(BM_edit, name, sel, args)->ArgName("one_core")->Arg(1)->Arg(0)->UseManualTime()   \
        ->Iterations(3)->Unit(benchmark::kMillisecond)

EDIT(fill_constant, "fill", "0.5");
EDIT(clear, "clear", "");
EDIT(fill_sin, "fill", "sin 1000");
EDIT(fill_cos, "fill", "cos 1000");
EDIT(fill_sinc, "fill", "sinc 1000");
EDIT(gain, "apply", "gain 0.5");
EDIT(offset, "apply", "offset 0.25");
EDIT(getdeltas, "apply", "getdeltas");
EDIT(normalize, "normalize", "1");
EDIT(hamming, "apply", "hamming");
EDIT(hamming_half, "apply", "hamming half");
EDIT(hanning, "apply", "hanning");
EDIT(hanning_half, "apply", "hanning half");
EDIT(blackman, "apply", "blackman");
EDIT(blackman_half, "apply", "blackman half");
EDIT(welch, "apply", "welch");
EDIT(welch_half, "apply", "welch half");
EDIT(triangle, "apply", "triangle");
EDIT(triangle_half, "apply", "triangle half");
EDIT(kaiser_6, "apply", "kaiser 6");
EDIT(kaiser_20, "apply", "kaiser 20");
EDIT(kaiser_20_half, "apply", "kaiser 20 half");

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    measure_copy_rate();
    std::printf("memcpy baseline: %.2f GB/s copied (%.2f GB per processor second), %ld samples per operation\n",
                g_copy_rate / 1e9, g_copy_cpu_rate / 1e9, kSamples);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
