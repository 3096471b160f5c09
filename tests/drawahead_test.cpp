// drawahead_test.cpp                                             -*-C++-*-
#include "drawahead.h"

#include <gtest/gtest.h>

namespace {

using Generator = boost::random::lagged_fibonacci607;

TEST(DrawAhead, HandsOutTheStreamInOrderAndDrawsExactlyTheTotal) {
    // Chunks hold 65536 numbers: totals below, at and across the boundary.
    for (const std::uint64_t total : {1ull, 65535ull, 65536ull, 65537ull, 300001ull}) {
        Generator expected;
        Generator generator;
        {
            psex::DrawAhead draws(generator, total);
            for (std::uint64_t i = 0; i < total; ++i) {
                ASSERT_EQ(expected(), draws()) << "number " << i << " of " << total;
            }
        }
        EXPECT_TRUE(expected == generator) << total;
    }
}

// Return how many numbers were drawn from the specified 'generator' since
// it was default-constructed, or -1 when that is more than 'bound'.
long drawsSinceConstruction(const Generator& generator, long bound) {
    Generator fresh;
    for (long n = 0; n <= bound; ++n) {
        if (fresh == generator) {
            return n;
        }
        fresh();
    }
    return -1;
}

TEST(DrawAhead, StopsWhenLeftEarly) {
    // One number of ten million is taken.  By then the drawer may have
    // filled its ring (four chunks of 65536 numbers), but when the object
    // dies it must stop instead of drawing the numbers nobody takes.
    Generator generator;
    {
        psex::DrawAhead draws(generator, 10000000);
        Generator expected;
        EXPECT_EQ(expected(), draws());
    }
    constexpr long k_bound = 6 * 65536;
    const long drawn = drawsSinceConstruction(generator, k_bound);
    ASSERT_NE(-1, drawn) << "more than " << k_bound << " numbers were drawn";
    EXPECT_GE(drawn, 1); // what was drawn stays drawn
}

} // namespace
