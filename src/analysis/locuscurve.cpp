// locuscurve.cpp                                                 -*-C++-*-
#include "analysis/locuscurve.h"

#include "analysis/lineages.h"
#include "base/contract.h"
#include "base/threads.h"
#include "model/mlgtable.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <map>
#include <numeric>

namespace psex {

namespace {

__extension__ typedef unsigned __int128 Wide;

constexpr std::uint64_t k_gamma = 0x9E3779B97F4A7C15; // splitmix64's step

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

// Make 'subset' (of 'size' of 'loci') the next one in lexicographic order
// and return true, or return false when it is the last.
bool advanceSubset(std::vector<std::uint32_t>& subset, std::uint32_t loci) {
    const auto size = static_cast<std::uint32_t>(subset.size());
    std::uint32_t i = size;
    while (i > 0 && subset[i - 1] == loci - size + i - 1) {
        --i;
    }
    if (i == 0) {
        return false;
    }
    ++subset[i - 1];
    for (std::uint32_t t = i; t < size; ++t) {
        subset[t] = subset[t - 1] + 1;
    }
    return true;
}

// Set 'subset' to the subset of 'size' of 'loci' at the 0-based 'rank' in
// lexicographic order, there being at most 'limit' of them.  Each place
// takes the smallest locus whose subsets (those beginning so) reach past
// the rank; every count asked for is at most C(loci, size), within 'limit'.
void subsetAtRank(std::uint32_t loci, std::uint32_t size, std::uint64_t rank, std::uint64_t limit,
                  std::vector<std::uint32_t>& subset) {
    subset.resize(size);
    std::uint32_t locus = 0;
    for (std::uint32_t t = 0; t < size; ++t, ++locus) {
        if (t + 1 == size) {
            // One subset begins with each locus left.
            subset[t] = locus + static_cast<std::uint32_t>(rank);
            return;
        }
        while (true) {
            const std::uint64_t beginning = subsetsUpTo(loci - 1 - locus, size - 1 - t, limit);
            if (rank < beginning) {
                break;
            }
            rank -= beginning;
            ++locus;
        }
        subset[t] = locus;
    }
}

class PartialShuffle {
    // The partial Fisher-Yates shuffle of the loci that draws a subset: the
    // order of the loci as the swaps so far have left it, with the places
    // they touched, so that it is made the identity again at the cost of
    // the swaps rather than of all the loci.

    // DATA
    std::vector<std::uint32_t> d_order;
    std::vector<std::uint32_t> d_touched;

  public:
    explicit PartialShuffle(std::uint32_t loci) : d_order(loci) {
        std::iota(d_order.begin(), d_order.end(), 0u);
    }

    std::uint32_t take(std::uint32_t place, std::uint64_t draw) {
        // Swap the specified 'place' with a place from it to the end chosen
        // by 'draw', and return the locus that 'place' then holds for good.
        const auto loci = static_cast<std::uint32_t>(d_order.size());
        const auto other = place + static_cast<std::uint32_t>((Wide(draw) * (loci - place)) >> 64);
        std::swap(d_order[place], d_order[other]);
        d_touched.push_back(place);
        d_touched.push_back(other);
        return d_order[place];
    }

    void restart() {
        for (const std::uint32_t place : d_touched) {
            d_order[place] = place;
        }
        d_touched.clear();
    }
};

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

class Grouping {
    // The MLGs split into groups locus by locus, each group by its code at
    // the next locus, a group numbered by the first MLG that founds it, so
    // that a locus costs one pass over the MLGs.  Once every MLG is a group
    // of its own, no further locus can split one: the count is final.

    // DATA
    const LocusCodes* d_codes; // borrowed
    std::size_t d_mlgs;
    std::uint64_t d_groups = 0;
    std::vector<std::uint32_t> d_labels;              // per MLG: its group
    std::vector<std::uint32_t> d_table;               // (group, code) -> new group
    std::vector<std::uint64_t> d_touched;             // the cells set, per MLG
    std::map<std::uint64_t, std::uint32_t> d_founded; // when the table would be too large

  public:
    Grouping(const LocusCodes& codes, std::size_t mlgs)
        : d_codes(&codes), d_mlgs(mlgs), d_touched(mlgs) {}

    void start() {
        // Take all MLGs as one group (none when there are none).
        d_labels.assign(d_mlgs, 0);
        d_groups = d_mlgs == 0 ? 0 : 1;
    }

    bool complete() const { return d_groups == d_mlgs; }
    std::uint64_t groups() const { return d_groups; }

