// signalhandlers.h                                               -*-C++-*-
#ifndef PSEX_TESTS_SIGNALHANDLERS_H
#define PSEX_TESTS_SIGNALHANDLERS_H

// Purpose: what a process does with each signal, for tests that check who
// installs signal handlers.

#include <csignal>
#include <vector>

namespace psex::test {

inline std::vector<void (*)(int)> signalHandlers() {
    // Return the action of every signal, as 'sigaction' reports its handler.
    std::vector<void (*)(int)> handlers;
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
        struct sigaction current = {};
        ::sigaction(signalNumber, nullptr, &current);
        handlers.push_back(current.sa_handler);
    }
    return handlers;
}

} // namespace psex::test

#endif
