// psexlist.h                                                     -*-C++-*-
#ifndef PSEX_PSEXLIST_H
#define PSEX_PSEXLIST_H

// Purpose: hold a list of PSex values in ascending order, compactly.
//
// The simulated PSex values of a run are read only through their order: the
// value at a rank (a significance threshold), the number of values below a
// given PSex (a p-value), and the whole list in ascending order (the
// report).  Many simulated genotypes give exactly the same PSex (the same
// genotype seen the same number of times), so the list is kept as runs of
// equal values: its memory follows the number of distinct values, not the
// number of simulations.

#include <cstdint>
#include <utility>
#include <vector>

namespace psex {

class PsexList {
    // A value type: an ascending multiset of doubles.

    // DATA
    std::vector<double> d_values;      // distinct values, ascending
    std::vector<std::uint64_t> d_ends; // entries up to and including each run

  public:
    // CREATORS
    PsexList() = default;

    explicit PsexList(const std::vector<double>& ascending);
    // Create a list of the specified 'ascending' values.  The behaviour is
    // undefined unless they are in ascending order.

    static PsexList fromRuns(const std::vector<std::pair<double, std::uint64_t>>& runs);
    // Return the list of the specified 'runs' (value, number of copies),
    // whose values are strictly ascending and whose counts are positive.

    // ACCESSORS
    std::uint64_t size() const { return d_ends.empty() ? 0 : d_ends.back(); }
    bool empty() const { return d_ends.empty(); }

    double at(std::uint64_t index) const;
    // Return the entry at 'index' in ascending order.  The behaviour is
    // undefined unless 'index < size()'.

    std::uint64_t countBelow(double value) const;
    // Return the number of entries strictly less than the specified 'value'.

    std::vector<std::pair<double, std::uint64_t>> runs() const;
    // Return the distinct values in ascending order with their counts.

    std::vector<double> values() const;
    // Return every entry in ascending order.

    bool operator==(const PsexList& other) const = default;
};

} // namespace psex

#endif
