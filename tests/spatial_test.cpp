// spatial_test.cpp                                               -*-C++-*-
#include "analysis/spatial.h"

#include "analysis/lineages.h"
#include "collectedmessages.h"
#include "reports/reports.h"
#include "tablefromtext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using psex::NearestNeighbours;
using psex::SamplePoint;
using psex::UnitSpatial;
using Units = std::vector<std::uint32_t>;

SamplePoint at(double x, double y) {
    return {x, y, true};
}

// Six located samples in two groups of three, each an L: in each group the
// corner sample has two nearest neighbours at distance 1 (a tie), the
// other two one each (the corner).  A seventh sample has no place.
//
//   s3 (0,1)                 s6 (5,6)
//   s1 (0,0)  s2 (1,0)       s4 (5,5)  s5 (6,5)        s7 not located
const std::vector<SamplePoint> k_points = {at(0, 0), at(1, 0), at(0, 1),     at(5, 5),
                                           at(6, 5), at(5, 6), SamplePoint{}};

std::vector<SamplePoint> locatedOnly() {
    return {k_points.begin(), k_points.begin() + 6};
}

TEST(NearestNeighbours, KeepsEveryNeighbourAtTheSmallestDistance) {
    const NearestNeighbours neighbours(locatedOnly());
    ASSERT_EQ(6u, neighbours.size());
    EXPECT_EQ(2u, neighbours.count(0)); // s2 and s3, both at 1
    EXPECT_EQ(1u, neighbours.count(1)); // s1 (s3 is sqrt 2 away)
    EXPECT_EQ(0u, *neighbours.begin(1));
    EXPECT_EQ(2u, neighbours.count(3));
    EXPECT_EQ(3u, *neighbours.begin(5));
}

TEST(UnitSpatial, GivesSubrangesAndAcByHand) {
    // Units: s1 s2 s7 in 1, s3 s4 in 2, s5 s6 in 3.
    const Units units = {1, 1, 2, 2, 3, 3, 1};
    const NearestNeighbours neighbours(locatedOnly());
    const UnitSpatial spatial = psex::unitSpatial(k_points, units, 3, &neighbours, 0, 0);
    ASSERT_EQ(3u, spatial.units.size());
    EXPECT_EQ(3u, spatial.units[0].samples);
    EXPECT_EQ(2u, spatial.units[0].located);
    EXPECT_EQ(1.0, spatial.units[0].subrange);
    EXPECT_EQ(std::sqrt(41.0), spatial.units[1].subrange); // (0,1) to (5,5)
    EXPECT_EQ(std::sqrt(2.0), spatial.units[2].subrange);
    EXPECT_EQ(std::sqrt(41.0), spatial.subrangeMax);
    EXPECT_DOUBLE_EQ((1.0 + std::sqrt(41.0) + std::sqrt(2.0)) / 3.0, *spatial.subrangeMean);
    // Nearest neighbours in the own unit: s1 1 of its 2, s2 1 of 1, s3 0,
    // s4 0 of 2, s5 0, s6 0: S_1 = 1, S_2 = 1, Psp = (1/1 + 1/2) / 6 = 1/4.
    // Psg = 3 pairs in one unit of 15 = 1/5; Ac = (1/4 - 1/5) / (4/5).
    EXPECT_DOUBLE_EQ(0.0625, *spatial.aggregation);
    EXPECT_FALSE(spatial.aggregationP); // no permutations asked for
    EXPECT_DOUBLE_EQ(0.25, psex::neighbourShare(neighbours, {1, 1, 2, 2, 3, 3}));
}

TEST(UnitSpatial, LeavesAcUndefinedWhenEveryPairIsInOneUnitOrTooFewAreLocated) {
    const NearestNeighbours neighbours(locatedOnly());
    const UnitSpatial one =
        psex::unitSpatial(k_points, {1, 1, 1, 1, 1, 1, 1}, 1, &neighbours, 9, 0);
    EXPECT_FALSE(one.aggregation); // Psg = 1
    EXPECT_FALSE(one.aggregationP);
    EXPECT_EQ(std::sqrt(61.0), one.subrangeMax); // (0,0) to (6,5), and to (5,6)

    const std::vector<SamplePoint> single = {at(3, 4), SamplePoint{}};
    const NearestNeighbours alone(std::vector<SamplePoint>{at(3, 4)});
    const UnitSpatial lonely = psex::unitSpatial(single, {1, 2}, 2, &alone, 9, 0);
    EXPECT_FALSE(lonely.aggregation);
    EXPECT_FALSE(lonely.subrangeMax);
    EXPECT_FALSE(lonely.subrangeMean);
    EXPECT_EQ(1u, lonely.units[0].located);
    EXPECT_EQ(0u, lonely.units[1].located);

    // Without neighbours (too many located samples) only the subranges.
    const UnitSpatial unpaired =
        psex::unitSpatial(k_points, {1, 1, 2, 2, 3, 3, 1}, 3, nullptr, 9, 0);
    EXPECT_FALSE(unpaired.aggregation);
    EXPECT_EQ(std::sqrt(41.0), unpaired.subrangeMax);
}

