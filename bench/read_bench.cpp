// Loading ten minutes of 16-bit stereo WAVE at 48 kHz into a buffer~, driven through
// the host as a patch would, against libsndfile decoding the same file directly,
// measured in the same run.
//
// replace: a fresh block each load (the old one is freed first), so its page faults
// count; read: into an existing buffer of the same size, no new memory. The baselines
// open the file, sf_readf_float all of it into
//   malloc  a fresh malloc'd block (freed each time: its page faults count),
//   sysmem  a fresh sysmem_newptr block (the host's allocator: large blocks are
//           mmap'd and advised for huge pages),
//   reused  one block faulted in before timing (no allocation: decoding alone).
// vs_libsndfile_malloc = baseline malloc seconds / this load's seconds (above 1: the
// buffer~ load is faster); vs_libsndfile_sysmem likewise. The baseline figure is the
// median over its repetitions, which run before the loads.
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "buffer~/host/buffer_record.h"
#include "orvo/runtime.h"

namespace {

constexpr int kRate = 48000;
constexpr long kChans = 2;
constexpr long kFrames = 10L * 60 * kRate;
constexpr long kSamples = kFrames * kChans;
constexpr const char *kFileName = "read_bench.wav";

std::filesystem::path g_dir;
std::string g_file;  // full path, for the baselines

using Clock = std::chrono::steady_clock;
double since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// Writes the file in blocks: two sines a fifth apart with a little noise, so that no
// run of samples is special.
bool make_file() {
    char tmpl[] = "/tmp/read_bench_XXXXXX";
    if (!mkdtemp(tmpl)) return false;
    g_dir = tmpl;
    g_file = (g_dir / kFileName).string();
    SF_INFO info{};
    info.samplerate = kRate, info.channels = (int)kChans, info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *sf = sf_open(g_file.c_str(), SFM_WRITE, &info);
    if (!sf) return false;
    std::vector<float> block(65536 * kChans);
    unsigned noise = 12345;
    for (long done = 0; done < kFrames;) {
        long n = std::min<long>(65536, kFrames - done);
        for (long f = 0; f < n; ++f) {
            double t = (double)(done + f) / kRate;
            for (long c = 0; c < kChans; ++c) {
                noise = noise * 1664525u + 1013904223u;
                double v = 0.6 * std::sin(2 * M_PI * (220.0 + 110.0 * c) * t) + 0.05 * ((double)(noise >> 8) / (1u << 24) - 0.5);
                block[(size_t)(f * kChans + c)] = (float)v;
            }
        }
        if (sf_writef_float(sf, block.data(), n) != n) {
            sf_close(sf);
            return false;
        }
        done += n;
    }
    return sf_close(sf) == 0;
}

void remove_file() {
    std::error_code ec;
    if (!g_dir.empty()) std::filesystem::remove_all(g_dir, ec);
}

// A wrong load or a failed decode: no figure is worth having then, and abort would leave
// the file behind.
[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "read_bench: %s\n", what);
    remove_file();
    std::abort();
}

// The direct decode every baseline times: open, read every frame, close.
void decode_into(float *dst) {
    SF_INFO info{};
    SNDFILE *sf = sf_open(g_file.c_str(), SFM_READ, &info);
    if (!sf || info.frames != kFrames || info.channels != kChans) fail("cannot open the test file");
    if (sf_readf_float(sf, dst, kFrames) != kFrames) fail("short read of the test file");
    sf_close(sf);
    benchmark::DoNotOptimize(dst[kSamples - 1]);
}

// Seconds per load of each baseline, one entry per repetition.
std::map<std::string, std::vector<double>> g_baseline;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

enum class Dest { malloc_block, sysmem_block, reused };

double load_direct(Dest dest, float *reused) {
    auto t0 = Clock::now();
    switch (dest) {
        case Dest::malloc_block: {
            auto *p = (float *)std::malloc(sizeof(float) * kSamples);
            if (!p) fail("out of memory");
            decode_into(p);
            std::free(p);
            break;
        }
        case Dest::sysmem_block: {
            auto *p = (float *)sysmem_newptr((t_ptr_int)(sizeof(float) * kSamples));
            if (!p) fail("out of memory");
            decode_into(p);
            sysmem_freeptr(p);
            break;
        }
        case Dest::reused:
            decode_into(reused);
            break;
    }
    return since(t0);
}

