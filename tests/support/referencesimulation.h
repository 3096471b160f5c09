// referencesimulation.h                                          -*-C++-*-
#ifndef PSEX_TEST_REFERENCESIMULATION_H
#define PSEX_TEST_REFERENCESIMULATION_H

// Purpose: the plain simulation, the reference that the program's fast
// simulation must match to the bit.  Test support: the tests and the fuzz
// target link it, the program does not.
//
// Whether an observed PSex is small enough to call the repeats clones is
// judged against chance: data sets of the real size are drawn from the real
// allele frequencies, every allele copy independently (so without clones),
// and the PSex of every genotype that repeats in them by chance is computed
// as if it had been observed in the real data.  The code here does that in
// the most direct way: each simulated data set is a genotype table of its
// own, each repeated genotype gets a one-genotype table whose PSex is
// computed like any other.  It is slow, and it is kept that way on purpose:
// tests and the fuzz target compare the fast simulation
// (simulation/fastsimulation.h) with it, value for value and draw for draw.
//
// It draws from Boost's 'lagged_fibonacci607' itself, while the program
// draws the same stream from its own faster generator
// (simulation/laggedfibonacci.h, simulation/randomgenerator.h), so that
// comparing the two also checks the generator.

#include "base/progress.h"
#include "model/mlgtable.h"

#include <boost/random/lagged_fibonacci.hpp>

#include <cstdint>
#include <optional>
#include <vector>

namespace psex {

class Locus;
class MessageSink;

namespace test {

using ReferenceGenerator = boost::random::lagged_fibonacci607;
// The generator of the plain simulation: Boost's own.

std::optional<std::int32_t> drawAllele(const Locus& locus, double u);
// Return the allele that the uniform draw 'u' selects from the frequencies
// of the specified 'locus': walking them in ascending allele order, an
// allele of frequency f is chosen when f > u, otherwise u becomes u - f and
// the walk goes on.  Return nothing when the walk passes the last allele
// (possible only when the frequencies add up to less than u).

MLGTable simulateSample(std::uint32_t sampleCount, const MLGTable& table,
                        ReferenceGenerator& generator);
// Return a data set of 'sampleCount' samples whose alleles are drawn
// independently from the frequencies of the specified 'table', one draw of
// the 'generator' per allele copy, sample by sample, locus by locus.  The
// chosen alleles of a locus are stored in ascending order; a copy for which
// no allele is chosen holds the table's missing-data code after them, or 0
// when the table has none.

std::vector<double> simulatedPsexValues(const MLGTable& table, ReferenceGenerator& generator,
                                        MessageSink& messages,
                                        const SimulationProgress& progress = {},
                                        std::vector<std::optional<double>>* smallest = nullptr);
// Return, in ascending order, the PSex of every genotype that repeats in
// each of the specified 'table''s SIMULATIONS simulated data sets, each
// computed on a table of its own with the real frequencies and the real
// sample size.  Messages of those computations go to 'messages'; the
// optionally specified 'progress' is told how far the simulations are.
// When 'smallest' is given, it receives one entry per data set, in order:
// the smallest PSex of its repeats, or nothing when none repeated.

} // namespace test
} // namespace psex

#endif
