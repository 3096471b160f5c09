// binomial_test.cpp                                              -*-C++-*-
#include "model/binomial.h"

#include "collectedmessages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

namespace {

using psex::binomialCoefficient;
using psex::binomialTermSum;
using psex::binomialTermSumInLogSpace;
using psex::psexFromTermSum;

TEST(BinomialCoefficient, IsTheRunningProductOfQuotients) {
    EXPECT_EQ(1.0, binomialCoefficient(0, 0));
    EXPECT_EQ(1.0, binomialCoefficient(7, 0));
    EXPECT_EQ(7.0, binomialCoefficient(7, 1));
    EXPECT_EQ(10.0, binomialCoefficient(5, 2));
    EXPECT_EQ(120.0, binomialCoefficient(10, 3));
    EXPECT_EQ(1.0, binomialCoefficient(40, 40));
    // (4/3) * (3/2) * (2/1): the quotients are rounded before they multiply.
    EXPECT_EQ((4.0 / 3.0) * (3.0 / 2.0) * 2.0, binomialCoefficient(4, 3));
    // Large arguments overflow to infinity rather than wrap.
    EXPECT_TRUE(std::isinf(binomialCoefficient(2000, 1000)));
}

TEST(BinomialCoefficientDeathTest, RequiresKNotAboveN) {
    EXPECT_DEATH(binomialCoefficient(3, 4), "n >= k");
}

// The lower sums S = sum_{i<n} c(N,i) g^i (1-g)^(N-i) below were computed
// exactly in rational arithmetic from the exact value of the double g
// (Python: fractions.Fraction, math.comb), then rounded to 17 digits.
struct ExactSum {
    std::uint32_t sampleSize;
    std::uint32_t count;
    double pgen;
    double sum;
};

const ExactSum k_exactSums[] = {
    {2000, 400, 0.2, 0.49107999312580392}, // c(2000, i) overflows: NaN directly
    {2000, 450, 0.2, 0.99685349014076086},
    {20000, 5000, 0.25, 0.49728556246230149}, // a 5000-sample clone among 20000
    {40000, 10000, 0.25, 0.49808059543412503},
    {1000, 30, 0.02, 0.97930348132676048}, // every direct term finite
    {1500, 3, 0.001, 0.80890966005048848},
    {5000, 2, 1e-06, 0.99998754406374257},
};

TEST(BinomialTermSum, AgreesWithTheExactBinomialTail) {
    for (const ExactSum& c : k_exactSums) {
        const double sum = binomialTermSum(c.sampleSize, c.count, c.pgen);
        EXPECT_TRUE(std::isfinite(sum));
        EXPECT_NEAR(c.sum, sum, 1e-12 * c.sum)
            << "N=" << c.sampleSize << " n=" << c.count << " g=" << c.pgen;
        const double logSpace = binomialTermSumInLogSpace(c.sampleSize, c.count, c.pgen);
        EXPECT_NEAR(c.sum, logSpace, 1e-12 * c.sum)
            << "N=" << c.sampleSize << " n=" << c.count << " g=" << c.pgen;
    }
}

TEST(BinomialTermSum, FormsFiniteTermsDirectlyFromTheTopTermDown) {
    // N = 4, n = 3: the terms for i = 2, 1, 0, added in that order.
    const double g = 0.3;
    const double expected = 6.0 * std::pow(g, 2.0) * std::pow(1.0 - g, 2.0) +
                            4.0 * std::pow(g, 1.0) * std::pow(1.0 - g, 3.0) +
                            1.0 * std::pow(g, 0.0) * std::pow(1.0 - g, 4.0);
    EXPECT_EQ(expected, binomialTermSum(4, 3, g));
    EXPECT_EQ(0.0, binomialTermSum(4, 0, g));
}

TEST(BinomialTermSum, HandlesTheEdgeProbabilities) {
    // PSex for n = 1 is 1 - (1 - g)^N; for n = N it is g^N up to rounding.
    EXPECT_EQ(std::pow(1.0 - 0.1, 10.0), binomialTermSum(10, 1, 0.1));
    EXPECT_NEAR(std::pow(0.4, 6.0), 1.0 - binomialTermSum(6, 6, 0.4), 1e-15);
    // g = 0: only the i = 0 term, 1 * 0^0 * 1^N, is left; g = 1: no term.
    EXPECT_EQ(1.0, binomialTermSum(50, 5, 0.0));
    EXPECT_EQ(0.0, binomialTermSum(50, 5, 1.0));
    EXPECT_EQ(1.0, binomialTermSum(3000, 800, 0.0)); // through the log-space form
    EXPECT_EQ(0.0, binomialTermSum(3000, 800, 1.0));
    EXPECT_EQ(1.0, binomialTermSumInLogSpace(3000, 1, 0.0));
}

TEST(PsexFromTermSum, RoundsSumsAboveOneAndWarnsOnlyBeyondTheTolerance) {
    {
        psex::test::CollectedMessages messages;
        EXPECT_EQ(0.0, psexFromTermSum(1.00000005, messages));
        EXPECT_EQ(0.0, psexFromTermSum(1.0, messages));
        EXPECT_EQ(0.25, psexFromTermSum(0.75, messages));
        EXPECT_EQ("", messages.error());
    }
    psex::test::CollectedMessages messages;
    EXPECT_EQ(0.0, psexFromTermSum(1.0000002, messages));
    EXPECT_EQ(0.0, psexFromTermSum(1.25, messages));
    // Twelve significant digits, and no precision left behind on the
    // channel: the second warning is formatted afresh.
    EXPECT_EQ("Warning: rounded 1.0000002 to 1.0.\nWarning: rounded 1.25 to 1.0.\n",
              messages.error());
    EXPECT_EQ("", messages.output());
}

} // namespace

