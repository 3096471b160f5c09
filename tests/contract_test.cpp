// contract_test.cpp                                              -*-C++-*-
#include "base/contract.h"

#include <gtest/gtest.h>

namespace {

int checkedHalf(int value) {
    PSEX_ASSERT(value % 2 == 0);
    return value / 2;
}

TEST(Contract, PassesWhenTheConditionHolds) {
    EXPECT_EQ(21, checkedHalf(42));
}

TEST(ContractDeathTest, PrintsTheConditionTextAndAborts) {
    // Active whatever the build type: the test suite is built as Release.
    EXPECT_DEATH(checkedHalf(3), "Assertion failed: value % 2 == 0");
}

} // namespace
