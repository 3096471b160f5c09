// threads.h                                                      -*-C++-*-
#ifndef PSEX_THREADS_H
#define PSEX_THREADS_H

// Purpose: run one piece of work on several threads at once, the calling
// thread among them, so that a failure on any of them reaches the caller.
//
// The simulations (parallelrun) and the comparison of genotype pairs
// (lineages) share their work out in the same way: N - 1 threads are started
// and the calling thread is the N-th, each running the same work with its
// own index (0 for the calling thread, which alone may talk to the person at
// the terminal: progress and messages), and each taking the next piece of
// the work that is left until none is.  Because the pieces are taken, not
// handed out in advance, fewer threads do the same work: a thread that the
// system refuses to start (too many threads, no memory for its stack) is no
// error, the others do its share.
//
// An exception that left a thread would end the process.  So the first one
// thrown on any thread, the calling one included (an allocation that fails),
// is caught and kept; the work is told to stop (the caller's 'stopOthers':
// set the flag the work checks, wake threads that wait), every thread is
// joined, and then the exception is thrown again on the calling thread,
// where the driver reports the data file as out of memory and goes on.
//
// When no number is asked for, the work runs on as many threads as the
// process may use processor cores ('defaultThreadCount', threadcount.h).

#include <functional>

namespace psex {

using ThreadWork = std::function<void(unsigned thread)>;
// Do the share of the work that the thread of the specified index (0 for the
// calling thread) takes, until no work is left or the work is stopped.

unsigned threadCountOrDefault(unsigned threads);
// Return the specified 'threads', or 'defaultThreadCount()' when it is 0, at
// most 'k_maxThreads'.

unsigned runOnThreads(unsigned threads, const ThreadWork& work,
                      const std::function<void()>& stopOthers = {},
                      const std::function<void(unsigned thread)>& starting = {});
// Run the specified 'work' with index 0 on the calling thread and with
// indices 1 to N - 1 on threads of their own, N being
// 'threadCountOrDefault(threads)', and return, once every thread has ended,
// the number of threads that ran it (the calling one included).  The
// threads are started in order before the calling thread begins its own
// share; when one cannot be started, neither it nor a later one runs.  When
// 'work' throws on any thread, the optionally specified 'stopOthers' is
// called on that thread for the first exception (it must not throw), and
// that exception is thrown again on the calling thread once every thread has
// ended.  The optionally specified 'starting' is called on the calling
// thread before the thread of each index is started; an exception from it
// stands for the system's refusal to start that thread (the tests use it).

} // namespace psex

#endif
