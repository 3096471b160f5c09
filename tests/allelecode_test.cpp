// allelecode_test.cpp                                            -*-C++-*-
#include "import/allelecode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using psex::AlleleCell;
using psex::AlleleKind;
using psex::AlleleReader;

struct CellCase {
    std::string text;
    AlleleKind kind;
    std::int32_t value;
};

TEST(AlleleReader, ReadsNumbersLettersAndTheDefaultMissingCodes) {
    const AlleleReader reader(psex::defaultMissingCodes());
    const std::vector<CellCase> cases = {
        {"152", AlleleKind::e_NUMBER, 152},
        {" 152 ", AlleleKind::e_NUMBER, 152}, // spreadsheet padding
        {"0152", AlleleKind::e_NUMBER, 152},
        {"-3", AlleleKind::e_NUMBER, -3},
        {"2147483647", AlleleKind::e_NUMBER, 2147483647},
        {"-2147483648", AlleleKind::e_NUMBER, -2147483647 - 1},
        {"A", AlleleKind::e_NUCLEOTIDE, 1},
        {"c", AlleleKind::e_NUCLEOTIDE, 2},
        {"G", AlleleKind::e_NUCLEOTIDE, 3},
        {" t", AlleleKind::e_NUCLEOTIDE, 4},
        {"0", AlleleKind::e_MISSING, 0},
        {"000", AlleleKind::e_MISSING, 0}, // the value 0, however written
        {"-9", AlleleKind::e_MISSING, 0},
        {"-09", AlleleKind::e_MISSING, 0},
        {"NA", AlleleKind::e_MISSING, 0},
        {"na", AlleleKind::e_MISSING, 0},
        {"?", AlleleKind::e_MISSING, 0},
        {".", AlleleKind::e_MISSING, 0},
        {"", AlleleKind::e_MISSING, 0},
        {"  ", AlleleKind::e_MISSING, 0},
        {"9", AlleleKind::e_NUMBER, 9},
    };
    for (const CellCase& c : cases) {
        const AlleleCell cell = reader.read(c.text);
        EXPECT_EQ(c.kind, cell.kind) << "cell '" << c.text << "'";
        if (c.kind == AlleleKind::e_NUMBER || c.kind == AlleleKind::e_NUCLEOTIDE) {
            EXPECT_EQ(c.value, cell.value) << "cell '" << c.text << "'";
        }
    }
}

TEST(AlleleReader, RefusesWhatIsNoAlleleAndSaysWhatWasExpected) {
    const AlleleReader reader(psex::defaultMissingCodes());
    const std::string expected = "a whole number, a nucleotide letter A, C, G or T, or a "
                                 "missing-data code (0, -9, NA, ?, . or an empty cell)";
    EXPECT_EQ(expected, reader.expectation());
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"152.6", "allele '152.6' is not a whole number (expected " + expected + ")"},
        {"152,6", "allele '152,6' is not a whole number (expected " + expected + ")"},
        {"abc", "allele 'abc' is not an allele (expected " + expected + ")"},
        {"+152", "allele '+152' is not an allele (expected " + expected + ")"},
        {"1e3", "allele '1e3' is not an allele (expected " + expected + ")"},
        {"N", "allele 'N' is not an allele (expected " + expected + ")"},
        {"2147483648",
         "allele '2147483648' is out of range (expected a whole number from -2147483648 to "
         "2147483647, or a missing-data code)"},
        {"-99999999999999999999",
         "allele '-99999999999999999999' is out of range (expected a whole number from "
         "-2147483648 to 2147483647, or a missing-data code)"},
    };
    for (const auto& [text, problem] : cases) {
        const AlleleCell cell = reader.read(text);
        EXPECT_EQ(AlleleKind::e_INVALID, cell.kind) << text;
        EXPECT_EQ(problem, cell.problem);
    }
}

TEST(AlleleReader, TakesTheUsersOwnMissingCodes) {
    // Without the empty item an empty cell is refused; 0 becomes an allele.
    const AlleleReader reader({"-9", "N"});
    EXPECT_EQ(AlleleKind::e_NUMBER, reader.read("0").kind);
    EXPECT_EQ(AlleleKind::e_MISSING, reader.read("-9").kind);
    EXPECT_EQ(AlleleKind::e_MISSING, reader.read("n").kind);
    EXPECT_TRUE(reader.isMissingNumber(-9));
    EXPECT_FALSE(reader.isMissingNumber(0));
    const AlleleCell empty = reader.read("");
    EXPECT_EQ(AlleleKind::e_INVALID, empty.kind);
    EXPECT_EQ("the allele cell is empty, and an empty cell is not a missing-data code here "
              "(expected a whole number, a nucleotide letter A, C, G or T, or a missing-data "
              "code (-9 or N))",
              empty.problem);
    // A missing code wins over a nucleotide letter.
    EXPECT_EQ(AlleleKind::e_MISSING, AlleleReader({"A"}).read("a").kind);
    EXPECT_EQ("a whole number or a nucleotide letter A, C, G or T", AlleleReader({}).expectation());
}

TEST(ParseWholeNumber, AcceptsOnlyAnOptionalMinusAndDigits) {
    std::int64_t value = 0;
    EXPECT_TRUE(psex::parseWholeNumber("-12", &value));
    EXPECT_EQ(-12, value);
    EXPECT_TRUE(psex::parseWholeNumber("999999999999999999", &value));
    EXPECT_EQ(999999999999999999, value);
    for (const char* text : {"", "-", "1-", " 1", "1.0", "+1", "1000000000000000000"}) {
        EXPECT_FALSE(psex::parseWholeNumber(text, &value)) << text;
    }
}

} // namespace
