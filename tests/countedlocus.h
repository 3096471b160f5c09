// countedlocus.h                                                 -*-C++-*-
#ifndef PSEX_TESTS_COUNTEDLOCUS_H
#define PSEX_TESTS_COUNTEDLOCUS_H

// Purpose: make a locus with given allele frequencies for tests of the
// allele draw, from whole counts as the program makes them.

#include "model/locus.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace psex::test {

inline Locus locusWithCounts(const std::vector<std::pair<std::int32_t, int>>& counts) {
    // Return a normalized locus whose alleles were counted as the specified
    // (allele, number of copies) pairs say.
    Locus locus;
    std::uint32_t copies = 0;
    for (const auto& [allele, count] : counts) {
        for (int i = 0; i < count; ++i) {
            locus.addAllele(allele);
            ++copies;
        }
    }
    locus.computeFrequencies(copies, 1);
    return locus;
}

} // namespace psex::test

#endif
