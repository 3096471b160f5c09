// kinship.cpp                                                    -*-C++-*-
#include "analysis/kinship.h"

#include "analysis/spatial.h"
#include "base/contract.h"
#include "base/threads.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <iterator>
#include <limits>
#include <map>

namespace psex {

namespace {

// Ten classes of equal pair counts when no bounds are given.
constexpr std::size_t k_equalClasses = 10;

// The pairs are visited in blocks of whole rows (the pairs (i, j), j > i,
// of consecutive samples i), whatever the number of threads: partial sums
// are kept per block and added in block order, so that every figure is the
// same on any number of threads.
constexpr std::size_t k_rowsPerBlock = 32;

// The per-block sums of all blocks together stay within this many cells,
// however many classes are asked for (the blocks grow instead).
constexpr std::size_t k_blockCells = std::size_t{1} << 22;

// A radix selection reads the squared distances 16 bits at a time.
constexpr unsigned k_digitBits = 16;
constexpr std::size_t k_digits = std::size_t{1} << k_digitBits;

// For q >= 0 (a sum of two squares, never -0 or NaN), the bits of the
// double order like the values.
std::uint64_t bitsOf(double q) {
    return std::bit_cast<std::uint64_t>(q);
}

// The rows of a set cut into blocks.
struct Blocks {
    std::size_t rows = 0;     // samples of the set
    std::size_t perBlock = 1; // rows in a block
    std::size_t count() const { return rows == 0 ? 0 : (rows + perBlock - 1) / perBlock; }
    std::size_t first(std::size_t block) const { return block * perBlock; }
    std::size_t end(std::size_t block) const { return std::min(rows, (block + 1) * perBlock); }
};

// Return the pairs (a, b), a < b, whose first sample is in the specified
// 'block'.
std::uint64_t pairsOfBlock(const Blocks& blocks, std::size_t block) {
    std::uint64_t pairs = 0;
    for (std::size_t a = blocks.first(block); a < blocks.end(block); ++a) {
        pairs += blocks.rows - 1 - a;
    }
    return pairs;
}

// Run 'work(thread, block)' for every block on the specified number of
// 'threads'; blocks are taken in turn, and an exception on any thread stops
// the rest and is thrown again here.  The optionally specified 'progress'
// counts the pairs of every finished block and is told on the calling
// thread.
template <class Work>
void forEachBlock(const Blocks& blocks, unsigned threads, KinshipProgress* progress,
                  const Work& work) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    runOnThreads(
        threads,
        [&](unsigned thread) {
            for (;;) {
                const std::size_t block = next.fetch_add(1);
                if (block >= blocks.count() || stop.load()) {
                    return;
                }
                work(thread, block);
                if (progress != nullptr) {
                    const std::uint64_t done = progress->done += pairsOfBlock(blocks, block);
                    if (thread == 0 && progress->report) {
                        progress->report(done, progress->total);
                    }
                }
            }
        },
        [&] { stop = true; });
}

// Call 'visit(a, b, q)' for every pair (a, b), a < b, of the block's rows
// in (a, b) order, q their squared distance.
template <class Visit>
void forPairsOfBlock(const std::vector<SamplePoint>& at, const Blocks& blocks, std::size_t block,
                     const Visit& visit) {
    for (std::size_t a = blocks.first(block); a < blocks.end(block); ++a) {
        for (std::size_t b = a + 1; b < at.size(); ++b) {
            visit(a, b, squaredDistance(at[a], at[b]));
        }
    }
}

// The upper end of a class of equal counts in the pairs sorted by (q, i,
// j): the classes up to it hold every pair with q below 'square' and the
// first 'within' pairs (in (i, j) order) with q equal to it.  A class end
// before any pair has a 'square' below every q.
struct ClassEnd {
    double square = -1.0;
    std::uint64_t within = 0;
};

// Return the ends of the first nine of ten classes of equal counts of the
// pairs of the specified points ('at'): a radix selection of each end's
// rank among the squared distances, 16 bits a pass, counting the pairs
// without keeping them.
std::vector<ClassEnd> equalCountEnds(const std::vector<SamplePoint>& at, const Blocks& blocks,
                                     unsigned threads, KinshipProgress* progress) {
    const std::uint64_t n = at.size();
    const std::uint64_t pairs = n * (n - (n > 0 ? 1 : 0)) / 2;
    std::vector<ClassEnd> ends(k_equalClasses - 1);
    struct Rank {
        std::size_t c = 0;        // the class whose end it is
        std::uint64_t rank = 0;   // among the pairs whose q starts with 'prefix'
        std::uint64_t below = 0;  // pairs whose q is below every q with 'prefix'
        std::uint64_t prefix = 0; // the bits found so far
    };
    std::vector<Rank> ranks;
    std::uint64_t end = 0;
    for (std::size_t c = 0; c + 1 < k_equalClasses; ++c) {
        end += pairs / k_equalClasses + (c < pairs % k_equalClasses ? 1 : 0);
        if (end > 0) {
            ranks.push_back(Rank{c, end - 1, 0, 0});
        }
    }
    if (ranks.empty()) {
        return ends;
    }
    for (unsigned pass = 0; pass * k_digitBits < 64; ++pass) {
        const unsigned shift = 64 - (pass + 1) * k_digitBits;
        // The distinct prefixes of this pass, each with its own histogram
        // of the next digit.
        std::vector<std::uint64_t> prefixes;
        for (const Rank& r : ranks) {
            if (std::find(prefixes.begin(), prefixes.end(), r.prefix) == prefixes.end()) {
                prefixes.push_back(r.prefix);
            }
        }
        const std::size_t groups = prefixes.size();
        // Counts per thread (whole numbers: the order they are added in
        // does not matter), made when a thread takes its first block.
        std::vector<std::vector<std::uint64_t>> perThread(threadCountOrDefault(threads));
        forEachBlock(blocks, threads, progress, [&](unsigned thread, std::size_t block) {
            std::vector<std::uint64_t>& mine = perThread[thread];
            mine.resize(groups * k_digits, 0);
            forPairsOfBlock(at, blocks, block, [&](std::size_t, std::size_t, double q) {
                const std::uint64_t u = bitsOf(q);
                const std::uint64_t head = pass == 0 ? 0 : u >> (shift + k_digitBits);
                for (std::size_t g = 0; g < groups; ++g) {
                    if (prefixes[g] == head) {
                        ++mine[g * k_digits + ((u >> shift) & (k_digits - 1))];
                        break;
                    }
                }
            });
        });
        std::vector<std::uint64_t> counts(groups * k_digits, 0);
        for (const std::vector<std::uint64_t>& mine : perThread) {
            for (std::size_t k = 0; k < mine.size(); ++k) {
                counts[k] += mine[k];
            }
        }
        for (Rank& r : ranks) {
            const std::size_t g = static_cast<std::size_t>(
                std::find(prefixes.begin(), prefixes.end(), r.prefix) - prefixes.begin());
            std::uint64_t digit = 0;
            while (r.rank >= counts[g * k_digits + digit]) {
                r.rank -= counts[g * k_digits + digit];
                r.below += counts[g * k_digits + digit];
                ++digit;
                PSEX_ASSERT(digit < k_digits);
            }
            r.prefix = (r.prefix << k_digitBits) | digit;
        }
    }
    for (const Rank& r : ranks) {
        ends[r.c].square = std::bit_cast<double>(r.prefix);
        ends[r.c].within = r.rank + 1;
    }
    return ends;
}

// The sums of one class over the pairs of a block.
struct ClassSums {
    std::uint64_t pairs = 0;
    double largest = -1.0; // the largest q
    double sumD = 0.0;     // over pairs with F defined
    double sumF = 0.0;
    std::uint64_t defined = 0;
};

// The sums of a block for the slope of F on ln d (pairs with d > 0 and F
// defined).
struct SlopeSums {
    std::uint64_t m = 0;
    double sumX = 0.0;
    double sumY = 0.0;
    double firstX = 0.0;
    bool spread = false; // an ln d other than 'firstX'
    double sxy = 0.0;    // the second pass: centred sums
    double sxx = 0.0;
};

} // namespace

