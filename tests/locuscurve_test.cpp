// locuscurve_test.cpp                                            -*-C++-*-
#include "analysis/locuscurve.h"

#include "analysis/lineages.h"
#include "model/mlgtable.h"
#include "tablefromtext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using Subsets = std::vector<std::vector<std::uint32_t>>;

// Four haploid MLGs at three loci (and a repeat of the first):
//   A 1 1 1    B 1 1 2    C 1 2 2    D 2 3 1
psex::MLGTable fourGenotypes() {
    return psex::test::tableFromText("PLOIDY=1\nLOCUSCOUNT=3\nSIMULATIONS=1\n\nS,x,y,z\n"
                                     "A,1,1,1\nB,1,1,2\nC,1,2,2\nD,2,3,1\nA2,1,1,1\n");
}

Subsets visited(std::uint32_t loci, std::uint32_t size, std::uint32_t wanted,
                std::uint64_t& state) {
    Subsets subsets;
    psex::visitCurveSubsets(loci, size, wanted, state,
                            [&](const std::vector<std::uint32_t>& s) { subsets.push_back(s); });
    return subsets;
}

TEST(LocusCurve, CountsEverySubsetOfATableWhereAllCanBeListed) {
    // One locus: x 2, y 3, z 2 genotypes: 2 2 3.  Two: xy (11 11 12 23) 3,
    // xz (11 12 12 21) 3, yz (11 12 22 31) 4: 3 3 4.  Three: 4.
    const std::vector<psex::CurvePoint> curve = psex::locusCurve(fourGenotypes(), 3);
    ASSERT_EQ(3u, curve.size());
    const psex::CurvePoint& one = curve[0];
    EXPECT_EQ(1u, one.loci);
    EXPECT_EQ(3u, one.subsets);
    EXPECT_EQ(2u, one.least);
    EXPECT_EQ(2.0, one.lowerQuartile); // h = 0.5 between 2 and 2
    EXPECT_EQ(2.0, one.median);
    EXPECT_EQ(2.5, one.upperQuartile); // h = 1.5 between 2 and 3
    EXPECT_EQ(3u, one.most);
    EXPECT_EQ(7.0 / 3.0, one.mean);
    const psex::CurvePoint& two = curve[1];
    EXPECT_EQ(3u, two.subsets);
    EXPECT_EQ(3u, two.least);
    EXPECT_EQ(3.0, two.median);
    EXPECT_EQ(3.5, two.upperQuartile);
    EXPECT_EQ(4u, two.most);
    EXPECT_EQ(10.0 / 3.0, two.mean);
    EXPECT_EQ(1u, curve[2].subsets);
    EXPECT_EQ(4u, curve[2].least);
    EXPECT_EQ(4.0, curve[2].mean);

    EXPECT_EQ(3u, psex::genotypesOn(fourGenotypes(), {0, 2}));
    EXPECT_EQ(0u, psex::genotypesOn(
                      psex::test::tableFromText("PLOIDY=1\nLOCUSCOUNT=2\nSIMULATIONS=1\n\nS,x,y\n"),
                      {1}));
}

TEST(LocusCurve, CountsTheGenotypesOfRandomTablesAsASetOfTheirAllelesDoes) {
    // Few alleles (many MLGs share a genotype on a subset), and many (the
    // groups times the codes of the next locus beyond the dense table).
    std::mt19937 random(11);
    for (const int alleles : {3, 5000}) {
        std::string text = "PLOIDY=2\nLOCUSCOUNT=3\nSIMULATIONS=1\nMISSING=0\n\n"
                           "S,a1,a2,b1,b2,c1,c2\n";
        std::vector<std::vector<int>> rows;
        for (int s = 0; s < 3000; ++s) {
            std::vector<int> row;
            text += 's' + std::to_string(s);
            for (int c = 0; c < 6; ++c) {
                row.push_back(int(random() % unsigned(alleles))); // 0: a missing copy
                text += ',' + std::to_string(row.back());
            }
            rows.push_back(row);
            text += '\n';
        }
        const psex::MLGTable table = psex::test::tableFromText(text);
        for (const std::vector<std::uint32_t>& loci :
             {std::vector<std::uint32_t>{0}, {2, 0}, {0, 1, 2}, {1, 2}}) {
            std::set<std::vector<int>> distinct;
            for (const std::vector<int>& row : rows) {
                std::vector<int> projected;
                for (const std::uint32_t j : loci) {
                    // Diploid pairs are stored in ascending order.
                    projected.push_back(std::min(row[2 * j], row[2 * j + 1]));
                    projected.push_back(std::max(row[2 * j], row[2 * j + 1]));
                }
                distinct.insert(projected);
            }
            EXPECT_EQ(distinct.size(), psex::genotypesOn(table, loci)) << alleles;
        }
    }
}

