// Threads, deferral, queue elements, clocks, scheduler time and critical regions.
//
// Two threads matter: the main thread (the one that started the runtime) runs
// deferred work and queue elements; the scheduler thread runs clocks and work
// handed to it with run_on_scheduler. In deterministic mode scheduler time
// moves only through advance(), and the scheduler thread runs clocks only while
// the main thread waits for it in run_until_idle, so a run is repeatable.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "init.h"
#include "orvo/runtime.h"

namespace {

using Clock = std::chrono::steady_clock;

struct t_clock {
    t_object c_ob;
    void *c_owner;
    method c_fn;
    bool c_armed;
    std::pair<t_atom_long, uint64_t> c_key;  // (due time, arming order) while armed
};

struct Qelem {
    void *owner;
    method fn;
    bool queued = false;
    uint64_t stamp = 0;  // phase in which it was set
};

struct DeferItem {
    void *x;
    method fn;
    t_symbol *s;
    std::vector<t_atom> argv;
};

struct Task {
    std::function<void()> fn;
    bool done = false;
};

// Lives for the whole process (never destroyed) so that a scheduler thread still
// waiting at exit never sees its mutex or condition variables torn down.
struct State {
    // main-thread queues
    std::mutex qm;
    std::condition_variable qcv;  // something was queued for the main thread
    std::deque<DeferItem> defer_q;
    std::deque<Qelem *> qelem_q;
    std::deque<DeferItem> low_q;
    std::deque<DeferItem> *running = nullptr;  // the batch being run (main thread only)
    uint64_t qphase = 1;
    uint64_t tokens = 0;

    // scheduler
    std::mutex sm;
    std::condition_variable scv;     // wakes the scheduler thread
    std::condition_variable donecv;  // wakes those waiting for the scheduler
    std::map<std::pair<t_atom_long, uint64_t>, t_clock *> clocks;
    uint64_t clock_seq = 0;
    std::deque<Task *> tasks;
    uint64_t round_req = 0, round_done = 0;
    bool round_did = false;
    t_clock *firing = nullptr;
    bool stop = false;
    std::thread *thread = nullptr;

    std::thread::id main_id, sched_id;
    bool realtime = false;
    bool started = false;
    Clock::time_point start;
    std::atomic<t_atom_long> now{1};

    std::recursive_mutex critical;
};

// Work announced with defer_work_begin and not yet ended.
std::atomic<long> g_work{0};

State &st() {
    static State *s = new State;
    return *s;
}

t_class *g_clock_class = nullptr;

// Method pointers are stored untyped and called with their real signature.
template <class F, class G>
F fn_cast(G g) {
    return reinterpret_cast<F>(reinterpret_cast<void (*)(void)>(g));
}
using plain_fn = void (*)(void *);

bool on_main() { return st().started && std::this_thread::get_id() == st().main_id; }
bool on_sched() { return st().started && std::this_thread::get_id() == st().sched_id; }

t_atom_long wall_now() {
    auto d = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - st().start);
    return (t_atom_long)d.count() + 1;
}

t_atom_long current_time() { return st().realtime ? wall_now() : st().now.load(); }

DeferItem make_item(void *x, method fn, t_symbol *s, short argc, t_atom *argv) {
    DeferItem it{x, fn, s, {}};
    if (argc > 0 && argv) it.argv.assign(argv, argv + argc);
    return it;
}

void run_item(DeferItem &it) {
    if (!it.fn) return;
    fn_cast<defer_fn>(it.fn)(it.x, it.s, (long)it.argv.size(), it.argv.empty() ? nullptr : it.argv.data());
}

// Runs what one queue holds now; what it is given meanwhile waits. True when anything ran.
bool drain_batch(std::deque<DeferItem> &queue) {
    State &S = st();
    std::deque<DeferItem> batch;
    {
        std::lock_guard lk(S.qm);
        batch.swap(queue);
    }
    auto *outer = S.running;  // a deferred function may itself run the queues
    S.running = &batch;
    for (auto &it : batch) run_item(it);
    S.running = outer;
    return !batch.empty();
}