TEST(UnitSpatial, CountsShufflesFromTheFixedSource) {
    // Units s1 s2 s3 in 1, s4 s5 s6 in 2: every nearest neighbour is in the
    // own unit, Psp = 1, Psg = 6/15, Ac = 1.  The first three shuffles of six
    // drawn from "psex spa" (derived apart, with the project's checker) put
    // the units in the orders 2 1 2 1 1 2, 1 2 1 2 2 1 and 1 2 2 1 2 1, with
    // Psp 1/2, 1/2 and 1/4: none reaches 1, so p = (1 + 0) / (3 + 1).
    const NearestNeighbours neighbours(locatedOnly());
    const Units units = {1, 1, 1, 2, 2, 2, 1};
    const UnitSpatial three = psex::unitSpatial(k_points, units, 2, &neighbours, 3, 0);
    EXPECT_EQ(1.0, three.aggregation);
    EXPECT_EQ(0.25, three.aggregationP);
    EXPECT_EQ(0.5, psex::neighbourShare(neighbours, {2, 1, 2, 1, 1, 2}));
    EXPECT_EQ(0.25, psex::neighbourShare(neighbours, {1, 2, 2, 1, 2, 1}));

    // The units [1 1 2 2 3 3] have Psp 1/4, and each of those shuffles
    // (orders 3 2 5 1 0 4, 2 3 0 5 4 1, 1 4 5 2 3 0) reaches at least 1/4:
    // p = (1 + 3) / (3 + 1).
    const UnitSpatial low =
        psex::unitSpatial(k_points, {1, 1, 2, 2, 3, 3, 1}, 3, &neighbours, 3, 0);
    EXPECT_EQ(1.0, low.aggregationP);

    // The stream position moves the shuffles on: after the first shuffle's
    // five draws, the next two shuffles are the second and the third above.
    const UnitSpatial later = psex::unitSpatial(k_points, units, 2, &neighbours, 2, 5);
    EXPECT_EQ(1.0 / 3.0, later.aggregationP);
}

TEST(LargestSquaredDistance, IsWhatComparingEveryPairGives) {
    // Clouds of many shapes (a square, a thin line, a ring, a few points on
    // one place, a grid full of ties), against every pair compared.
    std::uint64_t state = 12345;
    const auto uniform = [&] {
        return static_cast<double>(psex::splitmix64(state) >> 11) * 0x1p-53;
    };
    for (int shape = 0; shape < 5; ++shape) {
        for (const std::size_t n : {2u, 3u, 17u, 400u}) {
            std::vector<SamplePoint> points;
            for (std::size_t i = 0; i < n; ++i) {
                const double u = uniform();
                const double v = uniform();
                switch (shape) {
                case 0:
                    points.push_back(at(1000 * u, 1000 * v));
                    break;
                case 1:
                    points.push_back(at(u * 1e6, 3.0 + v * 1e-6));
                    break;
                case 2:
                    points.push_back(at(std::cos(6.283185307179586 * u) * 50,
                                        std::sin(6.283185307179586 * u) * 50));
                    break;
                case 3:
                    points.push_back(at(i % 2 == 0 ? 0.1 : 0.3, 0.7));
                    break;
                default:
                    points.push_back(at(static_cast<double>(i % 7), static_cast<double>(i / 7)));
                }
            }
            Units members(n);
            for (std::size_t i = 0; i < n; ++i) {
                members[i] = static_cast<std::uint32_t>(i);
            }
            double every = 0.0;
            for (std::size_t a = 0; a < n; ++a) {
                for (std::size_t b = a + 1; b < n; ++b) {
                    every = std::max(every, psex::squaredDistance(points[a], points[b]));
                }
            }
            EXPECT_EQ(every, psex::largestSquaredDistance(points, members))
                << "shape " << shape << ", " << n << " points";
        }
    }
}

