// simulation.h                                                   -*-C++-*-
#ifndef PSEX_SIMULATION_H
#define PSEX_SIMULATION_H

// Purpose: judge observed PSex values against chance: draw data sets of the
// real size from the real allele frequencies, without clones, and collect
// the PSex of every genotype that repeats in them by chance.
//
// One process-wide lagged Fibonacci generator, default-seeded at start-up
// and never reseeded, is the only source of random numbers.  The stream runs
// on from one data file to the next, so a run reproduces exactly when the
// same files are given in the same order.

#include "mlgtable.h"

#include <boost/random/lagged_fibonacci.hpp>

#include <cstdint>
#include <functional>
#include <optional>

namespace psex {

class DataReader;
class Locus;

using RandomGenerator = boost::random::lagged_fibonacci607;

RandomGenerator& randomGenerator();
// Return the process-wide generator.

std::optional<std::int32_t> drawAllele(const Locus& locus, double u);
// Return the allele that the uniform draw 'u' selects from the frequencies
// of the specified 'locus': walking them in ascending allele order, an
// allele of frequency f is chosen when f > u, otherwise u becomes u - f and
// the walk goes on.  Return nothing when the walk passes the last allele
// (possible only when the frequencies add up to less than u).

MLGTable simulateSample(std::uint32_t sampleCount, const MLGTable& table,
                        RandomGenerator& generator);
// Return a data set of 'sampleCount' samples whose alleles are drawn
// independently from the frequencies of the specified 'table', one draw of
// the 'generator' per allele copy, sample by sample, locus by locus.  The
// chosen alleles of a locus are stored in ascending order; a copy for which
// no allele is chosen keeps the value 0 after them.

using SimulationProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;
// Told, after every simulated data set, how many of how many are done.

MLGTable buildAndSimulate(DataReader& reader);
MLGTable buildAndSimulate(DataReader& reader, RandomGenerator& generator,
                          const SimulationProgress& progress = {});
// Return the table of the data file behind the specified 'reader', with its
// PSex list replaced by the PSex values of the repeated genotypes of
// SIMULATIONS simulated data sets (in ascending order) and every MLG's
// p-value taken from that list.  The first form draws from the process-wide
// generator.  The optionally specified 'progress' is told how far the
// simulations are.

std::vector<double> simulatedPsexValues(const MLGTable& table, RandomGenerator& generator,
                                        const SimulationProgress& progress = {});

constexpr std::uint64_t k_drawAheadFrom = std::uint64_t(1) << 22;
// The number of draws from which a second core draws them ahead.

PsexList simulatedPsexList(const MLGTable& table, RandomGenerator& generator,
                           const SimulationProgress& progress = {},
                           std::uint64_t drawAheadFrom = k_drawAheadFrom);
// Return the same values as 'simulatedPsexValues', drawn from the generator
// in the same order and with the same messages, but fast: every allele draw
// is a table look-up that gives exactly the allele the frequency walk
// would, a simulated data set is held as compact genotype codes grouped by
// hashing, and PSex terms are shared between genotypes of equal PGen.  When
// the simulations take at least 'drawAheadFrom' draws and the machine has a
// second core, the numbers are drawn ahead on it; the results are the same.

} // namespace psex

#endif
