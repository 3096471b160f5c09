// parallelrun.h                                                  -*-C++-*-
#ifndef PSEX_PARALLELRUN_H
#define PSEX_PARALLELRUN_H

// Purpose: simulate the data sets of a data file on several threads, with
// exactly the results and messages of simulating them one after another.
//
// Every simulated data set takes the same number of random draws, so data
// set r starts at a known place of the one random stream: r times that
// number after the place where the data file's simulations start.  A thread
// jumps its copy of the generator there (see 'LaggedFibonacci607::discard')
// and draws exactly the numbers the data set would get in a single
// sequential run.  The data sets are handed out in runs of consecutive ones
// (chunks) to whichever thread is free; the main thread takes its share
// and, between its chunks, passes on the console messages of the finished
// chunks in data-set order and tells the progress indicator.  The messages
// of a data set are collected on its thread and written by the main thread
// to the real sink, line by line (those of the output channel before those
// of the error channel, which is the only one the simulation writes to).
// Only a bounded number of chunks may be finished ahead of the oldest one
// not yet passed on, so the memory does not grow with the number of data
// sets.
//
// At the end the caller's generator is moved to where the sequential run
// would have left it, so the next data file continues the stream as before.

#include "base/progress.h"
#include "simulation/laggedfibonacci.h"

#include <cstdint>
#include <functional>

namespace psex {

class MessageSink;

using DataSetTask = std::function<void(LaggedFibonacci607& draws, MessageSink& messages)>;
// Simulate the next data set of one thread, drawing its numbers from
// 'draws' and writing its messages to 'messages'.  A thread's data sets come
// in ascending order, not necessarily adjacent.

using DataSetTaskFactory = std::function<DataSetTask(unsigned thread)>;
// Return the task of the specified 'thread' (0 for the main thread), called
// once on that thread before its first data set.

constexpr std::uint64_t k_drawsPerChunk = std::uint64_t(1) << 22;
// The number of draws a chunk of data sets aims at: large enough that the
// jump to it costs little, small enough to share the work evenly.

void runDataSets(std::uint64_t count, std::uint64_t drawsEach, LaggedFibonacci607& generator,
                 unsigned threads, const DataSetTaskFactory& makeTask, MessageSink& messages,
                 const SimulationProgress& progress = {});
// Simulate the specified 'count' data sets of 'drawsEach' draws each from
// 'generator' on at most 'threads' threads (the main thread counts; 0 for
// the default of 'runOnThreads', threads.h), with the tasks that 'makeTask'
// makes, and leave 'generator' where drawing the data sets one after
// another would.  Their messages go to 'messages' in data-set order; the
// optionally specified 'progress' is told after every data set, on the
// calling thread.  One thread is used when 'threads' is 1, when there are
// too few draws to share, and when the generator cannot jump (see
// 'LaggedFibonacci607::isExact'); a thread that cannot be started leaves its
// share to the others.  An exception thrown on any thread (an allocation
// that fails) stops every thread and is thrown again on the calling thread
// once all have ended; the generator is then left anywhere.
//
// Behaviour is undefined unless every task draws exactly 'drawsEach'
// numbers per data set.

} // namespace psex

#endif
