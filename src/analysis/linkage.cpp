// linkage.cpp                                                    -*-C++-*-
#include "analysis/linkage.h"

#include "analysis/lineages.h"
#include "base/contract.h"
#include "base/threads.h"
#include "model/mlgtable.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <utility>

namespace psex {

namespace {

constexpr std::uint64_t k_gamma = 0x9E3779B97F4A7C15; // splitmix64's step

// Feature pairs of two loci are counted in a table of their own up to this
// many cells (16 MB); beyond it, by sorting the pairs the samples hold.
constexpr std::uint64_t k_tableCells = 1u << 22;

std::uint32_t randomIndex(std::uint64_t draw, std::uint64_t bound) {
    __extension__ typedef unsigned __int128 Wide;
    return static_cast<std::uint32_t>((Wide(draw) * bound) >> 64);
}

LinkageInteger pairsOf(std::uint64_t count) {
    return LinkageInteger(count) * LinkageInteger(count - (count > 0 ? 1 : 0)) / 2;
}

// Return the number of copies in which the genotypes 'first' and 'second'
// of 'ploidy' copies differ: the ploidy less the copies they share, each
// copy of one matched with at most one of the other.
std::uint32_t copiesApart(const std::int32_t* first, const std::int32_t* second,
                          std::uint32_t ploidy) {
    bool used[2] = {false, false};
    std::uint32_t shared = 0;
    for (std::uint32_t x = 0; x < ploidy; ++x) {
        for (std::uint32_t y = 0; y < ploidy; ++y) {
            if (!used[y] && second[y] == first[x]) {
                used[y] = true;
                ++shared;
                break;
            }
        }
    }
    return ploidy - shared;
}

// Scratch space of one thread.
struct Scratch {
    std::vector<std::uint32_t> cells;
    std::vector<std::uint64_t> keys;
};

} // namespace

AssociationIndices associationIndices(const AssociationSums& sums) {
    AssociationIndices indices;
    const LinkageInteger pairs = sums.pairs;
    if (sums.pairs == 0) {
        return indices;
    }
    std::vector<double> variances;
    LinkageInteger locusTotal = 0;
    std::uint32_t varying = 0;
    const double square = double(sums.pairs) * double(sums.pairs);
    for (std::size_t j = 0; j < sums.locusSum.size(); ++j) {
        const LinkageInteger nj =
            pairs * sums.locusSquareSum[j] - sums.locusSum[j] * sums.locusSum[j];
        locusTotal += nj;
        varying += nj > 0 ? 1 : 0;
        variances.push_back(double(nj) / square);
    }
    if (varying < 2) {
        return indices;
    }
    const LinkageInteger nd = pairs * sums.squareSum - sums.sum * sums.sum;
    double roots = 0.0;
    for (std::size_t j = 0; j < variances.size(); ++j) {
        for (std::size_t k = j + 1; k < variances.size(); ++k) {
            roots += std::sqrt(variances[j] * variances[k]);
        }
    }
    indices.ia = double(nd) / double(locusTotal) - 1.0;
    indices.rbarD = double(nd - locusTotal) / square / (2.0 * roots);
    return indices;
}

LinkageSamples::LinkageSamples(std::int32_t ploidy, std::uint32_t loci,
                               const std::vector<const std::int32_t*>& genotypes)
    : d_ploidy(static_cast<std::uint32_t>(ploidy)), d_loci(loci),
      d_samples(static_cast<std::uint32_t>(genotypes.size())), d_codes(loci), d_alleles(loci),
      d_features(loci), d_featureCounts(loci, 0) {
    PSEX_ASSERT(ploidy == 1 || ploidy == 2);
    const std::uint32_t p = d_ploidy;
    for (std::uint32_t j = 0; j < loci; ++j) {
        std::map<std::pair<std::int32_t, std::int32_t>, std::uint32_t> codes;
        std::map<std::pair<std::int32_t, std::uint32_t>, std::uint32_t> features;
        d_codes[j].reserve(d_samples);
        for (const std::int32_t* genotype : genotypes) {
            const std::int32_t* copies = genotype + std::size_t(j) * p;
            const std::pair<std::int32_t, std::int32_t> key(copies[0], p == 2 ? copies[1] : 0);
            const auto [entry, isNew] =
                codes.emplace(key, static_cast<std::uint32_t>(codes.size()));
            if (isNew) {
                // Feature (a, r): the genotype holds at least r copies of a.
                for (std::uint32_t c = 0; c < p; ++c) {
                    const std::uint32_t rank = c == 1 && copies[1] == copies[0] ? 2 : 1;
                    const auto feature =
                        features.emplace(std::make_pair(copies[c], rank),
                                         static_cast<std::uint32_t>(features.size()));
                    d_features[j].push_back(feature.first->second);
                    d_alleles[j].push_back(copies[c]);
                }
            }
            d_codes[j].push_back(entry->second);
        }
        d_featureCounts[j] = static_cast<std::uint32_t>(features.size());
    }

    // The sums of every locus from the features its samples share.
    d_observed.pairs = static_cast<std::uint64_t>(pairsOf(d_samples));
    const LinkageInteger pairs = d_observed.pairs;
    Scratch scratch;
    std::vector<std::uint32_t> held(std::size_t(d_samples) * p);
    for (std::uint32_t j = 0; j < loci; ++j) {
        std::vector<std::uint64_t> holders(d_featureCounts[j], 0);
        for (std::uint32_t s = 0; s < d_samples; ++s) {
            for (std::uint32_t c = 0; c < p; ++c) {
                const std::uint32_t f = d_features[j][std::size_t(d_codes[j][s]) * p + c];
                held[std::size_t(s) * p + c] = f;
                ++holders[f];
            }
        }
        LinkageInteger sharedSum = 0; // sum over pairs of the shared copies s_j
        for (const std::uint64_t m : holders) {
            sharedSum += pairsOf(m);
        }
        // With d = p - s: sum d = p P - sum s, sum d^2 = p^2 P - 2 p sum s +
        // sum s^2, and sum s^2 counts the pairs of features two samples
        // share, as two loci's products do.
        const LinkageInteger locusSum = LinkageInteger(p) * pairs - sharedSum;
        const LinkageInteger sharedSquares = [&] {
            LinkageInteger total = 0;
            std::vector<std::uint32_t>& cells = scratch.cells;
            const std::uint64_t width = d_featureCounts[j];
            if (width * width <= k_tableCells) {
                cells.assign(width * width, 0);
                for (std::uint32_t s = 0; s < d_samples; ++s) {
                    for (std::uint32_t x = 0; x < p; ++x) {
                        for (std::uint32_t y = 0; y < p; ++y) {
                            total += cells[held[s * p + x] * width + held[s * p + y]]++;
                        }
                    }
                }
                return total;
            }
            std::vector<std::uint64_t>& keys = scratch.keys;
            keys.clear();
            for (std::uint32_t s = 0; s < d_samples; ++s) {
                for (std::uint32_t x = 0; x < p; ++x) {
                    for (std::uint32_t y = 0; y < p; ++y) {
                        keys.push_back(held[s * p + x] * width + held[s * p + y]);
                    }
                }
            }
            std::sort(keys.begin(), keys.end());
            for (std::size_t i = 0; i < keys.size();) {
                std::size_t end = i;
                while (end < keys.size() && keys[end] == keys[i]) {
                    ++end;
                }
                total += pairsOf(end - i);
                i = end;
            }
            return total;
        }();
        d_observed.locusSum.push_back(locusSum);
        d_observed.locusSquareSum.push_back(LinkageInteger(p) * p * pairs -
                                            2 * LinkageInteger(p) * sharedSum + sharedSquares);
        d_observed.sum += locusSum;
    }
    std::vector<std::vector<std::uint32_t>> identity(loci, std::vector<std::uint32_t>(d_samples));
    for (std::vector<std::uint32_t>& order : identity) {
        for (std::uint32_t s = 0; s < d_samples; ++s) {
            order[s] = s;
        }
    }
    d_observed.squareSum =
        pairsAreCheaper() ? squareSumByPairs(identity) : squareSumByFeatures(identity);
}

bool LinkageSamples::pairsAreCheaper() const {
    // Pair by pair costs P L per table, the features 2 p^2 n per pair of
    // loci (counted and cleared).
    const double pairCost = double(d_observed.pairs) * d_loci;
    const double featureCost =
        2.0 * d_ploidy * d_ploidy * d_samples * (double(d_loci) * (d_loci + 1) / 2);
    return pairCost < featureCost;
}

LinkageInteger
LinkageSamples::squareSumByFeatures(const std::vector<std::vector<std::uint32_t>>& orders) const {
    const std::uint32_t p = d_ploidy;
    const LinkageInteger pairs = d_observed.pairs;
    // Each locus's features as the samples carry them.
    std::vector<std::vector<std::uint32_t>> held(d_loci);
    for (std::uint32_t j = 0; j < d_loci; ++j) {
        held[j].resize(std::size_t(d_samples) * p);
        for (std::uint32_t s = 0; s < d_samples; ++s) {
            const std::uint32_t code = d_codes[j][orders[j][s]];
            for (std::uint32_t c = 0; c < p; ++c) {
                held[j][std::size_t(s) * p + c] = d_features[j][std::size_t(code) * p + c];
            }
        }
    }
    // S2 = sum_j S2_j + 2 sum_{j<k} X_jk; X_jk = sum over pairs of d_j d_k
    // = p^2 P - p (p P - S1_j) - p (p P - S1_k) + sum s_j s_k.
    LinkageInteger total = 0;
    for (std::uint32_t j = 0; j < d_loci; ++j) {
        total += d_observed.locusSquareSum[j];
    }
    std::vector<std::uint32_t> cells;
    std::vector<std::uint64_t> keys;
    for (std::uint32_t j = 0; j < d_loci; ++j) {
        const LinkageInteger sharedJ = LinkageInteger(p) * pairs - d_observed.locusSum[j];
        for (std::uint32_t k = j + 1; k < d_loci; ++k) {
            const LinkageInteger sharedK = LinkageInteger(p) * pairs - d_observed.locusSum[k];
            const std::uint64_t width = d_featureCounts[k];
            const std::uint64_t size = std::uint64_t(d_featureCounts[j]) * width;
            const std::uint32_t* first = held[j].data();
            const std::uint32_t* second = held[k].data();
            std::uint64_t together = 0; // pairs of samples holding a feature pair
            if (size <= k_tableCells) {
                if (cells.size() < size) {
                    cells.assign(size, 0);
                }
                for (std::size_t s = 0; s < d_samples; ++s) {
                    for (std::uint32_t x = 0; x < p; ++x) {
                        const std::uint64_t row = first[s * p + x] * width;
                        for (std::uint32_t y = 0; y < p; ++y) {
                            together += cells[row + second[s * p + y]]++;
                        }
                    }
                }
                for (std::size_t s = 0; s < d_samples; ++s) {
                    for (std::uint32_t x = 0; x < p; ++x) {
                        const std::uint64_t row = first[s * p + x] * width;
                        for (std::uint32_t y = 0; y < p; ++y) {
                            cells[row + second[s * p + y]] = 0;
                        }
                    }
                }
            } else {
                keys.clear();
                for (std::size_t s = 0; s < d_samples; ++s) {
                    for (std::uint32_t x = 0; x < p; ++x) {
                        for (std::uint32_t y = 0; y < p; ++y) {
                            keys.push_back(first[s * p + x] * width + second[s * p + y]);
                        }
                    }
                }
                std::sort(keys.begin(), keys.end());
                for (std::size_t i = 0; i < keys.size();) {
                    std::size_t end = i;
                    while (end < keys.size() && keys[end] == keys[i]) {
                        ++end;
                    }
                    together += static_cast<std::uint64_t>(pairsOf(end - i));
                    i = end;
                }
            }
            total += 2 * (LinkageInteger(p) * p * pairs - LinkageInteger(p) * sharedJ -
                          LinkageInteger(p) * sharedK + together);
        }
    }
    return total;
}

LinkageInteger
LinkageSamples::squareSumByPairs(const std::vector<std::vector<std::uint32_t>>& orders) const {
    const std::uint32_t p = d_ploidy;
    // Per locus, the copies apart of every two codes, when the table is
    // small (few distinct genotypes, as at a SNP); else they are counted
    // pair by pair.
    constexpr std::size_t k_apartCells = 1u << 16;
    std::vector<std::vector<std::uint8_t>> apart(d_loci);
    std::vector<std::vector<std::uint32_t>> carried(d_loci);
    for (std::uint32_t j = 0; j < d_loci; ++j) {
        const std::size_t codes = d_alleles[j].size() / p;
        if (codes * codes <= k_apartCells) {
            apart[j].resize(codes * codes);
            for (std::size_t x = 0; x < codes; ++x) {
                for (std::size_t y = 0; y < codes; ++y) {
                    apart[j][x * codes + y] = static_cast<std::uint8_t>(
                        copiesApart(&d_alleles[j][x * p], &d_alleles[j][y * p], p));
                }
            }
        }
        carried[j].resize(d_samples);
        for (std::uint32_t s = 0; s < d_samples; ++s) {
            carried[j][s] = d_codes[j][orders[j][s]];
        }
    }
    // Sample a against every later sample at once, locus by locus.
    LinkageInteger total = 0;
    std::vector<std::uint32_t> distances;
    for (std::uint32_t a = 0; a < d_samples; ++a) {
        distances.assign(d_samples - a - 1, 0);
        for (std::uint32_t j = 0; j < d_loci; ++j) {
            const std::uint32_t* codes = carried[j].data() + a + 1;
            const std::uint32_t first = carried[j][a];
            if (!apart[j].empty()) {
                const std::size_t width = d_alleles[j].size() / p;
                const std::uint8_t* row = apart[j].data() + first * width;
                for (std::size_t b = 0; b < distances.size(); ++b) {
                    distances[b] += row[codes[b]];
                }
            } else {
                for (std::size_t b = 0; b < distances.size(); ++b) {
                    distances[b] += copiesApart(&d_alleles[j][std::size_t(first) * p],
                                                &d_alleles[j][std::size_t(codes[b]) * p], p);
                }
            }
        }
        std::uint64_t squares = 0; // at most n (p L)^2 per row: within 64 bits
        for (const std::uint32_t distance : distances) {
            squares += std::uint64_t(distance) * distance;
        }
        total += squares;
    }
    return total;
}

std::vector<std::vector<std::uint32_t>> linkageShuffle(std::uint32_t loci, std::uint32_t samples,
                                                       std::uint64_t firstDraw) {
    std::uint64_t state = k_linkageSeed + firstDraw * k_gamma;
    std::vector<std::vector<std::uint32_t>> orders(loci, std::vector<std::uint32_t>(samples));
    for (std::vector<std::uint32_t>& order : orders) {
        for (std::uint32_t s = 0; s < samples; ++s) {
            order[s] = s;
        }
        for (std::uint32_t i = samples; i-- > 1;) {
            std::swap(order[i], order[randomIndex(splitmix64(state), std::uint64_t(i) + 1)]);
        }
    }
    return orders;
}

std::uint64_t LinkageSamples::countAtLeastObserved(std::uint32_t permutations,
                                                   std::uint64_t firstDraw, unsigned threads,
                                                   const SimulationProgress& progress) const {
    if (d_samples < 2 || permutations == 0) {
        return 0;
    }
    const std::uint64_t draws = std::uint64_t(d_loci) * (d_samples - 1);
    const bool byPairs = pairsAreCheaper();
    std::atomic<std::uint64_t> next{0};
    std::atomic<std::uint64_t> count{0};
    std::atomic<std::uint64_t> done{0};
    std::atomic<bool> stop{false};
    runOnThreads(
        threads,
        [&](unsigned thread) {
            std::uint64_t mine = 0;
            for (std::uint64_t r = next++; r < permutations && !stop; r = next++) {
                const std::vector<std::vector<std::uint32_t>> orders =
                    linkageShuffle(d_loci, d_samples, firstDraw + r * draws);
                const LinkageInteger squareSum =
                    byPairs ? squareSumByPairs(orders) : squareSumByFeatures(orders);
                mine += squareSum >= d_observed.squareSum ? 1 : 0;
                const std::uint64_t finished = ++done;
                if (thread == 0 && progress) {
                    progress(finished, permutations);
                }
            }
            count += mine;
        },
        [&] { stop = true; });
    return count;
}

Linkage linkageAnalysis(const MLGTable& table, std::uint32_t permutations, unsigned threads,
                        const SimulationProgress& progress) {
    Linkage result;
    result.loci = table.locusCount();
    result.permutations = permutations;

    // The typed samples in data-file order, and the first of each MLG.
    std::vector<std::pair<std::uint32_t, const std::int32_t*>> typedSamples;
    std::vector<std::pair<std::uint32_t, const std::int32_t*>> firsts;
    std::uint64_t samples = 0;
    for (const MLGTuple& mlg : table.mlgs()) {
        samples += mlg.sampleCount();
        bool typed = true;
        for (std::uint32_t j = 0; j < table.locusCount() && typed; ++j) {
            typed = table.isTyped(mlg, j);
        }
        if (!typed || mlg.sampleNumbers().empty()) {
            continue;
        }
        for (const std::uint32_t number : mlg.sampleNumbers()) {
            typedSamples.emplace_back(number, mlg.alleles().data());
        }
        firsts.emplace_back(
            *std::min_element(mlg.sampleNumbers().begin(), mlg.sampleNumbers().end()),
            mlg.alleles().data());
    }
    std::sort(typedSamples.begin(), typedSamples.end());
    std::sort(firsts.begin(), firsts.end());

    // Both sets first, so that the permutations of both are known before
    // either is run.
    const auto samplesOf =
        [&](const std::vector<std::pair<std::uint32_t, const std::int32_t*>>& set) {
            std::vector<const std::int32_t*> genotypes;
            for (const auto& sample : set) {
                genotypes.push_back(sample.second);
            }
            return LinkageSamples(table.ploidy(), table.locusCount(), genotypes);
        };
    const LinkageSamples all = samplesOf(typedSamples);
    const LinkageSamples firstOfEach = samplesOf(firsts);
    result.all.samples = typedSamples.size();
    result.all.leftOut = samples - typedSamples.size();
    result.all.indices = associationIndices(all.sums());
    result.cloneCorrected.samples = firsts.size();
    result.cloneCorrected.leftOut = table.mlgs().size() - firsts.size();
    result.cloneCorrected.indices = associationIndices(firstOfEach.sums());

    const bool testAll = result.all.indices.ia && permutations > 0;
    const bool testFirsts = result.cloneCorrected.indices.ia && permutations > 0;
    const std::uint64_t total =
        std::uint64_t(permutations) * ((testAll ? 1 : 0) + (testFirsts ? 1 : 0));
    const auto share = [&](std::uint64_t before) -> SimulationProgress {
        if (!progress) {
            return {};
        }
        return [&progress, before, total](std::uint64_t done, std::uint64_t) {
            progress(before + done, total);
        };
    };
    const double repeats = double(std::uint64_t(permutations) + 1);
    if (testAll) {
        const std::uint64_t count = all.countAtLeastObserved(permutations, 0, threads, share(0));
        result.all.pValue = double(1 + count) / repeats;
    }
    if (testFirsts) {
        const std::uint64_t used = std::uint64_t(permutations) * table.locusCount() *
                                   (typedSamples.empty() ? 0 : typedSamples.size() - 1);
        const std::uint64_t count = firstOfEach.countAtLeastObserved(
            permutations, used, threads, share(testAll ? permutations : 0));
        result.cloneCorrected.pValue = double(1 + count) / repeats;
    }
    if (progress && total > 0) {
        progress(total, total);
    }
    return result;
}

} // namespace psex