// One pass over the three main queues, in order. Work queued into a queue while
// that queue is being drained waits for the next pass. True when anything ran.
bool drain_main_once() {
    State &S = st();
    bool did = false;

    did |= drain_batch(S.defer_q);

    uint64_t cutoff;
    {
        std::lock_guard lk(S.qm);
        cutoff = ++S.qphase;
    }
    for (;;) {
        Qelem *q;
        {
            std::lock_guard lk(S.qm);
            if (S.qelem_q.empty() || S.qelem_q.front()->stamp >= cutoff) break;
            q = S.qelem_q.front();
            S.qelem_q.pop_front();
            q->queued = false;
        }
        // The function may set, unset or free its own element; q is not touched afterwards.
        if (q->fn) fn_cast<plain_fn>(q->fn)(q->owner);
        did = true;
    }

    did |= drain_batch(S.low_q);
    return did;
}

bool main_queues_empty() {
    State &S = st();
    std::lock_guard lk(S.qm);
    return S.defer_q.empty() && S.qelem_q.empty() && S.low_q.empty();
}

// Asks the scheduler thread to run every clock due now and every queued task,
// and waits until it has. True when anything ran.
bool scheduler_round() {
    State &S = st();
    std::unique_lock lk(S.sm);
    if (!S.thread) return false;
    S.round_did = false;
    uint64_t want = ++S.round_req;
    S.scv.notify_all();
    S.donecv.wait(lk, [&] { return S.round_done >= want || S.stop; });
    return S.round_did;
}

void scheduler_main() {
    State &S = st();
    std::unique_lock lk(S.sm);
    while (!S.stop) {
        bool in_round = S.round_req != S.round_done;
        if (!S.tasks.empty()) {
            Task *t = S.tasks.front();
            S.tasks.pop_front();
            if (in_round) S.round_did = true;
            lk.unlock();
            t->fn();
            lk.lock();
            t->done = true;
            S.donecv.notify_all();
            continue;
        }
        if ((S.realtime || in_round) && !S.clocks.empty() && S.clocks.begin()->first.first <= current_time()) {
            auto first = S.clocks.begin();
            t_clock *c = first->second;
            S.clocks.erase(first);
            c->c_armed = false;
            S.firing = c;
            if (in_round) S.round_did = true;
            lk.unlock();
            if (c->c_fn) fn_cast<plain_fn>(c->c_fn)(c->c_owner);
            lk.lock();
            S.firing = nullptr;
            S.donecv.notify_all();
            continue;
        }
        if (in_round) {
            S.round_done = S.round_req;
            S.donecv.notify_all();
            continue;
        }
        if (S.realtime && !S.clocks.empty()) {
            auto due = S.start + std::chrono::milliseconds(S.clocks.begin()->first.first - 1);
            S.scv.wait_until(lk, due);
        } else {
            S.scv.wait(lk);
        }
    }
}

void clock_free(t_clock *c) {
    State &S = st();
    std::unique_lock lk(S.sm);
    if (c->c_armed) S.clocks.erase(c->c_key), c->c_armed = false;
    // A clock being fired on the scheduler thread is freed only once its function returned.
    if (!on_sched()) S.donecv.wait(lk, [&] { return S.firing != c; });
}

struct Mutex {
    explicit Mutex(bool r) : recursive(r) {}
    bool recursive;
    std::mutex plain;
    std::recursive_mutex rec;
};

}  // namespace

// ---- the plug-in interface ---------------------------------------------------------------

