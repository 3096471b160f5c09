// kinship_test.cpp                                               -*-C++-*-
#include "analysis/kinship.h"

#include "tablefromtext.h"

#include <gtest/gtest.h>

#include <cmath>
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

TEST(FirstSamplesOfGenets, TakesTheFirstLocatedSampleOfEach) {
    const MLGTable table = psex::test::tableFromText(
        "PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=1\nCOORDINATES=x,y\n\nS,a,x,y\n"
        "s1,1,,0\ns2,1,1,0\ns3,2,1,1\ns4,1,3,0\n");
    EXPECT_EQ((std::vector<std::uint32_t>{1, 2}), psex::firstSamplesOfGenets(table, {1, 1, 2, 1}));
}

} // namespace
