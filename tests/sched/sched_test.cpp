// Main thread, scheduler thread, deferral, queue elements, clocks, time and
// critical regions. Runs under ThreadSanitizer too.
#include <thread>
#include <vector>

#include "orvo_test.h"

namespace {

class SchedTest : public orvo_test::HostTest {
  protected:
    bool wants_plugins() const override { return false; }
};

// What each call saw, in the order they ran.
struct Recorder {
    std::vector<std::string> tags;  // selector, or "plain" for fn(x)
    std::vector<std::vector<t_atom_long>> args;
    std::vector<bool> on_main, on_timer;
    std::vector<t_atom_long> times;  // gettime() at each call
    void note(const char *tag) {
        tags.push_back(tag);
        on_main.push_back(systhread_ismainthread() != 0);
        on_timer.push_back(systhread_istimerthread() != 0);
        times.push_back(gettime());
    }
    size_t size() const { return tags.size(); }
};

void record_defer(void *x, t_symbol *s, long argc, t_atom *argv) {
    auto *r = static_cast<Recorder *>(x);
    r->note(s ? s->s_name : "");
    std::vector<t_atom_long> a;
    for (long i = 0; i < argc; ++i) a.push_back(atom_getlong(argv + i));
    r->args.push_back(a);
}

void record_plain(void *x) {
    static_cast<Recorder *>(x)->note("plain");
    static_cast<Recorder *>(x)->args.emplace_back();
}

template <class F>
method as_method(F f) {
    return reinterpret_cast<method>(reinterpret_cast<void (*)(void)>(f));
}

std::vector<t_atom> longs(std::initializer_list<t_atom_long> v) {
    std::vector<t_atom> a(v.size());
    size_t i = 0;
    for (auto n : v) atom_setlong(&a[i++], n);
    return a;
}

// ---- threads ---------------------------------------------------------------------------

TEST_F(SchedTest, ThreadIdentityAndRunOnScheduler) {
    EXPECT_TRUE(systhread_ismainthread());
    EXPECT_FALSE(systhread_istimerthread());
    bool main_there = true, timer_there = false;
    orvo::run_on_scheduler([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // returns only once it has run
        main_there = systhread_ismainthread();
        timer_there = systhread_istimerthread();
    });
    EXPECT_FALSE(main_there);
    EXPECT_TRUE(timer_there);
    std::thread([&] {
        main_there = systhread_ismainthread();
        orvo::run_on_scheduler([&] { timer_there = false; });
    }).join();
    EXPECT_FALSE(main_there);
    EXPECT_FALSE(timer_there);
}

// ---- defer -------------------------------------------------------------------------------

TEST_F(SchedTest, DeferOnMainRunsAtOnce) {
    Recorder r;
    auto args = longs({1, 2, 3});
    EXPECT_EQ(defer(&r, as_method(record_defer), gensym("now"), 3, args.data()), nullptr);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r.tags[0], "now");
    EXPECT_EQ(r.args[0], (std::vector<t_atom_long>{1, 2, 3}));
    EXPECT_TRUE(r.on_main[0]);
}

TEST_F(SchedTest, DeferFromOtherThreadsRunsLaterOnMainWithCopiedAtoms) {
    Recorder r;
    void *token = nullptr;
    orvo::run_on_scheduler([&] {
        auto args = longs({5, 6});
        token = defer(&r, as_method(record_defer), gensym("later"), 2, args.data());
        atom_setlong(&args[0], 99);  // the queued call keeps its own copy
    });
    EXPECT_NE(token, nullptr);
    std::thread([&] {
        for (t_atom_long i = 0; i < 3; ++i) {
            auto args = longs({i});
            defer(&r, as_method(record_defer), gensym("t"), 1, args.data());
        }
    }).join();
    EXPECT_EQ(r.size(), 0u);
    orvo::run_until_idle();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r.args[0], (std::vector<t_atom_long>{5, 6}));
    for (size_t i = 0; i < 4; ++i) EXPECT_TRUE(r.on_main[i]);
    for (size_t i = 1; i < 4; ++i) EXPECT_EQ(r.args[i], std::vector<t_atom_long>{(t_atom_long)i - 1}) << "in order";
}

TEST_F(SchedTest, DeferLowNeverRunsAtOnce) {
    Recorder r;
    EXPECT_NE(defer_low(&r, as_method(record_defer), gensym("low"), 0, nullptr), nullptr);
    EXPECT_EQ(r.size(), 0u);
    orvo::run_until_idle();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_TRUE(r.on_main[0]);
}

