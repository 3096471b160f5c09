// lineages.h                                                     -*-C++-*-
#ifndef PSEX_LINEAGES_H
#define PSEX_LINEAGES_H

// Purpose: join genotypes that differ by a scoring error or a somatic
// mutation into multilocus lineages (MLLs), and show the distances that
// sexual reproduction makes, against which a joining threshold is chosen.
//
// Exact matching splits one genet whose ramets were scored differently at
// an allele or two, and so inflates G and R.  The distance of two MLGs is
// the number of allele copies in which they differ, locus by locus: at a
// diploid locus 2 minus the number of alleles the two genotypes share
// (counting repeats: 12/14 against 12/12 shares one), at a haploid locus 0
// or 1; loci at which either genotype has a missing copy are left out.  MLGs
// at a distance of at most k (MLLDISTANCE) are linked, and a lineage is a
// group of MLGs connected by links (single linkage): A and C are one lineage
// when A-B and B-C are within k, however far A is from C.  Average and
// farthest-neighbour linkage join them step by step instead
// (lineageclustering.h).  k = 0 joins nothing.  Lineages are numbered in the
// order of their first MLG.
//
// To choose k, the observed distances are set beside two references: pairs
// of full siblings (two parents drawn among the observed MLGs, each
// offspring taking one random allele from each parent at each locus) and
// pairs of unrelated genotypes drawn from the allele frequencies.  A k well
// below the sibling distances joins only what sex is unlikely to produce.
// The references come from a random source of their own (splitmix64 from a
// fixed seed): the simulation's stream, and so every PSex result, is the
// same whether lineages are formed or not.
//
// All pairs of G genotypes are compared (G (G - 1) / 2 pairs, by
// pairdistances.h, in vector lanes); for single linkage memory grows with G,
// not with its square, and the pairs are shared among the cores.

#include "analysis/lineageclustering.h"
#include "base/progress.h"

#include <cstdint>
#include <vector>

namespace psex {

class MLGTable;
class MLGTuple;

struct Lineages {
    // The lineages of a table's MLGs and the distances between its MLGs.

    std::vector<std::uint32_t> lineageOfMlg;  // lineage number (from 1) of each MLG, table order
    std::uint32_t count = 0;                  // number of lineages
    std::vector<std::uint64_t> observedPairs; // pairs of MLGs by distance (empty when not formed)
    bool tooManyForMethod = false; // the method's pair table would not fit: one MLG per lineage
};

struct ReferenceDistances {
    // Pairs of simulated genotypes by distance.

    std::vector<std::uint64_t> siblingPairs;
    std::vector<std::uint64_t> unrelatedPairs;
};

std::uint32_t genotypeDistance(const MLGTable& table, const MLGTuple& first,
                               const MLGTuple& second);
// Return the number of allele copies in which the specified genotypes of
// 'table' differ, over the loci typed in both.

Lineages formLineages(const MLGTable& table, std::int32_t maxDistance, unsigned threads = 0,
                      const SimulationProgress& progress = {});
// Return the lineages of the MLGs of the specified 'table' at the specified
// 'maxDistance' k, and the number of MLG pairs at every distance from 0 to
// the largest one seen.  The pairs are compared on the specified number of
// 'threads' (0: as many as the process may use cores, see threads.h); the
// result does not depend on it.  The optionally specified 'progress' is told, on the
// calling thread, how many of the G (G - 1) / 2 pairs are compared, last
// with all of them.  An exception thrown on any thread (an allocation that
// fails) stops them all and is thrown again here.

Lineages formLineages(const MLGTable& table, std::int32_t maxDistance, LineageMethod method,
                      unsigned threads = 0, const SimulationProgress& progress = {});
// Return the lineages of the MLGs of the specified 'table' formed by the
// specified 'method' at the specified 'maxDistance' k (lineageclustering.h),
// as the overload above does for NEAREST.  k = 0 joins nothing whatever the
// method.  A table of more MLGs than 'largestClusteredTable' allows for
// AVERAGE or FARTHEST gets one lineage per MLG (and the distances of its
// pairs) with 'tooManyForMethod' set: the caller tells why
// ('methodTooLargeMessage').

Lineages singletonLineages(const MLGTable& table);
// Return one lineage per MLG, numbered as the MLGs: the lineages of a run
// without MLLDISTANCE.

std::uint64_t splitmix64(std::uint64_t& state);
// Advance the specified 'state' and return the next number of the splitmix64
// sequence (Steele, Lea and Flood 2014).

constexpr std::uint64_t k_referenceSeed = 0x7073657820726566; // "psex ref"

ReferenceDistances referenceDistances(const MLGTable& table, std::uint64_t pairs);
// Return the distances of the specified number of 'pairs' of full siblings
// and of as many pairs of unrelated genotypes, drawn for the MLGs and the
// allele frequencies of the specified 'table' from splitmix64 started at
// 'k_referenceSeed': first every sibling pair (parents i and j as
// x mod G for two numbers x; then for each offspring and each locus, per
// parent one number whose lowest bit picks the copy: diploid, the first
// parent's copy then the second's; haploid, one number whose lowest bit
// picks the parent), then every unrelated pair (each genotype locus by
// locus, one number x per copy, u = (x >> 11) * 2^-53 choosing the allele
// by walking the frequencies as the simulation does; a copy that gets no
// allele is missing).

} // namespace psex

#endif
