// kinship_test.cpp                                               -*-C++-*-
#include "analysis/kinship.h"

#include "analysis/spatial.h"
#include "tablefromtext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using psex::KinshipLevel;
using psex::KinshipSet;
using psex::MLGTable;

// Three diploid samples at one locus, 1/1, 1/2 and 2/3, and a second locus
// at which the third is missing (MISSING=0) and the others are 5/5.
const char k_three[] = "PLOIDY=2\nLOCUSCOUNT=2\nSIMULATIONS=1\nMISSING=0\nCOORDINATES=x,y\n\n"
                       "S,a1,a2,b1,b2,x,y\n"
                       "s1,1,1,5,5,0,0\n"
                       "s2,1,2,5,5,3,4\n"
                       "s3,2,3,0,0,6,8\n";

TEST(KinshipSet, GivesTheLoiselleKinshipOfAPairByHand) {
    const MLGTable table = psex::test::tableFromText(k_three);
    const KinshipSet set(table, {0, 1, 2});
    // Locus a: six copies, p = 1/2, 1/3, 1/6.  For s1 (1,0,0) and s2
    // (1/2,1/2,0): sum (x1 - p)(x2 - p) = 0 - 1/18 + 1/36 = -1/36;
    // sum p (1 - p) = 1/4 + 2/9 + 5/36 = 22/36, over n - 1 = 5: 22/180.
    // F = (-5/180 + 22/180) / (110/180) = 17/110.  Locus b: only s1 and s2
    // are typed (the missing code is no allele), p(5) = 1, adding nothing.
    EXPECT_DOUBLE_EQ(17.0 / 110.0, *set.kinship(0, 1));
    EXPECT_DOUBLE_EQ(17.0 / 110.0, *set.kinship(1, 0));
    // s1 and s3 share nothing: (1/2)(-1/2) + (-1/3)(1/6) + (-1/6)(1/3) =
    // -1/4 - 1/9 = -13/36; F = (-65/180 + 22/180) / (110/180) = -43/110.
    EXPECT_DOUBLE_EQ(-43.0 / 110.0, *set.kinship(0, 2));
}

TEST(KinshipSet, IsUndefinedWithoutVariation) {
    const MLGTable table = psex::test::tableFromText(
        "PLOIDY=2\nLOCUSCOUNT=1\nSIMULATIONS=1\nCOORDINATES=x,y\n\nS,a,b,x,y\n"
        "s1,4,4,0,0\ns2,4,4,1,1\n");
    EXPECT_FALSE(KinshipSet(table, {0, 1}).kinship(0, 1));
    // A set of one sample of one diploid locus has two copies: defined when
    // they differ, and each sample's kinship with itself is positive.
    const MLGTable two = psex::test::tableFromText(
        "PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=1\nCOORDINATES=x,y\n\nS,a,x,y\ns1,4,0,0\n");
    EXPECT_FALSE(KinshipSet(two, {0}).kinship(0, 0)); // one copy: n < 2
}

TEST(KinshipByDistance, FillsTenClassesOfEqualCountsInDistanceOrder) {
    const MLGTable table = psex::test::tableFromText(k_three);
    const KinshipLevel level = psex::kinshipByDistance(table, {0, 1, 2}, "ramets");
    EXPECT_EQ("ramets", level.level);
    ASSERT_EQ(10u, level.classes.size());
    // Pairs (s1,s2) d 5, (s1,s3) d 10, (s2,s3) d 5: sorted by distance then
    // order: (s1,s2), (s2,s3), (s1,s3); three pairs, one per class in the
    // first three, the others empty.
    EXPECT_EQ(1u, level.classes[0].pairs);
    EXPECT_EQ(5.0, level.classes[0].maxDistance);
    EXPECT_EQ(5.0, level.classes[1].maxDistance);
    EXPECT_EQ(10.0, level.classes[2].maxDistance);
    EXPECT_EQ(0u, level.classes[3].pairs);
    EXPECT_FALSE(level.classes[3].maxDistance);
    EXPECT_FALSE(level.classes[9].kinship);
    EXPECT_DOUBLE_EQ(17.0 / 110.0, *level.classes[0].kinship);
    EXPECT_DOUBLE_EQ(-43.0 / 110.0, *level.classes[2].kinship);
    EXPECT_EQ(level.classes[0].kinship, level.firstClass);
    // F of (s2,s3): x2 - p = (0, 1/6, -1/6), x3 - p = (-1/2, 1/6, 1/3):
    // 1/36 - 1/18 = -1/36, the same as (s1,s2): F = 17/110.  Against ln d:
    // ln 5 twice at 17/110, ln 10 once at -43/110: the slope through the
    // two means is (-43/110 - 17/110) / (ln 10 - ln 5) = -(6/11) / ln 2.
    EXPECT_DOUBLE_EQ(17.0 / 110.0, *level.classes[1].kinship);
    EXPECT_NEAR(-(6.0 / 11.0) / std::log(2.0), *level.slope, 1e-14);
    EXPECT_DOUBLE_EQ(-*level.slope / (1.0 - 17.0 / 110.0), *level.sp);
}

