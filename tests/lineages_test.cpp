// lineages_test.cpp                                              -*-C++-*-
#include "analysis/lineages.h"

#include "analysis/pairdistances.h"

#include "model/mlgtable.h"
#include "tablefromtext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using psex::Lineages;
using psex::MLGTable;
using psex::test::tableFromText;
using Numbers = std::vector<std::uint32_t>;
using Counts = std::vector<std::uint64_t>;

// A diploid table of the specified data lines at three loci.
MLGTable diploid(const std::string& lines, const std::string& extra = "") {
    return tableFromText("PLOIDY=2\nLOCUSCOUNT=3\nSIMULATIONS=10\n" + extra +
                         "\nS,a1,a2,b1,b2,c1,c2\n" + lines);
}

TEST(GenotypeDistance, CountsTheAlleleCopiesThatDiffer) {
    // Table order: 12/12 14/14 9/9, 12/12 14/14 9/11, 12/14 14/16 9/9, 13/15 ...
    const MLGTable table = diploid("a,12,12,14,14,9,9\nb,12,12,14,14,9,11\n"
                                   "c,12,14,14,16,9,9\nd,13,15,20,22,7,8\n");
    const auto& m = table.mlgs();
    ASSERT_EQ(4u, m.size());
    EXPECT_EQ(0u, psex::genotypeDistance(table, m[0], m[0]));
    EXPECT_EQ(1u, psex::genotypeDistance(table, m[0], m[1])); // 9/9 against 9/11
    EXPECT_EQ(2u, psex::genotypeDistance(table, m[0], m[2])); // 12/12-12/14, 14/14-14/16
    EXPECT_EQ(3u, psex::genotypeDistance(table, m[1], m[2]));
    EXPECT_EQ(6u, psex::genotypeDistance(table, m[0], m[3])); // nothing shared
    EXPECT_EQ(psex::genotypeDistance(table, m[2], m[1]), psex::genotypeDistance(table, m[1], m[2]));

    // Haploid loci differ by 0 or 1; a locus with a missing copy in either
    // genotype is left out.
    const MLGTable haploid =
        tableFromText("PLOIDY=1\nLOCUSCOUNT=3\nSIMULATIONS=10\nMISSING=0\n\nS,a,b,c\n"
                      "x,1,2,3\ny,1,5,0\nz,4,5,6\n");
    const auto& h = haploid.mlgs(); // 1 2 3, 1 5 0, 4 5 6
    EXPECT_EQ(1u, psex::genotypeDistance(haploid, h[0], h[1]));
    EXPECT_EQ(1u, psex::genotypeDistance(haploid, h[1], h[2]));
    EXPECT_EQ(3u, psex::genotypeDistance(haploid, h[0], h[2]));
}

TEST(FormLineages, JoinsAChainBySingleLinkage) {
    // A-B and B-C are one copy apart, A-C two: at k = 1 all three are one
    // lineage; D stays alone.  Lineages are numbered by their first MLG.
    const MLGTable table = diploid("A,10,10,20,20,30,30\nB,10,10,20,20,30,31\n"
                                   "C,10,10,20,21,30,31\nD,11,11,22,22,33,33\n"
                                   "A2,10,10,20,20,30,30\n");
    // Table order: A, B, C, D.
    const Lineages linked = psex::formLineages(table, 1);
    EXPECT_EQ((Numbers{1, 1, 1, 2}), linked.lineageOfMlg);
    EXPECT_EQ(2u, linked.count);
    // Pairs: A-B 1, A-C 2, B-C 1, and D six away from each.
    EXPECT_EQ((Counts{0, 2, 1, 0, 0, 0, 3}), linked.observedPairs);

    const Lineages strict = psex::formLineages(table, 0); // joins nothing
    EXPECT_EQ((Numbers{1, 2, 3, 4}), strict.lineageOfMlg);
    EXPECT_EQ(linked.observedPairs, strict.observedPairs);
    EXPECT_EQ(psex::singletonLineages(table).lineageOfMlg, strict.lineageOfMlg);
    EXPECT_EQ((Numbers{1, 1, 1, 1}), psex::formLineages(table, 6).lineageOfMlg);
}

TEST(FormLineages, JoinsARametWithAFailedLocusAtAnyPositiveDistance) {
    // The ramet b failed at the last locus: over the typed loci it is at
    // distance 0 from its clone, which k = 1 joins (k = 0 joins nothing).
    const MLGTable table =
        diploid("a,12,14,16,18,20,22\nb,12,14,16,18,0,0\nc,13,13,17,17,21,21\n", "MISSING=0\n");
    const Lineages lineages = psex::formLineages(table, 1);
    ASSERT_EQ(3u, table.mlgs().size()); // b (with 0/0) comes first
    EXPECT_EQ((Numbers{1, 1, 2}), lineages.lineageOfMlg);
    // b-c over two loci: 4; a-c over three: 6.
    EXPECT_EQ((Counts{1, 0, 0, 0, 1, 0, 1}), lineages.observedPairs);
}

