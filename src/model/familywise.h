// familywise.h                                                   -*-C++-*-
#ifndef PSEX_FAMILYWISE_H
#define PSEX_FAMILYWISE_H

// Purpose: the study-wide (family-wise) p-value of a repeated genotype.
//
// The p-value of the simulated PSex list answers: among the genotypes that
// repeated by chance, how many had a smaller PSex?  It is conditional on a
// chance repeat having happened at all, and with loci of good power chance
// repeats are rare, so a plain clone can stay 'ns' however many simulations
// are run.  What decides whether a study holds clones is another question:
// how often does sexual reproduction alone put a repeat this extreme
// anywhere in a study like this one?
//
// Each simulated data set k = 1..K gives the smallest PSex among its chance
// repeats (a data set without a repeat gives none).  For an observed
// repeated genotype with PSex x, c is the number of data sets whose
// smallest value is at most x, and the family-wise p-value is
// (c + 1) / (K + 1) ('familywisePValue', with its level, in significance.h).
//
// The K smallest values are not kept: the observed PSex values are known
// before the simulations start, so each data set's smallest value only adds
// one to the count of the first observed value it does not exceed.  The
// memory follows the number of observed repeated genotypes, not K, and
// counters filled on several threads add up to exactly the same counts.

#include <cstdint>
#include <optional>
#include <vector>

namespace psex {

class FamilywiseCounter {
    // A value type.

    // DATA
    std::vector<double> d_observed;      // distinct observed PSex values, ascending
    std::vector<std::uint64_t> d_counts; // data sets whose smallest value falls at each
    std::uint64_t d_dataSets = 0;        // data sets counted, with a repeat or not

  public:
    // CREATORS
    FamilywiseCounter() = default;

    explicit FamilywiseCounter(std::vector<double> observed);
    // Create a counter for the specified 'observed' PSex values of the
    // repeated genotypes, in any order and with repeats.

    // MANIPULATORS
    void addDataSet(std::optional<double> smallest);
    // Count one simulated data set whose chance repeats have the specified
    // 'smallest' PSex, or none without a chance repeat.

    void addDataSetsWithoutRepeat(std::uint64_t count) { d_dataSets += count; }
    // Count the specified 'count' data sets without a chance repeat.

    void add(const FamilywiseCounter& other);
    // Add the counts of the specified 'other' counter, made for the same
    // observed values.

    // ACCESSORS
    const std::vector<double>& observed() const { return d_observed; }
    // Return the distinct observed values, ascending.

    std::uint64_t dataSets() const { return d_dataSets; }
    // Return the number of data sets counted.

    std::uint64_t countAtMost(double psex) const;
    // Return the number of data sets counted whose smallest PSex is at most
    // the specified 'psex'.  The behaviour is undefined unless 'psex' is
    // one of the observed values.
};

} // namespace psex

#endif
