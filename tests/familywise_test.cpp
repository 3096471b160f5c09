// familywise_test.cpp                                            -*-C++-*-
#include "model/familywise.h"

#include <gtest/gtest.h>

namespace {

using psex::FamilywiseCounter;

TEST(FamilywiseCounter, CountsDataSetsWhoseSmallestValueIsAtMostEachObservedOne) {
    // Observed repeats 0.3, 0.1, 0.3 (one PSex twice) and 0.5.  Six data
    // sets, two without a repeat; by hand: at most 0.1 are 0.1 (a tie
    // counts) and 0.05; at most 0.3 also 0.2; at most 0.5 the same three
    // (0.6 lies above every observed value).
    FamilywiseCounter counter({0.3, 0.1, 0.3, 0.5});
    EXPECT_EQ((std::vector<double>{0.1, 0.3, 0.5}), counter.observed());
    for (const std::optional<double> smallest :
         {std::optional<double>(0.1), std::optional<double>(), std::optional<double>(0.2),
          std::optional<double>(0.6), std::optional<double>(0.05), std::optional<double>()}) {
        counter.addDataSet(smallest);
    }
    EXPECT_EQ(6u, counter.dataSets());
    EXPECT_EQ(2u, counter.countAtMost(0.1));
    EXPECT_EQ(3u, counter.countAtMost(0.3));
    EXPECT_EQ(3u, counter.countAtMost(0.5));
}

TEST(FamilywiseCounter, AddsCountersOfSeveralThreadsToTheSameCounts) {
    const std::vector<double> observed = {1e-9, 1e-6, 0.25};
    const std::vector<std::optional<double>> smallest = {
        0.5, std::nullopt, 1e-6, 2e-9, 0.0, std::nullopt, 0.25, 1e-12, 0.3, 1e-6};
    FamilywiseCounter whole(observed);
    for (const auto& value : smallest) {
        whole.addDataSet(value);
    }
    for (std::size_t parts = 2; parts <= 4; ++parts) {
        FamilywiseCounter sum(observed);
        for (std::size_t part = 0; part < parts; ++part) {
            FamilywiseCounter piece(observed);
            for (std::size_t k = part; k < smallest.size(); k += parts) {
                piece.addDataSet(smallest[k]);
            }
            sum.add(piece);
        }
        EXPECT_EQ(whole.dataSets(), sum.dataSets()) << parts;
        for (const double x : observed) {
            EXPECT_EQ(whole.countAtMost(x), sum.countAtMost(x)) << parts << " parts, " << x;
        }
    }
    EXPECT_EQ(2u, whole.countAtMost(1e-9)); // 0 and 1e-12
    EXPECT_EQ(5u, whole.countAtMost(1e-6)); // and 2e-9, 1e-6 twice
    EXPECT_EQ(6u, whole.countAtMost(0.25)); // and 0.25
}

TEST(FamilywiseCounter, CountsDataSetsWithoutARepeatOnlyInK) {
    FamilywiseCounter counter({0.01});
    counter.addDataSetsWithoutRepeat(999);
    EXPECT_EQ(999u, counter.dataSets());
    EXPECT_EQ(0u, counter.countAtMost(0.01));
}

TEST(FamilywiseCounterDeathTest, AnswersOnlyForObservedValues) {
    const FamilywiseCounter counter({0.5});
    EXPECT_DEATH(counter.countAtMost(0.25), "at != d_observed.end");
    FamilywiseCounter other({0.25});
    EXPECT_DEATH(other.add(counter), "other.d_observed == d_observed");
}

} // namespace