    void refine(std::uint32_t locus);
    // Split the groups by their MLGs' genotypes at the specified 'locus'.
};

void Grouping::refine(std::uint32_t locus) {
    if (d_mlgs == 0) {
        return;
    }
    constexpr std::uint32_t k_none = 0xFFFFFFFF;
    constexpr std::uint64_t k_tableCells = 1u << 22;
    const std::uint64_t width = d_codes->counts[locus];
    const std::vector<std::uint32_t>& code = d_codes->codes[locus];
    std::uint32_t next = 0;
    if (d_groups * width <= k_tableCells) {
        if (d_table.size() < d_groups * width) {
            d_table.resize(d_groups * width, k_none);
        }
        // The cells set are cleared afterwards: all of the table when it
        // is small against the MLGs, else only those the MLGs name, so
        // that a locus costs the MLGs, not the cells.
        const bool sweep = d_groups * width <= 4 * d_mlgs;
        for (std::size_t m = 0; m < d_mlgs; ++m) {
            const std::uint64_t cell = d_labels[m] * width + code[m];
            std::uint32_t& label = d_table[cell];
            if (label == k_none) {
                label = next++;
            }
            d_labels[m] = label;
            if (!sweep) {
                d_touched[m] = cell;
            }
        }
        if (sweep) {
            std::fill(d_table.begin(), d_table.begin() + std::ptrdiff_t(d_groups * width), k_none);
        } else {
            for (const std::uint64_t cell : d_touched) {
                d_table[cell] = k_none;
            }
        }
    } else {
        d_founded.clear();
        for (std::size_t m = 0; m < d_mlgs; ++m) {
            d_labels[m] = d_founded.emplace(d_labels[m] * width + code[m], next).first->second;
            next = static_cast<std::uint32_t>(d_founded.size());
        }
    }
    d_groups = next;
}

// Return the number of genotypes of 'grouping''s MLGs on the subset of
// 'size' loci drawn by 'shuffle' from the draws that 'state' gives, drawing
// no further than the count needs.
std::uint64_t genotypesOnDrawn(Grouping& grouping, PartialShuffle& shuffle, std::uint32_t size,
                               std::uint64_t state) {
    grouping.start();
    for (std::uint32_t t = 0; t < size && !grouping.complete(); ++t) {
        grouping.refine(shuffle.take(t, splitmix64(state)));
    }
    shuffle.restart();
    return grouping.groups();
}

std::uint64_t genotypesOnListed(Grouping& grouping, const std::vector<std::uint32_t>& loci) {
    grouping.start();
    for (std::size_t t = 0; t < loci.size() && !grouping.complete(); ++t) {
        grouping.refine(loci[t]);
    }
    return grouping.groups();
}

struct CurveSize {
    // How the subsets of one number of loci are had.

    std::uint64_t subsets = 0;   // counted
    bool listed = false;         // every one, in lexicographic order
    std::uint64_t firstDraw = 0; // drawn: the stream position of the first
};

struct CurveChunk {
    // Consecutive subsets of one number of loci, counted by one thread.

