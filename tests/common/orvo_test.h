// Test support: one host runtime per test process, started on the test's main
// thread in deterministic time, with the build's plug-ins loaded.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "orvo/runtime.h"

namespace orvo_test {

// Starts the runtime once (the calling thread becomes the main thread).
void ensure_runtime(bool load_plugins = true);

// Base fixture: console captured, memory and open files counted. Tests that create
// objects must free them; TearDown fails the test when host memory blocks, sound
// files or file descriptors are left over.
class HostTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Console lines since the last call.
    std::vector<std::string> console();
    // Whether a captured line equals text (the lines are consumed).
    bool console_has(const std::string &text);
    orvo::MemStats mem_before_{};
    long bad_frees_before_ = 0;
    orvo::FileStats files_before_{};
    bool check_leaks_ = true;
    virtual bool wants_plugins() const { return true; }
};

// A temporary folder, removed with everything in it at destruction.
struct TempDir {
    TempDir();
    ~TempDir();
    std::string path;
    std::string file(const std::string &name) const { return path + "/" + name; }
};

// The orvo command, run as a separate process: standard output and error, in order,
// and the exit code (-1 when it did not exit normally).
struct OrvoRun {
    std::string out;
    int status = -1;
    std::vector<std::string> lines() const;
};
// Runs the build's orvo with args (shell words), standard input empty, in the folder
// cwd (the default folder of file names) when one is given.
OrvoRun run_orvo(const std::string &args, const std::string &cwd = "");
// Writes text as a script into dir and runs it there with the build's plug-ins and the options given.
OrvoRun run_orvo_script(const TempDir &dir, const std::string &text, const std::string &options = "");

}  // namespace orvo_test
