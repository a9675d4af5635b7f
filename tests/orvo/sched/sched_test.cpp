// Main thread, scheduler thread, deferral, queue elements, clocks, time and the
// critical region. Runs under ThreadSanitizer too.
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "orvo_test.h"

namespace {

using SchedTest = orvo_test::HostOnlyTest;

// What each call saw, as text: what it was, then the thread it ran on.
using Log = std::vector<std::string>;
void note(Log *log, const std::string &what) {
    log->push_back(what + (systhread_ismainthread() ? " main" : systhread_istimerthread() ? " timer" : " other"));
}
void log_deferred(void *x, t_symbol *s, long argc, t_atom *argv) {
    std::string what = s->s_name;
    for (long i = 0; i < argc; ++i) what += " " + std::to_string(atom_getlong(argv + i));
    note((Log *)x, what);
}
void log_plain(void *x) { note((Log *)x, "plain"); }
// A clock's owner, {log, name, t0}: notes its name and the time since t0.
using Owner = std::tuple<Log *, const char *, t_atom_long>;
void log_clock(void *x) {
    auto [log, name, t0] = *static_cast<Owner *>(x);
    note(log, name + ("@" + std::to_string(gettime() - t0)));
}

template <class F>
method as_method(F f) {
    return reinterpret_cast<method>(reinterpret_cast<void (*)(void)>(f));
}

using Runner = void (*)(const std::function<void()> &);
void on_main(const std::function<void()> &fn) { fn(); }
void on_thread(const std::function<void()> &fn) { std::thread(fn).join(); }

// run_on_scheduler runs on the scheduler thread and returns once done. defer runs
// at once on the main thread and is queued elsewhere; defer_low is always queued.
// Queued calls run on the main thread with their own copy of the atoms.
TEST_F(SchedTest, DeferFromEachThread) {
    const std::tuple<const char *, Runner, const char *, bool> cases[] = {
        {"defer", on_main, "run main", true},
        {"defer", orvo::run_on_scheduler, "run timer", false},
        {"defer", on_thread, "run other", false},
        {"low", on_main, "run main", false},
        {"low", orvo::run_on_scheduler, "run timer", false},
    };
    for (auto &[kind, run, where, at_once] : cases) {
        Log log, ran;
        run([&, kind = kind] {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            note(&ran, "run");
            t_atom args[2];
            atom_setlong(args, 5), atom_setlong(args + 1, 6);
            (kind[0] == 'l' ? defer_low : defer)(&log, as_method(log_deferred), gensym(kind), 2, args);
            atom_setlong(args, 99);
        });
        EXPECT_EQ(ran, Log{where});
        EXPECT_EQ(log.size(), at_once ? 1u : 0u) << kind << " " << where;
        orvo::run_until_idle();
        EXPECT_EQ(log, Log{kind + std::string(" 5 6 main")}) << where;
    }
}

TEST_F(SchedTest, QelemSetManyTimesRunsOnce) {
    Log log;
    void *q = qelem_new(&log, as_method(log_plain));
    for (Runner run : {on_main, on_main, orvo::run_on_scheduler, on_thread}) run([&] { qelem_set(q); });
    EXPECT_EQ(log, Log{}) << "never at once, even on the main thread";
    orvo::run_until_idle();
    EXPECT_EQ(log, Log{"plain main"});
    qelem_set(q);
    orvo::run_until_idle();
    EXPECT_EQ(log.size(), 2u) << "settable again once it has run";
    qelem_free(q);
}

// Each row arms two clocks a and b from the scheduler thread (a delay; -1 unsets,
// -2 frees), then advances: which fired, at what time after the start, in order.
TEST_F(SchedTest, ClocksFireAtTheirTimesInOrder) {
    const std::tuple<std::vector<std::pair<int, long>>, long, Log, size_t> cases[] = {
        // arms (clock, delay), advance, fired, firings once time has moved on
        {{{0, 10}}, 9, {}, 1},
        {{{0, 10}}, 14, {"a@10 timer"}, 1},
        {{{0, 30}, {1, 10}}, 50, {"b@10 timer", "a@30 timer"}, 2},
        {{{0, 10}, {0, 30}}, 20, {}, 1},  // re-arming replaces
        {{{0, 10}, {0, 30}}, 40, {"a@30 timer"}, 1},
        {{{0, 5}, {1, 5}, {0, -1}, {1, -2}}, 10, {}, 0},
        {{{1, 0}, {0, 0}}, 0, {"b@0 timer", "a@0 timer"}, 2},
    };
    for (auto &[arms, advance, fired, eventually] : cases) {
        Log log;
        t_atom_long t0 = gettime();
        EXPECT_GT(t0, 0);
        Owner owners[2] = {{&log, "a", t0}, {&log, "b", t0}};
        void *clocks[2] = {clock_new(&owners[0], as_method(log_clock)), clock_new(&owners[1], as_method(log_clock))};
        orvo::run_on_scheduler([&, &arms = arms] {
            for (auto [k, delay] : arms) {
                if (delay >= 0) clock_delay(clocks[k], delay);
                if (delay == -1) clock_unset(clocks[k]);
                if (delay == -2) freeobject((t_object *)clocks[k]), clocks[k] = nullptr;
            }
        });
        EXPECT_EQ(log, Log{}) << "clocks wait for the main thread to run the scheduler";
        orvo::run_until_idle();
        EXPECT_EQ(gettime(), t0) << "time moves only with advance";
        orvo::advance(advance);
        EXPECT_EQ(gettime(), t0 + advance);
        EXPECT_EQ(log, fired);
        orvo::advance(100);
        EXPECT_EQ(log.size(), eventually) << "one arming, one firing";
        for (void *ck : clocks)
            if (ck) freeobject((t_object *)ck);
    }
}

TEST_F(SchedTest, CriticalRegionExcludesAndNests) {
    long counter = 0;  // deliberately not atomic: only the region protects it
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            critical_enter(nullptr);
            critical_enter(nullptr);
            ++counter;
            critical_exit(nullptr);
            critical_exit(nullptr);
        }
    };
    std::thread t1(work), t2(work);
    work();
    t1.join(), t2.join();
    EXPECT_EQ(counter, 60000);
}

}  // namespace
