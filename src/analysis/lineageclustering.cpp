// lineageclustering.cpp                                          -*-C++-*-
#include "analysis/lineageclustering.h"

#include "base/contract.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace psex {

namespace {

__extension__ typedef unsigned __int128 Wide; // products of sums and counts

constexpr std::uint32_t k_none = std::numeric_limits<std::uint32_t>::max();

// Return the place of the pair of MLGs 'x' < 'y' among the G (G - 1) / 2
// pairs of 'g' MLGs, row by row.
std::size_t pairIndex(std::size_t g, std::size_t x, std::size_t y) {
    return x * (2 * g - x - 1) / 2 + (y - x - 1);
}

// The value FARTHEST keeps for distances above k: k + 1, or the largest
// possible distance + 1 where that is smaller (then nothing is cut).
std::uint64_t farthestCap(std::uint32_t largestDistance, std::int32_t maxDistance) {
    return std::min<std::uint64_t>(static_cast<std::uint64_t>(std::max(maxDistance, 0)) + 1,
                                   static_cast<std::uint64_t>(largestDistance) + 1);
}

std::size_t bytesPerPair(LineageMethod method, std::uint32_t largestDistance,
                         std::int32_t maxDistance) {
    if (method == LineageMethod::e_average) {
        return sizeof(std::uint64_t);
    }
    return farthestCap(largestDistance, maxDistance) <= std::numeric_limits<std::uint16_t>::max()
               ? sizeof(std::uint16_t)
               : sizeof(std::uint32_t);
}

// AVERAGE: the linkage of two lineages is the sum of their MLG distances
// over the number of MLG pairs.
class Average {
    std::vector<std::uint64_t>& d_sums;
    std::vector<std::uint32_t> d_sizes; // MLGs per lineage
    std::uint64_t d_maxDistance;

  public:
    struct Value {
        std::uint64_t sum = 0;
        std::uint64_t pairs = 1;
    };

    Average(std::vector<std::uint64_t>& sums, std::size_t mlgs, std::int32_t maxDistance)
        : d_sums(sums), d_sizes(mlgs, 1), d_maxDistance(static_cast<std::uint64_t>(maxDistance)) {}

    Value value(std::uint32_t x, std::uint32_t y, std::size_t pair) const {
        return {d_sums[pair], static_cast<std::uint64_t>(d_sizes[x]) * d_sizes[y]};
    }

    bool isWithin(const Value& value) const {
        return static_cast<Wide>(value.sum) <= static_cast<Wide>(d_maxDistance) * value.pairs;
    }

    static bool isBelow(const Value& x, const Value& y) {
        return static_cast<Wide>(x.sum) * y.pairs < static_cast<Wide>(y.sum) * x.pairs;
    }

    void merge(std::size_t into, std::size_t from) { d_sums[into] += d_sums[from]; }

    void joined(std::uint32_t a, std::uint32_t b) { d_sizes[a] += d_sizes[b]; }
};

// FARTHEST: the linkage of two lineages is their largest MLG distance.
template <class ELEMENT>
class Farthest {
    std::vector<ELEMENT>& d_largest;
    std::uint64_t d_maxDistance;

  public:
    using Value = std::uint64_t;

    Farthest(std::vector<ELEMENT>& largest, std::int32_t maxDistance)
        : d_largest(largest), d_maxDistance(static_cast<std::uint64_t>(maxDistance)) {}

    Value value(std::uint32_t, std::uint32_t, std::size_t pair) const { return d_largest[pair]; }

    bool isWithin(Value value) const { return value <= d_maxDistance; }

    static bool isBelow(Value x, Value y) { return x < y; }

    void merge(std::size_t into, std::size_t from) {
        d_largest[into] = std::max(d_largest[into], d_largest[from]);
    }

