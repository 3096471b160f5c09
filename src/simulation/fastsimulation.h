// fastsimulation.h                                               -*-C++-*-
#ifndef PSEX_FASTSIMULATION_H
#define PSEX_FASTSIMULATION_H

// Purpose: the program's simulation: the same simulated PSex values as the
// plain simulation that the tests keep (tests/support/referencesimulation.h),
// drawn from the same random numbers in the same order, with the same
// messages, but fast enough for tens of thousands of samples and thousands
// of simulated data sets.
//
// Each simulated data set has the real sample size, every allele copy drawn
// independently from the real allele frequencies (one uniform number per
// copy, sample by sample, locus by locus, walking a locus's frequencies in
// ascending allele order), so it holds no clones; every genotype that
// repeats in it by chance gets the PSex it would have had in the real data
// (the real frequencies, sample size and Fis).
//
// Four things make it fast without changing a bit of the result:
// - every allele draw is a table look-up that picks exactly the allele the
//   frequency walk would pick (AlleleSampler);
// - a simulated data set is held as compact per-locus genotype codes and
//   grouped by hashing instead of by a sorted list of tables;
// - the binomial terms behind PSex are shared between repeats of equal PGen
//   and count (BinomialTail), and the list is kept as runs of equal values
//   (PsexList);
// - the data sets are shared out among threads, each drawing its data sets'
//   numbers from their own places in the stream (runDataSets).

#include "base/progress.h"
#include "model/familywise.h"
#include "model/mlgtable.h"
#include "model/psexlist.h"
#include "simulation/laggedfibonacci.h"

#include <cstdint>

namespace psex {

class DataReader;
class MessageSink;

PsexList simulatedPsexList(const MLGTable& table, LaggedFibonacci607& generator,
                           MessageSink& messages, const SimulationProgress& progress = {},
                           unsigned threads = 1, FamilywiseCounter* smallest = nullptr);
// Return, in ascending order, the PSex of every genotype that repeats in
// each of the specified 'table''s SIMULATIONS simulated data sets, drawn
// from the 'generator' with their messages to 'messages' (the values,
// draws and messages of the plain simulation), on at most the specified
// 'threads' threads (0: as many as the process may use cores, see
// threads.h); the results, the messages and the generator's final state do
// not depend on their number.  The optionally specified 'progress' is told
// how far the simulations are; the optionally specified 'smallest' counts
// every simulated data set with the smallest PSex of its chance repeats
// (the family-wise p-values), with the same counts on any number of
// threads.

void judgeBySimulation(MLGTable& table, LaggedFibonacci607& generator, MessageSink& messages,
                       const SimulationProgress& progress = {}, unsigned threads = 1);
// Replace the PSex list of the specified built 'table' by the PSex values of
// the repeated genotypes of its SIMULATIONS simulated data sets (ascending),
// drawn from 'generator' on at most the specified 'threads' threads, and
// give every MLG its p-value from that list and its family-wise p-value
// from the smallest PSex of each data set.  Messages go to 'messages';
// the optionally specified 'progress' is told how far the simulations are.

MLGTable buildAndSimulate(DataReader& reader, LaggedFibonacci607& generator, MessageSink& messages,
                          const SimulationProgress& progress = {}, unsigned threads = 1);
// Return the table of the data file behind the specified 'reader', with its
// PSex list replaced by the PSex values of the repeated genotypes of
// SIMULATIONS simulated data sets (in ascending order) and every MLG's
// p-value taken from that list: 'buildTable', then 'judgeBySimulation'.

} // namespace psex

#endif