TEST(UnitSpatial, CountsTheSameShufflesOnAnyNumberOfThreads) {
    // Blocks of shuffles go to whichever thread takes them: 1000 shuffles
    // in blocks over 1 to 4 threads must count alike.
    const NearestNeighbours neighbours(locatedOnly());
    const Units units = {1, 1, 2, 2, 3, 3, 1};
    const std::optional<double> one =
        psex::unitSpatial(k_points, units, 3, &neighbours, 1000, 7, 1).aggregationP;
    ASSERT_TRUE(one);
    EXPECT_GT(*one, 0.001); // some shuffles count, not all
    EXPECT_LT(*one, 1.0);
    for (const unsigned threads : {2u, 3u, 4u}) {
        EXPECT_EQ(one,
                  psex::unitSpatial(k_points, units, 3, &neighbours, 1000, 7, threads).aggregationP)
            << threads;
    }
}

TEST(AnalyseSpace, ShufflesTheLineagesOnTheStreamAfterTheGenotypes) {
    // Two genotypes one copy apart form one lineage with MLLDISTANCE=1; the
    // third stands alone.  Located: all six.
    const psex::MLGTable table = psex::test::tableFromText(
        "PLOIDY=1\nLOCUSCOUNT=2\nSIMULATIONS=1\nCOORDINATES=x,y\nMLLDISTANCE=1\nSPATIAL=4\n\n"
        "S,a,b,x,y\n"
        "s1,1,1,0,0\ns2,1,2,1,0\ns3,5,5,0,1\ns4,5,5,5,5\ns5,7,7,6,5\ns6,7,7,5,6\n");
    ASSERT_EQ(6u, table.samplePoints().size());
    const psex::Lineages lineages = psex::formLineages(table, 1, 1);
    psex::test::CollectedMessages messages;
    const psex::SpatialAnalysis spatial = psex::analyseSpace(table, lineages, messages);
    EXPECT_EQ("", messages.error());
    ASSERT_TRUE(spatial.mll);
    EXPECT_EQ(4u, spatial.mlg.units.size());
    EXPECT_EQ(3u, spatial.mll->units.size());
    // MLG permutations take draws 0 to 19; the lineages' start at 20.
    Units mlgUnits;
    for (std::uint32_t m : table.mlgNumbersOfSamples()) {
        mlgUnits.push_back(m);
    }
    Units mllUnits;
    for (std::uint32_t m : mlgUnits) {
        mllUnits.push_back(lineages.lineageOfMlg[m - 1]);
    }
    const NearestNeighbours neighbours(locatedOnly());
    EXPECT_EQ(psex::unitSpatial(table.samplePoints(), mllUnits, 3, &neighbours, 4, 20).aggregationP,
              spatial.mll->aggregationP);
    EXPECT_EQ(psex::unitSpatial(table.samplePoints(), mlgUnits, 4, &neighbours, 4, 0).aggregationP,
              spatial.mlg.aggregationP);
    ASSERT_EQ(2u, spatial.kinship.size());
    EXPECT_EQ("ramets", spatial.kinship[0].level);
    EXPECT_EQ("genets", spatial.kinship[1].level);
}

// A data file of haploid samples at one locus with 50 alleles, sample i
// at the place 'place(i)'.
template <class Place>
psex::MLGTable placedTable(std::size_t n, const Place& place) {
    std::ostringstream text;
    text << "PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=1\nCOORDINATES=x,y\nSPATIAL=5\n\nS,a,x,y\n";
    for (std::size_t i = 0; i < n; ++i) {
        const auto [x, y] = place(i);
        text << 's' << i << ',' << i % 50 << ',' << x << ',' << y << '\n';
    }
    return psex::test::tableFromText(text.str());
}

TEST(AnalyseSpace, LeavesTheKinshipOfTooManyLocatedSamplesUndefined) {
    // One more located sample than the kinship is computed for: the
    // subranges and Ac stand, the kinship is NA, and the run says so.
    const psex::MLGTable table = placedTable(psex::k_locatedLimit + 1, [](std::size_t i) {
        return std::pair<std::size_t, std::size_t>(i, 0);
    });
    ASSERT_EQ(psex::k_locatedLimit + 1, table.samplePoints().size());
    psex::test::CollectedMessages messages;
    const psex::SpatialAnalysis spatial =
        psex::analyseSpace(table, psex::singletonLineages(table), messages, 2);
    EXPECT_EQ("warning: 20001 located samples are more than the 20000 for which kinship by "
              "distance is computed; it is NA.\n",
              messages.error());
    EXPECT_FALSE(spatial.kinshipAnalysed);
    EXPECT_TRUE(spatial.kinship.empty());
    // Neighbours on a line are the next ones, of another MLG: Ac < 0.
    ASSERT_TRUE(spatial.mlg.aggregation);
    EXPECT_LT(*spatial.mlg.aggregation, 0.0);
    EXPECT_TRUE(spatial.mlg.aggregationP);
    EXPECT_EQ(20000.0, spatial.mlg.subrangeMax); // samples 0 and 20000 share allele 0
    std::ostringstream kinship;
    psex::writeKinship(spatial, kinship);
    EXPECT_EQ("level,class,max_distance,mean_distance,pairs,kinship\n", kinship.str());
}

