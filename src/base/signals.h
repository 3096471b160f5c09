// signals.h                                                      -*-C++-*-
#ifndef PSEX_SIGNALS_H
#define PSEX_SIGNALS_H

// Purpose: when a signal ends the process, first remove what must not stay
// behind, then end it as the signal would have.
//
// A run that is interrupted (Ctrl-C, a batch system's SIGTERM or SIGUSR1, a
// CPU time limit) while it writes result files must leave no half-written
// temporary file beside the user's results.  Both programs' 'main' calls
// 'installSignalHandlers' first thing: every signal whose default action
// ends the process (SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT, SIGUSR1,
// SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGPOLL, SIGPWR, SIGSYS,
// SIGSTKFLT, the faults and the real-time signals), unless the process
// already ignores or handles it, then first runs the clean-up actions that
// were added ('addSignalCleanup': the list of temporary files of
// outputfile) and ends the process as the signal would have (the same
// status, a core dump where it would dump).  SIGXFSZ is ignored, so that
// exceeding a file size limit is a write error like a full disk instead of
// ending the process.  A process killed outright (SIGKILL, a power cut) can
// still leave a temporary file behind, recognisable by its name.
//
// Nothing is installed but by that call: a library that writes files (a
// test, another program) keeps the signal handling it has.
//
// The same signals are held back ('HeldSignals') while a set of result files
// is put in place, so that an interruption leaves the whole older set or the
// whole new one.

#include <signal.h>

namespace psex {

using SignalCleanup = void (*)();
// Remove what must not outlive the process, using only async-signal-safe
// calls (a signal handler runs it at any moment, on any thread).

constexpr int k_maxSignalCleanups = 4;
// The most clean-up actions that can be added.

void installSignalHandlers();
// Make every signal whose default action ends the process, and that the
// process neither ignores nor handles, first run the clean-up actions and
// then end the process as before; ignore SIGXFSZ unless it is ignored or
// handled already.  Call it early in 'main', before a thread is started; a
// second call does nothing.

bool addSignalCleanup(SignalCleanup action);
// Add the specified 'action' to those a terminating signal runs once the
// handlers are installed, and return true; return false when
// 'k_maxSignalCleanups' actions are there already.  It may be called at any
// time, from any thread, before or after 'installSignalHandlers'.

const sigset_t& terminatingSignals();
// Return the set of signals that 'installSignalHandlers' considers: those
// whose default action ends the process, but SIGKILL and SIGSTOP.

class HeldSignals {
    // Holds back the terminating signals on the calling thread while it
    // lives: one that arrives meanwhile is delivered when it ends.

    // DATA
    sigset_t d_previous; // the signal mask before

  public:
    // CREATORS
    HeldSignals();
    // Block every signal of 'terminatingSignals()' on the calling thread.

    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;

    ~HeldSignals();
    // Restore the calling thread's signal mask as it was.
};

} // namespace psex

#endif
