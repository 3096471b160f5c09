// summary.h                                                      -*-C++-*-
#ifndef PSEX_SUMMARY_H
#define PSEX_SUMMARY_H

// Purpose: the tidy summary of a run: one row per statistic and unit, from
// one list of the statistics.
//
// The summary gives the clonal richness and diversity figures (diversity.h)
// for the distinct genotypes (unit "mlg") and for the lineages (unit "mll",
// the same as the genotypes without MLLDISTANCE), and for the genotypes
// also what the simulations say: the number of chance repeats, the
// thresholds with their realized levels, and the genets at the family-wise
// 5 % level.  Every row comes from the list 'summaryStatistics': a new
// statistic is one entry there (a figure of diversity.h is one entry of its
// own list, which this list takes whole), and the README's table of the
// summary names every statistic of the list (a test reads both).

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace psex {

class MLGTable;
struct Figure;
struct Lineages;
struct SpatialAnalysis;

struct SummaryUnit {
    // What the rows of one unit are computed from.

    const MLGTable& table;                   // the finished table, judged by simulation
    const std::vector<Figure>& figures;      // the diversity figures of the unit's sizes
    const std::vector<std::uint32_t>& sizes; // the samples of each unit, in table order
};

struct SummaryStatistic {
    // One statistic of the summary.

    std::string name; // the 'statistic' cell
    bool forLineages; // given for the lineages (unit "mll") as for the MLGs (unit "mlg")
    std::function<std::string(const SummaryUnit&)> value; // the 'value' cell
    bool (*given)(const MLGTable& table) = nullptr;
    // Whether the row is written for a table: always when empty; an
    // analysis that a header key switches on has rows only with its key.
};

struct Rarefaction {
    // The expected number of units in a random subsample, and its standard
    // error.

    double expected = 0;
    double standardError = 0;
};

Rarefaction rarefaction(const std::vector<std::uint32_t>& sizes, std::uint64_t subsample);
// Return the number of units expected among the specified 'subsample' of
// samples drawn without replacement from units of the specified 'sizes'
// (Heck, van Belle and Simberloff 1975): with N the samples and q(s) =
// C(N - s, n) / C(N, n) (a long double product of n quotients, rounded to
// double; 0 when N - s < n), the sum over units of 1 - q(N_i), and the
// square root of sum_i q_i (1 - q_i) + 2 sum_{i<j} (q(N_i + N_j) - q_i q_j)
// (0 when that is negative).  The units are taken grouped by their size,
// ascending, so that the pairs cost the square of the distinct sizes, not
// of the units.  Exactly 1 and 0 at n = 1, and the number of units and 0
// at n = N.  The behaviour is undefined unless 1 <= 'subsample' <= N.

const std::vector<SummaryStatistic>& summaryStatistics();
// Return the statistics of the summary, in the order of its rows.

void writeSummary(const MLGTable& table, const Lineages& lineages, std::ostream& out,
                  const SpatialAnalysis* spatial = nullptr);
// Write the tidy summary of the specified finished 'table' and its
// 'lineages': a header row "statistic,unit,value", then one row per
// statistic of 'summaryStatistics' for the MLGs (unit "mlg"), then one row
// per statistic given for lineages (unit "mll").  With the optionally
// specified 'spatial' statistics (a table with coordinates), each unit's
// rows are followed by subrange_max, subrange_mean, aggregation_Ac and
// aggregation_p, and the kinship rows sp, kinship_slope and
// kinship_first_class of units "ramets" and "genets" come last.  A value
// that is not defined is "NA"; numbers read back exactly.

} // namespace psex

#endif
