// allelesampler_test.cpp                                         -*-C++-*-
#include "simulation/allelesampler.h"

#include "support/referencesimulation.h"

#include "countedlocus.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>

namespace {

using psex::AlleleSampler;
using psex::Locus;

using psex::test::locusWithCounts;

// Expect the codes formed straight from draws to be those of the outcomes,
// for every draw and pairs of neighbouring draws.
void expectCodesOfDraws(const AlleleSampler& sampler, const std::vector<double>& draws) {
    for (std::size_t i = 0; i < draws.size(); ++i) {
        const double u = draws[i];
        const double v = draws[(i + 1) % draws.size()];
        ASSERT_EQ(sampler.haploidCode(sampler.outcome(u)), sampler.haploidCodeOfDraw(u)) << u;
        ASSERT_EQ(sampler.diploidCode(sampler.outcome(u), sampler.outcome(v)),
                  sampler.diploidCodeOfDraws(u, v))
            << u << ", " << v;
    }
}

// The outcome the frequency walk itself gives for 'u'.
std::uint32_t walkOutcome(const AlleleSampler& sampler, const Locus& locus, double u) {
    const auto allele = psex::test::drawAllele(locus, u);
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
        ASSERT_EQ(sampler.lowBounds(), sampler.highBounds()); // exact for few alleles
        for (const double threshold : sampler.highBounds()) {
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
        expectCodesOfDraws(sampler, draws);
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
    EXPECT_EQ(0.3, sampler.highBounds()[0]);
    expectCodesOfDraws(sampler, {0.29, 0.3, 0.9999999999999999, 0.9999999999999999, 0.1});
    // With more alleles the draws go through the bucket table.
    // 1/6, 1/6, 1/6, 1/6, 2/6: from 1 - 2^-53 the walk keeps 1/3 + 2^-53
    // after four steps (checked with the same divisions and subtractions in
    // Python) and passes the last allele as well.  Allele 0 is the one the
    // stored 0 of such a copy stands for.
    const Locus five = locusWithCounts({{0, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 2}});
    const AlleleSampler table(five);
    EXPECT_EQ(5u, table.outcome(0.9999999999999999));
    expectCodesOfDraws(table, {0.0, 0.9999999999999999, 0.5, 0.9999999999999999, 0.3});
}

// The smallest draw whose walk passes alleles 0 to m, by bisection over the
// doubles with the walk itself.
double walkThreshold(const AlleleSampler& sampler, const Locus& locus, std::uint32_t m) {
    std::uint64_t low = 0;
    std::uint64_t high = std::bit_cast<std::uint64_t>(1.0);
    while (low < high) {
        const std::uint64_t middle = low + (high - low) / 2;
        if (walkOutcome(sampler, locus, std::bit_cast<double>(middle)) > m) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return std::bit_cast<double>(low);
}

TEST(AlleleSampler, ChoosesWhatTheFrequencyWalkChoosesAmongThousandsOfAlleles) {
    // Hundreds or thousands of alleles, as when sample names end up in an
    // allele column: the thresholds are bracketed, and draws at and next to
    // the real thresholds fall into the brackets and are walked.  One locus
    // has a common allele and then thousands of rare ones, so that a bucket
    // holds hundreds of thresholds.
    std::mt19937 random(6);
    std::vector<std::vector<std::pair<std::int32_t, int>>> loci(3);
    for (int a = 0; a < 300; ++a) {
        loci[0].emplace_back(a, std::uniform_int_distribution<int>(1, 50)(random));
    }
    for (int a = 0; a < 5000; ++a) {
        loci[1].emplace_back(-2500 + a, std::uniform_int_distribution<int>(1, 3)(random));
    }
    loci[2].emplace_back(0, 400000);
    for (int a = 1; a < 3000; ++a) {
        loci[2].emplace_back(a, 1);
    }
    for (const auto& counts : loci) {
        const Locus locus = locusWithCounts(counts);
        const AlleleSampler sampler(locus);
        const std::uint32_t count = sampler.alleleCount();
        std::vector<double> draws = {0.0, std::nextafter(1.0, 0.0)};
        for (std::uint32_t m = 0; m < count; m += 1 + m / 4 + count / 40) {
            const double threshold = walkThreshold(sampler, locus, m);
            ASSERT_LE(sampler.lowBounds()[m], threshold) << m;
            ASSERT_GE(sampler.highBounds()[m], threshold) << m;
            draws.push_back(threshold);
            draws.push_back(std::nextafter(threshold, 0.0));
            draws.push_back(std::nextafter(threshold, 1.0));
            draws.push_back(sampler.lowBounds()[m]);
            draws.push_back(std::nextafter(sampler.lowBounds()[m], 0.0));
            draws.push_back(sampler.highBounds()[m]);
        }
        for (int d = 0; d < 20000; ++d) {
            draws.push_back(std::uniform_real_distribution<double>(0.0, 1.0)(random));
        }
        std::vector<double> below;
        for (const double u : draws) {
            if (u < 1.0) {
                ASSERT_EQ(walkOutcome(sampler, locus, u), sampler.outcome(u))
                    << "u=" << u << ", " << count << " alleles";
                below.push_back(u);
            }
        }
        expectCodesOfDraws(sampler, below);
    }
}

TEST(AlleleSampler, CodesEqualStoredAllelesAlike) {
    // Alleles -2, 0 and 5; index 3 stands for a copy without an allele.
    // (A sampler reads the alleles from its locus, which outlives it.)
    const Locus threeAlleles = locusWithCounts({{-2, 1}, {0, 1}, {5, 1}});
    const AlleleSampler sampler(threeAlleles);
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
    const Locus twoAlleles = locusWithCounts({{4, 1}, {6, 1}});
    const AlleleSampler noZero(twoAlleles);
    const std::uint64_t fourAndNothing = noZero.diploidCode(0, 2);
    EXPECT_EQ(0, noZero.valueAt(noZero.secondIndex(fourAndNothing)));
    EXPECT_EQ(0.0, noZero.frequencyAt(noZero.secondIndex(fourAndNothing)));
    EXPECT_NE(fourAndNothing, noZero.diploidCode(0, 0));

    // With a missing-data code a copy without an allele stores the code,
    // which is never an allele: 0 is then an allele like 4 and 6.
    const Locus withZero = locusWithCounts({{0, 1}, {4, 1}, {6, 1}});
    const AlleleSampler coded(withZero, -9);
    const std::uint64_t zeroAndNothing = coded.diploidCode(3, 0);
    EXPECT_EQ(0, coded.valueAt(coded.firstIndex(zeroAndNothing, 2)));
    EXPECT_EQ(-9, coded.valueAt(coded.secondIndex(zeroAndNothing)));
    EXPECT_EQ(3u, coded.secondIndex(zeroAndNothing));
    EXPECT_NE(zeroAndNothing, coded.diploidCode(0, 0));
    EXPECT_EQ(coded.diploidCode(3, 3), coded.diploidCode(3, 3));
    EXPECT_EQ(-9, coded.valueAt(coded.haploidCode(3)));
}

TEST(AlleleSampler, CopiesAndMovesDrawAsTheOriginal) {
    // A sampler of few alleles keeps its thresholds in itself; one of many
    // alleles keeps a bucket table, which a copy must not share and a move
    // must carry along.
    const Locus few = locusWithCounts({{1, 3}, {2, 7}});
    std::vector<std::pair<std::int32_t, int>> counts;
    for (int a = 0; a < 100; ++a) {
        counts.emplace_back(a, 1 + a % 7);
    }
    const Locus many = locusWithCounts(counts);
    std::vector<double> draws;
    std::mt19937 random(7);
    for (int d = 0; d < 2000; ++d) {
        draws.push_back(std::uniform_real_distribution<double>(0.0, 1.0)(random));
    }
    for (const Locus* locus : {&few, &many}) {
        std::vector<AlleleSampler> samplers;
        samplers.emplace_back(*locus);
        const AlleleSampler copy = samplers.front();
        for (int grow = 0; grow < 40; ++grow) {
            samplers.emplace_back(*locus); // moves the first as the list grows
        }
        AlleleSampler assigned(few);
        assigned = copy;
        for (const double u : draws) {
            const std::uint32_t expected = walkOutcome(copy, *locus, u);
            ASSERT_EQ(expected, copy.outcome(u)) << u;
            ASSERT_EQ(expected, samplers.front().outcome(u)) << u;
            ASSERT_EQ(expected, assigned.outcome(u)) << u;
        }
        EXPECT_EQ(copy.highBounds(), assigned.highBounds());
        EXPECT_EQ(locus == &many, copy.usesTable());
    }
}

} // namespace