TEST(LocusCurve, ListsFewSubsetsInOrderAndDrawsManyFromItsStream) {
    // C(5, 3) = 10 <= 10: every one, lexicographically, and no draw.
    std::uint64_t state = psex::k_curveSeed;
    const Subsets all = visited(5, 3, 10, state);
    ASSERT_EQ(10u, all.size());
    EXPECT_EQ((std::vector<std::uint32_t>{0, 1, 2}), all.front());
    EXPECT_EQ((std::vector<std::uint32_t>{0, 1, 3}), all[1]);
    EXPECT_EQ((std::vector<std::uint32_t>{0, 3, 4}), all[5]);
    EXPECT_EQ((std::vector<std::uint32_t>{2, 3, 4}), all.back());
    EXPECT_EQ(psex::k_curveSeed, state);
    EXPECT_EQ(0x7073657820637572ull, psex::k_curveSeed); // the bytes of "psex cur"

    // C(5, 3) > 9: nine drawn, each by a partial Fisher-Yates on 0..4.
    std::uint64_t expectedState = psex::k_curveSeed;
    Subsets expected;
    for (int r = 0; r < 9; ++r) {
        std::vector<std::uint32_t> index = {0, 1, 2, 3, 4};
        for (std::uint32_t t = 0; t < 3; ++t) {
            __extension__ typedef unsigned __int128 Wide;
            const std::uint64_t x = psex::splitmix64(expectedState);
            std::swap(index[t], index[t + static_cast<std::uint32_t>((Wide(x) * (5 - t)) >> 64)]);
        }
        expected.emplace_back(index.begin(), index.begin() + 3);
    }
    EXPECT_EQ(expected, visited(5, 3, 9, state));
    EXPECT_EQ(expectedState, state);
}

TEST(LocusCurve, GivesOneMLGOnEverySubsetWithoutListingThem) {
    // One sample at 40 loci: C(40, 1) = 40 and C(40, 2) = 780 subsets are
    // within 1000, C(40, 3) = 9880 is not; each finds the one MLG.
    std::string text = "PLOIDY=1\nLOCUSCOUNT=40\nSIMULATIONS=1\n\nS";
    std::string row = "\ns1";
    for (int j = 0; j < 40; ++j) {
        text += ",l" + std::to_string(j);
        row += ",7";
    }
    const std::vector<psex::CurvePoint> curve =
        psex::locusCurve(psex::test::tableFromText(text + row + "\n"), 1000);
    ASSERT_EQ(40u, curve.size());
    EXPECT_EQ(40u, curve[0].subsets);
    EXPECT_EQ(780u, curve[1].subsets);
    EXPECT_EQ(1000u, curve[2].subsets);
    EXPECT_EQ(1000u, curve[19].subsets);
    EXPECT_EQ(1u, curve[39].subsets);
    for (const psex::CurvePoint& point : curve) {
        EXPECT_EQ(1u, point.least);
        EXPECT_EQ(1u, point.most);
        EXPECT_EQ(1.0, point.median);
        EXPECT_EQ(1.0, point.mean);
    }
    // Without a sample: no MLG on any subset.
    const std::vector<psex::CurvePoint> empty =
        psex::locusCurve(psex::test::tableFromText(text + "\n"), 1000);
    ASSERT_EQ(40u, empty.size());
    EXPECT_EQ(1000u, empty[20].subsets);
    EXPECT_EQ(0u, empty[20].most);
    EXPECT_EQ(0.0, empty[20].mean);
}

