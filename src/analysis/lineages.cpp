// lineages.cpp                                                   -*-C++-*-
#include "analysis/lineages.h"

#include "analysis/pairdistances.h"

#include "base/contract.h"
#include "base/threads.h"
#include "model/mlgtable.h"

#include <algorithm>
#include <atomic>
#include <numeric>
#include <optional>

namespace psex {

namespace {

// Return the number of copies in which two typed genotypes at one locus
// differ: 2 minus the alleles they share, counting repeats (diploid), or
// whether they differ (haploid).  The copies may come in any order.
std::uint32_t locusDistance(std::int32_t ploidy, std::int32_t a0, std::int32_t a1, std::int32_t b0,
                            std::int32_t b1) {
    if (ploidy == 1) {
        return a0 == b0 ? 0 : 1;
    }
    if ((a0 == b0 && a1 == b1) || (a0 == b1 && a1 == b0)) {
        return 0;
    }
    if (a0 == b0 || a0 == b1 || a1 == b0 || a1 == b1) {
        return 1;
    }
    return 2;
}

// ---- all pairs of MLGs ----

// Groups of linked MLGs (union-find with path halving).
class Groups {
    std::vector<std::uint32_t> d_parent;

  public:
    explicit Groups(std::size_t size) : d_parent(size) {
        std::iota(d_parent.begin(), d_parent.end(), 0u);
    }

    std::uint32_t find(std::uint32_t x) {
        while (d_parent[x] != x) {
            d_parent[x] = d_parent[d_parent[x]];
            x = d_parent[x];
        }
        return x;
    }

    void join(std::uint32_t x, std::uint32_t y) {
        x = find(x);
        y = find(y);
        if (x != y) {
            d_parent[std::max(x, y)] = std::min(x, y);
        }
    }

    std::size_t size() const { return d_parent.size(); }
};

// The pairs (a, b > a) of the rows a that one thread takes: their distances
// counted, and either those within 'maxDistance' joined (NEAREST) or every
// distance kept in the pair table (AVERAGE and FARTHEST, which join later).
struct PairWork {
    std::vector<std::uint64_t> histogram;
    Groups groups;
    PairTable* table; // AVERAGE and FARTHEST, else null
    bool joins;       // NEAREST (not when another method's table did not fit)