extern "C" {

void *defer(void *x, method fn, t_symbol *s, short argc, t_atom *argv) {
    State &S = st();
    if (on_main()) {
        DeferItem it = make_item(x, fn, s, argc, argv);
        run_item(it);
        return nullptr;
    }
    std::lock_guard lk(S.qm);
    S.defer_q.push_back(make_item(x, fn, s, argc, argv));
    S.qcv.notify_all();
    return reinterpret_cast<void *>((uintptr_t)++S.tokens);
}

void *defer_low(void *x, method fn, t_symbol *s, short argc, t_atom *argv) {
    State &S = st();
    std::lock_guard lk(S.qm);
    S.low_q.push_back(make_item(x, fn, s, argc, argv));
    S.qcv.notify_all();
    return reinterpret_cast<void *>((uintptr_t)++S.tokens);
}

void defer_work_begin(void) { ++g_work; }

void defer_work_end(void) {
    State &S = st();
    {
        std::lock_guard lk(S.qm);  // a waiter checks the count under this lock
        --g_work;
    }
    S.qcv.notify_all();
}

void *qelem_new(void *x, method fn) { return new Qelem{x, fn}; }

void qelem_set(void *qv) {
    if (!qv) return;
    State &S = st();
    auto *q = static_cast<Qelem *>(qv);
    std::lock_guard lk(S.qm);
    if (q->queued) return;
    q->queued = true;
    q->stamp = S.qphase;
    S.qelem_q.push_back(q);
    S.qcv.notify_all();
}

void qelem_unset(void *qv) {
    if (!qv) return;
    State &S = st();
    auto *q = static_cast<Qelem *>(qv);
    std::lock_guard lk(S.qm);
    if (!q->queued) return;
    q->queued = false;
    for (auto it = S.qelem_q.begin(); it != S.qelem_q.end(); ++it)
        if (*it == q) {
            S.qelem_q.erase(it);
            break;
        }
}

void qelem_free(void *qv) {
    if (!qv) return;
    qelem_unset(qv);
    delete static_cast<Qelem *>(qv);
}

void *clock_new(void *x, method fn) {
    if (!g_clock_class) return nullptr;
    auto *c = static_cast<t_clock *>(object_alloc(g_clock_class));
    if (!c) return nullptr;
    c->c_owner = x;
    c->c_fn = fn;
    c->c_armed = false;
    return c;
}

void clock_delay(void *cv, long ms) {
    if (!cv) return;
    State &S = st();
    auto *c = static_cast<t_clock *>(cv);
    std::lock_guard lk(S.sm);
    if (c->c_armed) S.clocks.erase(c->c_key);
    c->c_key = {current_time() + (ms > 0 ? ms : 0), ++S.clock_seq};
    c->c_armed = true;
    S.clocks.emplace(c->c_key, c);
    S.scv.notify_all();
}

void clock_unset(void *cv) {
    if (!cv) return;
    State &S = st();
    auto *c = static_cast<t_clock *>(cv);
    std::lock_guard lk(S.sm);
    if (c->c_armed) S.clocks.erase(c->c_key), c->c_armed = false;
}

t_atom_long gettime(void) { return current_time(); }

long systhread_ismainthread(void) { return on_main() ? 1 : 0; }
long systhread_istimerthread(void) { return on_sched() ? 1 : 0; }

long systhread_mutex_new(t_systhread_mutex *pmutex, long flags) {
    if (!pmutex) return ORVO_ERR_INVALID_PTR;
    *pmutex = new Mutex((flags & 2) != 0);
    return 0;
}

long systhread_mutex_free(t_systhread_mutex m) {
    if (!m) return ORVO_ERR_INVALID_PTR;
    delete static_cast<Mutex *>(m);
    return 0;
}

long systhread_mutex_lock(t_systhread_mutex m) {
    if (!m) return ORVO_ERR_INVALID_PTR;
    auto *mx = static_cast<Mutex *>(m);
    if (mx->recursive)
        mx->rec.lock();
    else
        mx->plain.lock();
    return 0;
}

long systhread_mutex_unlock(t_systhread_mutex m) {
    if (!m) return ORVO_ERR_INVALID_PTR;
    auto *mx = static_cast<Mutex *>(m);
    if (mx->recursive)
        mx->rec.unlock();
    else
        mx->plain.unlock();
    return 0;
}

// A non-null region is a mutex from systhread_mutex_new.
void critical_enter(void *region) {
    if (region)
        systhread_mutex_lock(region);
    else
        st().critical.lock();
}

void critical_exit(void *region) {
    if (region)
        systhread_mutex_unlock(region);
    else
        st().critical.unlock();
}

}  // extern "C"

// ---- the host's control interface -------------------------------------------------------------