namespace {

TEST(BinomialTail, GivesTheSameSumsAsTheDirectFormulaToTheBit) {
    std::mt19937 random(11);
    for (const std::uint32_t sampleSize : {2u, 7u, 60u, 1000u, 1029u, 1030u, 1500u, 20000u}) {
        psex::BinomialTail tail(sampleSize);
        std::uniform_int_distribution<std::uint32_t> count(0, sampleSize);
        std::uniform_real_distribution<double> probability(0.0, 1.0);
        for (int round = 0; round < 60; ++round) {
            // Repeated probabilities and counts meet cached terms.
            const double pgen = round % 5 == 0 ? 0.0 : std::pow(probability(random), 1 + round % 4);
            for (const std::uint32_t n : {count(random), count(random) / 8, 3u, 1u}) {
                const std::uint32_t bounded = std::min(n, sampleSize);
                EXPECT_EQ(binomialTermSum(sampleSize, bounded, pgen), tail.termSum(bounded, pgen))
                    << "N=" << sampleSize << " n=" << bounded << " g=" << pgen;
            }
        }
    }
}

} // namespace

namespace {

// Upper binomial tails from exact rational arithmetic (Python's fractions:
// the double g taken exactly, every term c(N, i) g^i (1 - g)^(N - i) summed
// as a fraction from i = n until the terms fell below 1e-25 of the sum, the
// sum rounded once to a double, subnormals included).
struct ExactTail {
    std::uint32_t sampleSize;
    std::uint32_t count;
    double pgen;
    double tail;
};

const ExactTail k_exactTails[] = {
    // An influenza genotype seen 25 times among 1642 isolates: 1 - S gave
    // 4.96e-14 where the tail is a subnormal number.
    {1642, 25, 1.52408e-15, 4.8880122e-316},
    {30, 3, 0.0001, 4.051787044425303e-09},
    {1000, 5, 1e-06, 8.243453297070325e-18},
    {20000, 12, 3.2e-09, 9.825703070931641e-60},
    {59, 2, 4.29226e-06, 3.1517460439660926e-08},
    {1, 1, 1e-07, 1e-07},
    {100, 100, 0.5, 7.888609052210118e-31},
    {2000, 40, 0.001, 1.344868988102916e-37},
    {10, 4, 0.2, 0.12087388160000002},
    {20000, 2, 1e-07, 1.9972357316543654e-06},
    {5000, 300, 0.01, 6.155789426060628e-130},
    {1642, 200, 1e-12, 0.0}, // below the smallest positive double
};

TEST(BinomialUpperTail, AgreesWithExactRationalTailsDownToTheSmallestDoubles) {
    for (const ExactTail& c : k_exactTails) {
        const double tail = psex::binomialUpperTail(c.sampleSize, c.count, c.pgen);
        if (c.tail < std::numeric_limits<double>::min()) {
            // A subnormal carries fewer digits: the nearest one, or 0.
            EXPECT_NEAR(c.tail, tail, std::numeric_limits<double>::denorm_min())
                << c.sampleSize << ' ' << c.count << ' ' << c.pgen;
        } else {
            EXPECT_NEAR(c.tail, tail, 1e-12 * c.tail)
                << c.sampleSize << ' ' << c.count << ' ' << c.pgen;
        }
    }
    EXPECT_EQ(1.0, psex::binomialUpperTail(50, 0, 0.3));
    EXPECT_EQ(0.0, psex::binomialUpperTail(50, 3, 0.0));
    EXPECT_EQ(1.0, psex::binomialUpperTail(50, 3, 1.0));
}

TEST(PsexOf, TakesSmallPsexFromTheTailAndKeepsTheSumElsewhere) {
    psex::test::CollectedMessages messages;
    for (const ExactTail& c : k_exactTails) {
        const double sum = binomialTermSum(c.sampleSize, c.count, c.pgen);
        const double psex = psex::psexOf(c.sampleSize, c.count, c.pgen, sum, messages);
        if (sum > 1.0 - psex::k_directTailBelow) {
            EXPECT_EQ(psex::binomialUpperTail(c.sampleSize, c.count, c.pgen), psex);
        } else {
            EXPECT_EQ(1.0 - sum, psex); // bit for bit as before
        }
        // Every PSex below 1e-5 is the accurate tail.
        if (c.tail < 1e-5) {
            EXPECT_NEAR(c.tail, psex, 1e-12 * c.tail + std::numeric_limits<double>::denorm_min());
        }
    }
    EXPECT_EQ("", messages.error());
    // The cached form gives the same, the same tail twice.
    psex::BinomialTail tail(1642);
    for (int round = 0; round < 2; ++round) {
        const double sum = tail.termSum(25, 1.52408e-15);
        EXPECT_EQ(psex::binomialUpperTail(1642, 25, 1.52408e-15),
                  tail.psex(25, 1.52408e-15, sum, messages));
    }
}

} // namespace
