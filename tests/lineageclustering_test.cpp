// lineageclustering_test.cpp                                     -*-C++-*-
#include "analysis/lineageclustering.h"

#include "analysis/lineages.h"
#include "model/mlgtable.h"
#include "tablefromtext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

using psex::LineageMethod;
using psex::Lineages;
using psex::MLGTable;
using psex::test::tableFromText;
using Numbers = std::vector<std::uint32_t>;

// The chain of four haploid MLGs at three loci (table order):
//   A 1 2 1    B 2 1 2    C 2 3 1    D 2 3 2
// with the distances A-B 3, A-C 2, A-D 3, B-C 2, B-D 1, C-D 1.
MLGTable chain() {
    return tableFromText("PLOIDY=1\nLOCUSCOUNT=3\nSIMULATIONS=1\n\nS,x,y,z\n"
                         "D,2,3,2\nA,1,2,1\nC,2,3,1\nB,2,1,2\n");
}

TEST(LineageClustering, TheThreeMethodsDifferOnAChain) {
    const MLGTable table = chain();
    ASSERT_EQ(4u, table.mlgs().size());
    ASSERT_EQ(3u, psex::genotypeDistance(table, table.mlgs()[0], table.mlgs()[1])); // A-B
    ASSERT_EQ(1u, psex::genotypeDistance(table, table.mlgs()[2], table.mlgs()[3])); // C-D

    // k = 2.  NEAREST: A-C, B-C, B-D and C-D are within 2: one lineage.
    EXPECT_EQ((Numbers{1, 1, 1, 1}),
              psex::formLineages(table, 2, LineageMethod::e_nearest).lineageOfMlg);
    // AVERAGE: B-D (1; before C-D, also 1) first; then B-D to C is
    // (2 + 1) / 2 = 1.5, below A-C (2) and A-BD (3): B, C, D.  A to them:
    // (3 + 2 + 3) / 3 = 8/3 > 2.
    EXPECT_EQ((Numbers{1, 2, 2, 2}),
              psex::formLineages(table, 2, LineageMethod::e_average).lineageOfMlg);
    // FARTHEST: B-D first; then A-C and BD-C are both 2: the pair (A, C)
    // comes before (B, C).  AC to BD: 3 > 2.
    EXPECT_EQ((Numbers{1, 2, 1, 2}),
              psex::formLineages(table, 2, LineageMethod::e_farthest).lineageOfMlg);

    // At k = 1 all three join B and D only (then C-D alone is within 1 by
    // NEAREST, which chains C in; AVERAGE's BD-C is 1.5).
    EXPECT_EQ((Numbers{1, 2, 2, 2}),
              psex::formLineages(table, 1, LineageMethod::e_nearest).lineageOfMlg);
    EXPECT_EQ((Numbers{1, 2, 3, 2}),
              psex::formLineages(table, 1, LineageMethod::e_average).lineageOfMlg);
    EXPECT_EQ((Numbers{1, 2, 3, 2}),
              psex::formLineages(table, 1, LineageMethod::e_farthest).lineageOfMlg);
}

TEST(LineageClustering, JoinsNothingAtZeroAndKeepsTheDistancesOfEveryMethod) {
    const MLGTable table = chain();
    const Lineages nearest = psex::formLineages(table, 2, LineageMethod::e_nearest);
    for (const LineageMethod method :
         {LineageMethod::e_nearest, LineageMethod::e_average, LineageMethod::e_farthest}) {
        const Lineages none = psex::formLineages(table, 0, method);
        EXPECT_EQ((Numbers{1, 2, 3, 4}), none.lineageOfMlg) << psex::methodName(method);
        EXPECT_EQ(4u, none.count);
        EXPECT_FALSE(none.tooManyForMethod);
        // The observed distances do not depend on the method.
        const Lineages formed = psex::formLineages(table, 2, method, 3);
        EXPECT_EQ(nearest.observedPairs, none.observedPairs) << psex::methodName(method);
        EXPECT_EQ(nearest.observedPairs, formed.observedPairs) << psex::methodName(method);
    }
    EXPECT_EQ((std::vector<std::uint64_t>{0, 2, 2, 2}), nearest.observedPairs);
}

