// spatial.h                                                      -*-C++-*-
#ifndef PSEX_SPATIAL_H
#define PSEX_SPATIAL_H

// Purpose: where the clones are: how far each genet reaches (its clonal
// subrange) and whether the ramets of a genet stand together more than
// chance would place them (the aggregation index Ac with its permutation
// test), after Arnaud-Haond et al. (2007), for the samples whose
// coordinates were read ("located" samples).
//
// Distances are Euclidean: d = sqrt(dx dx + dy dy) in double, and two
// distances are compared by their squares q = dx dx + dy dy, so that ties
// are exact.  A unit is a group of samples numbered from 1 (an MLG, or an
// MLL with MLLDISTANCE).
//
// - The subrange of a unit is the largest distance between two of its
//   located samples (none with fewer than two).
// - Ac = (Psp - Psg) / (1 - Psg).  Psp: for each located sample, its
//   nearest located neighbours are all those at the smallest distance;
//   the share of them in its own unit, averaged over the located samples
//   (the shares summed by number of neighbours, as the index's authors'
//   R package computes it).  Psg: the share of all pairs of located
//   samples that are in one unit.  Undefined with fewer than two located
//   samples or when every pair is in one unit (Psg = 1).
// - The permutation test shuffles the units among the located samples P
//   times, each a Fisher-Yates shuffle of the observed order drawn from
//   splitmix64 started at 'k_spatialSeed' (n - 1 draws a shuffle, the
//   draw x giving the index floor(x (i + 1) / 2^64)), and counts the
//   shuffles whose Psp is at least the observed one (Psg does not change):
//   p = (1 + count) / (P + 1).
//
// The nearest neighbours are found by comparing every pair of located
// samples, on threads: time in the square of their number, memory in
// proportion to the number of neighbours (the samples, unless many stand at
// one distance from one sample; beyond 'k_neighbourBudget' of them Ac is
// not computed).  The shuffles are shared among threads in blocks; shuffle
// k starts at draw k (n - 1) of the stream, so the count is the same on any
// number of threads.

#include "analysis/kinship.h"
#include "model/mlgtable.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace psex {

constexpr std::uint64_t k_spatialSeed = 0x7073657820737061; // "psex spa"

constexpr std::size_t k_locatedLimit = 20000;
// The most located samples for which the kinship by distance is computed:
// its passes over every pair take time in the square of their number times
// the loci (about a minute at this number and ten loci on two cores).

constexpr std::size_t k_neighbourLimit = 100000;
// The most located samples for which the aggregation index is computed:
// finding the nearest neighbours compares every pair.

constexpr std::uint64_t k_neighbourBudget = 8000000;
// The most nearest-neighbour entries (4 bytes each) kept for the
// aggregation index: ties can make them many (all samples at one place:
// n (n - 1)); beyond it the index is not computed.

struct UnitPlaces {
    // The place figures of one unit.

    std::uint32_t samples = 0;      // samples of the unit
    std::uint32_t located = 0;      // of which located
    std::optional<double> subrange; // largest distance between two located ones
};

struct UnitSpatial {
    // The spatial statistics of one kind of unit (MLGs or MLLs).

    std::vector<UnitPlaces> units;      // by unit number
    std::optional<double> subrangeMax;  // the largest subrange
    std::optional<double> subrangeMean; // the mean of the subranges, in unit order
    std::optional<double> aggregation;  // Ac
    std::optional<double> aggregationP; // its permutation p-value (with P > 0)
};

class NearestNeighbours {
    // The nearest located neighbours of every located sample: all those at
    // the smallest squared distance.  A value type.

    std::vector<std::uint32_t> d_offsets; // sample i's neighbours: [d_offsets[i], d_offsets[i+1])
    std::vector<std::uint32_t> d_neighbours; // indices among the located samples
    bool d_complete = true;                  // within the budget

