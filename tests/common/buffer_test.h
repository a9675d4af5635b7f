// Helpers for tests that drive buffer~ boxes through the host, as a patch would.
#pragma once
#include <string>
#include <tuple>
#include <vector>

#include "buffer~/host/buffer_record.h"
#include "orvo_test.h"

namespace orvo_test {

// Atoms parsed from text, owned.
struct Atoms {
    explicit Atoms(const std::string &text);
    ~Atoms();
    long argc = 0;
    t_atom *argv = nullptr;
};

// A sample value that differs per frame and channel, exact in floats and in 16-bit integers.
inline float pattern(long frame, long chan) { return (float)(((frame * 7 + chan * 13) % 2000) - 1000) / 1024.0f; }
// Writes frames x chans of pattern() as a sound file (libsndfile's format code; 0: 32-bit float WAVE).
void make_sound(const std::string &path, long chans, long frames, int rate = 44100, int format = 0);
std::string slurp(const std::string &path);
void spit(const std::string &path, const std::string &bytes);

// Frames, channels and validity of a buffer, to compare at once.
using Dims = std::tuple<long long, long long, long>;
inline Dims dims(const t_buffer *b) { return {b->b_frames, b->b_nchans, b->b_valid}; }

class BufferTest : public HostTest {
  protected:
    void TearDown() override;
    // Ends one case of a table and starts the next: its boxes freed and checked for leaks.
    void restart() {
        BufferTest::TearDown();
        SetUp();
    }
    // A box of class cls ("buffer~", "print") with creation arguments parsed from text; freed at teardown.
    t_object *box(const std::string &cls, const std::string &args = "");
    t_buffer *buffer(const std::string &args = "") { return (t_buffer *)box("buffer~", args); }
    // Frees a box made by box() before teardown.
    void free_box(t_object *x);
    // A typed message, as from a patch cord on the main thread.
    t_orvo_err send(void *x, const std::string &sel, const std::string &args = "");
    // Messages "SELECTOR ARGS" separated by ';', sent in order.
    void sends(void *x, const std::string &messages);
    // The same, delivered on the scheduler thread.
    void send_sched(void *x, const std::string &sel, const std::string &args = "");
    // Attach a watcher to a name: its lines appear in the console.
    void watch(const std::string &name);
    std::vector<t_object *> boxes_;
    std::vector<t_object *> watchers_;
};

}  // namespace orvo_test