TEST(LineageClustering, MergesEqualLinkagesInTheOrderOfTheirPairs) {
    // Three MLGs in a row, 1 apart: a-b and b-c tie; (a, b) goes first, and
    // ab-c is then 2 (FARTHEST) or 1.5 (AVERAGE), above k = 1: c stays
    // alone.  Merging b-c first would have left a alone instead.
    const MLGTable row = tableFromText("PLOIDY=1\nLOCUSCOUNT=2\nSIMULATIONS=1\n\nS,x,y\n"
                                       "a,1,1\nb,1,2\nc,2,2\n");
    for (const LineageMethod method : {LineageMethod::e_average, LineageMethod::e_farthest}) {
        EXPECT_EQ((Numbers{1, 1, 2}), psex::formLineages(row, 1, method).lineageOfMlg)
            << psex::methodName(method);
    }
}

// The lineages by the definition itself, one step at a time: every pair of
// current lineages (a, b), a < b, its linkage from the MLG distances, the
// smallest (exactly, as fractions), the first such pair, while within k.
Numbers byDefinition(const MLGTable& table, std::int32_t k, LineageMethod method) {
    const std::size_t g = table.mlgs().size();
    std::vector<std::vector<std::uint32_t>> distance(g, std::vector<std::uint32_t>(g, 0));
    for (std::size_t x = 0; x < g; ++x) {
        for (std::size_t y = 0; y < g; ++y) {
            distance[x][y] = psex::genotypeDistance(table, table.mlgs()[x], table.mlgs()[y]);
        }
    }
    std::map<std::size_t, std::vector<std::size_t>> lineages; // by first MLG
    for (std::size_t m = 0; m < g; ++m) {
        lineages[m] = {m};
    }
    for (;;) {
        bool found = false;
        std::uint64_t bestSum = 0;
        std::uint64_t bestCount = 1;
        std::size_t bestA = 0;
        std::size_t bestB = 0;
        for (const auto& [a, first] : lineages) {
            for (const auto& [b, second] : lineages) {
                if (b <= a) {
                    continue;
                }
                std::uint64_t sum = 0;
                std::uint64_t largest = 0;
                for (const std::size_t x : first) {
                    for (const std::size_t y : second) {
                        sum += distance[x][y];
                        largest = std::max<std::uint64_t>(largest, distance[x][y]);
                    }
                }
                std::uint64_t count = first.size() * second.size();
                if (method == LineageMethod::e_farthest) {
                    sum = largest;
                    count = 1;
                }
                if (sum > static_cast<std::uint64_t>(k) * count) {
                    continue;
                }
                if (!found || sum * bestCount < bestSum * count) {
                    found = true;
                    bestSum = sum;
                    bestCount = count;
                    bestA = a;
                    bestB = b;
                }
            }
        }
        if (!found || k == 0) {
            break;
        }
        auto& into = lineages[bestA];
        into.insert(into.end(), lineages[bestB].begin(), lineages[bestB].end());
        lineages.erase(bestB);
    }
    Numbers numbers(g, 0);
    std::uint32_t next = 0;
    for (const auto& [a, members] : lineages) {
        ++next;
        for (const std::size_t m : members) {
            numbers[m] = next;
        }
    }
    return numbers;
}

TEST(LineageClustering, FollowsTheDefinitionStepByStep) {
    // Random tables with few alleles and loci, so that many linkages tie;
    // haploid and diploid, with missing copies (distance 0 pairs).
    std::mt19937 random(7);
    int joined = 0;
    for (int trial = 0; trial < 60; ++trial) {
        const int ploidy = 1 + trial % 2;
        const int loci = 3 + trial % 4;
        const int samples = 5 + static_cast<int>(random() % 36);
        std::string text = "PLOIDY=" + std::to_string(ploidy) +
                           "\nLOCUSCOUNT=" + std::to_string(loci) +
                           "\nSIMULATIONS=1\nMISSING=0\n\nS";
        for (int c = 0; c < loci * ploidy; ++c) {
            text += ",c" + std::to_string(c);
        }
        text += '\n';
        for (int s = 0; s < samples; ++s) {
            text += 's' + std::to_string(s);
            for (int c = 0; c < loci * ploidy; ++c) {
                const unsigned value = random() % 10;
                text += ',' + std::to_string(value == 0 ? 0 : 1 + value % 3);
            }
            text += '\n';
        }
        const MLGTable table = tableFromText(text);
        for (const std::int32_t k : {1, 2, 3, 5}) {
            for (const LineageMethod method :
                 {LineageMethod::e_average, LineageMethod::e_farthest}) {
                const Numbers expected = byDefinition(table, k, method);
                const Lineages lineages = psex::formLineages(table, k, method, 2);
                EXPECT_EQ(expected, lineages.lineageOfMlg)
                    << psex::methodName(method) << " k=" << k << " trial " << trial;
                joined += lineages.count < table.mlgs().size() ? 1 : 0;
                EXPECT_EQ(lineages.count, *std::max_element(expected.begin(), expected.end()));
            }
        }
    }
    EXPECT_GT(joined, 100); // the cases do join MLGs
}