TEST(KinshipByDistance, PutsPairsInTheClassesOfGivenBounds) {
    const std::string text = std::string(k_three).replace(std::string(k_three).find("COORDINATES"),
                                                          0, "SPATIALCLASSES=4.5,5,8\n");
    const MLGTable table = psex::test::tableFromText(text);
    ASSERT_TRUE(table.settings().distanceClasses);
    const KinshipLevel level = psex::kinshipByDistance(table, {0, 1, 2}, "ramets");
    ASSERT_EQ(3u, level.classes.size());
    EXPECT_EQ(0u, level.classes[0].pairs); // nothing at 4.5 or below
    EXPECT_EQ(2u, level.classes[1].pairs); // 5 <= 5: both pairs at 5
    EXPECT_EQ(0u, level.classes[2].pairs); // the pair at 10 is beyond the last bound
    EXPECT_FALSE(level.firstClass);
    EXPECT_FALSE(level.sp); // no F1, though the slope is there
    EXPECT_TRUE(level.slope);
}

TEST(KinshipByDistance, HasNoSlopeWhenEveryDistanceIsTheSame) {
    // Three samples at one place and a fourth 2.1 away: the three pairs
    // with d > 0 share ln 2.1, whose mean of three is not ln 2.1 exactly;
    // the sum of squares would be rounding, not spread.
    const MLGTable table = psex::test::tableFromText(
        "PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=1\nCOORDINATES=x,y\n\nS,a,x,y\n"
        "s1,1,0,0\ns2,2,0,0\ns3,3,0,0\ns4,1,2.1,0\n");
    const KinshipLevel level = psex::kinshipByDistance(table, {0, 1, 2, 3}, "ramets");
    EXPECT_FALSE(level.slope);
    EXPECT_FALSE(level.sp);
    // Distance 0 pairs are in the first class.
    EXPECT_EQ(0.0, *level.classes[0].maxDistance);
}

// A data file of 'n' diploid samples at three loci (one of them missing in
// every seventh sample, MISSING=0), placed on a coarse grid so that many
// pairs share a distance, and every fifth sample on the place of the one
// before it (distance 0).
std::string gridTable(std::size_t n, const std::string& extraKeys = "") {
    std::ostringstream text;
    text << "PLOIDY=2\nLOCUSCOUNT=3\nSIMULATIONS=1\nMISSING=0\nCOORDINATES=x,y\n"
         << extraKeys << "\nS,a1,a2,b1,b2,c1,c2,x,y\n";
    std::size_t x = 0;
    std::size_t y = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (i % 5 != 4) {
            x = (i * 7) % 6;
            y = (i * 3) % 5;
        }
        const std::size_t c = i % 7 == 6 ? 0 : 1 + (i * 5) % 4;
        text << 's' << i << ',' << 1 + i % 3 << ',' << 1 + (i / 2) % 4 << ',' << 1 + (i * i) % 5
             << ',' << 2 << ',' << c << ',' << c << ',' << x * 1.5 << ',' << y * 0.5 << '\n';
    }
    return text.str();
}

std::vector<std::uint32_t> firstMembers(std::size_t n) {
    std::vector<std::uint32_t> members(n);
    for (std::size_t i = 0; i < n; ++i) {
        members[i] = static_cast<std::uint32_t>(i);
    }
    return members;
}