// A table of 'samples' haploid samples at 'loci' loci with alleles 1 to
// 'alleles' drawn from a fixed seed, with its genotypes row by row.
struct RandomTable {
    std::string text;
    std::vector<std::vector<int>> rows;
};

RandomTable randomTable(int samples, int loci, int alleles, unsigned seed) {
    std::mt19937 random(seed);
    RandomTable table;
    table.text = "PLOIDY=1\nLOCUSCOUNT=" + std::to_string(loci) + "\nSIMULATIONS=1\n\nS";
    for (int j = 0; j < loci; ++j) {
        table.text += ",l" + std::to_string(j);
    }
    for (int s = 0; s < samples; ++s) {
        table.text += "\ns" + std::to_string(s);
        std::vector<int> row;
        for (int j = 0; j < loci; ++j) {
            row.push_back(1 + int(random() % unsigned(alleles)));
            table.text += ',' + std::to_string(row.back());
        }
        table.rows.push_back(row);
    }
    table.text += '\n';
    return table;
}

// Return the curve of 'table' worked the long way: every subset in full
// from one stream running through all numbers of loci, each count a set of
// the rows cut down to the subset, and the quartiles from the sorted counts.
std::vector<psex::CurvePoint> curveByHand(const RandomTable& table, std::uint32_t wanted) {
    const auto loci = static_cast<std::uint32_t>(table.rows.front().size());
    std::vector<psex::CurvePoint> curve;
    std::uint64_t state = psex::k_curveSeed;
    for (std::uint32_t k = 1; k <= loci; ++k) {
        std::vector<std::uint64_t> counts;
        for (const std::vector<std::uint32_t>& subset : visited(loci, k, wanted, state)) {
            std::set<std::vector<int>> distinct;
            for (const std::vector<int>& row : table.rows) {
                std::vector<int> cut;
                for (const std::uint32_t j : subset) {
                    cut.push_back(row[j]);
                }
                distinct.insert(cut);
            }
            counts.push_back(distinct.size());
        }
        std::sort(counts.begin(), counts.end());
        const auto quantile = [&](double p) {
            const double h = double(counts.size() - 1) * p;
            const auto lo = static_cast<std::size_t>(h);
            const double x = double(counts[lo]);
            return h == double(lo) || counts[lo + 1] == counts[lo]
                       ? x
                       : (1.0 - (h - double(lo))) * x + (h - double(lo)) * double(counts[lo + 1]);
        };
        psex::CurvePoint point;
        point.loci = k;
        point.subsets = counts.size();
        point.least = counts.front();
        point.most = counts.back();
        point.lowerQuartile = quantile(0.25);
        point.median = quantile(0.5);
        point.upperQuartile = quantile(0.75);
        point.mean = double(std::accumulate(counts.begin(), counts.end(), std::uint64_t(0))) /
                     double(counts.size());
        curve.push_back(point);
    }
    return curve;
}

void expectSameCurve(const std::vector<psex::CurvePoint>& expected,
                     const std::vector<psex::CurvePoint>& actual, const std::string& what) {
    ASSERT_EQ(expected.size(), actual.size()) << what;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const psex::CurvePoint& e = expected[i];
        const psex::CurvePoint& a = actual[i];
        EXPECT_EQ(e.loci, a.loci) << what << " k " << i + 1;
        EXPECT_EQ(e.subsets, a.subsets) << what << " k " << i + 1;
        EXPECT_EQ(e.least, a.least) << what << " k " << i + 1;
        EXPECT_EQ(e.lowerQuartile, a.lowerQuartile) << what << " k " << i + 1;
        EXPECT_EQ(e.median, a.median) << what << " k " << i + 1;
        EXPECT_EQ(e.upperQuartile, a.upperQuartile) << what << " k " << i + 1;
        EXPECT_EQ(e.most, a.most) << what << " k " << i + 1;
        EXPECT_EQ(e.mean, a.mean) << what << " k " << i + 1;
    }
}

