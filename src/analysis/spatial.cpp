// spatial.cpp                                                    -*-C++-*-
#include "analysis/spatial.h"

#include "analysis/lineages.h"
#include "base/contract.h"
#include "base/messagesink.h"
#include "base/threads.h"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace psex {

namespace {

// The golden-ratio increment of splitmix64: its state after k draws from a
// seed is the seed plus k of these, so any draw is reached at once.
constexpr std::uint64_t k_goldenGamma = 0x9E3779B97F4A7C15;

// Return an index in [0, m) from the 64-bit draw 'x': floor(x m / 2^64).
std::uint64_t randomIndex(std::uint64_t x, std::uint64_t m) {
    __extension__ using Wide = unsigned __int128;
    return static_cast<std::uint64_t>((static_cast<Wide>(x) * m) >> 64);
}

} // namespace

double largestSquaredDistance(const std::vector<SamplePoint>& points,
                              const std::vector<std::uint32_t>& members) {
    PSEX_ASSERT(members.size() >= 2);
    // A pair that reaches the largest distance must reach the largest pair
    // of the extreme samples (leftmost, rightmost, lowest, highest), a
    // distance that some pair has.  A sample that cannot reach it even to
    // the farthest corner of the members' box is in no such pair: it is
    // left out, and only the pairs of the others are compared.  The corner
    // bound is taken with a margin far above the rounding of a squared
    // distance (a few units in the last place), so that the largest
    // computed q is found exactly as among all pairs.
    std::vector<std::uint32_t> extremes(4, members.front());
    for (const std::uint32_t i : members) {
        const SamplePoint& p = points[i];
        extremes[0] = p.x < points[extremes[0]].x ? i : extremes[0];
        extremes[1] = p.x > points[extremes[1]].x ? i : extremes[1];
        extremes[2] = p.y < points[extremes[2]].y ? i : extremes[2];
        extremes[3] = p.y > points[extremes[3]].y ? i : extremes[3];
    }
    double reached = 0.0;
    for (std::size_t a = 0; a < extremes.size(); ++a) {
        for (std::size_t b = a + 1; b < extremes.size(); ++b) {
            reached = std::max(reached, squaredDistance(points[extremes[a]], points[extremes[b]]));
        }
    }
    const double minX = points[extremes[0]].x;
    const double maxX = points[extremes[1]].x;
    const double minY = points[extremes[2]].y;
    const double maxY = points[extremes[3]].y;
    constexpr double k_margin = 1.0 + 1e-9;
    std::vector<std::uint32_t> candidates;
    for (const std::uint32_t i : members) {
        const SamplePoint& p = points[i];
        const double dx = std::max(p.x - minX, maxX - p.x);
        const double dy = std::max(p.y - minY, maxY - p.y);
        const double xx = dx * dx;
        const double yy = dy * dy;
        if (!((xx + yy) * k_margin < reached)) {
            candidates.push_back(i);
        }
    }
    double farthest = 0.0;
    for (std::size_t a = 0; a < candidates.size(); ++a) {
        for (std::size_t b = a + 1; b < candidates.size(); ++b) {
            farthest =
                std::max(farthest, squaredDistance(points[candidates[a]], points[candidates[b]]));
        }
    }
    return farthest;
}

double squaredDistance(const SamplePoint& first, const SamplePoint& second) {
    const double dx = first.x - second.x;
    const double dy = first.y - second.y;
    const double xx = dx * dx;
    const double yy = dy * dy;
    return xx + yy;
}