KinshipSet::KinshipSet(const MLGTable& table, const std::vector<std::uint32_t>& members)
    : d_ploidy(table.ploidy()), d_loci(table.locusCount()),
      d_memberOf(table.sampleNames().size(), -1) {
    const std::vector<std::uint32_t> mlgOfSample = table.mlgNumbersOfSamples();
    const std::size_t ploidy = static_cast<std::size_t>(d_ploidy);
    const std::size_t loci = table.locusCount();
    PSEX_ASSERT(members.size() < (std::size_t{1} << 18));
    const Wide bigP = static_cast<Wide>(ploidy);
    d_copies.assign(members.size() * loci * ploidy, -1);
    d_weights.assign(members.size() * loci, 0);
    for (std::size_t m = 0; m < members.size(); ++m) {
        d_memberOf[members[m]] = static_cast<std::int32_t>(m);
    }
    std::vector<std::uint64_t> groupCopies; // n of each group
    std::vector<std::vector<std::uint32_t>> groupLoci;
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
        LocusTerms& locus = d_loci[l];
        if (copies < 2) {
            continue;
        }
        locus.used = true;
        const Wide n = static_cast<Wide>(copies);
        Wide q = 0;
        for (const auto& [allele, count] : counts) {
            q += static_cast<Wide>(count) * static_cast<Wide>(count);
        }
        locus.constant =
            static_cast<std::int64_t>((n - 1) * bigP * bigP * q + bigP * bigP * (n * n - q));
        locus.perMatch = static_cast<std::int64_t>((n - 1) * n * n);
        locus.perWeight = static_cast<std::int64_t>((n - 1) * n * bigP);
        locus.variance = static_cast<double>(n * n - q) / static_cast<double>(n * n);
        const auto known = std::find(groupCopies.begin(), groupCopies.end(), copies);
        locus.group = static_cast<std::uint32_t>(known - groupCopies.begin());
        if (known == groupCopies.end()) {
            groupCopies.push_back(copies);
            groupLoci.emplace_back();
            d_scales.push_back(static_cast<double>(bigP * bigP * n * n * (n - 1)));
        }
        groupLoci[locus.group].push_back(l);
        std::map<std::int32_t, std::int32_t> index;
        for (const auto& [allele, count] : counts) {
            index[allele] = static_cast<std::int32_t>(index.size());
        }
        for (std::size_t m = 0; m < members.size(); ++m) {
            const MLGTuple& tuple = table.mlgs()[mlgOfSample[members[m]] - 1];
            if (!table.isTyped(tuple, l)) {
                continue;
            }
            std::uint64_t weight = 0;
            for (std::size_t k = 0; k < ploidy; ++k) {
                const std::int32_t allele = tuple.allele(l, static_cast<std::int32_t>(k));
                d_copies[(m * loci + l) * ploidy + k] = index.at(allele);
                weight += counts.at(allele);
            }
            PSEX_ASSERT(weight <= std::numeric_limits<std::uint32_t>::max());
            d_weights[m * loci + l] = static_cast<std::uint32_t>(weight);
        }
    }
    for (const std::vector<std::uint32_t>& group : groupLoci) {
        d_byGroup.insert(d_byGroup.end(), group.begin(), group.end());
        d_groupEnds.push_back(static_cast<std::uint32_t>(d_byGroup.size()));
    }
}

