// locus_test.cpp                                                 -*-C++-*-
#include "model/locus.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using psex::Locus;
using Frequencies = psex::AlleleFrequencies;

Locus countedLocus(std::initializer_list<std::int32_t> alleles) {
    Locus locus;
    for (const std::int32_t allele : alleles) {
        locus.addAllele(allele);
    }
    return locus;
}

TEST(Locus, CountsCopiesThenTurnsThemIntoFrequencies) {
    // Three diploid samples 12/14, 12/12 and 14/16.
    Locus locus = countedLocus({12, 14, 12, 12, 14, 16});
    EXPECT_EQ(6u, locus.sampleCount());
    EXPECT_EQ((Frequencies{{12, 3.0}, {14, 2.0}, {16, 1.0}}), locus.frequencies());
    EXPECT_FALSE(locus.isNormalized());

    locus.computeFrequencies(3, 2);
    EXPECT_TRUE(locus.isNormalized());
    EXPECT_EQ(6u, locus.sampleCount());
    EXPECT_EQ((Frequencies{{12, 3.0 / 6.0}, {14, 2.0 / 6.0}, {16, 1.0 / 6.0}}),
              locus.frequencies());
    EXPECT_EQ(0.5, locus.frequency(12));
    EXPECT_EQ(0.0, locus.frequency(13));
    EXPECT_EQ(3u, locus.alleleCount());
    EXPECT_TRUE(locus.frequenciesSumToOne()); // 1/2 + 1/3 + 1/6, up to rounding
    // He = 1 - (1/4 + 1/9 + 1/36) = 11/18, summed in allele order.
    EXPECT_DOUBLE_EQ(11.0 / 18.0, locus.expectedHeterozygosity());
}

TEST(Locus, SortsAllelesAsSignedIntegers) {
    Locus locus = countedLocus({7, 0, -1});
    auto entry = locus.frequencies().begin();
    EXPECT_EQ(-1, (entry++)->first);
    EXPECT_EQ(0, (entry++)->first);
    EXPECT_EQ(7, entry->first);
}

TEST(Locus, CountsCopiesInAnyOrderIntoOneEntryPerAllele) {
    // The same copies counted one at a time in file order and as counts in
    // ascending order give the same list, to the bit after normalizing.
    Locus oneByOne = countedLocus({9, -4, 9, 0, 9, -4});
    Locus byCounts;
    byCounts.reserve(3);
    byCounts.addCopies(-4, 2);
    byCounts.addCopies(0, 1);
    byCounts.addCopies(9, 0); // nothing counted: no entry yet
    byCounts.addCopies(9, 3);
    EXPECT_EQ((Frequencies{{-4, 2.0}, {0, 1.0}, {9, 3.0}}), oneByOne.frequencies());
    EXPECT_EQ(oneByOne.frequencies(), byCounts.frequencies());
    EXPECT_EQ(6u, byCounts.sampleCount());
    oneByOne.computeFrequencies(3, 2);
    byCounts.computeFrequencies(3, 2);
    EXPECT_EQ(oneByOne.frequencies(), byCounts.frequencies());
    EXPECT_EQ(0.5, byCounts.frequency(9));
    EXPECT_EQ(0.0, byCounts.frequency(1));
    EXPECT_EQ(0.0, byCounts.frequency(10)); // beyond the last allele
}

TEST(Locus, WithoutAllelesHasNoExpectedHeterozygosity) {
    Locus locus;
    EXPECT_EQ(0u, locus.alleleCount());
    EXPECT_TRUE(std::isnan(locus.expectedHeterozygosity()));
    EXPECT_FALSE(locus.frequenciesSumToOne()); // no mass at all
    locus.computeFrequencies(0, 2);
    EXPECT_TRUE(locus.frequencies().empty());
}

TEST(Locus, CopiesFrequenciesButKeepsNameAndCount) {
    Locus source = countedLocus({1, 2, 2, 2});
    source.computeFrequencies(2, 2);
    Locus target = countedLocus({5});
    target.setName("L7");
    target.copyFrequencies(source);
    EXPECT_EQ(source.frequencies(), target.frequencies());
    EXPECT_EQ(0.0, target.frequency(5));
    EXPECT_TRUE(target.isNormalized());
    EXPECT_EQ("L7", target.name());
    EXPECT_EQ(1u, target.sampleCount());
}

TEST(LocusDeathTest, RequiresEveryCopyCountedBeforeNormalizing) {
    Locus locus = countedLocus({1, 2, 3});
    EXPECT_DEATH(locus.computeFrequencies(2, 2), "d_sampleCount == sampleSize \\* ploidy");
    EXPECT_DEATH(locus.assignFrequencies({{2, 0.5}, {1, 0.5}}), "a.first >= b.first");
}

} // namespace
