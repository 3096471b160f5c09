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

    const MLGTable& table;              // the finished table, judged by simulation
    const std::vector<Figure>& figures; // the diversity figures of the unit's sizes
};

struct SummaryStatistic {
    // One statistic of the summary.

    std::string name; // the 'statistic' cell
    bool forLineages; // given for the lineages (unit "mll") as for the MLGs (unit "mlg")
    std::function<std::string(const SummaryUnit&)> value; // the 'value' cell
};

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