TEST(AnalyseSpace, LeavesAcOfTooManyLocatedSamplesUndefined) {
    const psex::MLGTable table = placedTable(psex::k_neighbourLimit + 1, [](std::size_t i) {
        return std::pair<std::size_t, std::size_t>(i % 1000, i / 1000);
    });
    psex::test::CollectedMessages messages;
    const psex::SpatialAnalysis spatial =
        psex::analyseSpace(table, psex::singletonLineages(table), messages);
    EXPECT_EQ("warning: 100001 located samples are more than the 100000 for which the aggregation "
              "index is computed; it is NA.\n"
              "warning: 100001 located samples are more than the 20000 for which kinship by "
              "distance is computed; it is NA.\n",
              messages.error());
    EXPECT_FALSE(spatial.mlg.aggregation);
    EXPECT_FALSE(spatial.mlg.aggregationP);
    EXPECT_TRUE(spatial.mlg.subrangeMax);
}

TEST(AnalyseSpace, LeavesAcUndefinedWhenTiesMakeTooManyNeighbours) {
    // 3000 samples at one place: each has the 2999 others as nearest
    // neighbours, 8,997,000 entries in all, beyond the budget.  The
    // kinship is still computed.
    const psex::MLGTable table =
        placedTable(3000, [](std::size_t) { return std::pair<double, double>(2.5, 2.5); });
    psex::test::CollectedMessages messages;
    const psex::SpatialAnalysis spatial =
        psex::analyseSpace(table, psex::singletonLineages(table), messages, 2);
    EXPECT_EQ("warning: the 3000 located samples have more than 8000000 nearest neighbours in "
              "all (many stand at one distance); the aggregation index is NA.\n",
              messages.error());
    EXPECT_FALSE(spatial.mlg.aggregation);
    EXPECT_FALSE(spatial.mlg.aggregationP);
    ASSERT_EQ(2u, spatial.kinship.size());
    EXPECT_EQ(3000u * 2999u / 2u / 10u, spatial.kinship[0].classes[9].pairs);
}

TEST(NearestNeighbours, FindsTheSameListsOnAnyNumberOfThreads) {
    // Samples on a small grid (ties in plenty), more than one block of
    // them; some stand on one place with more than 64 others.
    std::vector<SamplePoint> points;
    for (std::size_t i = 0; i < 700; ++i) {
        points.push_back(i < 90 ? at(3, 3)
                                : at(static_cast<double>(10 + i % 9), static_cast<double>(i % 13)));
    }
    const NearestNeighbours one(points, 1);
    ASSERT_TRUE(one.complete());
    ASSERT_EQ(700u, one.size());
    EXPECT_EQ(89u, one.count(0)); // the 89 others at its own place
    EXPECT_EQ(1u, *one.begin(0));
    EXPECT_EQ(89u, *(one.end(1) - 1));
    for (const unsigned threads : {2u, 3u, 4u}) {
        const NearestNeighbours more(points, threads);
        ASSERT_EQ(one.size(), more.size());
        for (std::size_t i = 0; i < one.size(); ++i) {
            ASSERT_EQ(std::vector<std::uint32_t>(one.begin(i), one.end(i)),
                      std::vector<std::uint32_t>(more.begin(i), more.end(i)))
                << threads << " threads, sample " << i;
        }
    }
}

TEST(NearestNeighbours, ForgetsTiesFoundBeforeANearerOne) {
    // Sample 0 has 70 samples at distance 1 before the one at 0.5.
    std::vector<SamplePoint> points = {at(0, 0)};
    for (std::size_t i = 0; i < 70; ++i) {
        points.push_back(at(1, 0));
    }
    points.push_back(at(-0.5, 0));
    const NearestNeighbours neighbours(points);
    ASSERT_EQ(1u, neighbours.count(0));
    EXPECT_EQ(71u, *neighbours.begin(0));
    EXPECT_EQ(69u, neighbours.count(1)); // the others at (1, 0)
}

TEST(NearestNeighbours, KeepsNoListBeyondItsBudget) {
    const std::vector<SamplePoint> points(10, at(1, 1)); // 90 entries
    EXPECT_TRUE(NearestNeighbours(points, 2, 90).complete());
    const NearestNeighbours over(points, 2, 89);
    EXPECT_FALSE(over.complete());
}

} // namespace