  public:
    explicit NearestNeighbours(const std::vector<SamplePoint>& located, unsigned threads = 1,
                               std::uint64_t budget = k_neighbourBudget);
    // Find the nearest neighbours among the specified 'located' points on
    // the specified number of 'threads' (0: every core the process may use;
    // the lists do not depend on it), keeping at most 'budget' entries: with
    // more, none is kept and 'complete()' is false.  An exception thrown on
    // any thread stops them all and is thrown again here.

    bool complete() const { return d_complete; }

    std::size_t size() const { return d_offsets.empty() ? 0 : d_offsets.size() - 1; }
    const std::uint32_t* begin(std::size_t i) const { return &d_neighbours[0] + d_offsets[i]; }
    const std::uint32_t* end(std::size_t i) const { return &d_neighbours[0] + d_offsets[i + 1]; }
    std::uint32_t count(std::size_t i) const { return d_offsets[i + 1] - d_offsets[i]; }
};

double neighbourShare(const NearestNeighbours& neighbours, const std::vector<std::uint32_t>& units);
// Return Psp: for each located sample i, c_i neighbours of which s_i are in
// its unit (the specified 'units', one per located sample); S_c the sum of
// s_i over the samples with c neighbours; (sum over c ascending of S_c / c)
// / n.  The behaviour is undefined unless 'units' has one entry per sample
// of 'neighbours' and there is at least one.

double squaredDistance(const SamplePoint& first, const SamplePoint& second);
// Return dx dx + dy dy of the specified points (no fused multiply-add).

double largestSquaredDistance(const std::vector<SamplePoint>& points,
                              const std::vector<std::uint32_t>& members);
// Return the largest squared distance between two of the specified
// 'members' (indices into 'points'), exactly as comparing every pair gives
// it, but comparing only the pairs of the members that could reach it: in
// a cloud of samples, those near the corners of its box.  The behaviour is
// undefined unless there are two members or more.

UnitSpatial unitSpatial(const std::vector<SamplePoint>& points,
                        const std::vector<std::uint32_t>& unitOfSample, std::uint32_t unitCount,
                        const NearestNeighbours* neighbours, std::int32_t permutations,
                        std::uint64_t streamPosition, unsigned threads = 1);
// Return the spatial statistics of 'unitCount' units from the specified
// 'points' of every sample and the 'unitOfSample' (from 1) of each: the
// subranges always; Ac only when 'neighbours' (of the located samples, in
// sample order) is given; its p-value from 'permutations' shuffles, drawn
// from splitmix64 at 'k_spatialSeed' after 'streamPosition' draws, on the
// specified number of 'threads' (0: as many as the process may use cores;
// the result does not depend on it).  An exception thrown on any thread
// stops them all and is thrown again here.

std::uint64_t shuffleDraws(std::size_t located);

struct Lineages;
class MessageSink;

struct SpatialAnalysis {
    // Everything a run with coordinates says about where its clones are.

    UnitSpatial mlg;                   // MLGs
    std::optional<UnitSpatial> mll;    // MLLs, when MLLDISTANCE forms lineages
    bool kinshipAnalysed = false;      // within 'k_locatedLimit'
    std::vector<KinshipLevel> kinship; // ramets, then genets (when 'kinshipAnalysed')
};

SpatialAnalysis analyseSpace(const MLGTable& table, const Lineages& lineages, MessageSink& messages,
                             unsigned threads = 1, const SimulationProgress& progress = {});
// Return the spatial statistics of the specified 'table', whose samples
// come with coordinates, and its 'lineages' (formed when the table has
// MLLDISTANCE): MLG permutations first, then MLL permutations on the same
// stream.  Beyond 'k_locatedLimit' located samples the kinship, and beyond
// 'k_neighbourLimit' or 'k_neighbourBudget' neighbour entries Ac, are left
// undefined and 'messages' says so.  Everything runs on the specified
// number of 'threads' (0: every core the process may use), with the same
// result on any number; the optionally specified 'progress' is told how
// many of the kinship's pair visits are done.
// Return the draws that one shuffle of the specified number of 'located'
// samples takes (n - 1, none for 0 or 1).

} // namespace psex

#endif
