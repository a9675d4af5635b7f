// Test support: one host runtime per test process, started on the test's main
// thread in deterministic time, with the build's plug-ins loaded.
#pragma once
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdio>
#include <string>
#include <vector>

#include "orvo/runtime.h"

namespace orvo_test {

// Starts the runtime once (the calling thread becomes the main thread).
void ensure_runtime(bool load_plugins = true);

// Base fixture: console captured, memory and open files counted. Tests that create
// objects must free them; TearDown fails the test when host memory blocks or open
// files are left over.
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
    long descriptors_before_ = 0;
    virtual bool wants_plugins() const { return true; }
};

// A fixture for the host alone, without plug-ins.
struct HostOnlyTest : HostTest {
    bool wants_plugins() const override { return false; }
};

// A temporary folder, removed with everything in it at destruction.
struct TempDir {
    TempDir();
    ~TempDir();
    std::string path;
    std::string file(const std::string &name) const { return path + "/" + name; }
};

// Sound files made and read with libsndfile directly.
// A signal that differs per frame and channel and stays inside +-1.
std::vector<float> signal(long frames, long chans);
void write_sound(const std::string &file, int format, long chans = 1, const std::vector<float> &data = signal(16, 1),
                 int sr = 44100);
struct Decoded {
    SF_INFO info{};
    std::vector<float> data;
};
// hint: the layout of a headerless file.
Decoded read_sound(const std::string &file, SF_INFO hint = {});
// A mono 16-bit AIFF of 100 silent frames at 44100 Hz with markers 1..4 at frames
// 10, 50, 60, 90, and an INST chunk from inst (base, detune, lowkey, highkey, lowvel,
// highvel, gain, sustain mode/start/end, release mode/start/end) unless it is empty.
std::string aiff_with_instrument(const std::vector<int> &inst);

// A command's standard output, and its exit code (-1 when it did not exit normally).
struct OrvoRun {
    std::string out;
    int status = -1;
};
// Runs a shell command line.
OrvoRun run_command(const std::string &shell);
// Runs the build's orvo with args (shell words), standard input empty, standard error
// with standard output, in the folder cwd (the default folder of file names) when one is given.
OrvoRun run_orvo(const std::string &args, const std::string &cwd = "");
// Writes text as a script into dir and runs it there with the build's plug-ins, or
// with none (only the host's classes), and the options given.
OrvoRun run_orvo_script(const TempDir &dir, const std::string &text, const std::string &options = "",
                        bool plugins = true);

// The build's orvo with its plug-ins, fed statements as a user types them; its output
// goes to a file in dir, its errors to this process's.
class OrvoSession {
  public:
    explicit OrvoSession(const TempDir &dir);
    ~OrvoSession() { quit(); }
    // Runs the lines and returns what they printed, up to a mark echoed after them.
    std::vector<std::string> ask(const std::string &lines);
    // The next line printed, waiting for it; empty after a long wait.
    std::string line();
    // Ends the input and waits for orvo to exit: its exit code.
    int quit();

  private:
    std::string out_;
    FILE *in_ = nullptr;
    long read_ = 0;
    int marks_ = 0;
};

}  // namespace orvo_test