TEST(FormLineages, GivesTheSameResultOnAnyNumberOfThreads) {
    // Many genotypes, some near-copies, and a locus with more than 255
    // genotypes (compared allele by allele).
    std::mt19937 random(5);
    std::string lines;
    for (int s = 0; s < 900; ++s) {
        auto allele = [&](int spread) {
            return std::to_string(100 + std::uniform_int_distribution<int>(0, spread)(random));
        };
        lines += 's';
        lines += std::to_string(s);
        for (const int spread : {3, 3, 2, 2, 400, 400}) {
            lines += ',';
            lines += allele(spread);
        }
        lines += '\n';
    }
    const MLGTable table = diploid(lines);
    const Lineages one = psex::formLineages(table, 2, 1);
    for (const unsigned threads : {2u, 3u, 7u}) {
        const Lineages many = psex::formLineages(table, 2, threads);
        EXPECT_EQ(one.lineageOfMlg, many.lineageOfMlg) << threads;
        EXPECT_EQ(one.observedPairs, many.observedPairs) << threads;
    }
    const std::uint64_t g = table.mlgs().size();
    EXPECT_EQ(g * (g - 1) / 2,
              std::accumulate(one.observedPairs.begin(), one.observedPairs.end(), 0ull));
    // Spot-check the histogram against the distance of single pairs.
    std::uint64_t atOne = 0;
    for (std::size_t a = 0; a < 60; ++a) {
        for (std::size_t b = a + 1; b < table.mlgs().size(); ++b) {
            atOne += psex::genotypeDistance(table, table.mlgs()[a], table.mlgs()[b]) == 1;
        }
    }
    EXPECT_GT(atOne, 0u);
    EXPECT_LE(atOne, one.observedPairs[1]);
}

TEST(FormLineages, TellsTheProgressOfThePairsOnTheCallingThread) {
    std::string lines;
    for (int s = 0; s < 700; ++s) {
        lines += 's' + std::to_string(s) + ',' + std::to_string(100 + s % 13) + ',' +
                 std::to_string(100 + s % 7) + ',' + std::to_string(100 + s / 13) + ",1,1,2\n";
    }
    const MLGTable table = diploid(lines);
    const std::uint64_t g = table.mlgs().size();
    ASSERT_GT(g, 600u);
    for (const unsigned threads : {1u, 3u}) {
        std::vector<std::uint64_t> done;
        const std::thread::id caller = std::this_thread::get_id();
        psex::formLineages(table, 1, threads, [&](std::uint64_t pairs, std::uint64_t total) {
            EXPECT_EQ(caller, std::this_thread::get_id());
            EXPECT_EQ(g * (g - 1) / 2, total);
            done.push_back(pairs);
        });
        ASSERT_FALSE(done.empty());
        EXPECT_TRUE(std::is_sorted(done.begin(), done.end())) << threads;
        EXPECT_EQ(g * (g - 1) / 2, done.back()) << threads;
        if (threads == 1) {
            // Told after every row of pairs (G - 1 rows), then at the end;
            // with more threads the calling thread's share of rows varies.
            EXPECT_EQ(g, done.size());
            EXPECT_EQ(g - 1, done.front());
        }
    }
}

TEST(FormLineages, ThrowsAFailureAfterEveryThreadHasEnded) {
    // An exception while the pairs are compared (here from the progress;
    // in a run, an allocation that fails) must not end the process: the
    // threads stop and the caller gets it.
    std::string lines;
    for (int s = 0; s < 2000; ++s) {
        lines += 's' + std::to_string(s) + ',' + std::to_string(100 + s % 31) + ',' +
                 std::to_string(100 + s % 17) + ',' + std::to_string(100 + s / 31) + ",1,1,2\n";
    }
    const MLGTable table = diploid(lines);
    // The calling thread tells the progress after each row of pairs it
    // compares, and once at the end: on one thread the first call comes in
    // the middle of the work; on four, the other threads may have taken
    // every row, and it comes at the end.  Either way the failure arrives.
    for (const unsigned threads : {1u, 4u}) {
        int calls = 0;
        EXPECT_THROW(psex::formLineages(table, 1, threads,
                                        [&](std::uint64_t, std::uint64_t) {
                                            if (++calls == 1) {
                                                throw std::bad_alloc();
                                            }
                                        }),
                     std::bad_alloc)
            << threads;
        EXPECT_EQ(1, calls) << threads;
    }
}

