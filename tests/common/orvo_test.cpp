#include "orvo_test.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace orvo_test {

void ensure_runtime(bool load_plugins) {
    static bool started = false;
    static bool loaded = false;
    if (!started) {
        orvo::runtime_start(false);
        started = true;
    }
    if (load_plugins && !loaded) {
        orvo::console_capture(true);
        int n = orvo::load_plugins(ORVO_TEST_PLUGIN_DIR);
        auto lines = orvo::console_take();
        orvo::console_capture(false);
        ASSERT_GE(n, 1) << "no plug-in loaded from " << ORVO_TEST_PLUGIN_DIR
                        << (lines.empty() ? std::string() : ": " + lines.front());
        loaded = true;
    }
}

void HostTest::SetUp() {
    ensure_runtime(wants_plugins());
    orvo::console_capture(true);
    orvo::console_take();
    orvo::mem_fail_reset();
    orvo::set_sr(44100);
    orvo::set_edits_refused(false);
    mem_before_ = orvo::mem_stats();
    bad_frees_before_ = orvo::mem_bad_frees();
    descriptors_before_ = orvo::open_descriptors();
}

void HostTest::TearDown() {
    orvo::run_until_idle();
    orvo::mem_fail_reset();
    auto after = orvo::mem_stats();
    EXPECT_EQ(after.blocks, mem_before_.blocks) << "host memory blocks left over";
    EXPECT_EQ(after.bytes, mem_before_.bytes) << "host memory bytes left over";
    EXPECT_EQ(orvo::mem_bad_frees(), bad_frees_before_) << "sysmem_freeptr of a block that is not live";
    EXPECT_EQ(orvo::open_edits(), 0) << "edit brackets left open";
    orvo::file_fail_write(0);
    EXPECT_EQ(orvo::open_descriptors(), descriptors_before_) << "files left open";
    orvo::console_take();
    orvo::console_capture(false);
}

std::vector<std::string> HostTest::console() { return orvo::console_take(); }

bool HostTest::console_has(const std::string &text) {
    for (auto &l : orvo::console_take())
        if (l == text) return true;
    return false;
}

TempDir::TempDir() {
    char tmpl[] = "/tmp/orvo_test_XXXXXX";
    char *p = mkdtemp(tmpl);
    path = p ? p : "/tmp";
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

std::vector<float> signal(long frames, long chans) {
    std::vector<float> v((size_t)(frames * chans));
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = 0.8f * std::sin(0.05f * (float)(i / chans) * (float)(i % chans + 1) + 0.3f * (float)(i % chans));
    return v;
}

void write_sound(const std::string &file, int format, long chans, const std::vector<float> &data, int sr) {
    SF_INFO info{0, sr, (int)chans, format, 0, 0};
    SNDFILE *s = sf_open(file.c_str(), SFM_WRITE, &info);
    ASSERT_NE(s, nullptr) << file << ": " << sf_strerror(nullptr);
    sf_writef_float(s, data.data(), (sf_count_t)(data.size() / (size_t)chans));
    sf_close(s);
}

Decoded read_sound(const std::string &file, SF_INFO hint) {
    Decoded d{hint, {}};
    SNDFILE *s = sf_open(file.c_str(), SFM_READ, &d.info);
    if (!s) return d;
    d.data.resize((size_t)(d.info.frames * d.info.channels));
    sf_readf_float(s, d.data.data(), d.info.frames);
    sf_close(s);
    return d;
}

// Big-endian, as AIFF wants.
static std::string be(uint32_t v, int bytes) {
    std::string s;
    while (bytes--) s += (char)((v >> (8 * bytes)) & 0xFF);
    return s;
}
static std::string chunk(const char *id, const std::string &body) {
    return std::string(id, 4) + be((uint32_t)body.size(), 4) + body + std::string(body.size() & 1, '\0');
}

std::string aiff_with_instrument(const std::vector<int> &inst) {
    std::string mark = be(4, 2), in;
    const uint32_t at[] = {10, 50, 60, 90};
    for (uint32_t i = 0; i < 4; ++i) mark += be(i + 1, 2) + be(at[i], 4) + "\x01" + (char)('a' + i);
    for (size_t i = 0; i < inst.size(); ++i) in += be((uint32_t)inst[i], i < 6 ? 1 : 2);
    std::string body = "AIFF" +
                       chunk("COMM", be(1, 2) + be(100, 4) + be(16, 2) + std::string("\x40\x0E\xAC\x44", 4) +
                                         std::string(6, '\0')) +  // 44100 as an 80-bit float
                       chunk("MARK", mark) + (inst.empty() ? "" : chunk("INST", in)) +
                       chunk("SSND", std::string(8 + 200, '\0'));
    return "FORM" + be((uint32_t)body.size(), 4) + body;
}

OrvoRun run_command(const std::string &shell) {
    OrvoRun r;
    FILE *p = popen(shell.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

OrvoRun run_orvo(const std::string &args, const std::string &cwd) {
    std::string cd = cwd.empty() ? "" : "cd '" + cwd + "' && ";
    return run_command(cd + ORVO_TEST_BIN_DIR + "/orvo " + args + " < /dev/null 2>&1");
}

OrvoRun run_orvo_script(const TempDir &dir, const std::string &text, const std::string &options, bool plugins) {
    std::filesystem::create_directories(dir.file("none"));
    std::ofstream(dir.file("script.orvo")) << text;
    return run_orvo("--plugins '" + (plugins ? std::string(ORVO_TEST_PLUGIN_DIR) : dir.file("none")) + "' " +
                        options + " '" + dir.file("script.orvo") + "'",
                    dir.path);
}

OrvoSession::OrvoSession(const TempDir &dir) : out_(dir.file("orvo.out")) {
    std::string cmd = std::string(ORVO_TEST_BIN_DIR) + "/orvo --plugins '" + ORVO_TEST_PLUGIN_DIR + "' > '" + out_ + "'";
    in_ = popen(cmd.c_str(), "w");
}

std::vector<std::string> OrvoSession::ask(const std::string &lines) {
    std::string mark = "-- " + std::to_string(++marks_);
    if (in_) fprintf(in_, "%s\necho %s\n", lines.c_str(), mark.c_str()), fflush(in_);
    std::vector<std::string> got;
    for (std::string l; !(l = line()).empty() && l != mark;) got.push_back(l);
    return got;
}

std::string OrvoSession::line() {
    for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
         std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
        std::ifstream f(out_);
        std::string l;
        // A line is whole once its newline is written.
        if (f.seekg(read_) && std::getline(f, l) && !f.eof()) {
            read_ = (long)f.tellg();
            return l;
        }
    }
    return "";
}

int OrvoSession::quit() {
    if (!in_) return -1;
    int st = pclose(in_);
    in_ = nullptr;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

}  // namespace orvo_test