namespace orvo {

void run_until_idle() {
    if (!on_main()) return;
    for (;;) {
        bool did = drain_main_once();
        did |= scheduler_round();
        if (!did && main_queues_empty()) break;
    }
}

void advance(long ms) {
    State &S = st();
    if (!on_main()) return;
    if (S.realtime) {
        auto until = Clock::now() + std::chrono::milliseconds(ms > 0 ? ms : 0);
        do {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
            pump((int)std::max<long long>(left, 0));
        } while (Clock::now() < until);
        return;
    }
    // Far beyond any patch's life, and far from overflowing the clock.
    const t_atom_long kLongest = (t_atom_long)1 << 50;
    t_atom_long step = ms > 0 ? std::min<t_atom_long>(ms, kLongest) : 0;
    t_atom_long target = S.now.load() + std::min<t_atom_long>(step, INT64_MAX - kLongest - S.now.load());
    run_until_idle();
    for (;;) {
        t_atom_long next;
        {
            std::lock_guard lk(S.sm);
            if (S.clocks.empty() || S.clocks.begin()->first.first > target) break;
            next = S.clocks.begin()->first.first;
        }
        if (next > S.now.load()) S.now.store(next);
        run_until_idle();
    }
    S.now.store(target);
    run_until_idle();
}

void await_work() {
    State &S = st();
    if (!on_main()) return;
    for (;;) {
        run_until_idle();
        std::unique_lock lk(S.qm);
        auto queued = [&] { return !S.defer_q.empty() || !S.qelem_q.empty() || !S.low_q.empty(); };
        if (g_work.load() == 0 && !queued()) return;
        S.qcv.wait_for(lk, std::chrono::milliseconds(100), [&] { return g_work.load() == 0 || queued(); });
    }
}

void run_on_scheduler(const std::function<void()> &fn) {
    State &S = st();
    if (on_sched()) {
        fn();
        return;
    }
    Task t{fn};
    std::unique_lock lk(S.sm);
    if (!S.thread) return;
    S.tasks.push_back(&t);
    S.scv.notify_all();
    S.donecv.wait(lk, [&] { return t.done || S.stop; });
    if (!t.done) {  // stopped before it ran
        for (auto it = S.tasks.begin(); it != S.tasks.end(); ++it)
            if (*it == &t) {
                S.tasks.erase(it);
                break;
            }
    }
}

void pump(int timeout_ms) {
    State &S = st();
    if (!on_main()) return;
    {
        std::unique_lock lk(S.qm);
        S.qcv.wait_for(lk, std::chrono::milliseconds(timeout_ms > 0 ? timeout_ms : 0),
                       [&] { return !S.defer_q.empty() || !S.qelem_q.empty() || !S.low_q.empty(); });
    }
    while (drain_main_once()) {
    }
}

namespace detail {

void forget_deferred(void *x) {
    State &S = st();
    {
        std::lock_guard lk(S.qm);
        std::erase_if(S.defer_q, [x](const DeferItem &it) { return it.x == x; });
        std::erase_if(S.low_q, [x](const DeferItem &it) { return it.x == x; });
    }
    if (S.running && on_main())
        for (auto &it : *S.running)
            if (it.x == x) it.fn = nullptr;
}

void init_scheduler(bool realtime) {
    State &S = st();
    if (S.thread) return;
    if (!g_clock_class) {
        g_clock_class = class_new("clock", nullptr, fn_cast<method>(&clock_free), (long)sizeof(t_clock), 0L, 0L);
    }
    S.main_id = std::this_thread::get_id();
    S.realtime = realtime;
    S.start = Clock::now();
    S.now.store(1);
    {
        std::lock_guard lk(S.sm);
        S.stop = false;
    }
    S.started = true;
    // The scheduler thread learns its own identity before anyone can ask for it.
    std::mutex ready_m;
    std::condition_variable ready_cv;
    bool ready = false;
    S.thread = new std::thread([&] {
        {
            // Notified under the lock: the waiter owns these and may return the moment it sees ready.
            std::lock_guard lk(ready_m);
            S.sched_id = std::this_thread::get_id();
            ready = true;
            ready_cv.notify_all();
        }
        scheduler_main();
    });
    std::unique_lock lk(ready_m);
    ready_cv.wait(lk, [&] { return ready; });
}

void stop_scheduler() {
    State &S = st();
    std::thread *t;
    {
        std::lock_guard lk(S.sm);
        if (!S.thread) return;
        S.stop = true;
        S.scv.notify_all();
        S.donecv.notify_all();
        t = S.thread;
    }
    if (t->get_id() != std::this_thread::get_id())
        t->join();
    else
        t->detach();
    delete t;
    std::lock_guard lk(S.sm);
    S.thread = nullptr;
}

}  // namespace detail
}  // namespace orvo
