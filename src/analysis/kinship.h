// kinship.h                                                      -*-C++-*-
#ifndef PSEX_KINSHIP_H
#define PSEX_KINSHIP_H

// Purpose: how relatedness falls with distance: the kinship coefficient of
// Loiselle et al. (1995) for pairs of located samples, its means over
// distance classes, and the Sp statistic of Vekemans and Hardy (2004).
//
// For samples i and j, over the loci l where both are typed (no copy
// missing) and alleles a of l in ascending order:
//   F_ij = sum [(x_ia - p_a)(x_ja - p_a) + p_a (1 - p_a) / (n_l - 1)]
//          / sum p_a (1 - p_a),
// x_ia the share of i's copies that are a, p_a the frequency of a among the
// n_l copies of the set's samples typed at l; a locus with n_l < 2 is left
// out, and F is undefined when the denominator is 0.  The set is either all
// located samples (ramets) or one located sample per genet (genets), each
// with its own frequencies.
//
// Pairs are put in distance classes: ten of equal counts (pairs sorted by
// squared distance, then by the samples' order; the first P mod 10 classes
// take one more), or classes up to given bounds (d_{c-1} < d <= d_c).  The
// slope b is the least-squares slope of F_ij on ln d_ij over the pairs with
// d > 0 and F defined; F1 the mean kinship of the first class; Sp =
// -b / (1 - F1).
//
// No pair is held: the memory is in proportion to the samples.  The ends of
// the classes of equal counts are found by counting passes over the pairs
// (a radix selection on the bits of the squared distances, which order
// like the values; ties at an end are split by the pairs' (i, j) order,
// which is the order they are visited in), then one pass computes each F
// and adds it to its class and to the slope's means, and one more the
// slope's centred sums.  The pairs are visited in fixed blocks of rows
// whose sums are added in block order, so the figures are the same on any
// number of threads; the time is in n^2 times the loci.

#include "base/progress.h"
#include "model/mlgtable.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace psex {

struct KinshipClass {
    // One distance class of a set.

    std::uint64_t pairs = 0;            // every pair of the class
    std::optional<double> maxDistance;  // the largest distance of its pairs
    std::optional<double> meanDistance; // mean distance of its pairs with a defined F
    std::optional<double> kinship;      // mean F of those pairs
};

struct KinshipLevel {
    // Kinship by distance for one set of samples.

    std::string level;                 // "ramets" or "genets"
    std::vector<KinshipClass> classes; // in order
    std::optional<double> slope;       // b
    std::optional<double> firstClass;  // F1
    std::optional<double> sp;          // -b / (1 - F1)
};

class KinshipSet {
    // The allele frequencies of a set of samples, locus by locus, and the
    // Loiselle kinship of two of its samples.  A value type.

    // With P the ploidy, n the copies of a locus, N_a the copies of allele
    // a, Q = sum N_a^2, M the pairs of copies (one of each sample) that are
    // one allele and W_i = sum of N_a over i's copies, a locus adds to the
    // numerator
    //   sum (x_i - p)(x_j - p) + sum p (1 - p) / (n - 1)
    //     = [(n - 1)(n^2 M - n P (W_i + W_j) + P^2 Q) + P^2 (n^2 - Q)]
    //       / (P^2 n^2 (n - 1)),
    // a whole number over a whole number.  So a pair takes a few integer
    // operations a locus, however many alleles it has, and the loci that
    // share n (all of them without missing copies) are added exactly and
    // divided once: the figure is the exact one, rounded once.

    __extension__ using Wide = __int128;

    struct LocusTerms {
        std::int64_t constant = 0;  // (n - 1) P^2 Q + P^2 (n^2 - Q)
        std::int64_t perMatch = 0;  // (n - 1) n^2
        std::int64_t perWeight = 0; // (n - 1) n P
        double variance = 0.0;      // sum p (1 - p) = (n^2 - Q) / n^2
        std::uint32_t group = 0;    // index of its n among the loci's distinct ones
        bool used = false;          // n >= 2
    };

    std::int32_t d_ploidy;
    std::vector<LocusTerms> d_loci;
    std::vector<double> d_scales;           // per group, P^2 n^2 (n - 1)
    std::vector<std::uint32_t> d_byGroup;   // the used loci, group by group
    std::vector<std::uint32_t> d_groupEnds; // end of each group in 'd_byGroup'
    std::vector<std::int32_t> d_memberOf;   // member index of every sample of the table, or -1
    std::vector<std::int32_t> d_copies;     // per member and locus, the allele of each copy;
                                            // -1 where the member is not typed there
    std::vector<std::uint32_t> d_weights;   // per member and locus, W_i (fewer than 2^32)

  public:
    KinshipSet(const MLGTable& table, const std::vector<std::uint32_t>& members);
    // Count the allele copies of the specified 'members' (sample indices of
    // 'table') at each locus.  The behaviour is undefined unless there are
    // fewer than 2^18 members (a locus term then fits 63 bits).

    std::optional<double> kinship(std::uint32_t first, std::uint32_t second) const;
    // Return F of the specified samples (members), or nothing where it is
    // undefined.
};

struct KinshipProgress {
    // How far the passes over the pairs of one or more sets are: pairs
    // visited of all the passes together.

    SimulationProgress report;          // told (done, total) on the calling thread
    std::uint64_t total = 0;            // 'kinshipPairVisits' of every set
    std::atomic<std::uint64_t> done{0}; // pairs visited so far
};

std::uint64_t kinshipPairVisits(std::size_t members, bool bounded);
// Return the pairs that 'kinshipByDistance' visits, over all its passes, for
// the specified number of 'members', with bounds (SPATIALCLASSES) when the
// specified 'bounded' is true, else with classes of equal counts.

KinshipLevel kinshipByDistance(const MLGTable& table, const std::vector<std::uint32_t>& members,
                               const std::string& level, unsigned threads = 1,
                               KinshipProgress* progress = nullptr);
// Return the kinship by distance of the specified 'members' (indices of
// located samples of 'table', in data-file order), named 'level', with the
// table's distance classes (SPATIALCLASSES, else ten of equal counts), on
// the specified number of 'threads' (0: every core the process may use;
// the result does not depend on it), counting the pairs it visits in the
// optionally specified 'progress'.  An exception thrown on any thread stops
// them all and is thrown again here.

std::vector<std::uint32_t> firstSamplesOfGenets(const MLGTable& table,
                                                const std::vector<std::uint32_t>& genetOfSample);
// Return the first located sample of each genet, in data-file order, given
// the genet of every sample.

} // namespace psex

#endif
