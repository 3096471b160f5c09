// linkage.h                                                      -*-C++-*-
#ifndef PSEX_LINKAGE_H
#define PSEX_LINKAGE_H

// Purpose: the index of association I_A and its standardised form rbarD,
// with a permutation test: whether the loci of a table are in linkage
// disequilibrium, as clonal reproduction leaves them.
//
// Under sexual reproduction the loci are shuffled independently from one
// generation to the next, so the number of allele copies in which two
// samples differ at one locus says nothing about another.  Clones carry
// whole multilocus genotypes, and then pairs that differ at one locus tend
// to differ at the others too: the variance of the total distance D over
// all pairs exceeds the sum of the loci's variances.  For each locus j and
// pair of samples, d_j is the number of allele copies in which the two
// differ (as lineages count it); D = sum_j d_j; V_D and var_j are the
// variances over the P = n (n - 1) / 2 pairs (divided by P).  Then
//   I_A   = V_D / sum_j var_j - 1                    (Brown, Feldman and
//           Nevo 1980; Maynard Smith et al. 1993)
//   rbarD = (V_D - sum_j var_j) / (2 sum_{j<k} sqrt(var_j var_k))
//           (Agapow and Burt 2001), which does not grow with the number of
//           loci;
// both undefined with fewer than two samples or fewer than two loci that
// vary.
//
// The sums behind them are exact integers: S1_j and S2_j (the sums over
// pairs of d_j and d_j^2), S1 and S2 (of D and D^2), so that P S2_j - S1_j^2
// and P S2 - S1^2 are exact before they become doubles.  They are had
// without visiting every pair: two genotypes of a locus share as many copies
// as they have "features" in common (feature (a, r): at least r copies of
// allele a), so the shared copies s_j of a pair are a dot product of 0/1
// vectors, and the sum over pairs of s_j s_k is the sum, over the pairs of
// features (one at j, one at k), of C(m, 2), m the samples that hold both.
// With d = ploidy - s that gives every sum in n L^2 steps against n^2 L for
// the pairs; the cheaper of the two is used.
//
// The permutation test shuffles each locus's genotypes among the samples
// independently, P times, which destroys any association and keeps every
// locus's own variance: a permuted I_A (and rbarD) is at least the observed
// one exactly when its S2 is at least the observed S2, an integer
// comparison, so both get one p-value, (1 + count) / (P + 1).  The shuffles
// come from a random source of their own (splitmix64 from "psex ld "), whose
// state after t draws is known at once, so the permutations are shared among
// threads with the same result for any number of them.

#include "base/progress.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace psex {

class MLGTable;

__extension__ typedef __int128 LinkageInteger;
// The exact integers of the analysis (sums over pairs and their products).

constexpr std::uint64_t k_linkageSeed = 0x70736578206C6420; // "psex ld "

struct AssociationSums {
    // The exact sums over the pairs of a set of samples.

    std::uint64_t pairs = 0;                    // P = n (n - 1) / 2
    std::vector<LinkageInteger> locusSum;       // S1_j: sum over pairs of d_j
    std::vector<LinkageInteger> locusSquareSum; // S2_j: sum over pairs of d_j^2
    LinkageInteger sum = 0;                     // S1: sum over pairs of D
    LinkageInteger squareSum = 0;               // S2: sum over pairs of D^2
};

struct AssociationIndices {
    // I_A and rbarD, when defined.

    std::optional<double> ia;
    std::optional<double> rbarD;
};

AssociationIndices associationIndices(const AssociationSums& sums);
// Return I_A and rbarD from the specified exact 'sums': with Nj = P S2_j -
// S1_j^2 and N_D = P S2 - S1^2, var_j = double(Nj) / (double(P) double(P)),
// I_A = double(N_D) / double(sum Nj) - 1 and rbarD = double(N_D - sum Nj) /
// (double(P) double(P)) / (2 sum_{j<k} sqrt(var_j var_k)), the sum taken in
// double with j outer and k inner, both ascending.  Neither is defined with
// fewer than two samples or fewer than two loci of Nj > 0.

class LinkageSamples {
    // The genotypes of the samples analysed, locus by locus as codes of the
    // distinct genotypes there, with the features of each code.