std::optional<double> KinshipSet::kinship(std::uint32_t first, std::uint32_t second) const {
    PSEX_ASSERT(d_memberOf.at(first) >= 0 && d_memberOf.at(second) >= 0);
    const std::size_t ploidy = static_cast<std::size_t>(d_ploidy);
    const std::size_t loci = d_loci.size();
    const std::size_t i = static_cast<std::size_t>(d_memberOf[first]);
    const std::size_t j = static_cast<std::size_t>(d_memberOf[second]);
    double numerator = 0.0;
    double denominator = 0.0;
    std::size_t position = 0;
    for (std::size_t g = 0; g < d_groupEnds.size(); ++g) {
        Wide sum = 0;
        bool any = false;
        for (; position < d_groupEnds[g]; ++position) {
            const std::size_t l = d_byGroup[position];
            const std::int32_t* a = &d_copies[(i * loci + l) * ploidy];
            const std::int32_t* b = &d_copies[(j * loci + l) * ploidy];
            if (a[0] < 0 || b[0] < 0) {
                continue; // a locus counts where both are typed
            }
            std::int32_t matches = 0;
            for (std::size_t c = 0; c < ploidy; ++c) {
                for (std::size_t d = 0; d < ploidy; ++d) {
                    matches += a[c] == b[d] ? 1 : 0;
                }
            }
            const LocusTerms& locus = d_loci[l];
            sum += locus.constant + locus.perMatch * matches -
                   locus.perWeight * (static_cast<std::int64_t>(d_weights[i * loci + l]) +
                                      static_cast<std::int64_t>(d_weights[j * loci + l]));
            denominator += locus.variance;
            any = true;
        }
        if (any) {
            numerator += static_cast<double>(sum) / d_scales[g];
        }
    }
    if (denominator == 0.0) {
        return std::nullopt;
    }
    return numerator / denominator;
}

