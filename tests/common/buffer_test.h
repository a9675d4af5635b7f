// Helpers for tests that drive buffer~ boxes through the host, as a patch would.
#pragma once
#include <string>
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

class BufferTest : public HostTest {
  protected:
    void TearDown() override;
    // A box of class cls ("buffer~", "print") with creation arguments parsed from text; freed at teardown.
    t_object *box(const std::string &cls, const std::string &args = "");
    t_buffer *buffer(const std::string &args = "") { return (t_buffer *)box("buffer~", args); }
    // Frees a box made by box() before teardown.
    void free_box(t_object *x);
    // A typed message, as from a patch cord on the main thread.
    t_orvo_err send(void *x, const std::string &sel, const std::string &args = "");
    // The same, delivered on the scheduler thread.
    void send_sched(void *x, const std::string &sel, const std::string &args = "");
    // Attach a watcher to a name: its lines appear in the console.
    void watch(const std::string &name);
    std::vector<t_object *> boxes_;
    std::vector<t_object *> watchers_;
};

}  // namespace orvo_test