    std::uint32_t size = 0;   // loci per subset
    std::uint64_t first = 0;  // the rank (listed) or number (drawn) of the first
    std::uint64_t count = 0;  // subsets
    std::uint64_t offset = 0; // of the first count in the window's counts
};

constexpr std::uint64_t k_chunkSubsets = 32;       // subsets taken at a time by a thread
constexpr std::uint64_t k_windowSubsets = 1 << 20; // counts held at a time

} // namespace

void visitCurveSubsets(std::uint32_t loci, std::uint32_t size, std::uint32_t wanted,
                       std::uint64_t& state,
                       const std::function<void(const std::vector<std::uint32_t>&)>& visit) {
    PSEX_ASSERT(size >= 1 && size <= loci && wanted >= 1);
    std::vector<std::uint32_t> subset(size);
    if (fewSubsets(loci, size, wanted)) {
        std::iota(subset.begin(), subset.end(), 0u);
        do {
            visit(subset);
        } while (advanceSubset(subset, loci));
        return;
    }
    PartialShuffle shuffle(loci);
    for (std::uint32_t r = 0; r < wanted; ++r) {
        for (std::uint32_t t = 0; t < size; ++t) {
            subset[t] = shuffle.take(t, splitmix64(state));
        }
        shuffle.restart();
        visit(subset);
    }
}

std::uint64_t genotypesOn(const MLGTable& table, const std::vector<std::uint32_t>& loci) {
    const LocusCodes codes = locusCodesOf(table);
    Grouping grouping(codes, table.mlgs().size());
    return genotypesOnListed(grouping, loci);
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

std::vector<CurvePoint> locusCurve(const MLGTable& table, std::uint32_t wanted, unsigned threads,
                                   const SimulationProgress& progress) {
    const std::uint32_t loci = table.locusCount();
    const std::size_t mlgs = table.mlgs().size();
    std::vector<CurvePoint> curve;
    if (mlgs <= 1) {
        // No subset of loci can tell fewer than two MLGs apart: each finds
        // them all, and none need be drawn.
        for (std::uint32_t k = 1; k <= loci; ++k) {
            CurvePoint point;
            point.loci = k;
            point.subsets = std::min<std::uint64_t>(subsetsUpTo(loci, k, wanted), wanted);
            point.least = point.most = mlgs;
            point.lowerQuartile = point.median = point.upperQuartile = point.mean = double(mlgs);
            curve.push_back(point);
        }
        return curve;
    }

    // Which subsets each number of loci counts, and where in the stream
    // the first drawn one begins: the draws go in order of k, then of
    // subset, k to a subset, whether or not a count needs them all.
    std::vector<CurveSize> sizes(std::size_t(loci) + 1);
    std::uint64_t total = 0;
    std::uint64_t draws = 0; // modulo 2^64, as the state is
    for (std::uint32_t k = 1; k <= loci; ++k) {
        CurveSize& size = sizes[k];
        size.listed = fewSubsets(loci, k, wanted);
        size.subsets = size.listed ? subsetsUpTo(loci, k, wanted) : wanted;
        if (!size.listed) {
            size.firstDraw = draws;
            draws += std::uint64_t(wanted) * k;
        }
        total += size.subsets;
    }

    PSEX_ASSERT(mlgs <= std::numeric_limits<std::uint32_t>::max()); // a count fits its cell
    const LocusCodes codes = locusCodesOf(table);
    std::vector<std::uint64_t> histogram(mlgs + 1, 0);
    CurvePoint point;
    std::uint64_t sum = 0;
    const auto tally = [&](std::uint32_t k, std::uint64_t count) {
        point.loci = k;
        ++histogram[count];
        sum += count;
        if (++point.subsets < sizes[k].subsets) {
            return;
        }
        point.least = static_cast<std::uint64_t>(orderStatistic(histogram, 0));
        point.most = static_cast<std::uint64_t>(orderStatistic(histogram, point.subsets - 1));
        point.lowerQuartile = typeSevenQuantile(histogram, point.subsets, 0.25);
        point.median = typeSevenQuantile(histogram, point.subsets, 0.5);
        point.upperQuartile = typeSevenQuantile(histogram, point.subsets, 0.75);
        point.mean = double(sum) / double(point.subsets);
        curve.push_back(point);
        point = CurvePoint();
        sum = 0;
        std::fill(histogram.begin(), histogram.end(), 0);
    };

    // The subsets are counted a window at a time, the window's chunks
    // shared among the threads, each count kept at its place and tallied
    // in order afterwards, so that the result does not depend on which
    // thread counted what.
    std::uint32_t k = 1;
    std::uint64_t rank = 0; // of the next subset of k
    std::uint64_t done = 0;
    std::vector<CurveChunk> chunks;
    std::vector<std::uint32_t> counts;
    while (k <= loci) {
        chunks.clear();
        std::uint64_t window = 0;
        while (k <= loci && window < k_windowSubsets) {
            CurveChunk chunk;
            chunk.size = k;
            chunk.first = rank;
            // A listed piece begins by finding its first subset from its
            // rank, which takes up to (loci + k) k steps: a piece is made
            // as long, so that the finding does not outweigh the counting.
            const std::uint64_t piece =
                sizes[k].listed
                    ? std::clamp(std::uint64_t(loci) * k, k_chunkSubsets, k_windowSubsets)
                    : k_chunkSubsets;
            chunk.count = std::min(piece, sizes[k].subsets - rank);
            chunk.offset = window;
            chunks.push_back(chunk);
            window += chunk.count;
            rank += chunk.count;
            if (rank == sizes[k].subsets) {
                ++k;
                rank = 0;
            }
        }
        counts.assign(window, 0);
        std::atomic<std::size_t> next{0};
        std::atomic<std::uint64_t> finished{done};
        std::atomic<bool> stop{false};
        runOnThreads(
            threads,
            [&](unsigned thread) {
                Grouping grouping(codes, mlgs);
                PartialShuffle shuffle(loci);
                std::vector<std::uint32_t> subset;
                for (std::size_t c = next++; c < chunks.size() && !stop; c = next++) {
                    const CurveChunk& chunk = chunks[c];
                    const CurveSize& size = sizes[chunk.size];
                    if (size.listed) {
                        subsetAtRank(loci, chunk.size, chunk.first, wanted, subset);
                        for (std::uint64_t i = 0; i < chunk.count; ++i) {
                            if (i > 0) {
                                advanceSubset(subset, loci);
                            }
                            counts[chunk.offset + i] =
                                static_cast<std::uint32_t>(genotypesOnListed(grouping, subset));
                        }
                    } else {
                        for (std::uint64_t i = 0; i < chunk.count; ++i) {
                            const std::uint64_t position =
                                size.firstDraw + (chunk.first + i) * chunk.size;
                            counts[chunk.offset + i] = static_cast<std::uint32_t>(genotypesOnDrawn(
                                grouping, shuffle, chunk.size, k_curveSeed + position * k_gamma));
                        }
                    }
                    const std::uint64_t now = finished += chunk.count;
                    if (thread == 0 && progress) {
                        progress(now, total);
                    }
                }
            },
            [&] { stop = true; });
        for (const CurveChunk& chunk : chunks) {
            for (std::uint64_t i = 0; i < chunk.count; ++i) {
                tally(chunk.size, counts[chunk.offset + i]);
            }
        }
        done += window;
    }
    return curve;
}

} // namespace psex