TEST(LocusCurve, StopsCountingOnceEveryMLGStandsApartWithoutMovingTheStream) {
    // 40 samples at 12 loci of 4 alleles: a few loci tell all of them
    // apart, so most subsets stop early; the subsets drawn after such a
    // subset must still be those of the full drawing.  60 wanted: k = 1,
    // 11 and 12 list every subset (k = 11 in two pieces), the others draw.
    const RandomTable table = randomTable(40, 12, 4, 5);
    const std::vector<psex::CurvePoint> expected = curveByHand(table, 60);
    ASSERT_EQ(60u, expected[5].subsets);
    ASSERT_LT(expected[5].least, 40u); // some subsets of 6 loci do not part every MLG
    ASSERT_EQ(40u, expected[6].most);  // some of 7 do
    expectSameCurve(expected, psex::locusCurve(psex::test::tableFromText(table.text), 60), "1");
}

TEST(LocusCurve, GivesTheSameCurveOnAnyNumberOfThreads) {
    // Many subsets (1,150,909 in all, more than are held at once) on a table
    // of few MLGs, and fewer on one where they part slowly: the lists of k =
    // 2, 3, 6 and 7 of 9 loci (C = 36 and 84 against 100) run over several
    // pieces each, each piece beginning at its rank.
    const RandomTable wide = randomTable(6, 24, 2, 8);
    const psex::MLGTable wideTable = psex::test::tableFromText(wide.text);
    const RandomTable deep = randomTable(300, 9, 3, 9);
    const psex::MLGTable deepTable = psex::test::tableFromText(deep.text);
    const std::vector<psex::CurvePoint> wideCurve = curveByHand(wide, 80000);
    const std::vector<psex::CurvePoint> deepCurve = curveByHand(deep, 100);
    for (const unsigned threads : {1u, 2u, 3u}) {
        std::vector<std::uint64_t> told;
        std::uint64_t totalTold = 0;
        expectSameCurve(wideCurve,
                        psex::locusCurve(wideTable, 80000, threads,
                                         [&](std::uint64_t done, std::uint64_t total) {
                                             told.push_back(done);
                                             totalTold = total;
                                         }),
                        "wide, threads " + std::to_string(threads));
        // Every subset of k = 1 to 5 and 19 to 24 (2 x (24 + 276 + 2,024 +
        // 10,626 + 42,504) + 1), 80,000 of each of the 13 others.
        EXPECT_EQ(110909u + 13u * 80000u, totalTold);
        ASSERT_FALSE(told.empty());
        EXPECT_TRUE(std::is_sorted(told.begin(), told.end()));
        EXPECT_LE(told.back(), totalTold);
        if (threads == 1) {
            EXPECT_EQ(totalTold, told.back()); // the calling thread counted them all
        }
        expectSameCurve(deepCurve, psex::locusCurve(deepTable, 100, threads),
                        "deep, threads " + std::to_string(threads));
    }
}

TEST(LocusCurve, TakesQuartilesAsRsDefaultDoes) {
    // quantile(c(1, 2, 3, 4)) in R: 1, 1.75, 2.5, 3.25, 4.
    const std::vector<std::uint64_t> histogram = {0, 1, 1, 1, 1};
    EXPECT_EQ(1.75, psex::typeSevenQuantile(histogram, 4, 0.25));
    EXPECT_EQ(2.5, psex::typeSevenQuantile(histogram, 4, 0.5));
    EXPECT_EQ(3.25, psex::typeSevenQuantile(histogram, 4, 0.75));
    EXPECT_EQ(4.0, psex::typeSevenQuantile(histogram, 4, 1.0));
    // quantile(c(7, 7, 7, 9), 0.25): h = 0.75 between two 7s.
    EXPECT_EQ(7.0, psex::typeSevenQuantile({0, 0, 0, 0, 0, 0, 0, 3, 0, 1}, 4, 0.25));
    EXPECT_EQ(5.0, psex::typeSevenQuantile({0, 0, 0, 0, 0, 1}, 1, 0.75));
}

} // namespace