NearestNeighbours::NearestNeighbours(const std::vector<SamplePoint>& located, unsigned threads,
                                     std::uint64_t budget) {
    // Samples in fixed blocks, each block's lists found on whichever thread
    // takes it and joined in block order: the same lists on any number of
    // threads.  A sample's list is kept while it is found only up to a few
    // entries; a sample with more ties at its smallest distance is looked
    // at again once that distance is known, so that the memory is the
    // lists themselves.
    constexpr std::size_t k_samplesPerBlock = 256;
    constexpr std::size_t k_keptWhileSearching = 64;
    const std::size_t n = located.size();
    const std::size_t blockCount = (n + k_samplesPerBlock - 1) / k_samplesPerBlock;
    struct Block {
        std::vector<std::uint32_t> counts;
        std::vector<std::uint32_t> neighbours;
    };
    std::vector<Block> blocks(blockCount);
    std::atomic<std::size_t> next{0};
    std::atomic<std::uint64_t> entries{0};
    std::atomic<bool> stop{false};
    runOnThreads(
        threads,
        [&](unsigned) {
            for (;;) {
                const std::size_t block = next.fetch_add(1);
                if (block >= blockCount || stop.load()) {
                    return;
                }
                Block& mine = blocks[block];
                const std::size_t end = std::min(n, (block + 1) * k_samplesPerBlock);
                for (std::size_t a = block * k_samplesPerBlock; a < end && !stop.load(); ++a) {
                    double smallest = 0.0;
                    bool any = false;
                    std::uint64_t ties = 0;
                    const std::size_t first = mine.neighbours.size();
                    for (std::size_t b = 0; b < n; ++b) {
                        if (b == a) {
                            continue;
                        }
                        const double q = squaredDistance(located[a], located[b]);
                        if (!any || q < smallest) {
                            smallest = q;
                            any = true;
                            ties = 1;
                            mine.neighbours.resize(first);
                            mine.neighbours.push_back(static_cast<std::uint32_t>(b));
                        } else if (q == smallest) {
                            ++ties;
                            if (ties <= k_keptWhileSearching) {
                                mine.neighbours.push_back(static_cast<std::uint32_t>(b));
                            }
                        }
                    }
                    if (entries.fetch_add(ties) + ties > budget) {
                        stop = true;
                        return;
                    }
                    if (ties > k_keptWhileSearching) {
                        mine.neighbours.resize(first);
                        for (std::size_t b = 0; b < n; ++b) {
                            if (b != a && squaredDistance(located[a], located[b]) == smallest) {
                                mine.neighbours.push_back(static_cast<std::uint32_t>(b));
                            }
                        }
                    }
                    mine.counts.push_back(static_cast<std::uint32_t>(ties));
                }
            }
        },
        [&] { stop = true; });
    if (entries.load() > budget) {
        d_complete = false;
        d_neighbours.push_back(0);
        return;
    }
    d_offsets.reserve(n + 1);
    d_offsets.push_back(0);
    d_neighbours.reserve(static_cast<std::size_t>(entries.load()));
    for (Block& block : blocks) {
        for (const std::uint32_t count : block.counts) {
            d_offsets.push_back(d_offsets.back() + count);
        }
        d_neighbours.insert(d_neighbours.end(), block.neighbours.begin(), block.neighbours.end());
        std::vector<std::uint32_t>().swap(block.counts);
        std::vector<std::uint32_t>().swap(block.neighbours);
    }
    if (d_neighbours.empty()) {
        d_neighbours.push_back(0); // so that begin() and end() have an address
    }
}

double neighbourShare(const NearestNeighbours& neighbours,
                      const std::vector<std::uint32_t>& units) {
    const std::size_t n = neighbours.size();
    PSEX_ASSERT(n > 0 && units.size() == n);
    std::vector<std::uint64_t> byCount(n, 0); // S_c, c below n
    std::vector<bool> seen(n, false);
    for (std::size_t i = 0; i < n; ++i) {
        std::uint64_t same = 0;
        for (const std::uint32_t* j = neighbours.begin(i); j != neighbours.end(i); ++j) {
            same += units[*j] == units[i] ? 1 : 0;
        }
        byCount[neighbours.count(i)] += same;
        seen[neighbours.count(i)] = true;
    }
    double total = 0.0;
    for (std::size_t c = 1; c < n; ++c) {
        if (seen[c]) {
            total += static_cast<double>(byCount[c]) / static_cast<double>(c);
        }
    }
    return total / static_cast<double>(n);
}

std::uint64_t shuffleDraws(std::size_t located) {
    return located > 1 ? located - 1 : 0;
}