    PairWork(std::size_t mlgs, std::size_t maxPossible, PairTable* pairTable, bool joinsPairs)
        : histogram(maxPossible + 1, 0), groups(mlgs), table(pairTable), joins(joinsPairs) {}
};

// The rows of pairs shared among the threads: each takes the next row not
// yet taken, so that the threads finish together although the rows shrink.
struct PairRows {
    std::atomic<std::size_t> next{0};
    std::atomic<std::uint64_t> pairsDone{0};
    std::atomic<bool> stopped{false}; // a thread failed: no more rows are taken
};

// Compare the pairs of the rows that the calling thread takes from the
// specified 'rows' until none is left, into the specified 'work'; after each
// row call the specified 'afterRow' (on the main thread: the progress).  The
// rows are taken a group at a time: the kernel reads each genotype's codes
// once per group.
template <class AFTER_ROW>
void comparePairs(const PairDistances& loci, std::size_t mlgs, std::int32_t maxDistance,
                  PairRows& rows, PairWork& work, AFTER_ROW afterRow) {
    const std::size_t group = PairDistances::k_rowsPerCall;
    PairDistances::Report report = [&work](std::uint32_t a, std::uint32_t b, std::uint32_t) {
        work.groups.join(a, b);
    };
    std::int64_t within = work.joins && maxDistance > 0 ? maxDistance : -1;
    if (work.table) {
        report = [&work](std::uint32_t a, std::uint32_t b, std::uint32_t distance) {
            work.table->setDistance(a, b, distance);
        };
        within = loci.largestDistance();
    }
    for (std::size_t a = rows.next.fetch_add(group); a + 1 < mlgs && !rows.stopped;
         a = rows.next.fetch_add(group)) {
        const std::size_t last = std::min(a + group, mlgs);
        loci.compareRows(a, last, work.histogram, within, report);
        for (std::size_t row = a; row < last && row + 1 < mlgs; ++row) {
            rows.pairsDone += mlgs - row - 1;
            afterRow();
        }
    }
}

std::vector<std::uint64_t> trimmed(std::vector<std::uint64_t> histogram) {
    while (!histogram.empty() && histogram.back() == 0) {
        histogram.pop_back();
    }
    return histogram;
}

// Number the groups in the order of their first MLG.
Lineages numbered(Groups& groups) {
    Lineages lineages;
    std::vector<std::uint32_t> numberOfRoot(groups.size(), 0);
    for (std::uint32_t m = 0; m < groups.size(); ++m) {
        std::uint32_t& number = numberOfRoot[groups.find(m)];
        if (number == 0) {
            number = ++lineages.count;
        }
        lineages.lineageOfMlg.push_back(number);
    }
    return lineages;
}

// ---- reference pairs ----

// A simulated genotype: its allele values and, per locus, whether every
// copy holds an allele.
struct Genotype {
    std::vector<std::int32_t> alleles;
    std::vector<std::uint8_t> typed;
};

std::uint32_t distanceOf(std::int32_t ploidy, const Genotype& x, const Genotype& y) {
    std::uint32_t sum = 0;
    for (std::size_t j = 0; j < x.typed.size(); ++j) {
        if (x.typed[j] && y.typed[j]) {
            const std::size_t i = static_cast<std::size_t>(ploidy) * j;
            const std::int32_t x1 = ploidy == 2 ? x.alleles[i + 1] : x.alleles[i];
            const std::int32_t y1 = ploidy == 2 ? y.alleles[i + 1] : y.alleles[i];
            sum += locusDistance(ploidy, x.alleles[i], x1, y.alleles[i], y1);
        }
    }
    return sum;
}

Genotype offspring(const MLGTable& table, const MLGTuple& first, const MLGTuple& second,
                   std::uint64_t& state) {
    Genotype child;
    for (std::uint32_t j = 0; j < table.locusCount(); ++j) {
        if (table.ploidy() == 2) {
            child.alleles.push_back(
                first.allele(j, static_cast<std::int32_t>(splitmix64(state) & 1)));
            child.alleles.push_back(
                second.allele(j, static_cast<std::int32_t>(splitmix64(state) & 1)));
        } else {
            const MLGTuple& parent = (splitmix64(state) & 1) == 0 ? first : second;
            child.alleles.push_back(parent.allele(j, 0));
        }
        const std::size_t from = child.alleles.size() - static_cast<std::size_t>(table.ploidy());
        bool typed = true;
        for (std::size_t i = from; i < child.alleles.size(); ++i) {
            typed = typed && !table.isMissing(child.alleles[i]);
        }
        child.typed.push_back(typed ? 1 : 0);
    }
    return child;
}

Genotype unrelated(const MLGTable& table, std::uint64_t& state) {
    Genotype genotype;
    for (const Locus& locus : table.loci()) {
        bool typed = true;
        for (std::int32_t k = 0; k < table.ploidy(); ++k) {
            double u = static_cast<double>(splitmix64(state) >> 11) * 0x1.0p-53;
            bool chosen = false;
            for (const auto& [allele, frequency] : locus.frequencies()) {
                if (frequency > u) {
                    genotype.alleles.push_back(allele);
                    chosen = true;
                    break;
                }
                u -= frequency;
            }
            if (!chosen) {
                genotype.alleles.push_back(0);
                typed = false;
            }
        }
        genotype.typed.push_back(typed ? 1 : 0);
    }
    return genotype;
}

void count(std::vector<std::uint64_t>& histogram, std::uint32_t distance) {
    if (histogram.size() <= distance) {
        histogram.resize(distance + 1, 0);
    }
    ++histogram[distance];
}

} // namespace

std::uint32_t genotypeDistance(const MLGTable& table, const MLGTuple& first,
                               const MLGTuple& second) {
    std::uint32_t sum = 0;
    for (std::uint32_t j = 0; j < table.locusCount(); ++j) {
        if (table.isTyped(first, j) && table.isTyped(second, j)) {
            const std::int32_t a1 = table.ploidy() == 2 ? first.allele(j, 1) : first.allele(j, 0);
            const std::int32_t b1 = table.ploidy() == 2 ? second.allele(j, 1) : second.allele(j, 0);
            sum += locusDistance(table.ploidy(), first.allele(j, 0), a1, second.allele(j, 0), b1);
        }
    }
    return sum;
}

Lineages formLineages(const MLGTable& table, std::int32_t maxDistance, unsigned threads,
                      const SimulationProgress& progress) {
    return formLineages(table, maxDistance, LineageMethod::e_nearest, threads, progress);
}

Lineages formLineages(const MLGTable& table, std::int32_t maxDistance, LineageMethod method,
                      unsigned threads, const SimulationProgress& progress) {
    const std::size_t mlgs = table.mlgs().size();
    const PairDistances loci(table);
    const std::size_t maxPossible = loci.largestDistance();
    // AVERAGE and FARTHEST keep the distance of every pair, within a bound
    // on memory; above it nothing is joined.
    const bool clustered = method != LineageMethod::e_nearest && maxDistance > 0;
    const bool fits = mlgs <= largestClusteredTable(method, loci.largestDistance(), maxDistance);
    std::optional<PairTable> pairTable;
    if (clustered && fits) {
        pairTable.emplace(method, mlgs, loci.largestDistance(), maxDistance);
    }
    const std::uint64_t allPairs = mlgs < 2 ? 0 : static_cast<std::uint64_t>(mlgs) * (mlgs - 1) / 2;

    // A thread is worth starting for some hundred rows of pairs only.
    threads =
        static_cast<unsigned>(std::min<std::size_t>(threadCountOrDefault(threads), 1 + mlgs / 256));
    std::vector<PairWork> work(
        threads, PairWork(mlgs, maxPossible, pairTable ? &*pairTable : nullptr, !clustered));
    PairRows rows;
    runOnThreads(
        threads,
        [&](unsigned thread) {
            if (thread == 0) {
                comparePairs(loci, mlgs, maxDistance, rows, work[0], [&] {
                    if (progress) {
                        progress(rows.pairsDone.load(), allPairs);
                    }
                });
            } else {
                comparePairs(loci, mlgs, maxDistance, rows, work[thread], [] {});
            }
        },
        [&] { rows.stopped = true; });
    if (progress && allPairs > 0) {
        progress(allPairs, allPairs);
    }

    // Links found by different threads connect the same groups whichever
    // thread found them: join every MLG to its group's root in each.
    Groups& groups = work[0].groups;
    std::vector<std::uint64_t> histogram = work[0].histogram;
    for (unsigned t = 1; t < threads; ++t) {
        for (std::uint32_t m = 0; m < mlgs; ++m) {
            groups.join(m, work[t].groups.find(m));
        }
        for (std::size_t d = 0; d < histogram.size(); ++d) {
            histogram[d] += work[t].histogram[d];
        }
    }
    if (pairTable) {
        const std::vector<std::uint32_t> first = pairTable->join();
        for (std::uint32_t m = 0; m < mlgs; ++m) {
            groups.join(m, first[m]);
        }
    }
    Lineages lineages = numbered(groups);
    lineages.observedPairs = trimmed(std::move(histogram));
    lineages.tooManyForMethod = clustered && !fits;
    return lineages;
}

Lineages singletonLineages(const MLGTable& table) {
    Groups groups(table.mlgs().size());
    return numbered(groups);
}

std::uint64_t splitmix64(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

ReferenceDistances referenceDistances(const MLGTable& table, std::uint64_t pairs) {
    ReferenceDistances distances;
    const std::vector<MLGTuple>& mlgs = table.mlgs();
    if (mlgs.empty()) {
        return distances; // no parents, and no frequencies to draw from
    }
    std::uint64_t state = k_referenceSeed;
    for (std::uint64_t p = 0; p < pairs; ++p) {
        const MLGTuple& first = mlgs[splitmix64(state) % mlgs.size()];
        const MLGTuple& second = mlgs[splitmix64(state) % mlgs.size()];
        const Genotype x = offspring(table, first, second, state);
        const Genotype y = offspring(table, first, second, state);
        count(distances.siblingPairs, distanceOf(table.ploidy(), x, y));
    }
    for (std::uint64_t p = 0; p < pairs; ++p) {
        const Genotype x = unrelated(table, state);
        const Genotype y = unrelated(table, state);
        count(distances.unrelatedPairs, distanceOf(table.ploidy(), x, y));
    }
    return distances;
}

} // namespace psex