TEST_F(SchedTest, QueuesDrainInOrderDeferThenQelemThenLow) {
    Recorder r;
    void *q = qelem_new(&r, as_method(record_plain));
    defer_low(&r, as_method(record_defer), gensym("low"), 0, nullptr);
    qelem_set(q);
    orvo::run_on_scheduler([&] { defer(&r, as_method(record_defer), gensym("defer"), 0, nullptr); });
    orvo::run_until_idle();
    EXPECT_EQ(r.tags, (std::vector<std::string>{"defer", "plain", "low"}));
    qelem_free(q);
}

// Deferred work that queues more: run_until_idle goes on until nothing is left.
struct Chain {
    int remaining, runs = 0;
};
void chain_step(void *x, t_symbol *, long, t_atom *) {
    auto *c = static_cast<Chain *>(x);
    ++c->runs;
    if (--c->remaining > 0) defer_low(c, as_method(chain_step), nullptr, 0, nullptr);
}

TEST_F(SchedTest, RunUntilIdlePicksUpWorkQueuedWhileDraining) {
    Chain c{5};
    defer_low(&c, as_method(chain_step), nullptr, 0, nullptr);
    orvo::run_until_idle();
    EXPECT_EQ(c.runs, 5);
}

// ---- queue elements -------------------------------------------------------------------------

TEST_F(SchedTest, QelemSetManyTimesRunsOnce) {
    Recorder r;
    void *q = qelem_new(&r, as_method(record_plain));
    for (int i = 0; i < 5; ++i) qelem_set(q);
    orvo::run_on_scheduler([&] { qelem_set(q); });
    std::thread([&] { qelem_set(q); }).join();
    EXPECT_EQ(r.size(), 0u) << "never at once, even on the main thread";
    orvo::run_until_idle();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_TRUE(r.on_main[0]);
    qelem_set(q);  // once it has run it can be set again
    orvo::run_until_idle();
    EXPECT_EQ(r.size(), 2u);
    qelem_free(q);
}

TEST_F(SchedTest, QelemUnsetAndFreeCancel) {
    Recorder r;
    void *q1 = qelem_new(&r, as_method(record_plain));
    void *q2 = qelem_new(&r, as_method(record_plain));
    qelem_set(q1);
    qelem_unset(q1);
    qelem_set(q2);
    qelem_free(q2);
    orvo::run_until_idle();
    EXPECT_EQ(r.size(), 0u);
    qelem_free(q1);
}

// A queue element that sets itself again, or frees itself, from its own function.
struct SelfQ {
    void *q = nullptr;
    int runs = 0;
    bool free_it = false;
};
void self_q(void *x) {
    auto *s = static_cast<SelfQ *>(x);
    ++s->runs;
    if (s->free_it)
        qelem_free(s->q);
    else if (s->runs < 3)
        qelem_set(s->q);
}

TEST_F(SchedTest, QelemMaySetOrFreeItselfWhileRunning) {
    SelfQ again, gone;
    gone.free_it = true;
    again.q = qelem_new(&again, as_method(self_q));
    gone.q = qelem_new(&gone, as_method(self_q));
    qelem_set(again.q);
    qelem_set(gone.q);
    orvo::run_until_idle();
    EXPECT_EQ(again.runs, 3);
    EXPECT_EQ(gone.runs, 1);
    qelem_free(again.q);
}

// ---- clocks and time -------------------------------------------------------------------------

TEST_F(SchedTest, ClockFiresOnSchedulerThreadAtItsTime) {
    Recorder r;
    void *c = clock_new(&r, as_method(record_plain));
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(object_classname(c)->s_name, "clock");
    t_atom_long t0 = gettime();
    EXPECT_GT(t0, 0);
    orvo::run_until_idle();
    EXPECT_EQ(gettime(), t0) << "time moves only with advance";
    clock_delay(c, 10);
    orvo::advance(9);
    EXPECT_EQ(r.size(), 0u);
    orvo::advance(5);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_TRUE(r.on_timer[0]);
    EXPECT_FALSE(r.on_main[0]);
    EXPECT_EQ(r.times[0], t0 + 10) << "fires at its own time, not at the end of the step";
    EXPECT_EQ(gettime(), t0 + 14);
    orvo::advance(100);
    EXPECT_EQ(r.size(), 1u) << "one delay, one firing";

    clock_delay(c, 10);
    clock_delay(c, 30);  // re-arming replaces the earlier time
    orvo::advance(20);
    EXPECT_EQ(r.size(), 1u);
    orvo::advance(20);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r.times[1], t0 + 144);
    freeobject((t_object *)c);
}

