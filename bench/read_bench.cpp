// Loading ten minutes of stereo sound at 48 kHz into a buffer~, driven through the host
// as a patch would, against libsndfile decoding the same file directly, measured in the
// same run, for 16-bit, 24-bit and float WAVE and AIFF and for 16-bit FLAC.
//
// libsndfile  open the file and sf_readf_float all of it into a fresh sysmem_newptr
//             block (the host's allocator: large blocks are mmap'd and advised for
//             huge pages, so the first touch of the memory is part of the time)
// replace     a fresh block each load (the old one is freed first)
// read        into the existing buffer of the same size, no new memory
// vs_libsndfile = this load's seconds / libsndfile's seconds, each the fastest of its
// runs (the machines are shared: the fastest run is the one least disturbed); below 1 the
// buffer~ load is faster. cpu_vs_libsndfile: the same for the processor time of all
// threads, which shows the work done rather than the waiting. peak_vs_block: how far the process's peak resident memory
// rises during one replace into an empty buffer, over the size of the block it gets
// (VmHWM, reset before the load through /proc/self/clear_refs).
// A summary table of the ratios is printed at the end.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
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

struct Format {
    const char *name;
    int sf_format;
    const char *ext;
};
const Format kFormats[] = {
    {"wav16", SF_FORMAT_WAV | SF_FORMAT_PCM_16, "wav"},   {"wav24", SF_FORMAT_WAV | SF_FORMAT_PCM_24, "wav"},
    {"wavf32", SF_FORMAT_WAV | SF_FORMAT_FLOAT, "wav"},   {"aiff16", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, "aif"},
    {"aiff24", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, "aif"}, {"aifff32", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, "aif"},
    {"flac16", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, "flac"},
};

std::filesystem::path g_dir;
std::string file_name(const Format &f) { return std::string("bench_") + f.name + "." + f.ext; }
std::string file_path(const Format &f) { return (g_dir / file_name(f)).string(); }

using Clock = std::chrono::steady_clock;
double since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

void remove_files() {
    std::error_code ec;
    if (!g_dir.empty()) std::filesystem::remove_all(g_dir, ec);
}

// A wrong load or a failed decode: no figure is worth having then.
[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "read_bench: %s\n", what);
    remove_files();
    std::abort();
}

// Two sines a fifth apart with a little noise, so that no run of samples is special.
bool make_file(const Format &fmt) {
    SF_INFO info{};
    info.samplerate = kRate, info.channels = (int)kChans, info.format = fmt.sf_format;
    SNDFILE *sf = sf_open(file_path(fmt).c_str(), SFM_WRITE, &info);
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

void decode_into(const Format &fmt, float *dst) {
    SF_INFO info{};
    SNDFILE *sf = sf_open(file_path(fmt).c_str(), SFM_READ, &info);
    if (!sf || info.frames != kFrames || info.channels != kChans) fail("cannot open the test file");
    if (sf_readf_float(sf, dst, kFrames) != kFrames) fail("short read of the test file");
    sf_close(sf);
    benchmark::DoNotOptimize(dst[kSamples - 1]);
}

// Processor seconds of every thread of the process so far.
double cpu_seconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    auto s = [](const timeval &t) { return (double)t.tv_sec + 1e-6 * (double)t.tv_usec; };
    return s(ru.ru_utime) + s(ru.ru_stime);
}

// The fastest wall and processor seconds of a series of runs.
struct Best {
    double wall = 1e30, cpu = 1e30;
    template <class F>
    void time(F f) {
        auto t0 = Clock::now();
        double c0 = cpu_seconds();
        f();
        cpu = std::min(cpu, cpu_seconds() - c0);
        wall = std::min(wall, since(t0));
    }
};

void load_direct(const Format &fmt) {
    auto *p = (float *)sysmem_newptr((t_ptr_int)(sizeof(float) * kSamples));
    if (!p) fail("out of memory");
    decode_into(fmt, p);
    sysmem_freeptr(p);
}

struct Figures {
    Best baseline, replace, read;
    double peak = 0;
};
std::map<std::string, Figures> g_figures;

const Best &baseline(const Format &fmt) {
    Best &b = g_figures[fmt.name].baseline;
    if (b.wall > 1e29)  // its benchmark was filtered out
        for (int i = 0; i < 3; ++i) b.time([&] { load_direct(fmt); });
    return b;
}

void BM_libsndfile(benchmark::State &state, const Format *fmt) {
    load_direct(*fmt);  // untimed: the file is in the page cache
    Best &b = g_figures[fmt->name].baseline;
    for (auto _ : state) b.time([&] { load_direct(*fmt); });
    state.counters["s/load"] = b.wall;
}

t_buffer *new_buffer(const std::string &name, long frames) {
    t_atom av[3];
    atom_setsym(av, gensym(name.c_str()));
    atom_setfloat(av + 1, 1000.0 * (double)frames / kRate);
    atom_setlong(av + 2, kChans);
    auto *b = (t_buffer *)object_new_typed(gensym("box"), gensym("buffer~"), 3, av);
    if (!b || b->b_frames != frames || b->b_nchans != kChans) fail("cannot create the buffer~");
    return b;
}