// The classes of equal counts as a plain reading of their definition
// gives them: every pair listed, sorted by (q, i, j), cut into ten; sums
// in sorted order.
std::vector<psex::KinshipClass> sortedClasses(const MLGTable& table) {
    const std::size_t n = table.samplePoints().size();
    const KinshipSet set(table, firstMembers(n));
    struct Pair {
        double q;
        std::size_t i;
        std::size_t j;
    };
    std::vector<Pair> pairs;
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = i + 1; j < n; ++j) {
            const double dx = table.samplePoints()[i].x - table.samplePoints()[j].x;
            const double dy = table.samplePoints()[i].y - table.samplePoints()[j].y;
            pairs.push_back({dx * dx + dy * dy, i, j});
        }
    }
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const Pair& a, const Pair& b) { return a.q < b.q; });
    std::vector<psex::KinshipClass> classes;
    std::size_t start = 0;
    for (std::size_t c = 0; c < 10; ++c) {
        const std::size_t size = pairs.size() / 10 + (c < pairs.size() % 10 ? 1 : 0);
        psex::KinshipClass row;
        row.pairs = size;
        double sumD = 0.0;
        double sumF = 0.0;
        std::size_t defined = 0;
        for (std::size_t k = start; k < start + size; ++k) {
            row.maxDistance = std::sqrt(pairs[k].q);
            const std::optional<double> f = set.kinship(static_cast<std::uint32_t>(pairs[k].i),
                                                        static_cast<std::uint32_t>(pairs[k].j));
            if (f) {
                sumD += std::sqrt(pairs[k].q);
                sumF += *f;
                ++defined;
            }
        }
        if (defined > 0) {
            row.meanDistance = sumD / static_cast<double>(defined);
            row.kinship = sumF / static_cast<double>(defined);
        }
        classes.push_back(row);
        start += size;
    }
    return classes;
}

TEST(KinshipByDistance, CutsTheSortedPairsWithoutHoldingThem) {
    // Many ties at the class ends (a grid, repeated places), split by the
    // pairs' order; sets of a few pairs up to several blocks of rows.
    for (const std::size_t n : {2u, 4u, 5u, 11u, 40u, 97u, 150u}) {
        const MLGTable table = psex::test::tableFromText(gridTable(n));
        ASSERT_EQ(n, table.samplePoints().size());
        const KinshipLevel level = psex::kinshipByDistance(table, firstMembers(n), "ramets");
        const std::vector<psex::KinshipClass> expected = sortedClasses(table);
        ASSERT_EQ(expected.size(), level.classes.size());
        for (std::size_t c = 0; c < expected.size(); ++c) {
            const psex::KinshipClass& got = level.classes[c];
            EXPECT_EQ(expected[c].pairs, got.pairs) << n << " samples, class " << c;
            EXPECT_EQ(expected[c].maxDistance, got.maxDistance) << n << " samples, class " << c;
            ASSERT_EQ(expected[c].kinship.has_value(), got.kinship.has_value());
            if (got.kinship) {
                EXPECT_NEAR(*expected[c].kinship, *got.kinship, 1e-12) << n << ", class " << c;
                EXPECT_NEAR(*expected[c].meanDistance, *got.meanDistance, 1e-12);
            }
        }
    }
}

TEST(KinshipByDistance, GivesTheSameFiguresOnAnyNumberOfThreads) {
    // Sums are kept per block of rows and added in block order: every
    // figure identical, bit for bit, with classes of equal counts and with
    // bounds.
    for (const std::string keys : {"", "SPATIALCLASSES=0.6,1.6,3,9\n"}) {
        const MLGTable table = psex::test::tableFromText(gridTable(300, keys));
        const KinshipLevel one = psex::kinshipByDistance(table, firstMembers(300), "ramets", 1);
        ASSERT_TRUE(one.slope);
        for (const unsigned threads : {2u, 3u, 4u}) {
            const KinshipLevel more =
                psex::kinshipByDistance(table, firstMembers(300), "ramets", threads);
            ASSERT_EQ(one.classes.size(), more.classes.size());
            for (std::size_t c = 0; c < one.classes.size(); ++c) {
                EXPECT_EQ(one.classes[c].pairs, more.classes[c].pairs);
                EXPECT_EQ(one.classes[c].maxDistance, more.classes[c].maxDistance);
                EXPECT_EQ(one.classes[c].meanDistance, more.classes[c].meanDistance);
                EXPECT_EQ(one.classes[c].kinship, more.classes[c].kinship) << threads;
            }
            EXPECT_EQ(one.slope, more.slope) << threads;
            EXPECT_EQ(one.sp, more.sp) << threads;
        }
    }
}

