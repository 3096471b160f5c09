// summary.cpp                                                    -*-C++-*-
#include "reports/summary.h"

#include "analysis/lineages.h"
#include "analysis/spatial.h"
#include "model/diversity.h"
#include "model/mlgtable.h"
#include "model/significance.h"
#include "reports/reports.h"

#include "base/contract.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <ostream>

namespace psex {

namespace {

const char k_notAvailable[] = "NA";

// Return the figures of the clonal richness block and the diversity indices
// of units of the specified sizes, in this order.
std::vector<Figure> figuresOf(const std::vector<std::uint32_t>& unitSizes) {
    std::vector<Figure> figures = clonalRichnessFigures(unitSizes);
    const std::vector<Figure> indices = diversityFigures(unitSizes);
    figures.insert(figures.end(), indices.begin(), indices.end());
    return figures;
}

std::string cellOf(const Figure& figure) {
    return figure.isCount ? std::to_string(static_cast<std::uint64_t>(figure.value))
                          : shortestNumber(figure.value);
}

// The number of genets when only the repeats shown to be clonal at the
// family-wise 5 % level count as one: every MLG, and each further sample
// of a repeated MLG whose family-wise level is 'ns'.
std::uint64_t genetsAtFamilywise5(const MLGTable& table) {
    std::uint64_t genets = table.mlgs().size();
    for (const MLGTuple& mlg : table.mlgs()) {
        if (mlg.sampleCount() > 1 && familywiseLevel(mlg.familywisePvalue()) == "ns") {
            genets += mlg.sampleCount() - 1;
        }
    }
    return genets;
}

std::vector<SummaryStatistic> makeSummaryStatistics() {
    std::vector<SummaryStatistic> statistics;
    // The figures of diversity.h, for genotypes and lineages alike; their
    // names do not depend on the sizes.
    const std::vector<Figure> figures = figuresOf({});
    for (std::size_t i = 0; i < figures.size(); ++i) {
        statistics.push_back({figures[i].name, true,
                              [i](const SummaryUnit& unit) { return cellOf(unit.figures[i]); }});
    }
    statistics.push_back({"simulated_repeats", false, [](const SummaryUnit& unit) {
                              return std::to_string(unit.table.psexValues().size());
                          }});
    // Without a single chance repeat no threshold exists.
    for (const ReportedLevel& level : k_reportedLevels) {
        const double alpha = level.level;
        statistics.push_back(
            {std::string("threshold_") + level.text, false, [alpha](const SummaryUnit& unit) {
                 const PsexList& simulated = unit.table.psexValues();
                 return simulated.empty() ? std::string(k_notAvailable)
                                          : shortestNumber(significanceThreshold(simulated, alpha));
             }});
        statistics.push_back(
            {std::string("realized_level_") + level.text, false, [alpha](const SummaryUnit& unit) {
                 const PsexList& simulated = unit.table.psexValues();
                 return simulated.empty()
                            ? std::string(k_notAvailable)
                            : shortestNumber(realizedSignificanceLevel(simulated, alpha));
             }});
    }
    statistics.push_back({"genets_0.05", false, [](const SummaryUnit& unit) {
                              return std::to_string(genetsAtFamilywise5(unit.table));
                          }});
    // RAREFY: richness in a subsample of n, to compare sites of different
    // sizes; undefined when n exceeds the samples.
    const auto rarefied = [](const SummaryUnit& unit) -> std::optional<Rarefaction> {
        const std::uint64_t n =
            static_cast<std::uint64_t>(*unit.table.settings().rarefiedSampleSize);
        std::uint64_t samples = 0;
        for (const std::uint32_t size : unit.sizes) {
            samples += size;
        }
        return n <= samples ? std::optional(rarefaction(unit.sizes, n)) : std::nullopt;
    };
    const auto rarefying = [](const MLGTable& table) {
        return table.settings().rarefiedSampleSize.has_value();
    };
    statistics.push_back({"emlg", true,
                          [rarefied](const SummaryUnit& unit) {
                              const std::optional<Rarefaction> value = rarefied(unit);
                              return value ? shortestNumber(value->expected)
                                           : std::string(k_notAvailable);
                          },
                          rarefying});
    statistics.push_back({"emlg_se", true,
                          [rarefied](const SummaryUnit& unit) {
                              const std::optional<Rarefaction> value = rarefied(unit);
                              return value ? shortestNumber(value->standardError)
                                           : std::string(k_notAvailable);
                          },
                          rarefying});
    return statistics;
}

// The sizes of the lineages: the samples of their MLGs.
std::vector<std::uint32_t> lineageSizes(const MLGTable& table, const Lineages& lineages) {
    std::vector<std::uint32_t> sizes(lineages.count, 0);
    for (std::size_t m = 0; m < table.mlgs().size(); ++m) {
        sizes[lineages.lineageOfMlg[m] - 1] += table.mlgs()[m].sampleCount();
    }
    return sizes;
}

void writeRows(const MLGTable& table, const std::vector<std::uint32_t>& unitSizes,
               const char* unitName, bool lineageRows, std::ostream& out) {
    const std::vector<Figure> figures = figuresOf(unitSizes);
    const SummaryUnit unit{table, figures, unitSizes};
    for (const SummaryStatistic& statistic : summaryStatistics()) {
        if ((!lineageRows || statistic.forLineages) &&
            (statistic.given == nullptr || statistic.given(table))) {
            out << statistic.name << ',' << unitName << ',' << statistic.value(unit) << '\n';
        }
    }
}

std::string numberOrNA(const std::optional<double>& value) {
    return value ? shortestNumber(*value) : std::string(k_notAvailable);
}

void writePlaceRows(const UnitSpatial& spatial, const char* unitName, std::ostream& out) {
    out << "subrange_max," << unitName << ',' << numberOrNA(spatial.subrangeMax) << '\n'
        << "subrange_mean," << unitName << ',' << numberOrNA(spatial.subrangeMean) << '\n'
        << "aggregation_Ac," << unitName << ',' << numberOrNA(spatial.aggregation) << '\n'
        << "aggregation_p," << unitName << ',' << numberOrNA(spatial.aggregationP) << '\n';
}

void writeKinshipRows(const SpatialAnalysis& spatial, std::ostream& out) {
    for (const char* level : {"ramets", "genets"}) {
        KinshipLevel figures;
        for (const KinshipLevel& analysed : spatial.kinship) {
            if (analysed.level == level) {
                figures = analysed;
            }
        }
        out << "sp," << level << ',' << numberOrNA(figures.sp) << '\n'
            << "kinship_slope," << level << ',' << numberOrNA(figures.slope) << '\n'
            << "kinship_first_class," << level << ',' << numberOrNA(figures.firstClass) << '\n';
    }
}

} // namespace

Rarefaction rarefaction(const std::vector<std::uint32_t>& sizes, std::uint64_t subsample) {
    std::map<std::uint64_t, std::uint64_t> bySize; // size -> units of that size
    std::uint64_t samples = 0;
    for (const std::uint32_t size : sizes) {
        ++bySize[size];
        samples += size;
    }
    PSEX_ASSERT(subsample >= 1 && subsample <= samples);
    const std::uint64_t n = subsample;
    if (n == 1) {
        return {1.0, 0.0};
    }
    if (n == samples) {
        return {double(sizes.size()), 0.0};
    }
    // q(s) = C(N - s, n) / C(N, n): the chance that a unit of s samples is
    // missed by the subsample, = prod_{t<n} (N - s - t) / (N - t) =
    // prod_{i<s} (N - n - i) / (N - i), whichever has fewer factors, in long
    // double.  Each value is made once: the arguments are the sizes and the
    // sums of two sizes, so a few thousand at most whatever N is.
    std::map<std::uint64_t, double> known;
    const auto missed = [&](std::uint64_t s) {
        if (s > samples || samples - s < n) {
            return 0.0;
        }
        const auto found = known.find(s);
        if (found != known.end()) {
            return found->second;
        }
        long double product = 1.0L;
        if (s < n) {
            for (std::uint64_t i = 0; i < s; ++i) {
                product *= static_cast<long double>(samples - n - i) /
                           static_cast<long double>(samples - i);
            }
        } else {
            for (std::uint64_t t = 0; t < n; ++t) {
                product *= static_cast<long double>(samples - s - t) /
                           static_cast<long double>(samples - t);
            }
        }
        return known[s] = static_cast<double>(product);
    };
    std::vector<std::pair<std::uint64_t, std::uint64_t>> groups(bySize.begin(), bySize.end());
    std::vector<double> q;
    for (const auto& [size, count] : groups) {
        q.push_back(missed(size));
    }
    Rarefaction result;
    double variance = 0.0;
    for (std::size_t x = 0; x < groups.size(); ++x) {
        const double units = double(groups[x].second);
        result.expected += units * (1.0 - q[x]);
        variance += units * (q[x] * (1.0 - q[x]));
    }
    double pairs = 0.0;
    for (std::size_t x = 0; x < groups.size(); ++x) {
        for (std::size_t y = x; y < groups.size(); ++y) {
            const std::uint64_t count = groups[x].second;
            const double times = x == y ? double(count) * double(count - 1) / 2.0
                                        : double(count) * double(groups[y].second);
            if (times > 0) {
                pairs += times * (missed(groups[x].first + groups[y].first) - q[x] * q[y]);
            }
        }
    }
    variance += 2.0 * pairs;
    result.standardError = std::sqrt(std::max(variance, 0.0));
    return result;
}

const std::vector<SummaryStatistic>& summaryStatistics() {
    static const std::vector<SummaryStatistic> statistics = makeSummaryStatistics();
    return statistics;
}

void writeSummary(const MLGTable& table, const Lineages& lineages, std::ostream& out,
                  const SpatialAnalysis* spatial) {
    const ClassicLocale classic(out);
    out << "statistic,unit,value\n";
    writeRows(table, table.mlgSizes(), "mlg", false, out);
    if (spatial != nullptr) {
        writePlaceRows(spatial->mlg, "mlg", out);
    }
    writeRows(table, lineageSizes(table, lineages), "mll", true, out);
    if (spatial != nullptr) {
        // Without lineages an MLL is its MLG.
        writePlaceRows(spatial->mll ? *spatial->mll : spatial->mlg, "mll", out);
        writeKinshipRows(*spatial, out);
    }
    out.flush();
}

} // namespace psex