// The baseline's median; measured here (three loads) when its benchmark was filtered out.
double baseline(const std::string &name, Dest dest) {
    auto &v = g_baseline[name];
    if (v.empty()) {
        std::vector<float> reused(dest == Dest::reused ? kSamples : 0, 1.0f);
        for (int i = 0; i < 3; ++i) v.push_back(load_direct(dest, reused.data()));
    }
    return median(v);
}

void BM_libsndfile(benchmark::State &state, const char *name, Dest dest) {
    std::vector<float> reused(dest == Dest::reused ? kSamples : 0, 1.0f);  // faulted in here
    double seconds = 0;
    for (auto _ : state) seconds += load_direct(dest, reused.data());
    double per = seconds / (double)state.iterations();
    g_baseline[name].push_back(per);
    state.counters["s/load"] = per;
    state.counters["frames/s"] = benchmark::Counter((double)kFrames * (double)state.iterations(), benchmark::Counter::kIsRate);
}

t_buffer *g_replace = nullptr, *g_read = nullptr;

t_buffer *new_buffer(const char *name) {
    t_atom av[3];
    atom_setsym(av, gensym(name));
    atom_setfloat(av + 1, 1000.0 * kFrames / kRate);
    atom_setlong(av + 2, kChans);
    auto *b = (t_buffer *)object_new_typed(gensym("box"), gensym("buffer~"), 3, av);
    if (!b || b->b_frames != kFrames || b->b_nchans != kChans) fail("cannot create the buffer~");
    return b;
}

// Checks that a load gave what libsndfile gives, sample for sample at a stride.
void check_load(const t_buffer *b, const char *what) {
    if (b->b_frames != kFrames || b->b_nchans != kChans || !b->b_samples) {
        std::fprintf(stderr, "%s: buffer holds %ld frames x %ld channels, expected %ld x %ld\n", what,
                     (long)b->b_frames, (long)b->b_nchans, kFrames, kChans);
        fail("wrong size after the load");
    }
    std::vector<float> ref(kSamples);
    decode_into(ref.data());
    for (long i = 0; i < kSamples; i += 997)
        if (b->b_samples[i] != ref[(size_t)i]) {
            std::fprintf(stderr, "%s: sample %ld is %g, libsndfile reads %g\n", what, i, b->b_samples[i],
                         ref[(size_t)i]);
            fail("the buffer~ holds other samples than libsndfile reads");
        }
}

void load(t_buffer *b, const char *message) {
    object_method_parse(b, gensym(message), kFileName, nullptr);
    benchmark::DoNotOptimize(b->b_samples[kSamples - 1]);
}

void BM_buffer(benchmark::State &state, const char *message) {
    t_buffer *b = std::string(message) == "replace" ? g_replace : g_read;
    load(b, message);  // once untimed: the file is in the page cache and the result is right
    check_load(b, message);
    double seconds = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        load(b, message);
        seconds += since(t0);
    }
    double per = seconds / (double)state.iterations();
    state.counters["s/load"] = per;
    state.counters["frames/s"] = benchmark::Counter((double)kFrames * (double)state.iterations(), benchmark::Counter::kIsRate);
    state.counters["vs_libsndfile_malloc"] = baseline("malloc", Dest::malloc_block) / per;
    state.counters["vs_libsndfile_sysmem"] = baseline("sysmem", Dest::sysmem_block) / per;
    state.counters["vs_libsndfile_reused"] = baseline("reused", Dest::reused) / per;
}

// Baselines first: the loads read their medians.
BENCHMARK_CAPTURE(BM_libsndfile, malloc, "malloc", Dest::malloc_block)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK_CAPTURE(BM_libsndfile, sysmem, "sysmem", Dest::sysmem_block)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK_CAPTURE(BM_libsndfile, reused, "reused", Dest::reused)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK_CAPTURE(BM_buffer, replace, "replace")->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK_CAPTURE(BM_buffer, read, "read")->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (!make_file()) {
        std::fprintf(stderr, "cannot write the test file in %s: %s\n", g_dir.c_str(), sf_strerror(nullptr));
        remove_file();
        return 1;
    }
    std::atexit(remove_file);
    orvo::runtime_start(false);
    orvo::load_plugins(orvo::default_plugin_dir());
    orvo::set_sr(kRate);
    orvo::add_search_dir(g_dir.string());
    g_replace = new_buffer("read_bench_replace");
    g_read = new_buffer("read_bench_read");
    std::printf("%ld frames x %ld channels, 16-bit WAVE, %.1f MB on disk\n", kFrames, kChans,
                (double)std::filesystem::file_size(g_file) / 1e6);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    remove_file();
    return 0;
}