std::uint64_t kinshipPairVisits(std::size_t members, bool bounded) {
    const std::uint64_t n = members;
    const std::uint64_t pairs = n * (n - (n > 0 ? 1 : 0)) / 2;
    // Classes of equal counts: the counting passes of the selection and
    // the one for ties at the ends; then the kinship and the slope.
    const std::uint64_t passes = bounded ? 2 : 64 / k_digitBits + 1 + 2;
    return pairs * passes;
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
                               const std::string& level, unsigned threads,
                               KinshipProgress* progress) {
    KinshipLevel result;
    result.level = level;
    const KinshipSet set(table, members);
    std::vector<SamplePoint> at;
    at.reserve(members.size());
    for (const std::uint32_t i : members) {
        at.push_back(table.samplePoints()[i]);
    }
    const std::optional<std::vector<double>>& bounds = table.settings().distanceClasses;
    const std::size_t classes = bounds ? bounds->size() : k_equalClasses;
    Blocks blocks;
    blocks.rows = at.size();
    const std::size_t mostBlocks = std::max<std::size_t>(1, k_blockCells / (classes + 1));
    blocks.perBlock = std::max(k_rowsPerBlock, (blocks.rows + mostBlocks - 1) / mostBlocks);
    const std::size_t blockCount = blocks.count();

    // Classes of equal counts: their ends, and for each block how many
    // pairs of the earlier blocks have an end's q, so that a block knows
    // which of its pairs at an end's q are still inside the class.
    std::vector<ClassEnd> ends;
    std::vector<std::uint64_t> equalBefore; // per block and end
    if (!bounds) {
        ends = equalCountEnds(at, blocks, threads, progress);
        const std::size_t e = ends.size();
        equalBefore.assign(blockCount * e, 0);
        forEachBlock(blocks, threads, progress, [&](unsigned, std::size_t block) {
            std::uint64_t* equal = &equalBefore[block * e];
            forPairsOfBlock(at, blocks, block, [&](std::size_t, std::size_t, double q) {
                for (std::size_t c = 0; c < e; ++c) {
                    equal[c] += q == ends[c].square ? 1 : 0;
                }
            });
        });
        std::vector<std::uint64_t> running(e, 0);
        for (std::size_t block = 0; block < blockCount; ++block) {
            for (std::size_t c = 0; c < e; ++c) {
                const std::uint64_t here = equalBefore[block * e + c];
                equalBefore[block * e + c] = running[c];
                running[c] += here;
            }
        }
    }

    // One pass computes each pair's F once: its class's sums and the sums
    // of the slope's means.
    std::vector<ClassSums> classSums(blockCount * classes);
    std::vector<SlopeSums> slopeSums(blockCount);
    forEachBlock(blocks, threads, progress, [&](unsigned, std::size_t block) {
        ClassSums* sums = classSums.data() + block * classes;
        SlopeSums& slope = slopeSums[block];
        std::vector<std::uint64_t> seen;
        if (!bounds) {
            seen.assign(equalBefore.begin() + static_cast<std::ptrdiff_t>(block * ends.size()),
                        equalBefore.begin() +
                            static_cast<std::ptrdiff_t>((block + 1) * ends.size()));
        }
        forPairsOfBlock(at, blocks, block, [&](std::size_t a, std::size_t b, double q) {
            std::size_t c = 0;
            if (bounds) {
                // Pairs beyond the last bound are in no class.
                c = static_cast<std::size_t>(
                    std::lower_bound(bounds->begin(), bounds->end(), std::sqrt(q)) -
                    bounds->begin());
            } else {
                for (std::size_t e = 0; e < ends.size(); ++e) {
                    bool inside = q < ends[e].square;
                    if (q == ends[e].square) {
                        inside = seen[e] < ends[e].within;
                        ++seen[e];
                    }
                    c += inside ? 0 : 1;
                }
            }
            const std::optional<double> f = set.kinship(members[a], members[b]);
            if (c < classes) {
                ClassSums& s = sums[c];
                ++s.pairs;
                s.largest = std::max(s.largest, q);
                if (f) {
                    s.sumD += std::sqrt(q);
                    s.sumF += *f;
                    ++s.defined;
                }
            }
            if (q > 0.0 && f) {
                const double x = std::log(std::sqrt(q));
                if (slope.m == 0) {
                    slope.firstX = x;
                }
                slope.spread = slope.spread || x != slope.firstX;
                slope.sumX += x;
                slope.sumY += *f;
                ++slope.m;
            }
        });
    });

    for (std::size_t c = 0; c < classes; ++c) {
        ClassSums total;
        for (std::size_t block = 0; block < blockCount; ++block) {
            const ClassSums& s = classSums[block * classes + c];
            total.pairs += s.pairs;
            total.largest = std::max(total.largest, s.largest);
            total.sumD += s.sumD;
            total.sumF += s.sumF;
            total.defined += s.defined;
        }
        KinshipClass row;
        row.pairs = total.pairs;
        if (total.pairs > 0) {
            row.maxDistance = std::sqrt(total.largest);
        }
        if (total.defined > 0) {
            row.meanDistance = total.sumD / static_cast<double>(total.defined);
            row.kinship = total.sumF / static_cast<double>(total.defined);
        }
        result.classes.push_back(row);
    }
    std::vector<ClassSums>().swap(classSums);
    if (!result.classes.empty()) {
        result.firstClass = result.classes.front().kinship;
    }

    // The slope: least squares of F on ln d, the means first, then the
    // centred sums (F computed again); nothing with fewer than two pairs or
    // when every ln d is the same (a computed spread would then be
    // rounding, not spread).
    SlopeSums slope;
    for (const SlopeSums& s : slopeSums) {
        if (s.m == 0) {
            continue;
        }
        if (slope.m == 0) {
            slope.firstX = s.firstX;
        }
        slope.spread = slope.spread || s.spread || s.firstX != slope.firstX;
        slope.m += s.m;
        slope.sumX += s.sumX;
        slope.sumY += s.sumY;
    }
    if (slope.m >= 2 && slope.spread) {
        const double meanX = slope.sumX / static_cast<double>(slope.m);
        const double meanY = slope.sumY / static_cast<double>(slope.m);
        forEachBlock(blocks, threads, progress, [&](unsigned, std::size_t block) {
            SlopeSums& s = slopeSums[block];
            forPairsOfBlock(at, blocks, block, [&](std::size_t a, std::size_t b, double q) {
                if (!(q > 0.0)) {
                    return;
                }
                if (const std::optional<double> f = set.kinship(members[a], members[b])) {
                    const double dx = std::log(std::sqrt(q)) - meanX;
                    s.sxy += dx * (*f - meanY);
                    s.sxx += dx * dx;
                }
            });
        });
        for (const SlopeSums& s : slopeSums) {
            slope.sxy += s.sxy;
            slope.sxx += s.sxx;
        }
        if (slope.sxx > 0.0) {
            result.slope = slope.sxy / slope.sxx;
        }
    } else if (progress != nullptr) {
        const std::uint64_t n = at.size();
        progress->done += n * (n - (n > 0 ? 1 : 0)) / 2; // the pass not needed
    }
    if (result.slope && result.firstClass && *result.firstClass != 1.0) {
        result.sp = -*result.slope / (1.0 - *result.firstClass);
    }
    return result;
}

} // namespace psex
