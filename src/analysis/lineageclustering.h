// lineageclustering.h                                            -*-C++-*-
#ifndef PSEX_LINEAGECLUSTERING_H
#define PSEX_LINEAGECLUSTERING_H

// Purpose: join MLGs into lineages by average or farthest-neighbour linkage,
// the alternatives to single linkage that clonal studies also report.
//
// Single linkage (NEAREST, lineages.h) chains genotypes: a ramet with a
// failed locus, at distance 0 from its clone and 1 from another, merges two
// clones that differ by much more.  AVERAGE and FARTHEST join lineages step
// by step instead: every MLG starts as a lineage of its own, numbered by its
// place in the table; at each step the two lineages a < b whose linkage is
// smallest are merged (into the number a, the smaller one), as long as that
// linkage is at most k.  The linkage of two lineages is
//   AVERAGE   the mean distance of their MLGs, pair by pair: the sum of the
//             distances over the number of MLG pairs, compared exactly (the
//             sums and counts cross-multiplied, never rounded quotients);
//   FARTHEST  the largest distance of an MLG of one to an MLG of the other.
// Equal linkages go to the pair (a, b) that comes first (a first, then b).
//
// Both need the distance of every pair of MLGs while they merge, so their
// memory grows with the square of G: the pair table is kept within 256 MB
// (8 bytes a pair for AVERAGE's sums, 2 for FARTHEST's largest distances),
// which bounds the number of MLGs; above it the method cannot be used.
//
// After a merge only the lineages whose best partner was one of the two
// need their best partner looked for again (merging never brings a
// lineage's linkage to a third below the smaller of its two linkages
// before), so a table of G MLGs takes about G^2 steps, not G^3.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace psex {

enum class LineageMethod {
    // How MLGs within the distance k (MLLDISTANCE) form lineages.

    e_nearest, // single linkage: MLGs linked by a chain of close pairs
    e_average, // average linkage: by the mean distance of their MLGs
    e_farthest // complete linkage: by the largest distance of their MLGs
};

const char* methodName(LineageMethod method);
// Return the header's name of the specified 'method': "NEAREST", "AVERAGE"
// or "FARTHEST".

constexpr std::uint64_t k_pairTableBytes = 256ull << 20;
// The memory the pair table of AVERAGE and FARTHEST may take.

std::size_t largestClusteredTable(LineageMethod method, std::uint32_t largestDistance,
                                  std::int32_t maxDistance);
// Return the largest number of MLGs that the specified 'method' can join
// at the specified 'maxDistance' k within 'k_pairTableBytes', for a table
// whose MLGs differ by at most 'largestDistance' copies.  NEAREST has no
// such bound (the largest 'std::size_t').

std::string methodTooLargeMessage(LineageMethod method, std::size_t largest);
// Return the error for a table of more than the specified 'largest' MLGs
// with the specified 'method':
// "error: MLLMETHOD=<method> needs at most <largest> genotypes; use NEAREST."

class PairTable {
    // The linkage of every pair of lineages, from the distances of every
    // pair of MLGs to the lineages that AVERAGE or FARTHEST form.

    // DATA
    LineageMethod d_method;
    std::size_t d_mlgs;
    std::int32_t d_maxDistance;          // k
    std::uint32_t d_cap;                 // FARTHEST: distances above k are kept as k + 1
    std::vector<std::uint64_t> d_sums;   // AVERAGE: per pair, the sum of MLG distances
    std::vector<std::uint16_t> d_narrow; // FARTHEST: per pair, the largest distance ...
    std::vector<std::uint32_t> d_wide;   // ... in 32 bits when 16 do not hold k + 1

  public:
    // CREATORS
    PairTable(LineageMethod method, std::size_t mlgs, std::uint32_t largestDistance,
              std::int32_t maxDistance);
    // Create the table of the specified number of 'mlgs' for the specified
    // 'method' (AVERAGE or FARTHEST) and 'maxDistance' k > 0, for MLGs that
    // differ by at most 'largestDistance' copies.  The behaviour is
    // undefined unless 'mlgs' is at most 'largestClusteredTable' of these.

    // MANIPULATORS
    void setDistance(std::uint32_t first, std::uint32_t second, std::uint32_t distance);
    // Record the 'distance' of the MLGs 'first' < 'second'.  Calls for
    // different pairs may come from different threads at once.

    std::vector<std::uint32_t> join();
    // Join the lineages step by step while the smallest linkage is at most
    // k and return, per MLG, the table index of the first MLG of its
    // lineage.  The behaviour is undefined unless every pair's distance was
    // set; the table holds linkages of lineages afterwards.
};

} // namespace psex

#endif
