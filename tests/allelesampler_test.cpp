// allelesampler_test.cpp                                         -*-C++-*-
#include "allelesampler.h"

#include "simulation.h"

#include "countedlocus.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

using psex::AlleleSampler;
using psex::Locus;

using psex::test::locusWithCounts;

// The outcome the frequency walk itself gives for 'u'.
std::uint32_t walkOutcome(const AlleleSampler& sampler, const Locus& locus, double u) {
    const auto allele = psex::drawAllele(locus, u);
    if (!allele) {
        return sampler.alleleCount();
    }
    std::uint32_t index = 0;
    for (const auto& entry : locus.frequencies()) {
        if (entry.first == *allele) {
            return index;
        }
        ++index;
    }
    return sampler.alleleCount();
}

TEST(AlleleSampler, ChoosesWhatTheFrequencyWalkChoosesAtEveryThreshold) {
    std::mt19937 random(5);
    for (int round = 0; round < 200; ++round) {
        std::vector<std::pair<std::int32_t, int>> counts;
        const int alleles = 1 + round % 12;
        for (int a = 0; a < alleles; ++a) {
            counts.emplace_back(100 + 2 * a, std::uniform_int_distribution<int>(1, 40)(random));
        }
        const Locus locus = locusWithCounts(counts);
        const AlleleSampler sampler(locus);
        // Right at each threshold and just below it the outcome changes:
        // the places where a look-up could be one off.
        std::vector<double> draws = {0.0, std::nextafter(1.0, 0.0)};
        for (const double threshold : sampler.thresholds()) {
            if (threshold < 1.0) {
                draws.push_back(threshold);
                draws.push_back(std::nextafter(threshold, 0.0));
            }
        }
        for (int d = 0; d < 50; ++d) {
            draws.push_back(std::uniform_real_distribution<double>(0.0, 1.0)(random));
        }
        for (const double u : draws) {
            ASSERT_EQ(walkOutcome(sampler, locus, u), sampler.outcome(u))
                << "u=" << u << " round " << round;
        }
    }
}

TEST(AlleleSampler, FindsTheDrawsThatPassTheLastAllele) {
    // 0.3 and 0.7: from u = 1 - 2^-53 the walk rounds to 0.7 after the first
    // step and chooses nothing.
    const Locus locus = locusWithCounts({{1, 3}, {2, 7}});
    const AlleleSampler sampler(locus);
    EXPECT_EQ(0u, sampler.outcome(0.29));
    EXPECT_EQ(1u, sampler.outcome(0.3));
    EXPECT_EQ(2u, sampler.outcome(0.9999999999999999));
    EXPECT_EQ(0.3, sampler.thresholds()[0]);
}

TEST(AlleleSampler, CodesEqualStoredAllelesAlike) {
    // Alleles -2, 0 and 5; index 3 stands for a copy without an allele.
    const AlleleSampler sampler(locusWithCounts({{-2, 1}, {0, 1}, {5, 1}}));
    EXPECT_EQ(sampler.diploidCode(0, 2), sampler.diploidCode(2, 0)); // stored -2/5
    EXPECT_NE(sampler.diploidCode(0, 2), sampler.diploidCode(2, 2));
    // -2 and nothing is stored -2/0, the same as -2 and 0.
    EXPECT_EQ(sampler.diploidCode(0, 1), sampler.diploidCode(0, 3));
    EXPECT_EQ(sampler.diploidCode(0, 1), sampler.diploidCode(3, 0));
    // 5 and nothing is stored 5/0, unlike 0 and 5 (stored 0/5).
    EXPECT_NE(sampler.diploidCode(1, 2), sampler.diploidCode(2, 3));
    EXPECT_EQ(sampler.diploidCode(1, 1), sampler.diploidCode(3, 3)); // 0/0
    EXPECT_EQ(sampler.haploidCode(1), sampler.haploidCode(3));

    const std::uint64_t fiveAndNothing = sampler.diploidCode(3, 2);
    EXPECT_EQ(5, sampler.valueAt(sampler.firstIndex(fiveAndNothing, 2)));
    EXPECT_EQ(0, sampler.valueAt(sampler.secondIndex(fiveAndNothing)));
    EXPECT_EQ(1.0 / 3.0, sampler.frequencyAt(sampler.secondIndex(fiveAndNothing)));

    // Without an allele 0 the value 0 has frequency 0.
    const AlleleSampler noZero(locusWithCounts({{4, 1}, {6, 1}}));
    const std::uint64_t fourAndNothing = noZero.diploidCode(0, 2);
    EXPECT_EQ(0, noZero.valueAt(noZero.secondIndex(fourAndNothing)));
    EXPECT_EQ(0.0, noZero.frequencyAt(noZero.secondIndex(fourAndNothing)));
    EXPECT_NE(fourAndNothing, noZero.diploidCode(0, 0));

    // With a missing-data code a copy without an allele stores the code,
    // which is never an allele: 0 is then an allele like 4 and 6.
    const AlleleSampler coded(locusWithCounts({{0, 1}, {4, 1}, {6, 1}}), -9);
    const std::uint64_t zeroAndNothing = coded.diploidCode(3, 0);
    EXPECT_EQ(0, coded.valueAt(coded.firstIndex(zeroAndNothing, 2)));
    EXPECT_EQ(-9, coded.valueAt(coded.secondIndex(zeroAndNothing)));
    EXPECT_EQ(3u, coded.secondIndex(zeroAndNothing));
    EXPECT_NE(zeroAndNothing, coded.diploidCode(0, 0));
    EXPECT_EQ(coded.diploidCode(3, 3), coded.diploidCode(3, 3));
    EXPECT_EQ(-9, coded.valueAt(coded.haploidCode(3)));
}

} // namespace
