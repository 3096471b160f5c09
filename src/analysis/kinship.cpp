// kinship.cpp                                                    -*-C++-*-
#include "analysis/kinship.h"

#include "analysis/spatial.h"
#include "base/contract.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <numeric>

namespace psex {

namespace {

// Return the least-squares slope of F on ln d over the pairs with d > 0 and
// F defined (the specified squared distances and kinships, NaN where
// undefined), in their order: means first, then sum (x - mx)(y - my) /
// sum (x - mx)^2; nothing with fewer than two such pairs or when every ln d
// is the same (a computed spread would then be rounding, not spread).
std::optional<double> kinshipSlope(const std::vector<double>& squares,
                                   const std::vector<double>& kinships) {
    const auto usable = [&](std::size_t k) { return squares[k] > 0.0 && !std::isnan(kinships[k]); };
    std::uint64_t m = 0;
    double sumX = 0.0;
    double sumY = 0.0;
    double firstX = 0.0;
    bool spread = false;
    for (std::size_t k = 0; k < squares.size(); ++k) {
        if (!usable(k)) {
            continue;
        }
        const double x = std::log(std::sqrt(squares[k]));
        if (m == 0) {
            firstX = x;
        }
        spread = spread || x != firstX;
        sumX += x;
        sumY += kinships[k];
        ++m;
    }
    if (m < 2 || !spread) {
        return std::nullopt;
    }
    const double meanX = sumX / static_cast<double>(m);
    const double meanY = sumY / static_cast<double>(m);
    double sxy = 0.0;
    double sxx = 0.0;
    for (std::size_t k = 0; k < squares.size(); ++k) {
        if (usable(k)) {
            const double dx = std::log(std::sqrt(squares[k])) - meanX;
            sxy += dx * (kinships[k] - meanY);
            sxx += dx * dx;
        }
    }
    if (!(sxx > 0.0)) {
        return std::nullopt;
    }
    return sxy / sxx;
}

} // namespace

KinshipSet::KinshipSet(const MLGTable& table, const std::vector<std::uint32_t>& members)
    : d_ploidy(table.ploidy()), d_loci(table.locusCount()),
      d_memberOf(table.sampleNames().size(), -1) {
    const std::vector<std::uint32_t> mlgOfSample = table.mlgNumbersOfSamples();
    const std::size_t ploidy = static_cast<std::size_t>(d_ploidy);
    const std::size_t loci = table.locusCount();
    d_copies.assign(members.size() * loci * ploidy, -1);
    for (std::size_t m = 0; m < members.size(); ++m) {
        d_memberOf[members[m]] = static_cast<std::int32_t>(m);
    }
    for (std::uint32_t l = 0; l < loci; ++l) {
        std::map<std::int32_t, std::uint64_t> counts;
        std::uint64_t copies = 0;
        for (const std::uint32_t i : members) {
            const MLGTuple& tuple = table.mlgs()[mlgOfSample[i] - 1];
            if (!table.isTyped(tuple, l)) {
                continue;
            }
            for (std::size_t k = 0; k < ploidy; ++k) {
                ++counts[tuple.allele(l, static_cast<std::int32_t>(k))];
            }
            copies += ploidy;
        }
        LocusFrequencies& locus = d_loci[l];
        if (copies < 2) {
            continue;
        }
        locus.used = true;
        std::map<std::int32_t, std::int32_t> index;
        for (const auto& [allele, count] : counts) {
            const double p = static_cast<double>(count) / static_cast<double>(copies);
            index[allele] = static_cast<std::int32_t>(locus.p.size());
            locus.p.push_back(p);
            locus.variance += p * (1.0 - p);
            locus.correction += p * (1.0 - p) / static_cast<double>(copies - 1);
            locus.squares.push_back(p * p);
        }
        for (std::size_t m = 0; m < members.size(); ++m) {
            const MLGTuple& tuple = table.mlgs()[mlgOfSample[members[m]] - 1];
            if (!table.isTyped(tuple, l)) {
                continue;
            }
            for (std::size_t k = 0; k < ploidy; ++k) {
                d_copies[(m * loci + l) * ploidy + k] =
                    index.at(tuple.allele(l, static_cast<std::int32_t>(k)));
            }
        }
    }
}

std::optional<double> KinshipSet::kinship(std::uint32_t first, std::uint32_t second) const {
    PSEX_ASSERT(d_memberOf.at(first) >= 0 && d_memberOf.at(second) >= 0);
    const std::size_t ploidy = static_cast<std::size_t>(d_ploidy);
    const std::size_t loci = d_loci.size();
    const std::int32_t* a = &d_copies[static_cast<std::size_t>(d_memberOf[first]) * loci * ploidy];
    const std::int32_t* b = &d_copies[static_cast<std::size_t>(d_memberOf[second]) * loci * ploidy];
    const double share = 1.0 / static_cast<double>(ploidy);
    double numerator = 0.0;
    double denominator = 0.0;
    for (std::size_t l = 0; l < loci; ++l, a += ploidy, b += ploidy) {
        const LocusFrequencies& locus = d_loci[l];
        if (!locus.used || a[0] < 0 || b[0] < 0) {
            continue;
        }
        // The alleles that either carries, each once, ascending.
        std::int32_t carried[4] = {a[0], b[0], -1, -1};
        if (ploidy == 2) {
            carried[2] = a[1];
            carried[3] = b[1];
        }
        std::sort(std::begin(carried), std::end(carried));
        const std::int32_t* end = std::unique(std::begin(carried), std::end(carried));
        const std::size_t count = static_cast<std::size_t>(end - carried);
        // Every allele in ascending order, as the sum is written: p^2 where
        // neither carries it, the product of the two deviations where one
        // does (the same doubles: (-p)(-p) is p p exactly).
        std::size_t next = 0;
        while (next < count && carried[next] < 0) {
            ++next; // the places a haploid pair leaves empty
        }
        double products = 0.0;
        for (std::size_t k = 0; k < locus.p.size(); ++k) {
            if (next < count && static_cast<std::size_t>(carried[next]) == k) {
                std::int32_t inA = 0;
                std::int32_t inB = 0;
                for (std::size_t c = 0; c < ploidy; ++c) {
                    inA += a[c] == carried[next] ? 1 : 0;
                    inB += b[c] == carried[next] ? 1 : 0;
                }
                const double da = static_cast<double>(inA) * share - locus.p[k];
                const double db = static_cast<double>(inB) * share - locus.p[k];
                products += da * db;
                ++next;
            } else {
                products += locus.squares[k];
            }
        }
        numerator += products + locus.correction;
        denominator += locus.variance;
    }
    if (denominator == 0.0) {
        return std::nullopt;
    }
    return numerator / denominator;
}

std::vector<std::uint32_t> firstSamplesOfGenets(const MLGTable& table,
                                                const std::vector<std::uint32_t>& genetOfSample) {
    std::vector<std::uint32_t> firsts;
    std::vector<bool> seen;
    for (std::uint32_t i = 0; i < table.samplePoints().size(); ++i) {
        if (!table.samplePoints()[i].located) {
            continue;
        }
        const std::uint32_t genet = genetOfSample[i];
        if (genet >= seen.size()) {
            seen.resize(genet + 1, false);
        }
        if (!seen[genet]) {
            seen[genet] = true;
            firsts.push_back(i);
        }
    }
    return firsts;
}

KinshipLevel kinshipByDistance(const MLGTable& table, const std::vector<std::uint32_t>& members,
                               const std::string& level) {
    KinshipLevel result;
    result.level = level;
    const KinshipSet set(table, members);
    const std::vector<SamplePoint>& points = table.samplePoints();
    // Pairs in (i, j) order, each with its squared distance and kinship
    // (NaN where undefined).
    const std::size_t n = members.size();
    const std::size_t pairCount = n * (n - (n > 0 ? 1 : 0)) / 2;
    std::vector<double> squares;
    std::vector<double> kinships;
    squares.reserve(pairCount);
    kinships.reserve(pairCount);
    for (std::size_t a = 0; a < n; ++a) {
        for (std::size_t b = a + 1; b < n; ++b) {
            squares.push_back(squaredDistance(points[members[a]], points[members[b]]));
            kinships.push_back(set.kinship(members[a], members[b]).value_or(std::nan("")));
        }
    }

    // Each class as a range of 'order' (positions in the list above): with
    // bounds the pairs are sorted by class and (i, j), else by squared
    // distance and (i, j), and cut into ten ranges of equal counts.
    std::vector<std::uint32_t> order;
    std::vector<std::size_t> ends; // end of each class's range
    const std::optional<std::vector<double>>& bounds = table.settings().distanceClasses;
    if (bounds) {
        // Pairs beyond the last bound are in no class.
        std::vector<std::size_t> sizes(bounds->size(), 0);
        const auto classOf = [&](std::size_t k) {
            return static_cast<std::size_t>(
                std::lower_bound(bounds->begin(), bounds->end(), std::sqrt(squares[k])) -
                bounds->begin());
        };
        for (std::size_t k = 0; k < pairCount; ++k) {
            const std::size_t c = classOf(k);
            if (c < sizes.size()) {
                ++sizes[c];
            }
        }
        std::vector<std::size_t> next(sizes.size(), 0);
        std::size_t total = 0;
        for (std::size_t c = 0; c < sizes.size(); ++c) {
            next[c] = total;
            total += sizes[c];
            ends.push_back(total);
        }
        order.resize(total);
        for (std::size_t k = 0; k < pairCount; ++k) {
            const std::size_t c = classOf(k);
            if (c < sizes.size()) {
                order[next[c]++] = static_cast<std::uint32_t>(k);
            }
        }
    } else {
        order.resize(pairCount);
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(), [&](std::uint32_t x, std::uint32_t y) {
            return squares[x] < squares[y] || (squares[x] == squares[y] && x < y);
        });
        constexpr std::size_t k_classes = 10;
        std::size_t end = 0;
        for (std::size_t c = 0; c < k_classes; ++c) {
            end += pairCount / k_classes + (c < pairCount % k_classes ? 1 : 0);
            ends.push_back(end);
        }
    }
    std::size_t start = 0;
    for (const std::size_t end : ends) {
        KinshipClass row;
        row.pairs = end - start;
        double largest = -1.0;
        double sumD = 0.0;
        double sumF = 0.0;
        std::uint64_t defined = 0;
        for (std::size_t position = start; position < end; ++position) {
            const std::uint32_t k = order[position];
            largest = std::max(largest, squares[k]);
            if (!std::isnan(kinships[k])) {
                sumD += std::sqrt(squares[k]);
                sumF += kinships[k];
                ++defined;
            }
        }
        if (end > start) {
            row.maxDistance = std::sqrt(largest);
        }
        if (defined > 0) {
            row.meanDistance = sumD / static_cast<double>(defined);
            row.kinship = sumF / static_cast<double>(defined);
        }
        result.classes.push_back(row);
        start = end;
    }
    std::vector<std::uint32_t>().swap(order);
    if (!result.classes.empty()) {
        result.firstClass = result.classes.front().kinship;
    }
    result.slope = kinshipSlope(squares, kinships);
    if (result.slope && result.firstClass && *result.firstClass != 1.0) {
        result.sp = -*result.slope / (1.0 - *result.firstClass);
    }
    return result;
}

} // namespace psex
