// fibonaccijump_test.cpp                                         -*-C++-*-
#include "simulation/fibonaccijump.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using psex::FibonacciBlock;

TEST(FibonacciJump, ReducesPowersOfZByTheCharacteristicPolynomial) {
    // Below 607, z^m is its own remainder; z^607 = z^334 + 1 and
    // z^608 = z^335 + z by f(z) = z^607 - z^334 - 1; z^880 = z^(607 + 273)
    // = z^607 + z^273 = z^334 + z^273 + 1.
    for (const std::uint64_t m : {0ull, 1ull, 300ull, 606ull}) {
        FibonacciBlock expected{};
        expected[m] = 1;
        EXPECT_EQ(expected, psex::fibonacciJumpPolynomial(m)) << m;
    }
    FibonacciBlock z607{};
    z607[0] = z607[334] = 1;
    EXPECT_EQ(z607, psex::fibonacciJumpPolynomial(607));
    FibonacciBlock z608{};
    z608[1] = z608[335] = 1;
    EXPECT_EQ(z608, psex::fibonacciJumpPolynomial(608));
    FibonacciBlock z880{};
    z880[0] = z880[273] = z880[334] = 1;
    EXPECT_EQ(z880, psex::fibonacciJumpPolynomial(880));
}

TEST(FibonacciJump, JumpsToTheBlockThatTheRecurrenceReaches) {
    std::mt19937_64 random(11);
    FibonacciBlock start;
    for (std::uint64_t& term : start) {
        term = random() & psex::k_fibonacciModulusMask;
    }
    // Term by term: the block 'steps' ahead is read off the sequence.
    std::vector<std::uint64_t> sequence(start.begin(), start.end());
    while (sequence.size() < 40 * 607) {
        const std::size_t n = sequence.size();
        sequence.push_back((sequence[n - 607] + sequence[n - 273]) & psex::k_fibonacciModulusMask);
    }
    for (const std::uint64_t steps : {0ull, 1ull, 272ull, 273ull, 606ull, 607ull, 608ull, 1214ull,
                                      4095ull, 10000ull, 38 * 607ull + 5}) {
        const FibonacciBlock jumped = psex::jumpFibonacciBlock(start, steps);
        for (std::size_t s = 0; s < 607; ++s) {
            ASSERT_EQ(sequence[steps + s], jumped[s]) << "steps " << steps << ", term " << s;
        }
    }
    FibonacciBlock advanced = start;
    psex::advanceFibonacciBlock(advanced);
    EXPECT_EQ(psex::jumpFibonacciBlock(start, 607), advanced);
}

TEST(FibonacciJump, AddsJumpsOfAnySize) {
    // z^(a + b) = z^a z^b: jumping a then b lands where jumping a + b does,
    // for distances far beyond drawing through, up to 2^63.
    std::mt19937_64 random(12);
    FibonacciBlock start;
    for (std::uint64_t& term : start) {
        term = random() & psex::k_fibonacciModulusMask;
    }
    const std::uint64_t top = std::uint64_t(1) << 62;
    for (const auto& [a, b] : std::vector<std::pair<std::uint64_t, std::uint64_t>>{
             {1ull << 40, 12345ull}, {999999937ull, 1ull << 33}, {top, top - 1}, {top, 607}}) {
        EXPECT_EQ(psex::jumpFibonacciBlock(start, a + b),
                  psex::jumpFibonacciBlock(psex::jumpFibonacciBlock(start, a), b))
            << a << " + " << b;
    }
}

} // namespace
