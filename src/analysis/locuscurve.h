// locuscurve.h                                                   -*-C++-*-
#ifndef PSEX_LOCUSCURVE_H
#define PSEX_LOCUSCURVE_H

// Purpose: the genotype accumulation curve: how many multilocus genotypes
// the samples show on k of the loci, for k = 1 to all of them, which tells
// whether the loci typed suffice to tell the genotypes apart.
//
// When the curve still climbs at the full set of loci, a locus more could
// split genotypes that now look like one clone; when it has levelled off
// well before, the loci resolve what there is to resolve (Arnaud-Haond et
// al. 2007).  For each k, up to R subsets of k distinct loci are taken
// (every one, in lexicographic order, when there are at most R of them;
// else R drawn at random), and on each the distinct genotypes of all
// samples are counted as MLGs are told apart: by the stored allele values,
// missing copies included.  Each k gives the least, the quartiles, the
// median, the most and the mean of its counts; the quartiles interpolate
// between the order statistics as R's default (type 7) does.
//
// The subsets are drawn from a random source of their own (splitmix64
// from "psex cur"), in order of k and then of subset, each by a partial
// Fisher-Yates on a fresh identity order of the loci (for t = 0..k-1: u = t
// + floor(x (L - t) / 2^64) for the next draw x; swap places t and u): the
// simulation's stream is untouched.
//
// On a panel of thousands of loci that is millions of subsets of thousands
// of loci each, so three things keep it within reach.  A subset's loci
// split the MLGs into groups one locus after another, and once every MLG
// is a group of its own no further locus can change the count: the count
// stops there, and a drawn subset draws no further (its shuffle touches
// only the places it swaps, not an order of all the loci).  Every drawn
// subset still takes k draws of the stream: the state after t draws is
// the seed + t times splitmix64's step, so each subset starts where the
// full drawing would have started it.  That also lets the subsets be
// shared among threads with the same counts for any number of them; the
// counts are tallied in order.  And the number of subsets over all k is
// known at the start, so a long curve shows its progress.

#include "base/progress.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace psex {

class MLGTable;

constexpr std::uint64_t k_curveSeed = 0x7073657820637572; // "psex cur"

struct CurvePoint {
    // The MLG counts on the subsets of one number of loci.

    std::uint32_t loci = 0;    // k
    std::uint64_t subsets = 0; // the subsets counted
    std::uint64_t least = 0;
    double lowerQuartile = 0;
    double median = 0;
    double upperQuartile = 0;
    std::uint64_t most = 0;
    double mean = 0;
};

std::vector<CurvePoint> locusCurve(const MLGTable& table, std::uint32_t wanted,
                                   unsigned threads = 1, const SimulationProgress& progress = {});
// Return the accumulation curve of the specified 'table' from at most the
// specified number of 'wanted' subsets of loci per number of loci, one
// point per number from 1 to the number of loci, counted on the optionally
// specified number of 'threads' (0: as many as there are cores; the result
// is the same for any number), telling the optionally specified 'progress'
// how many of all the subsets are counted.

void visitCurveSubsets(std::uint32_t loci, std::uint32_t size, std::uint32_t wanted,
                       std::uint64_t& state,
                       const std::function<void(const std::vector<std::uint32_t>&)>& visit);
// Call the specified 'visit' with each subset of the specified 'size' of
// the specified number of 'loci' that the curve counts: every one in
// lexicographic order when there are at most 'wanted' of them, else
// 'wanted' drawn from the splitmix64 'state' (which advances).  One subset
// is held at a time.

std::uint64_t genotypesOn(const MLGTable& table, const std::vector<std::uint32_t>& loci);
// Return the number of distinct genotypes of the samples of the specified
// 'table' on the specified 'loci' alone.

double typeSevenQuantile(const std::vector<std::uint64_t>& counts, std::uint64_t total, double p);
// Return the quantile 'p' of the 'total' values whose histogram is the
// specified 'counts' ('counts[v]' values equal v), as R's default: h = (m -
// 1) p, x[floor h] when h is whole or x[floor h] = x[ceil h], else (1 - (h -
// floor h)) x[floor h] + (h - floor h) x[ceil h].  The behaviour is undefined
// unless 'total' is the sum of 'counts' and at least 1.

} // namespace psex

#endif
