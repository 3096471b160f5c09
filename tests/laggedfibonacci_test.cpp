// laggedfibonacci_test.cpp                                       -*-C++-*-
#include "simulation/laggedfibonacci.h"

#include "simulation/fibonaccijump.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

namespace {

using psex::LaggedFibonacci607;
using Boost = LaggedFibonacci607::Boost;

// Draw 'count' numbers from both and stop at the first that differs.
void expectSameStream(LaggedFibonacci607& ours, Boost& boost, std::uint64_t count,
                      const std::string& what) {
    for (std::uint64_t i = 0; i < count; ++i) {
        const double expected = boost();
        const double actual = ours();
        ASSERT_EQ(expected, actual) << what << ": number " << i;
    }
}

// Set the refill to two or four numbers at a time while in scope.
class RefillWidth {
    bool d_previous;

  public:
    explicit RefillWidth(bool wide) : d_previous(LaggedFibonacci607::useWideVectors(wide)) {}
    ~RefillWidth() { LaggedFibonacci607::useWideVectors(d_previous); }
};

TEST(LaggedFibonacci607, YieldsBoostsStreamNumberForNumber) {
    // Ten million numbers from the default seed, the stream of every run,
    // refilled two numbers at a time and (where the processor has AVX) four.
    for (const bool wide : {false, true}) {
        const RefillWidth width(wide);
        const std::string how = wide ? "wide" : "narrow";
        LaggedFibonacci607 ours;
        Boost boost;
        expectSameStream(ours, boost, 10000000, "default seed, " + how);
        EXPECT_TRUE(ours == boost);
        // Other seeds fill the block with other values.
        for (const std::uint32_t seed : {1u, 2026u, 2147483646u}) {
            Boost seeded(seed);
            LaggedFibonacci607 copy(seeded);
            expectSameStream(copy, seeded, 100000, "seed " + std::to_string(seed) + ", " + how);
        }
    }
}

TEST(LaggedFibonacci607, LeavesBoostsStateAtEveryBlockEdge) {
    // Boost refills only when a number is asked for: after exactly 607
    // numbers the block is used up but not yet refilled.  The state after a
    // run is what the next data file continues from.
    for (const std::uint64_t count : {0ull, 1ull, 606ull, 607ull, 608ull, 1213ull, 1214ull, 1215ull,
                                      5 * 607ull, 5 * 607ull + 1}) {
        LaggedFibonacci607 ours;
        Boost boost;
        for (std::uint64_t i = 0; i < count; ++i) {
            ours();
            boost();
        }
        EXPECT_TRUE(ours == boost) << count;
        EXPECT_TRUE(LaggedFibonacci607(boost) == ours) << count;
        Boost back = ours.toBoost();
        EXPECT_TRUE(back == boost) << count;
        // The next numbers agree too.
        expectSameStream(ours, back, 700, "after " + std::to_string(count));
    }
    LaggedFibonacci607 ours;
    Boost boost;
    boost();
    EXPECT_FALSE(ours == boost);
}

TEST(LaggedFibonacci607, HandsOutRunsOfNumbersInPlaceOrCopied) {
    // Runs within a block come from the block itself, runs across its end
    // through the caller's buffer; both are the stream in order.
    LaggedFibonacci607 ours;
    Boost boost;
    std::vector<double> buffer(1500);
    std::uint64_t drawn = 0;
    for (const std::size_t count : {1, 40, 40, 606, 607, 1, 1000, 1500, 3, 0, 607}) {
        const double* numbers = ours.next(count, buffer.data());
        for (std::size_t i = 0; i < count; ++i) {
            ASSERT_EQ(boost(), numbers[i]) << "number " << drawn + i;
        }
        drawn += count;
        EXPECT_TRUE(ours == boost) << "after " << drawn;
    }
    std::vector<double> taken(2000);
    ours.take(taken.data(), taken.size());
    for (const double number : taken) {
        ASSERT_EQ(boost(), number);
    }
    EXPECT_TRUE(ours == boost);
}

// A Boost state read from text whose values are not multiples of 2^-48.
Boost inexactState() {
    std::ostringstream text;
    text << 607;
    std::mt19937_64 random(3);
    for (int j = 0; j < 607; ++j) {
        // value * 2^48: a whole number plus a quarter, or a whole number
        text << ' ' << (random() >> 17) << (j % 5 == 0 ? ".25" : "");
    }
    std::istringstream in(text.str());
    Boost boost;
    in >> boost;
    return boost;
}

TEST(LaggedFibonacci607, FollowsBoostFromAStateWithoutTheExactnessOfASeed) {
    const Boost start = inexactState();
    for (const bool wide : {false, true}) {
        const RefillWidth width(wide);
        LaggedFibonacci607 ours(start);
        EXPECT_FALSE(ours.isExact());
        EXPECT_TRUE(ours == start); // converted without loss
        Boost boost = start;
        expectSameStream(ours, boost, 100000, wide ? "inexact state, wide" : "inexact state");
    }

    // 'discard' cannot jump here and must draw through.
    LaggedFibonacci607 discarded(start);
    Boost expected = start;
    const std::uint64_t count = 1000 * 607 + 3; // above the jump's threshold
    discarded.discard(count);
    expected.discard(count);
    EXPECT_TRUE(discarded == expected);
    EXPECT_TRUE(LaggedFibonacci607().isExact());
}

TEST(LaggedFibonacci607, JumpsWhereDrawingThroughArrives) {
    std::mt19937_64 random(4);
    std::vector<std::uint64_t> counts = {0, 1, 606, 607, 608, 1214};
    const std::uint64_t jumpFrom = LaggedFibonacci607::k_jumpFromBlocks * 607;
    for (const std::uint64_t edge : {jumpFrom - 607, jumpFrom, jumpFrom + 607, 2 * jumpFrom}) {
        for (const std::uint64_t delta : {-2ll, -1ll, 0ll, 1ll, 2ll}) {
            counts.push_back(edge + static_cast<std::uint64_t>(delta));
        }
    }
    for (int i = 0; i < 10; ++i) {
        counts.push_back(random() % 2000000);
    }
    counts.push_back(9999991);
    psex::FibonacciJumps kept; // polynomials reused from one start to the next
    for (const std::uint64_t start : {0ull, 1ull, 300ull, 606ull, 607ull}) {
        LaggedFibonacci607 base;
        base.drawThrough(start); // every position in a block
        for (const std::uint64_t count : counts) {
            LaggedFibonacci607 jumped = base;
            jumped.discard(count);
            LaggedFibonacci607 drawn = base;
            drawn.drawThrough(count);
            ASSERT_TRUE(jumped == drawn) << "from " << start << " by " << count;
            LaggedFibonacci607 jumpedWithKept = base;
            jumpedWithKept.discard(count, &kept);
            ASSERT_TRUE(jumpedWithKept == drawn) << "from " << start << " by " << count;
            ASSERT_EQ(drawn(), jumped()) << "from " << start << " by " << count;
        }
    }
    // And against Boost itself over fifty million numbers.
    LaggedFibonacci607 jumped;
    jumped.discard(50000017);
    Boost boost;
    boost.discard(50000017);
    EXPECT_TRUE(jumped == boost);
}

TEST(LaggedFibonacci607, JumpsFarInOneGoOrInSteps) {
    // Far beyond drawing through: one jump over a + b numbers lands where
    // a jump over a and one over b do, whatever the position in the block.
    const std::uint64_t top = std::uint64_t(1) << 62;
    for (const auto& [a, b] : std::vector<std::pair<std::uint64_t, std::uint64_t>>{
             {1ull << 40, 777ull}, {top, top - 1}, {123456789012345ull, 400ull}}) {
        LaggedFibonacci607 once;
        once.discard(a + b);
        LaggedFibonacci607 twice;
        twice.discard(a);
        twice.discard(b);
        EXPECT_TRUE(once == twice) << a << " + " << b;
        EXPECT_TRUE(once.isExact());
    }
}

} // namespace
