// signals.cpp                                                    -*-C++-*-
#include "base/signals.h"

#include <atomic>
#include <mutex>

namespace psex {

namespace {

// Every signal whose default action ends the process, with or without a
// core dump: those a user or a batch system sends (SIGINT and SIGQUIT from
// the keyboard, SIGTERM, SIGHUP, SIGUSR1 and SIGALRM from job schedulers,
// SIGXCPU at a CPU time limit), the faults, and the real-time signals
// (added at run time).  SIGKILL and SIGSTOP cannot be caught; SIGXFSZ is
// ignored instead.
const int k_terminatingSignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT,   SIGBUS,  SIGFPE,  SIGUSR1, SIGSEGV,
    SIGUSR2,   SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR,  SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

// The clean-up actions, read by the handler: plain function pointers behind
// lock-free atomics, taken in order and never given back.
std::atomic<SignalCleanup> g_cleanups[k_maxSignalCleanups];
static_assert(std::atomic<SignalCleanup>::is_always_lock_free);

extern "C" void cleanUpAndResignal(int signalNumber) {
    // Only async-signal-safe calls here.  The handler was installed with
    // SA_RESETHAND, so the signal raised again takes its default action (it
    // is delivered once the handler returns) and ends the process as it
    // would have without the handler.
    for (const auto& cleanup : g_cleanups) {
        if (const SignalCleanup action = cleanup.load()) {
            action();
        }
    }
    ::raise(signalNumber);
}

} // namespace

const sigset_t& terminatingSignals() {
    // The real-time signals' numbers are known only at run time.
    static const sigset_t signals = [] {
        sigset_t set;
        sigemptyset(&set);
        for (const int signalNumber : k_terminatingSignals) {
            sigaddset(&set, signalNumber);
        }
        for (int signalNumber = SIGRTMIN; signalNumber <= SIGRTMAX; ++signalNumber) {
            sigaddset(&set, signalNumber);
        }
        return set;
    }();
    return signals;
}

void installSignalHandlers() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        const sigset_t& signals = terminatingSignals();
        for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
            if (sigismember(&signals, signalNumber) != 1) {
                continue;
            }
            struct sigaction current = {};
            // A signal that the process ignores or handles keeps that
            // meaning (a sanitizer's handler of the faults, a caller's
            // SIG_IGN of SIGPIPE or SIGHUP under nohup).
            if (::sigaction(signalNumber, nullptr, &current) == 0 &&
                current.sa_handler == SIG_DFL) {
                struct sigaction cleanup = {};
                cleanup.sa_handler = cleanUpAndResignal;
                cleanup.sa_flags = SA_RESETHAND;
                sigemptyset(&cleanup.sa_mask);
                ::sigaction(signalNumber, &cleanup, nullptr);
            }
        }
        struct sigaction current = {};
        if (::sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            ::signal(SIGXFSZ, SIG_IGN); // writes beyond the limit then fail with EFBIG
        }
    });
}

bool addSignalCleanup(SignalCleanup action) {
    for (auto& cleanup : g_cleanups) {
        SignalCleanup empty = nullptr;
        if (cleanup.compare_exchange_strong(empty, action)) {
            return true;
        }
    }
    return false;
}

HeldSignals::HeldSignals() {
    ::pthread_sigmask(SIG_BLOCK, &terminatingSignals(), &d_previous);
}

HeldSignals::~HeldSignals() {
    ::pthread_sigmask(SIG_SETMASK, &d_previous, nullptr);
}

} // namespace psex
