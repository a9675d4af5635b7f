// Throughput of the sample codec against the machine's memory-copy bandwidth,
// measured in the same run.
//
// Each benchmark reports samples/s, bytes/s and vs_memcpy. bytes/s counts the
// memory traffic of the job: bytes read plus bytes written (2 + 4 per sample to
// decode 16-bit into float). The baseline is memcpy of a block the size of the
// float buffer, counted the same way (each byte read once and written once), so
// vs_memcpy = 1.0 means the codec moves memory as fast as memcpy does.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "buffer~/host/orvo_types.h"
#include "buffer~/write/sampdecode.h"
#include "buffer~/write/sampencode.h"

namespace {

// Ten minutes of stereo at 48 kHz: far larger than any cache.
constexpr size_t kSamples = 57'600'000;
constexpr t_atom_long kNone = FOURCC('N', 'O', 'N', 'E');
constexpr t_atom_long kFl32 = FOURCC('F', 'L', '3', '2');

struct Blocks {
    std::vector<float> floats;
    std::vector<unsigned char> bytes;  // room for kSamples of up to 4 bytes
    Blocks() : floats(kSamples), bytes(kSamples * 4) {
        std::mt19937 rng(1234);
        std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
        for (auto &f : floats) f = dist(rng);
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = (unsigned char)rng();
    }
};

Blocks &blocks() {
    static Blocks b;
    return b;
}

// Memory traffic per second of memcpy over the float block, median of several runs.
double g_memcpy_traffic = 0.0;

void measure_memcpy_baseline() {
    Blocks &b = blocks();
    const size_t n = kSamples * sizeof(float);
    std::vector<double> rates;
    for (int run = 0; run < 9; ++run) {
        auto t0 = std::chrono::steady_clock::now();
        std::memcpy(b.bytes.data(), b.floats.data(), n);
        benchmark::ClobberMemory();
        auto t1 = std::chrono::steady_clock::now();
        rates.push_back(2.0 * (double)n / std::chrono::duration<double>(t1 - t0).count());
    }
    std::sort(rates.begin(), rates.end());
    g_memcpy_traffic = rates[rates.size() / 2];
}

// Runs job once per iteration under its own clock, so that vs_memcpy can be a
// plain ratio of the elapsed time rather than a rate.
template <class Job>
void timed_loop(benchmark::State &state, size_t bytes_read_per_sample, size_t bytes_written_per_sample, Job job) {
    double seconds = 0.0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        job();
        benchmark::ClobberMemory();
        double dt = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(dt);
        seconds += dt;
    }
    const double samples = (double)state.iterations() * (double)kSamples;
    const double traffic = samples * (double)(bytes_read_per_sample + bytes_written_per_sample);
    state.counters["samples/s"] = benchmark::Counter(samples, benchmark::Counter::kIsRate);
    state.counters["bytes/s"] = benchmark::Counter(traffic, benchmark::Counter::kIsRate);
    state.counters["vs_memcpy"] = traffic / seconds / g_memcpy_traffic;
}

void BM_memcpy(benchmark::State &state) {
    Blocks &b = blocks();
    timed_loop(state, 4, 4, [&] { std::memcpy(b.bytes.data(), b.floats.data(), kSamples * sizeof(float)); });
}

void decode(benchmark::State &state, size_t size, t_atom_long code, t_atom_long big_endian) {
    Blocks &b = blocks();
    timed_loop(state, size, sizeof(float),
               [&] { vector_samp2float(b.bytes.data(), b.floats.data(), kSamples, 1, 1, size, code, big_endian); });
}

void BM_decode_int16_be(benchmark::State &state) { decode(state, 2, kNone, 1); }
void BM_decode_int24_le(benchmark::State &state) { decode(state, 3, kNone, 0); }
void BM_decode_float32_be(benchmark::State &state) { decode(state, 4, kFl32, 1); }

void convert(benchmark::State &state, size_t size, t_atom_long code, short little_endian) {
    Blocks &b = blocks();
    timed_loop(state, sizeof(float), size,
               [&] { buffer_convert(b.floats.data(), b.bytes.data(), kSamples, size, code, little_endian); });
}

void BM_convert_int16_be(benchmark::State &state) { convert(state, 2, kNone, 0); }
void BM_convert_int16_le(benchmark::State &state) { convert(state, 2, kNone, 1); }

}  // namespace

BENCHMARK(BM_memcpy)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_decode_int16_be)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_decode_int24_le)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_decode_float32_be)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_convert_int16_be)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_convert_int16_le)->Unit(benchmark::kMillisecond)->UseManualTime();

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    measure_memcpy_baseline();
    std::printf("memcpy baseline: %.2f GB/s of traffic (read + write), %zu samples per run\n", g_memcpy_traffic / 1e9,
                kSamples);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
