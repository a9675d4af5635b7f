// Threads, deferral, queue elements, clocks and critical regions.
//
// The host has a main thread (the one running its event loop) and a scheduler
// thread (the one running clocks, and delivering messages from timed events).
// Deferred functions, queue elements and the low-priority queue run only on the
// main thread: first the normal deferral queue, then queue elements, then the
// low-priority queue, in the order they were queued.
#pragma once
#include "orvo_types.h"

ORVO_BEGIN_C

// fn(x, s, argc, argv): the signature of deferred functions (argc is passed widened to long).
typedef void (*defer_fn)(void *x, t_symbol *s, long argc, t_atom *argv);

// [main thread] runs fn now and returns null; [any other thread] copies the atoms,
// queues fn for the main thread and returns a non-null token.
ORVO_API void *defer(void *x, method fn, t_symbol *s, short argc, t_atom *argv);
// [any thread] Always queues, on the low-priority queue, even from the main thread.
ORVO_API void *defer_low(void *x, method fn, t_symbol *s, short argc, t_atom *argv);

// [any thread] Host extension: work on a thread of the plug-in's own that will end by
// deferring to the main thread. Call begin before starting it and end after its last
// defer; a script's "wait" waits until all such work has ended and its deferred calls ran.
ORVO_API void defer_work_begin(void);
ORVO_API void defer_work_end(void);

// [main thread] A queue element that will call fn(x) on the main thread.
ORVO_API void *qelem_new(void *x, method fn);
// [any thread] Queues the element unless it is already queued: however often it is
// set before it runs, it runs once.
ORVO_API void qelem_set(void *q);
ORVO_API void qelem_unset(void *q);
// [main thread] Unqueues and frees.
ORVO_API void qelem_free(void *q);

// [main thread] A clock (a host object; free with freeobject) that calls fn(x) on the scheduler thread.
ORVO_API void *clock_new(void *x, method fn);
// [any thread] Fires the clock ms milliseconds of scheduler time from now (0: at
// the current time, as soon as the scheduler runs). Re-arming replaces the earlier time.
ORVO_API void clock_delay(void *c, long ms);
ORVO_API void clock_unset(void *c);

// [any thread] Scheduler time in milliseconds; above 0 from the start, never decreasing.
ORVO_API t_atom_long gettime(void);
// [any thread] Nonzero on the main thread.
ORVO_API long systhread_ismainthread(void);
// [any thread] Nonzero on the scheduler thread. Host extension.
ORVO_API long systhread_istimerthread(void);

typedef void *t_systhread_mutex;
// [any thread] flags: 0 plain, 2 recursive. Returns 0 and stores the mutex.
ORVO_API long systhread_mutex_new(t_systhread_mutex *pmutex, long flags);
ORVO_API long systhread_mutex_free(t_systhread_mutex m);
ORVO_API long systhread_mutex_lock(t_systhread_mutex m);
ORVO_API long systhread_mutex_unlock(t_systhread_mutex m);

// [any thread] The global critical region when region is null; recursive.
ORVO_API void critical_enter(void *region);
ORVO_API void critical_exit(void *region);

ORVO_END_C
