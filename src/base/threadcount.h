// threadcount.h                                                  -*-C++-*-
#ifndef PSEX_THREADCOUNT_H
#define PSEX_THREADCOUNT_H

// Purpose: decide on how many threads the simulations and the comparison of
// genotype pairs (lineages) run.
//
// By default they use every processor core that the process may run on (its
// CPU affinity, which 'taskset' or a batch system may narrow).  The
// environment variable PSEX_THREADS sets the number instead: 1 runs
// everything on the main thread, 2 adds one thread, and so on.  A value that
// is not a whole number from 1 up is ignored.  The results never depend on
// the number: every thread draws its data sets' numbers from their own
// places in the one random stream, and the results and messages are put
// together in data-set order.

#include <optional>
#include <string>

namespace psex {

constexpr unsigned k_maxThreads = 256;
// The most threads a run uses, whatever is asked for.

std::optional<unsigned> parseThreadCount(const std::string& text);
// Return the thread count that the specified 'text' (the value of
// PSEX_THREADS) asks for: a decimal whole number from 1 up, at most
// 'k_maxThreads' (a larger one gives 'k_maxThreads'); nothing for anything
// else.

unsigned availableCores();
// Return the number of processor cores the process may run on (at least 1).

unsigned defaultThreadCount();
// Return the number of threads used when none is asked for: the value of
// 'availableCores()', at most 'k_maxThreads'.

unsigned simulationThreads();
// Return the number of threads for the simulations and the lineages:
// PSEX_THREADS when it holds a valid count, otherwise
// 'defaultThreadCount()'.

} // namespace psex

#endif