TEST_F(SchedTest, ClocksFireInTimeOrderWithinOneAdvance) {
    Recorder late_r, early_r;
    void *late = clock_new(&late_r, as_method(record_plain));
    void *early = clock_new(&early_r, as_method(record_plain));
    t_atom_long t0 = gettime();
    clock_delay(late, 30);
    clock_delay(early, 10);
    orvo::advance(50);
    EXPECT_EQ(early_r.times, std::vector<t_atom_long>{t0 + 10});
    EXPECT_EQ(late_r.times, std::vector<t_atom_long>{t0 + 30});
    EXPECT_EQ(gettime(), t0 + 50);
    freeobject((t_object *)late);
    freeobject((t_object *)early);
}

TEST_F(SchedTest, ZeroDelayFiresAtTheCurrentTimeOnRunUntilIdle) {
    Recorder r;
    void *c = clock_new(&r, as_method(record_plain));
    t_atom_long t0 = gettime();
    orvo::run_on_scheduler([&] { clock_delay(c, 0); });
    EXPECT_EQ(r.size(), 0u) << "clocks wait for the main thread's run_until_idle";
    orvo::run_until_idle();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r.times[0], t0);
    freeobject((t_object *)c);
}

TEST_F(SchedTest, UnsetOrFreedClockDoesNotFire) {
    Recorder r;
    void *c1 = clock_new(&r, as_method(record_plain));
    void *c2 = clock_new(&r, as_method(record_plain));
    clock_delay(c1, 5);
    clock_delay(c2, 5);
    clock_unset(c1);
    freeobject((t_object *)c2);
    orvo::advance(10);
    EXPECT_EQ(r.size(), 0u);
    freeobject((t_object *)c1);
}

// The path a change takes from another thread: clock on the scheduler thread,
// then a queue element on the main thread, all within one run_until_idle.
struct Relay {
    void *clock = nullptr, *qelem = nullptr;
    int ticks = 0, qruns = 0;
    bool qrun_on_main = false;
};
void relay_tick(void *x) {
    auto *r = static_cast<Relay *>(x);
    ++r->ticks;
    qelem_set(r->qelem);
}
void relay_q(void *x) {
    auto *r = static_cast<Relay *>(x);
    ++r->qruns;
    r->qrun_on_main = systhread_ismainthread() != 0;
}

TEST_F(SchedTest, ClockToQelemRelayCoalescesABurst) {
    Relay r;
    r.clock = clock_new(&r, as_method(relay_tick));
    r.qelem = qelem_new(&r, as_method(relay_q));
    orvo::run_on_scheduler([&] {
        for (int i = 0; i < 10; ++i) clock_delay(r.clock, 0);
    });
    orvo::run_until_idle();
    EXPECT_EQ(r.ticks, 1);
    EXPECT_EQ(r.qruns, 1);
    EXPECT_TRUE(r.qrun_on_main);
    freeobject((t_object *)r.clock);
    qelem_free(r.qelem);
}

// ---- critical regions and mutexes ---------------------------------------------------------------

TEST_F(SchedTest, CriticalRegionExcludesAndIsRecursive) {
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
    t1.join();
    t2.join();
    EXPECT_EQ(counter, 60000);
}

TEST_F(SchedTest, Mutexes) {
    t_systhread_mutex plain = nullptr, rec = nullptr;
    ASSERT_EQ(systhread_mutex_new(&plain, 0), 0);
    ASSERT_EQ(systhread_mutex_new(&rec, 2), 0);
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            systhread_mutex_lock(plain);
            systhread_mutex_lock(rec);
            systhread_mutex_lock(rec);  // recursive
            ++counter;
            systhread_mutex_unlock(rec);
            systhread_mutex_unlock(rec);
            systhread_mutex_unlock(plain);
        }
    };
    std::thread t(work);
    work();
    t.join();
    EXPECT_EQ(counter, 40000);
    EXPECT_NE(systhread_mutex_lock(nullptr), 0);
    EXPECT_EQ(systhread_mutex_free(plain), 0);
    EXPECT_EQ(systhread_mutex_free(rec), 0);
}

}  // namespace