TEST(FormLineages, AgreesWithThePlainDistancesOnEveryInstructionPath) {
    // Near copies (few alleles), missing copies and a locus of many
    // alleles; the lineages and histogram of the plain per-pair distance
    // and a plain single linkage, against each path the processor runs.
    std::mt19937 random(23);
    std::string lines;
    for (int s = 0; s < 300; ++s) {
        lines += 's' + std::to_string(s);
        for (const int spread : {1, 1, 2, 2, 600, 600}) {
            const bool missing = std::uniform_int_distribution<int>(0, 19)(random) == 0;
            lines += ',' +
                     std::to_string(
                         missing ? 0 : 100 + std::uniform_int_distribution<int>(0, spread)(random));
        }
        lines += '\n';
    }
    const MLGTable table = diploid(lines, "MISSING=0\n");
    const std::size_t g = table.mlgs().size();
    Counts histogram(7, 0);
    std::vector<std::uint32_t> group(g);
    std::iota(group.begin(), group.end(), 0u);
    for (std::size_t a = 0; a < g; ++a) {
        for (std::size_t b = a + 1; b < g; ++b) {
            const std::uint32_t d = psex::genotypeDistance(table, table.mlgs()[a], table.mlgs()[b]);
            ++histogram[d];
            if (d <= 2 && group[a] != group[b]) {
                const std::uint32_t from = std::max(group[a], group[b]);
                const std::uint32_t to = std::min(group[a], group[b]);
                std::replace(group.begin(), group.end(), from, to);
            }
        }
    }
    while (histogram.back() == 0) {
        histogram.pop_back();
    }
    Numbers expected;
    std::vector<std::uint32_t> numberOfGroup(g, 0);
    std::uint32_t count = 0;
    for (const std::uint32_t first : group) {
        if (numberOfGroup[first] == 0) {
            numberOfGroup[first] = ++count;
        }
        expected.push_back(numberOfGroup[first]);
    }
    ASSERT_LT(count, g); // some MLGs are joined

    const psex::VectorPath previous = psex::PairDistances::defaultPath();
    for (const psex::VectorPath path : {psex::VectorPath::e_portable, psex::VectorPath::e_avx2}) {
        if (!psex::PairDistances::isSupported(path)) {
            continue;
        }
        psex::PairDistances::setDefaultPath(path);
        const Lineages lineages = psex::formLineages(table, 2, 2);
        EXPECT_EQ(expected, lineages.lineageOfMlg);
        EXPECT_EQ(count, lineages.count);
        EXPECT_EQ(histogram, lineages.observedPairs);
    }
    psex::PairDistances::setDefaultPath(previous);
}

TEST(ReferenceDistances, DrawsSiblingsAndUnrelatedPairsReproducibly) {
    // splitmix64's published first number from state 0.
    std::uint64_t state = 0;
    EXPECT_EQ(0xE220A8397B1DCDAFULL, psex::splitmix64(state));

    // Homozygous parents give identical siblings at every locus.
    const MLGTable uniform = diploid("a,1,1,2,2,3,3\nb,1,1,2,2,3,3\n");
    const psex::ReferenceDistances same = psex::referenceDistances(uniform, 50);
    EXPECT_EQ((Counts{50}), same.siblingPairs);
    EXPECT_EQ((Counts{50}), same.unrelatedPairs); // one allele per locus

    const MLGTable table = diploid("a,1,2,3,4,5,6\nb,7,8,9,10,11,12\nc,1,7,3,9,5,11\n");
    const psex::ReferenceDistances reference = psex::referenceDistances(table, 400);
    EXPECT_EQ(reference.siblingPairs, psex::referenceDistances(table, 400).siblingPairs);
    EXPECT_EQ(400u,
              std::accumulate(reference.siblingPairs.begin(), reference.siblingPairs.end(), 0ull));
    EXPECT_EQ(400u, std::accumulate(reference.unrelatedPairs.begin(),
                                    reference.unrelatedPairs.end(), 0ull));
    // Siblings share more than strangers: on average fewer copies differ.
    auto mean = [](const Counts& counts) {
        double sum = 0.0;
        double pairs = 0.0;
        for (std::size_t d = 0; d < counts.size(); ++d) {
            sum += static_cast<double>(d * counts[d]);
            pairs += static_cast<double>(counts[d]);
        }
        return sum / pairs;
    };
    EXPECT_LT(mean(reference.siblingPairs), mean(reference.unrelatedPairs));
    EXPECT_LE(reference.unrelatedPairs.size(), 7u); // at most 6 copies differ
    EXPECT_TRUE(
        psex::referenceDistances(
            psex::test::tableFromText("PLOIDY=2\nLOCUSCOUNT=3\nSIMULATIONS=1\n\nS,a,b,c,d,e,f\n"),
            5)
            .siblingPairs.empty());
}

} // namespace
