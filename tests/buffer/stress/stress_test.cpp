// Two threads at once, as a patch drives them: the scheduler thread edits and
// writes some names (fill, apply, normalize, clear, typed writes) while the
// main thread resizes, loads, renames and duplicates other names and runs the
// deferred work, notifications and bangs those edits queue. Each name hears
// one thread only, as the threading rules ask; everything else is shared and
// must hold up (run under ThreadSanitizer in CI).
#include <sndfile.h>

#include <atomic>
#include <thread>
#include <vector>

#include "buffer_test.h"
#include "chain_check.h"

namespace {

class Stress : public orvo_test::BufferTest {
  protected:
    orvo_test::TempDir dir;
};

TEST_F(Stress, SchedulerEditsWhileTheMainThreadReplacesOtherNames) {
    orvo::add_search_dir(dir.path);
    orvo_test::make_sound(dir.file("in.wav"), 2, 900, 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    // Scheduler names s0 and s1, main-thread names s2 and s3; two boxes each, all watched.
    std::vector<t_buffer *> sched, main;
    for (const char *n : {"s0", "s1"})
        for (int i = 0; i < 2; ++i) sched.push_back(buffer(std::string(n) + " 20 2"));
    for (const char *n : {"s2", "s3"})
        for (int i = 0; i < 2; ++i) main.push_back(buffer(std::string(n) + " 20 2"));
    for (const char *n : {"s0", "s1", "s2", "s3"}) watch(n);
    for (auto *b : sched) orvo::connect(&b->b_obj, 1, box("print", "done"), 0);

    const int kRounds = 300;
    std::atomic<int> done{0};
    std::thread driver([&] {
        const char *edits[][2] = {{"fill", "0.5"},     {"apply", "hanning"},  {"normalize", "0.9"},
                                  {"fill", "sin 3"},   {"apply", "gain 0.5"}, {"clear", ""},
                                  {"apply", "kaiser"}, {"fill", "sinc 4"}};
        for (int r = 0; r < kRounds; ++r) {
            orvo::run_on_scheduler([&] {
                t_buffer *b = sched[(size_t)r % sched.size()];
                auto &e = edits[r % 8];
                send(b, e[0], e[1]);
                if (r % 25 == 0) send(b, "writeaiff", dir.file("w" + std::to_string(r % 2) + ".aif"));
            });
            done = r + 1;
        }
    });
    for (int r = 0; r < kRounds || done < kRounds; ++r) {
        t_buffer *b = main[(size_t)r % main.size()];
        switch (r % 6) {
            case 0:
                send(b, "sizeinsamps", std::to_string(100 + r % 300) + " " + std::to_string(1 + r % 3));
                break;
            case 1:
                send(b, "read", "in.wav");
                break;
            case 2:
                send(b, "replace", "in.wav");
                break;
            case 3:  // away to a fresh name and back again
                send(b, "name", "s4");
                send(b, "name", b == main[0] || b == main[1] ? "s2" : "s3");
                break;
            case 4:
                send(b, "duplicate", b->b_name == gensym("s2") ? "s3" : "s2");
                break;
            default:
                send(b, "setsize", "15 2");
        }
        orvo::run_until_idle();
    }
    driver.join();
    orvo::run_until_idle();
    for (const char *n : {"s0", "s1", "s2", "s3"}) EXPECT_EQ(orvo_test::chain_problems(gensym(n)), "") << n;
    console();
}

}  // namespace
