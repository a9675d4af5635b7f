#include "orvo_test.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

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
    files_before_ = orvo::file_stats();
}

void HostTest::TearDown() {
    orvo::run_until_idle();
    orvo::mem_fail_reset();
    auto after = orvo::mem_stats();
    if (check_leaks_) {
        EXPECT_EQ(after.blocks, mem_before_.blocks) << "host memory blocks left over";
        EXPECT_EQ(after.bytes, mem_before_.bytes) << "host memory bytes left over";
    }
    EXPECT_EQ(orvo::mem_bad_frees(), bad_frees_before_) << "sysmem_freeptr of a block that is not live";
    EXPECT_EQ(orvo::open_edits(), 0) << "edit brackets left open";
    orvo::file_fail_write(0);
    auto files = orvo::file_stats();
    EXPECT_EQ(files.soundfiles, files_before_.soundfiles) << "sound files left open";
    EXPECT_EQ(files.descriptors, files_before_.descriptors) << "file descriptors left open";
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

std::vector<std::string> OrvoRun::lines() const {
    std::vector<std::string> v;
    std::istringstream in(out);
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
}

OrvoRun run_orvo(const std::string &args, const std::string &cwd) {
    OrvoRun r;
    std::string cd = cwd.empty() ? "" : "cd '" + cwd + "' && ";
    FILE *p = popen((cd + ORVO_TEST_BIN_DIR + "/orvo " + args + " < /dev/null 2>&1").c_str(), "r");
    if (!p) return r;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

OrvoRun run_orvo_script(const TempDir &dir, const std::string &text, const std::string &options) {
    std::ofstream(dir.file("script.orvo")) << text;
    return run_orvo("--plugins '" + std::string(ORVO_TEST_PLUGIN_DIR) + "' " + options + " '" +
                    dir.file("script.orvo") + "'", dir.path);
}

}  // namespace orvo_test
