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

TEST(DrawAhead, StopsWhenLeftEarly) {
    Generator generator;
    {
        psex::DrawAhead draws(generator, 10000000);
        Generator expected;
        EXPECT_EQ(expected(), draws());
    } // must not wait for ten million numbers nobody takes
    Generator fresh;
    EXPECT_FALSE(fresh == generator); // what was drawn stays drawn
}

} // namespace
