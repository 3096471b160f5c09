// significance_test.cpp                                          -*-C++-*-
#include "model/significance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using psex::PsexList;

// The simulated values 0.001, 0.002, ..., 1.
PsexList thousandths() {
    std::vector<double> values;
    for (int i = 1; i <= 1000; ++i) {
        values.push_back(i / 1000.0);
    }
    return PsexList(values);
}

TEST(Significance, ReadsThresholdsOffTheList) {
    const PsexList list = thousandths();
    EXPECT_EQ(0.05, psex::significanceThreshold(list, 0.05)); // entry 49: floor(0.05 * 999)
    EXPECT_EQ(0.01, psex::significanceThreshold(list, 0.01)); // entry 9
    EXPECT_EQ(0.1, psex::significanceThreshold(list, 0.1));   // entry 99
    EXPECT_EQ(0.001, psex::significanceThreshold(list, 0.001));
    EXPECT_DOUBLE_EQ(0.049, psex::realizedSignificanceLevel(list, 0.05));
    EXPECT_DOUBLE_EQ(0.009, psex::realizedSignificanceLevel(list, 0.01));
    EXPECT_DOUBLE_EQ(0.099, psex::realizedSignificanceLevel(list, 0.1));
}

TEST(Significance, ReportsTheThreeLevelsInOrder) {
    ASSERT_EQ(3u, std::size(psex::k_reportedLevels));
    EXPECT_EQ(std::string("0.01"), psex::k_reportedLevels[0].text);
    EXPECT_EQ(0.01, psex::k_reportedLevels[0].level);
    EXPECT_EQ(std::string("0.05"), psex::k_reportedLevels[1].text);
    EXPECT_EQ(0.05, psex::k_reportedLevels[1].level);
    EXPECT_EQ(std::string("0.10"), psex::k_reportedLevels[2].text);
    EXPECT_EQ(0.1, psex::k_reportedLevels[2].level);
}

TEST(Significance, JudgesPsexValuesAgainstTheList) {
    const PsexList list = thousandths();
    EXPECT_EQ(0.0, psex::psexSignificance(list, 0.0005));
    EXPECT_EQ(0.0, psex::psexSignificance(list, 0.001)); // strictly smaller values only
    EXPECT_EQ(0.001, psex::psexSignificance(list, 0.0015));
    EXPECT_EQ(0.5, psex::psexSignificance(list, 0.5005));
    // Larger than every simulated value: all of them are smaller.
    EXPECT_EQ(1.0, psex::psexSignificance(list, 2.0));

    EXPECT_EQ("***", psex::significanceCode(list, 0.0005));
    EXPECT_EQ("**", psex::significanceCode(list, 0.005));
    EXPECT_EQ("*", psex::significanceCode(list, 0.02));
    EXPECT_EQ("ns", psex::significanceCode(list, 0.05)); // equal to the threshold
    EXPECT_EQ("ns", psex::significanceCode(list, 0.7));
}

TEST(Significance, JudgesAgainstAnEmptyList) {
    const PsexList empty;
    for (const double level : {0.001, 0.01, 0.05, 0.1}) {
        EXPECT_EQ(1.0, psex::significanceThreshold(empty, level));
        EXPECT_EQ(0.0, psex::realizedSignificanceLevel(empty, level));
    }
    EXPECT_EQ(0.0, psex::psexSignificance(empty, 0.3));
    EXPECT_EQ("***", psex::significanceCode(empty, 0.3));
    EXPECT_EQ("ns", psex::significanceCode(empty, 1.0));
}

TEST(Significance, NeverGivesANegativeRealizedLevel) {
    const PsexList one({0.2});
    for (const double level : {0.01, 0.05, 0.1}) {
        EXPECT_EQ(0.2, psex::significanceThreshold(one, level));
        EXPECT_EQ(0.0, psex::realizedSignificanceLevel(one, level)); // r = 0
    }
    // Rounding half up: 0.05 * 10 = 0.5 gives r = 1, level 0.
    const PsexList ten({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    EXPECT_EQ(0.0, psex::realizedSignificanceLevel(ten, 0.05));
    EXPECT_EQ(0.0, psex::realizedSignificanceLevel(ten, 0.1));
    const PsexList thirty(std::vector<double>(30, 0.5));
    EXPECT_DOUBLE_EQ(1.0 / 30.0, psex::realizedSignificanceLevel(thirty, 0.05)); // 1.5 -> 2
}

TEST(Significance, CodesTheFamilywisePValueAtTheUsualLevelsInclusively) {
    EXPECT_EQ("***", psex::familywiseLevel(0.0));
    EXPECT_EQ("***", psex::familywiseLevel(0.001));
    EXPECT_EQ("**", psex::familywiseLevel(std::nextafter(0.001, 1.0)));
    EXPECT_EQ("**", psex::familywiseLevel(0.01));
    EXPECT_EQ("*", psex::familywiseLevel(std::nextafter(0.01, 1.0)));
    EXPECT_EQ("*", psex::familywiseLevel(0.05));
    EXPECT_EQ("ns", psex::familywiseLevel(std::nextafter(0.05, 1.0)));
    EXPECT_EQ("ns", psex::familywiseLevel(1.0));
    // (c + 1) / (K + 1): 3 of 6 data sets at most as extreme give 4/7; none
    // of 999 gives 1/1000, the finest level; the boundaries 1/1000 and 5/100.
    EXPECT_EQ(4.0 / 7.0, psex::familywisePValue(3, 6));
    EXPECT_EQ("***", psex::familywiseLevel(psex::familywisePValue(0, 999)));
    EXPECT_EQ("**", psex::familywiseLevel(psex::familywisePValue(1, 999)));
    EXPECT_EQ("*", psex::familywiseLevel(psex::familywisePValue(4, 99)));
    EXPECT_EQ("ns", psex::familywiseLevel(psex::familywisePValue(5, 99)));
}

TEST(SignificanceDeathTest, TakesLevelsWithinZeroAndOne) {
    EXPECT_DEATH(psex::significanceThreshold(thousandths(), 1.5),
                 "significanceLevel >= 0.0 && significanceLevel <= 1.0");
}

} // namespace