TEST(LineageClustering, KeepsThePairTableWithin256Megabytes) {
    // 8 bytes a pair for AVERAGE: 8192 * 8191 / 2 * 8 bytes fit in 2^28,
    // 8193 * 8192 / 2 * 8 do not; 2 bytes for FARTHEST: 16384.
    EXPECT_EQ(8192u, psex::largestClusteredTable(LineageMethod::e_average, 40, 2));
    EXPECT_EQ(16384u, psex::largestClusteredTable(LineageMethod::e_farthest, 40, 2));
    // Distances above 65535 that k still tells apart take 4 bytes a pair.
    EXPECT_EQ(16384u, psex::largestClusteredTable(LineageMethod::e_farthest, 200000, 65534));
    EXPECT_EQ(11585u, psex::largestClusteredTable(LineageMethod::e_farthest, 200000, 65535));
    EXPECT_EQ(std::numeric_limits<std::size_t>::max(),
              psex::largestClusteredTable(LineageMethod::e_nearest, 40, 2));
    for (const LineageMethod method : {LineageMethod::e_average, LineageMethod::e_farthest}) {
        for (const std::int32_t k : {1, 70000}) {
            const std::uint64_t g = psex::largestClusteredTable(method, 100000, k);
            const std::uint64_t bytes =
                method == LineageMethod::e_average ? 8 : (k < 65535 ? 2 : 4);
            EXPECT_LE(g * (g - 1) / 2 * bytes, psex::k_pairTableBytes);
            EXPECT_GT((g + 1) * g / 2 * bytes, psex::k_pairTableBytes);
        }
    }
    EXPECT_EQ("error: MLLMETHOD=AVERAGE needs at most 8192 genotypes; use NEAREST.",
              psex::methodTooLargeMessage(LineageMethod::e_average, 8192));
    EXPECT_STREQ("FARTHEST", psex::methodName(LineageMethod::e_farthest));
    EXPECT_STREQ("NEAREST", psex::methodName(LineageMethod::e_nearest));
}

TEST(LineageClustering, LeavesEveryMLGAloneAboveTheBound) {
    // 8193 distinct MLGs, many within k = 1 of each other: AVERAGE may
    // not join them (its pair table would take more than 256 MB); the
    // distances are still counted, and NEAREST joins them.
    std::string text = "PLOIDY=1\nLOCUSCOUNT=3\nSIMULATIONS=1\n\nS,x,y,z\n";
    for (int s = 0; s < 8193; ++s) {
        text += 's' + std::to_string(s) + ',' + std::to_string(s % 100) + ',' +
                std::to_string(s / 100) + ",1\n";
    }
    const MLGTable table = tableFromText(text);
    ASSERT_EQ(8193u, table.mlgs().size());
    const Lineages average = psex::formLineages(table, 1, LineageMethod::e_average, 2);
    EXPECT_TRUE(average.tooManyForMethod);
    EXPECT_EQ(8193u, average.count);
    Numbers each(8193);
    std::iota(each.begin(), each.end(), 1u);
    EXPECT_EQ(each, average.lineageOfMlg);
    const Lineages nearest = psex::formLineages(table, 1, LineageMethod::e_nearest, 2);
    EXPECT_FALSE(nearest.tooManyForMethod);
    EXPECT_EQ(1u, nearest.count);
    EXPECT_EQ(nearest.observedPairs, average.observedPairs);
    // FARTHEST's table of 2 bytes a pair fits.
    const Lineages farthest = psex::formLineages(table, 1, LineageMethod::e_farthest, 2);
    EXPECT_FALSE(farthest.tooManyForMethod);
    EXPECT_LT(farthest.count, 8193u);
}

} // namespace