// Checks that a load gave what libsndfile gives, sample for sample.
void check_load(const Format &fmt, const t_buffer *b, const char *what) {
    if (b->b_frames != kFrames || b->b_nchans != kChans || !b->b_samples) {
        std::fprintf(stderr, "%s %s: buffer holds %ld frames x %ld channels\n", fmt.name, what, (long)b->b_frames,
                     (long)b->b_nchans);
        fail("wrong size after the load");
    }
    std::vector<float> ref(kSamples);
    decode_into(fmt, ref.data());
    for (long i = 0; i < kSamples; ++i)
        if (b->b_samples[i] != ref[(size_t)i]) {
            std::fprintf(stderr, "%s %s: sample %ld is %g, libsndfile reads %g\n", fmt.name, what, i, b->b_samples[i],
                         ref[(size_t)i]);
            fail("the buffer~ holds other samples than libsndfile reads");
        }
}

void load(t_buffer *b, const char *message, const Format &fmt) {
    object_method_parse(b, gensym(message), file_name(fmt).c_str(), nullptr);
    benchmark::DoNotOptimize(b->b_samples[kSamples - 1]);
}

void BM_buffer(benchmark::State &state, const Format *fmt, const char *message) {
    static std::map<std::string, t_buffer *> buffers;
    t_buffer *&b = buffers[message];
    if (!b) b = new_buffer(std::string("read_bench_") + message, kFrames);
    load(b, message, *fmt);  // once untimed: the file is in the page cache and the result is right
    check_load(*fmt, b, message);
    Best &best = std::string(message) == "replace" ? g_figures[fmt->name].replace : g_figures[fmt->name].read;
    for (auto _ : state) best.time([&] { load(b, message, *fmt); });
    const Best &base = baseline(*fmt);
    state.counters["s/load"] = best.wall;
    state.counters["vs_libsndfile"] = best.wall / base.wall;
    state.counters["cpu_vs_libsndfile"] = best.cpu / base.cpu;
}

// A field of /proc/self/status in kB.
long status_kb(const char *field) {
    std::ifstream f("/proc/self/status");
    std::string line;
    size_t n = std::strlen(field);
    while (std::getline(f, line))
        if (line.compare(0, n, field) == 0 && line[n] == ':') return std::atol(line.c_str() + n + 1);
    return -1;
}

void BM_peak(benchmark::State &state, const Format *fmt) {
    t_buffer *b = new_buffer(std::string("read_bench_peak_") + fmt->name, 1);
    double worst = 0;
    for (auto _ : state) {
        state.PauseTiming();
        object_method_parse(b, gensym("sizeinsamps"), "1", nullptr);  // back to a tiny block
        std::ofstream("/proc/self/clear_refs") << "5";
        long before = status_kb("VmRSS");
        state.ResumeTiming();
        load(b, "replace", *fmt);
        long peak = status_kb("VmHWM");
        double block = (double)((b->b_size + 2 * b->b_padding) * (long)sizeof(float)) / 1024.0;
        worst = std::max(worst, (double)(peak - before) / block);
    }
    g_figures[fmt->name].peak = worst;
    state.counters["peak_vs_block"] = worst;
    object_free(b);
}

void print_summary() {
    std::printf("\nTime against libsndfile into a huge-page block (wall, and processor time of all threads):\n");
    std::printf("%-8s %13s %9s %9s %9s %9s %11s\n", "format", "libsndfile s", "replace", "(cpu)", "read", "(cpu)",
                "peak/block");
    for (const Format &f : kFormats) {
        auto it = g_figures.find(f.name);
        if (it == g_figures.end() || it->second.replace.wall > 1e29 || it->second.read.wall > 1e29) continue;
        const Figures &g = it->second;
        std::printf("%-8s %13.4f %9.2f %9.2f %9.2f %9.2f %11.3f\n", f.name, g.baseline.wall,
                    g.replace.wall / g.baseline.wall, g.replace.cpu / g.baseline.cpu, g.read.wall / g.baseline.wall,
                    g.read.cpu / g.baseline.cpu, g.peak);
    }
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    char tmpl[] = "/tmp/read_bench_XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    g_dir = tmpl;
    std::atexit(remove_files);
    for (const Format &f : kFormats)
        if (!make_file(f)) {
            std::fprintf(stderr, "cannot write %s: %s\n", file_path(f).c_str(), sf_strerror(nullptr));
            return 1;
        }
    orvo::runtime_start(false);
    orvo::load_plugins(orvo::default_plugin_dir());
    orvo::set_sr(kRate);
    orvo::add_search_dir(g_dir.string());
    std::printf("%ld frames x %ld channels at %d Hz\n", kFrames, kChans, kRate);
    // Per format, the baseline first: the loads read its median.
    for (const Format &f : kFormats) {
        std::string n = f.name;
        benchmark::RegisterBenchmark(("libsndfile/" + n).c_str(), BM_libsndfile, &f)
            ->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
        for (const char *m : {"replace", "read"})
            benchmark::RegisterBenchmark((std::string(m) + "/" + n).c_str(), BM_buffer, &f, m)
                ->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
        benchmark::RegisterBenchmark(("peak/" + n).c_str(), BM_peak, &f)->Unit(benchmark::kMillisecond)->Iterations(2);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    print_summary();
    return 0;
}