    // DATA
    std::uint32_t d_ploidy;
    std::uint32_t d_loci;
    std::uint32_t d_samples;
    std::vector<std::vector<std::uint32_t>> d_codes;    // per locus, per sample
    std::vector<std::vector<std::int32_t>> d_alleles;   // per locus, per code: 'ploidy' alleles
    std::vector<std::vector<std::uint32_t>> d_features; // per locus, per code: 'ploidy' features
    std::vector<std::uint32_t> d_featureCounts;         // per locus
    AssociationSums d_observed;

    // PRIVATE ACCESSORS
    bool pairsAreCheaper() const;
    // Return whether S2 is had with fewer steps pair by pair than from the
    // feature counts.

  public:
    // CREATORS
    LinkageSamples(std::int32_t ploidy, std::uint32_t loci,
                   const std::vector<const std::int32_t*>& genotypes);
    // Create the set of the specified 'genotypes', each 'loci' x 'ploidy'
    // allele values (locus-major, every copy typed, diploid pairs in
    // ascending order), in the order given.

    // ACCESSORS
    std::uint32_t samples() const { return d_samples; }
    std::uint32_t loci() const { return d_loci; }

    const AssociationSums& sums() const { return d_observed; }
    // Return the exact sums of the samples as they are.

    LinkageInteger squareSumByFeatures(const std::vector<std::vector<std::uint32_t>>& orders) const;
    LinkageInteger squareSumByPairs(const std::vector<std::vector<std::uint32_t>>& orders) const;
    // Return S2 when sample s carries at locus j the genotype of sample
    // 'orders[j][s]', from the counts of feature pairs or pair by pair (the
    // two agree).  The behaviour is undefined unless each of 'orders' (one
    // per locus) is a permutation of the samples.

    std::uint64_t countAtLeastObserved(std::uint32_t permutations, std::uint64_t firstDraw,
                                       unsigned threads = 0,
                                       const SimulationProgress& progress = {}) const;
    // Return how many of the specified number of 'permutations' give an S2
    // at least the observed one.  Permutation r starts at draw 'firstDraw' +
    // r L (n - 1) of splitmix64 from 'k_linkageSeed'; it shuffles locus 0,
    // then 1, ..., each from the identity order by Fisher-Yates (for i = n -
    // 1 down to 1: t = floor(x (i + 1) / 2^64) for the next draw x, swap
    // places i and t).  The permutations are shared among the specified
    // number of 'threads' (0: as many as the process may use cores); the
    // count does not depend on it.  The optionally specified 'progress' is
    // told, on the calling thread, how many of them are done.
};

std::vector<std::vector<std::uint32_t>> linkageShuffle(std::uint32_t loci, std::uint32_t samples,
                                                       std::uint64_t firstDraw);
// Return the orders of one permutation of the specified number of 'samples'
// at each of 'loci' loci, from the draws of splitmix64 from 'k_linkageSeed'
// starting at 'firstDraw', as 'countAtLeastObserved' makes them.

struct LinkageRow {
    // One row of the linkage file.

    std::uint64_t samples = 0; // analysed
    std::uint64_t leftOut = 0; // samples (or MLGs) with a missing copy
    AssociationIndices indices;
    std::optional<double> pValue; // of I_A and of rbarD alike
};

struct Linkage {
    // The analysis of all samples typed at every copy and of the first of
    // them of each MLG.

    std::uint32_t loci = 0;
    std::uint32_t permutations = 0;
    LinkageRow all;
    LinkageRow cloneCorrected;
};

Linkage linkageAnalysis(const MLGTable& table, std::uint32_t permutations, unsigned threads = 0,
                        const SimulationProgress& progress = {});
// Return I_A, rbarD and their p-values from the specified number of
// 'permutations' for the samples of the specified 'table' typed at every
// copy of every locus (in data-file order), and for the first of them of
// each MLG (in the order of those first samples).  The permutations of the
// first set start at draw 0, those of the second right after all of the
// first's (at P L max(n - 1, 0), n the samples of the first set).  They run
// on the specified number of 'threads' (0: as many as the process may use
// cores); the result does not depend on it.  The optionally specified
// 'progress' is told, on the calling thread, how many of the permutations
// of both sets are done, last with all of them.

} // namespace psex

#endif
