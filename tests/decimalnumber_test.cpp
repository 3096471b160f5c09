// decimalnumber_test.cpp                                         -*-C++-*-
#include "base/decimalnumber.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

TEST(DecimalNumber, ReadsDecimalsWithAPointAndNothingElse) {
    struct Case {
        const char* text;
        std::optional<double> value;
    } cases[] = {{"1.5", 1.5},
                 {"  -2 ", -2.0},
                 {"+3", 3.0},
                 {".5", 0.5},
                 {"5.", 5.0},
                 {"1e3", 1000.0},
                 {"2.5E-1", 0.25},
                 {"0e-999", 0.0},
                 {"4.9e-324", 4.9e-324}, // the smallest subnormal
                 {"0.1", 0.1},
                 {"", std::nullopt},
                 {" ", std::nullopt},
                 {"1,5", std::nullopt},
                 {"inf", std::nullopt},
                 {"nan", std::nullopt},
                 {"0x1p3", std::nullopt},
                 {"1e", std::nullopt},
                 {".", std::nullopt},
                 {"-", std::nullopt},
                 {"+-1", std::nullopt},
                 {"1.5m", std::nullopt},
                 {"\t1", std::nullopt},
                 {"1e400", std::nullopt},   // beyond the largest double
                 {"1e-400", std::nullopt}}; // not zero, but rounds to it
    for (const Case& c : cases) {
        EXPECT_EQ(c.value, psex::decimalNumber(c.text)) << c.text;
    }
}

TEST(DecimalNumber, ChecksTheFormAsAWholeWithoutSpaces) {
    // The import's check of a coordinate cell: the form alone, so that a
    // number too large for a double still counts as written as a number
    // (psex then reports it), and spaces are the caller's to trim.
    for (const char* text : {"1.5", "-2", "+3", ".5", "5.", "1e3", "2.5E-1", "1e400"}) {
        EXPECT_TRUE(psex::hasDecimalForm(text)) << text;
    }
    for (const char* text : {"", " 1", "1 ", "1,5", "inf", "nan", "0x1p3", "1e", ".", "-", "+-1",
                             "1.5m", "e5", "1e+"}) {
        EXPECT_FALSE(psex::hasDecimalForm(text)) << text;
    }
}

} // namespace