    void joined(std::uint32_t, std::uint32_t) {}
};

// Join the lineages of 'mlgs' MLGs by the specified 'linkage' and return,
// per MLG, the first MLG of its lineage.
template <class LINKAGE>
std::vector<std::uint32_t> joinBy(LINKAGE& linkage, std::size_t mlgs) {
    using Value = typename LINKAGE::Value;
    const auto g = static_cast<std::uint32_t>(mlgs);
    const auto pair = [g](std::uint32_t x, std::uint32_t y) {
        return x < y ? pairIndex(g, x, y) : pairIndex(g, y, x);
    };
    std::vector<std::uint8_t> active(g, 1);
    std::vector<std::uint32_t> joinedTo(g); // the lineage an MLG's lineage was merged into
    std::iota(joinedTo.begin(), joinedTo.end(), 0u);

    // Each lineage's best partner among the later lineages within k.
    std::vector<std::uint32_t> partner(g, k_none);
    std::vector<Value> best(g);
    const auto findPartner = [&](std::uint32_t x) {
        partner[x] = k_none;
        for (std::uint32_t y = x + 1; y < g; ++y) {
            if (!active[y]) {
                continue;
            }
            const Value value = linkage.value(x, y, pairIndex(g, x, y));
            if (linkage.isWithin(value) &&
                (partner[x] == k_none || LINKAGE::isBelow(value, best[x]))) {
                partner[x] = y;
                best[x] = value;
            }
        }
    };
    for (std::uint32_t x = 0; x < g; ++x) {
        findPartner(x);
    }

    for (;;) {
        // The smallest linkage; among equal ones the first lineage's.
        std::uint32_t a = k_none;
        for (std::uint32_t x = 0; x < g; ++x) {
            if (active[x] && partner[x] != k_none &&
                (a == k_none || LINKAGE::isBelow(best[x], best[a]))) {
                a = x;
            }
        }
        if (a == k_none) {
            break;
        }
        const std::uint32_t b = partner[a];
        for (std::uint32_t y = 0; y < g; ++y) {
            if (active[y] && y != a && y != b) {
                linkage.merge(pair(a, y), pair(b, y));
            }
        }
        linkage.joined(a, b);
        active[b] = 0;
        joinedTo[b] = a;
        // The linkages to a changed and b is gone; no other lineage's best
        // partner can have changed (merging never brings a linkage below
        // the smaller of the two it comes from, and a tie with it keeps
        // the earlier partner).
        findPartner(a);
        for (std::uint32_t x = 0; x < b; ++x) {
            if (active[x] && x != a && (partner[x] == a || partner[x] == b)) {
                findPartner(x);
            }
        }
    }

    // Lineages merge into earlier ones: each MLG's first MLG is found by
    // following the merges, which only go down.
    std::vector<std::uint32_t> first(g);
    for (std::uint32_t m = 0; m < g; ++m) {
        first[m] = joinedTo[m] == m ? m : first[joinedTo[m]];
    }
    return first;
}

} // namespace

const char* methodName(LineageMethod method) {
    switch (method) {
    case LineageMethod::e_average:
        return "AVERAGE";
    case LineageMethod::e_farthest:
        return "FARTHEST";
    case LineageMethod::e_nearest:
        break;
    }
    return "NEAREST";
}

std::size_t largestClusteredTable(LineageMethod method, std::uint32_t largestDistance,
                                  std::int32_t maxDistance) {
    if (method == LineageMethod::e_nearest) {
        return std::numeric_limits<std::size_t>::max();
    }
    const std::uint64_t pairs =
        k_pairTableBytes / bytesPerPair(method, largestDistance, maxDistance);
    // The largest G with G (G - 1) / 2 <= pairs: near sqrt(2 pairs) + 1/2.
    auto g = static_cast<std::uint64_t>(std::sqrt(2.0 * static_cast<double>(pairs))) + 2;
    while (g * (g - 1) / 2 > pairs) {
        --g;
    }
    return static_cast<std::size_t>(g);
}

std::string methodTooLargeMessage(LineageMethod method, std::size_t largest) {
    return std::string("error: MLLMETHOD=") + methodName(method) + " needs at most " +
           std::to_string(largest) + " genotypes; use NEAREST.";
}

PairTable::PairTable(LineageMethod method, std::size_t mlgs, std::uint32_t largestDistance,
                     std::int32_t maxDistance)
    : d_method(method), d_mlgs(mlgs), d_maxDistance(maxDistance),
      d_cap(static_cast<std::uint32_t>(farthestCap(largestDistance, maxDistance))) {
    PSEX_ASSERT(method != LineageMethod::e_nearest);
    PSEX_ASSERT(maxDistance > 0);
    PSEX_ASSERT(mlgs <= largestClusteredTable(method, largestDistance, maxDistance));
    const std::size_t pairs = mlgs < 2 ? 0 : mlgs * (mlgs - 1) / 2;
    if (method == LineageMethod::e_average) {
        d_sums.assign(pairs, 0);
    } else if (bytesPerPair(method, largestDistance, maxDistance) == sizeof(std::uint16_t)) {
        d_narrow.assign(pairs, 0);
    } else {
        d_wide.assign(pairs, 0);
    }
}

void PairTable::setDistance(std::uint32_t first, std::uint32_t second, std::uint32_t distance) {
    PSEX_ASSERT(first < second && second < d_mlgs);
    const std::size_t pair = pairIndex(d_mlgs, first, second);
    if (d_method == LineageMethod::e_average) {
        d_sums[pair] = distance;
    } else if (!d_narrow.empty()) {
        d_narrow[pair] = static_cast<std::uint16_t>(std::min(distance, d_cap));
    } else {
        d_wide[pair] = std::min(distance, d_cap);
    }
}

std::vector<std::uint32_t> PairTable::join() {
    if (d_method == LineageMethod::e_average) {
        Average linkage(d_sums, d_mlgs, d_maxDistance);
        return joinBy(linkage, d_mlgs);
    }
    if (!d_narrow.empty() || d_wide.empty()) {
        Farthest<std::uint16_t> linkage(d_narrow, d_maxDistance);
        return joinBy(linkage, d_mlgs);
    }
    Farthest<std::uint32_t> linkage(d_wide, d_maxDistance);
    return joinBy(linkage, d_mlgs);
}

} // namespace psex