TEST(KinshipByDistance, FindsTheSlopeOverSeveralBlocks) {
    // The two passes of the slope against a direct computation over every
    // pair with d > 0 and F defined.
    const std::size_t n = 120;
    const MLGTable table = psex::test::tableFromText(gridTable(n));
    const KinshipSet set(table, firstMembers(n));
    std::vector<double> xs;
    std::vector<double> ys;
    for (std::uint32_t i = 0; i < n; ++i) {
        for (std::uint32_t j = i + 1; j < n; ++j) {
            const double q =
                psex::squaredDistance(table.samplePoints()[i], table.samplePoints()[j]);
            const std::optional<double> f = set.kinship(i, j);
            if (q > 0.0 && f) {
                xs.push_back(std::log(std::sqrt(q)));
                ys.push_back(*f);
            }
        }
    }
    double mx = 0.0;
    double my = 0.0;
    for (std::size_t k = 0; k < xs.size(); ++k) {
        mx += xs[k];
        my += ys[k];
    }
    mx /= static_cast<double>(xs.size());
    my /= static_cast<double>(xs.size());
    double sxy = 0.0;
    double sxx = 0.0;
    for (std::size_t k = 0; k < xs.size(); ++k) {
        sxy += (xs[k] - mx) * (ys[k] - my);
        sxx += (xs[k] - mx) * (xs[k] - mx);
    }
    const KinshipLevel level = psex::kinshipByDistance(table, firstMembers(n), "ramets", 2);
    ASSERT_TRUE(level.slope);
    EXPECT_NEAR(sxy / sxx, *level.slope, 1e-12);
    EXPECT_NE(0.0, *level.slope);
}

TEST(KinshipByDistance, CountsEveryPairVisitItPromises) {
    // The progress reaches its total exactly: classes of equal counts and
    // bounds, with and without a slope (all at one place: no second pass).
    for (const std::string keys : {"", "SPATIALCLASSES=1,2\n"}) {
        const MLGTable table = psex::test::tableFromText(gridTable(90, keys));
        psex::KinshipProgress progress;
        std::uint64_t last = 0;
        progress.report = [&](std::uint64_t done, std::uint64_t total) {
            EXPECT_GE(done, last);
            EXPECT_EQ(progress.total, total);
            last = done;
        };
        progress.total = psex::kinshipPairVisits(90, !keys.empty());
        EXPECT_EQ(90u * 89u / 2u * (keys.empty() ? 7u : 2u), progress.total);
        psex::kinshipByDistance(table, firstMembers(90), "ramets", 1, &progress);
        EXPECT_EQ(progress.total, progress.done.load()) << keys;
        EXPECT_EQ(progress.total, last);
    }
    const MLGTable together = psex::test::tableFromText(
        "PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=1\nCOORDINATES=x,y\n\nS,a,x,y\n"
        "s1,1,0,0\ns2,2,0,0\ns3,3,0,0\n");
    psex::KinshipProgress progress;
    progress.total = psex::kinshipPairVisits(3, false);
    EXPECT_FALSE(psex::kinshipByDistance(together, {0, 1, 2}, "ramets", 2, &progress).slope);
    EXPECT_EQ(progress.total, progress.done.load());
}

TEST(FirstSamplesOfGenets, TakesTheFirstLocatedSampleOfEach) {
    const MLGTable table = psex::test::tableFromText(
        "PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=1\nCOORDINATES=x,y\n\nS,a,x,y\n"
        "s1,1,,0\ns2,1,1,0\ns3,2,1,1\ns4,1,3,0\n");
    EXPECT_EQ((std::vector<std::uint32_t>{1, 2}), psex::firstSamplesOfGenets(table, {1, 1, 2, 1}));
}

} // namespace
