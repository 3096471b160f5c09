// locuscurve.cpp                                                 -*-C++-*-
#include "analysis/locuscurve.h"

#include "analysis/lineages.h"
#include "base/contract.h"
#include "model/mlgtable.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>

namespace psex {

namespace {

// Return the number of subsets of 'size' of 'count' items if it is at most
// 'limit', else a number above 'limit'.
std::uint64_t subsetsUpTo(std::uint64_t count, std::uint64_t size, std::uint64_t limit) {
    std::uint64_t value = 1;
    for (std::uint64_t i = 1; i <= size; ++i) {
        value = value * (count - size + i) / i;
        if (value > limit) {
            return value;
        }
    }
    return value;
}

// Return whether there are at most 'limit' subsets of 'size' of 'count'
// items, without overflow: C(count - size + i, i) grows with i, so the
// first partial value above 'limit' settles it.
bool fewSubsets(std::uint64_t count, std::uint64_t size, std::uint64_t limit) {
    return subsetsUpTo(count, size, limit) <= limit;
}

// Return the value at the specified 0-based 'rank' of the values whose
// histogram is 'counts'.
double orderStatistic(const std::vector<std::uint64_t>& counts, std::uint64_t rank) {
    std::uint64_t seen = 0;
    for (std::size_t v = 0; v < counts.size(); ++v) {
        seen += counts[v];
        if (rank < seen) {
            return double(v);
        }
    }
    PSEX_ASSERT(false);
    return 0;
}

} // namespace

void visitCurveSubsets(std::uint32_t loci, std::uint32_t size, std::uint32_t wanted,
                       std::uint64_t& state,
                       const std::function<void(const std::vector<std::uint32_t>&)>& visit) {
    PSEX_ASSERT(size >= 1 && size <= loci && wanted >= 1);
    if (fewSubsets(loci, size, wanted)) {
        std::vector<std::uint32_t> subset(size);
        std::iota(subset.begin(), subset.end(), 0u);
        while (true) {
            visit(subset);
            std::uint32_t i = size;
            while (i > 0 && subset[i - 1] == loci - size + i - 1) {
                --i;
            }
            if (i == 0) {
                break;
            }
            ++subset[i - 1];
            for (std::uint32_t t = i; t < size; ++t) {
                subset[t] = subset[t - 1] + 1;
            }
        }
        return;
    }
    __extension__ typedef unsigned __int128 Wide;
    std::vector<std::uint32_t> index(loci);
    std::vector<std::uint32_t> subset(size);
    for (std::uint32_t r = 0; r < wanted; ++r) {
        std::iota(index.begin(), index.end(), 0u);
        for (std::uint32_t t = 0; t < size; ++t) {
            const std::uint64_t draw = splitmix64(state);
            const auto u = t + static_cast<std::uint32_t>((Wide(draw) * (loci - t)) >> 64);
            std::swap(index[t], index[u]);
        }
        std::copy(index.begin(), index.begin() + size, subset.begin());
        visit(subset);
    }
}

namespace {

// The MLGs of a table locus by locus as codes of their genotypes there.
struct LocusCodes {
    std::vector<std::vector<std::uint32_t>> codes; // per locus, per MLG
    std::vector<std::uint32_t> counts;             // per locus: the distinct codes
};

LocusCodes locusCodesOf(const MLGTable& table) {
    const std::size_t ploidy = static_cast<std::size_t>(table.ploidy());
    LocusCodes result;
    for (std::uint32_t j = 0; j < table.locusCount(); ++j) {
        std::map<std::vector<std::int32_t>, std::uint32_t> seen;
        std::vector<std::uint32_t> codes;
        codes.reserve(table.mlgs().size());
        for (const MLGTuple& mlg : table.mlgs()) {
            const auto copies = mlg.alleles().begin() + std::ptrdiff_t(j * ploidy);
            const std::vector<std::int32_t> genotype(copies, copies + std::ptrdiff_t(ploidy));
            codes.push_back(
                seen.emplace(genotype, static_cast<std::uint32_t>(seen.size())).first->second);
        }
        result.codes.push_back(std::move(codes));
        result.counts.push_back(static_cast<std::uint32_t>(seen.size()));
    }
    return result;
}

// Return the number of distinct genotypes among the MLGs coded by 'codes'
// on the specified 'loci': the MLGs are split into groups locus by locus,
// each group by its code at the next locus, a group numbered by the first
// MLG that founds it, so that a locus costs one pass over the MLGs.
std::uint64_t groupsOn(const LocusCodes& codes, const std::vector<std::uint32_t>& loci,
                       std::size_t mlgs, std::vector<std::uint32_t>& labels,
                       std::vector<std::uint32_t>& table) {
    if (mlgs == 0) {
        return 0;
    }
    constexpr std::uint32_t k_none = 0xFFFFFFFF;
    constexpr std::uint64_t k_tableCells = 1u << 22;
    labels.assign(mlgs, 0);
    std::vector<std::uint64_t> touched(mlgs);
    std::uint64_t groups = 1;
    std::map<std::uint64_t, std::uint32_t> founded; // when the table would be too large
    for (const std::uint32_t j : loci) {
        const std::uint64_t width = codes.counts[j];
        const std::vector<std::uint32_t>& code = codes.codes[j];
        std::uint32_t next = 0;
        if (groups * width <= k_tableCells) {
            if (table.size() < groups * width) {
                table.resize(groups * width, k_none);
            }
            // The cells set are cleared afterwards: all of the table when it
            // is small against the MLGs, else only those the MLGs name, so
            // that a locus costs the MLGs, not the cells.
            const bool sweep = groups * width <= 4 * mlgs;
            for (std::size_t m = 0; m < mlgs; ++m) {
                const std::uint64_t cell = labels[m] * width + code[m];
                std::uint32_t& label = table[cell];
                if (label == k_none) {
                    label = next++;
                }
                labels[m] = label;
                if (!sweep) {
                    touched[m] = cell;
                }
            }
            if (sweep) {
                std::fill(table.begin(), table.begin() + std::ptrdiff_t(groups * width), k_none);
            } else {
                for (const std::uint64_t cell : touched) {
                    table[cell] = k_none;
                }
            }
        } else {
            founded.clear();
            for (std::size_t m = 0; m < mlgs; ++m) {
                labels[m] = founded.emplace(labels[m] * width + code[m], next).first->second;
                next = static_cast<std::uint32_t>(founded.size());
            }
        }
        groups = next;
    }
    return groups;
}

} // namespace

std::uint64_t genotypesOn(const MLGTable& table, const std::vector<std::uint32_t>& loci) {
    std::vector<std::uint32_t> labels;
    std::vector<std::uint32_t> cells;
    return groupsOn(locusCodesOf(table), loci, table.mlgs().size(), labels, cells);
}

double typeSevenQuantile(const std::vector<std::uint64_t>& counts, std::uint64_t total, double p) {
    PSEX_ASSERT(total >= 1);
    const double h = double(total - 1) * p;
    const double lo = std::floor(h);
    const double hi = std::ceil(h);
    const double low = orderStatistic(counts, static_cast<std::uint64_t>(lo));
    const double high = orderStatistic(counts, static_cast<std::uint64_t>(hi));
    if (h == lo || high == low) {
        return low;
    }
    return (1.0 - (h - lo)) * low + (h - lo) * high;
}

std::vector<CurvePoint> locusCurve(const MLGTable& table, std::uint32_t wanted) {
    std::vector<CurvePoint> curve;
    std::uint64_t state = k_curveSeed;
    const std::uint32_t loci = table.locusCount();
    const LocusCodes codes = locusCodesOf(table);
    std::vector<std::uint32_t> labels;
    std::vector<std::uint32_t> cells;
    for (std::uint32_t k = 1; k <= loci; ++k) {
        // A histogram of the counts (at most the number of MLGs), so that
        // many subsets take no more memory than few.
        std::vector<std::uint64_t> histogram(table.mlgs().size() + 1, 0);
        CurvePoint point;
        point.loci = k;
        std::uint64_t sum = 0;
        if (table.mlgs().size() <= 1) {
            // No subset of loci can tell fewer than two MLGs apart: each
            // finds them all, and none need be drawn.
            point.subsets = std::min<std::uint64_t>(subsetsUpTo(loci, k, wanted), wanted);
            point.least = point.most = table.mlgs().size();
            point.lowerQuartile = point.median = point.upperQuartile = point.mean =
                double(table.mlgs().size());
            curve.push_back(point);
            continue;
        }
        visitCurveSubsets(loci, k, wanted, state, [&](const std::vector<std::uint32_t>& subset) {
            const std::uint64_t count = groupsOn(codes, subset, table.mlgs().size(), labels, cells);
            ++histogram[count];
            sum += count;
            ++point.subsets;
        });
        point.least = static_cast<std::uint64_t>(orderStatistic(histogram, 0));
        point.most = static_cast<std::uint64_t>(orderStatistic(histogram, point.subsets - 1));
        point.lowerQuartile = typeSevenQuantile(histogram, point.subsets, 0.25);
        point.median = typeSevenQuantile(histogram, point.subsets, 0.5);
        point.upperQuartile = typeSevenQuantile(histogram, point.subsets, 0.75);
        point.mean = double(sum) / double(point.subsets);
        curve.push_back(point);
    }
    return curve;
}

} // namespace psex
