// randomgenerator.h                                              -*-C++-*-
#ifndef PSEX_RANDOMGENERATOR_H
#define PSEX_RANDOMGENERATOR_H

// Purpose: the random source of a run.
//
// One process-wide lagged Fibonacci generator, default-seeded at start-up
// and never reseeded, is the only source of the simulations' random numbers.
// The stream runs on from one data file to the next, so a run reproduces
// exactly when the same files are given in the same order, and a data file
// gets other simulated values when other files precede it.  The stream is
// that of Boost's 'lagged_fibonacci607' with its default seed (331), drawn
// from the program's own faster generator (laggedfibonacci.h).
//
// The program's 'main' asks for the generator before the first data file,
// so that the stream starts with the process whatever the data files are.

#include "simulation/laggedfibonacci.h"

namespace psex {

LaggedFibonacci607& randomGenerator();
// Return the process-wide generator, created with the default seed on the
// first call.  It is not synchronized: only the thread that runs the data
// files draws from it (threads of a simulation draw from copies of it).

} // namespace psex

#endif