UnitSpatial unitSpatial(const std::vector<SamplePoint>& points,
                        const std::vector<std::uint32_t>& unitOfSample, std::uint32_t unitCount,
                        const NearestNeighbours* neighbours, std::int32_t permutations,
                        std::uint64_t streamPosition, unsigned threads) {
    PSEX_ASSERT(points.size() == unitOfSample.size());
    UnitSpatial result;
    result.units.assign(unitCount, UnitPlaces());
    // The located samples of each unit, so that only pairs within a unit
    // are compared for its subrange.
    std::vector<std::vector<std::uint32_t>> locatedOfUnit(unitCount);
    std::vector<std::uint32_t> locatedUnits;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const std::uint32_t unit = unitOfSample[i];
        PSEX_ASSERT(unit >= 1 && unit <= unitCount);
        ++result.units[unit - 1].samples;
        if (points[i].located) {
            ++result.units[unit - 1].located;
            locatedOfUnit[unit - 1].push_back(static_cast<std::uint32_t>(i));
            locatedUnits.push_back(unit);
        }
    }
    double sum = 0.0;
    std::uint64_t ranged = 0;
    std::uint64_t samePairs = 0;
    for (std::uint32_t u = 0; u < unitCount; ++u) {
        const std::vector<std::uint32_t>& members = locatedOfUnit[u];
        const std::uint64_t m = members.size();
        samePairs += m * (m - (m > 0 ? 1 : 0)) / 2;
        if (m < 2) {
            continue;
        }
        const double subrange = std::sqrt(largestSquaredDistance(points, members));
        result.units[u].subrange = subrange;
        result.subrangeMax = std::max(result.subrangeMax.value_or(subrange), subrange);
        sum += subrange;
        ++ranged;
    }
    if (ranged > 0) {
        result.subrangeMean = sum / static_cast<double>(ranged);
    }

    const std::uint64_t n = locatedUnits.size();
    if (neighbours == nullptr || n < 2) {
        return result;
    }
    PSEX_ASSERT(neighbours->size() == n);
    const double psg = static_cast<double>(samePairs) / static_cast<double>(n * (n - 1) / 2);
    if (psg == 1.0) {
        return result;
    }
    const double psp = neighbourShare(*neighbours, locatedUnits);
    result.aggregation = (psp - psg) / (1.0 - psg);
    if (permutations > 0) {
        // Shuffle k starts at draw streamPosition + k (n - 1), so the
        // shuffles can be shared out among threads in blocks: the count is
        // a sum, the same on any number of them.
        constexpr std::uint64_t k_block = 64;
        const std::uint64_t total = static_cast<std::uint64_t>(permutations);
        std::atomic<std::uint64_t> nextBlock{0};
        std::atomic<std::uint64_t> count{0};
        std::atomic<bool> stop{false};
        runOnThreads(
            threads,
            [&](unsigned) {
                std::vector<std::uint32_t> shuffled(n);
                for (;;) {
                    const std::uint64_t first = nextBlock.fetch_add(k_block);
                    if (first >= total || stop.load()) {
                        return;
                    }
                    std::uint64_t found = 0;
                    for (std::uint64_t k = first; k < std::min(total, first + k_block); ++k) {
                        std::uint64_t state =
                            k_spatialSeed + (streamPosition + k * (n - 1)) * k_goldenGamma;
                        // Each shuffle starts from the observed order.
                        std::copy(locatedUnits.begin(), locatedUnits.end(), shuffled.begin());
                        for (std::uint64_t i = n - 1; i >= 1; --i) {
                            const std::uint64_t t = randomIndex(splitmix64(state), i + 1);
                            std::swap(shuffled[i], shuffled[t]);
                        }
                        found += neighbourShare(*neighbours, shuffled) >= psp ? 1 : 0;
                    }
                    count += found;
                }
            },
            [&] { stop = true; });
        result.aggregationP = static_cast<double>(1 + count.load()) /
                              static_cast<double>(permutations + std::int64_t{1});
    }
    return result;
}

SpatialAnalysis analyseSpace(const MLGTable& table, const Lineages& lineages, MessageSink& messages,
                             unsigned threads, const SimulationProgress& progress) {
    SpatialAnalysis result;
    const std::vector<SamplePoint>& points = table.samplePoints();
    std::vector<SamplePoint> located;
    std::vector<std::uint32_t> locatedSamples;
    for (std::uint32_t i = 0; i < points.size(); ++i) {
        if (points[i].located) {
            located.push_back(points[i]);
            locatedSamples.push_back(i);
        }
    }
    std::optional<NearestNeighbours> neighbours;
    const std::string count = std::to_string(located.size());
    if (located.size() > k_neighbourLimit) {
        messages.error("warning: " + count + " located samples are more than the " +
                       std::to_string(k_neighbourLimit) +
                       " for which the aggregation index is computed; it is NA.");
    } else {
        neighbours.emplace(located, threads);
        if (!neighbours->complete()) {
            neighbours.reset();
            messages.error("warning: the " + count + " located samples have more than " +
                           std::to_string(k_neighbourBudget) +
                           " nearest neighbours in all (many stand at one distance); the "
                           "aggregation index is NA.");
        }
    }
    result.kinshipAnalysed = located.size() <= k_locatedLimit;
    if (!result.kinshipAnalysed) {
        messages.error("warning: " + count + " located samples are more than the " +
                       std::to_string(k_locatedLimit) +
                       " for which kinship by distance is computed; it is NA.");
    }
    const std::int32_t permutations = table.settings().spatialPermutations.value_or(0);
    const std::vector<std::uint32_t> mlgOfSample = table.mlgNumbersOfSamples();
    result.mlg = unitSpatial(points, mlgOfSample, static_cast<std::uint32_t>(table.mlgs().size()),
                             neighbours ? &*neighbours : nullptr, permutations, 0, threads);
    std::vector<std::uint32_t> genetOfSample = mlgOfSample;
    if (table.lineageDistance()) {
        for (std::uint32_t& unit : genetOfSample) {
            unit = lineages.lineageOfMlg[unit - 1];
        }
        result.mll = unitSpatial(
            points, genetOfSample, lineages.count, neighbours ? &*neighbours : nullptr,
            permutations, static_cast<std::uint64_t>(permutations) * shuffleDraws(located.size()),
            threads);
    }
    neighbours.reset();
    if (result.kinshipAnalysed) {
        const std::vector<std::uint32_t> genets = firstSamplesOfGenets(table, genetOfSample);
        const bool bounded = table.settings().distanceClasses.has_value();
        KinshipProgress counted;
        counted.report = progress;
        counted.total = kinshipPairVisits(locatedSamples.size(), bounded) +
                        kinshipPairVisits(genets.size(), bounded);
        result.kinship.push_back(
            kinshipByDistance(table, locatedSamples, "ramets", threads, &counted));
        result.kinship.push_back(kinshipByDistance(table, genets, "genets", threads, &counted));
    }
    return result;
}

} // namespace psex
