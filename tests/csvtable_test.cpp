// csvtable_test.cpp                                              -*-C++-*-
#include "import/csvtable.h"

#include "import/importeddata.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using psex::CsvRow;
using psex::ImportRefusal;
using Cells = std::vector<std::string>;

TEST(ReadCsv, CutsRowsAsSpreadsheetsWriteThem) {
    // A quoted cell holds the separator, a doubled quote and a line end;
    // blank lines give no row; spaces around unquoted cells stay.
    const std::string text = "Sample,A\n"
                             "\"x,1\",\"say \"\"hi\"\"\"\n"
                             "\n"
                             "\"two\nlines\", 12 \n"
                             "last,";
    const std::vector<CsvRow> rows = psex::readCsv(text, ',');
    ASSERT_EQ(4u, rows.size());
    EXPECT_EQ((Cells{"Sample", "A"}), rows[0].cells);
    EXPECT_EQ((Cells{"x,1", "say \"hi\""}), rows[1].cells);
    EXPECT_EQ((Cells{"two\nlines", " 12 "}), rows[2].cells);
    EXPECT_EQ((Cells{"last", ""}), rows[3].cells);
    EXPECT_EQ(1u, rows[0].line);
    EXPECT_EQ(2u, rows[1].line);
    EXPECT_EQ(4u, rows[2].line); // after the blank line 3
    EXPECT_EQ(6u, rows[3].line); // the quoted line end counts as a line
}

TEST(ReadCsv, ReadsEveryLineEndAndEverySeparator) {
    for (const std::string end : {"\n", "\r\n", "\r"}) {
        const std::string text = "a;b" + end + end + "\"c;d\";e" + end;
        const std::vector<CsvRow> rows = psex::readCsv(text, ';');
        ASSERT_EQ(2u, rows.size());
        EXPECT_EQ((Cells{"c;d", "e"}), rows[1].cells);
        EXPECT_EQ(3u, rows[1].line);
    }
    // TAB-separated: a TAB is a separator, never white space to drop.
    const std::vector<CsvRow> rows = psex::readCsv("x\t\t 1\t2\r\n", '\t');
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ((Cells{"x", "", " 1", "2"}), rows[0].cells);
}

TEST(ReadCsv, RefusesBrokenQuotingWithItsLineAndColumn) {
    const std::string rule = "a double quote in this cell breaks the quoting rules (expected a "
                             "cell either without quotes, or wholly in double quotes with every "
                             "quote inside it written twice)";
    struct Case {
        std::string text;
        std::size_t line;
        std::string column;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"a,b\nx,5'2\",y\n", 2, "2 (B)", rule},
        {"a,b\nx,\"ab\"c,y\n", 2, "2 (B)", rule},
        {"a,b\nx,y,\"open\nstill open\n", 2, "3 (C)",
         "the quoted cell that begins here is still open at the end of the file (expected a "
         "closing double quote)"},
    };
    for (const Case& c : cases) {
        try {
            psex::readCsv(c.text, ',');
            ADD_FAILURE() << "no refusal for " << c.text;
        } catch (const ImportRefusal& refusal) {
            EXPECT_EQ(c.line, refusal.line) << c.text;
            EXPECT_EQ(c.column, refusal.column) << c.text;
            EXPECT_EQ(c.message, refusal.text);
        }
    }
}

TEST(DetectSeparator, TakesTheCommonestSeparatorOutsideQuotes) {
    EXPECT_EQ(',', psex::detectSeparator("Sample,A,A\nx,1,2\n"));
    EXPECT_EQ(';', psex::detectSeparator("Sample;A;A\r\nx;\"1,5\";2\r\n"));
    // European sheets: decimal commas do not outvote the semicolons.
    EXPECT_EQ(';', psex::detectSeparator("6;30;2\nSeagrass, 2019;;\nS;P;A;;B;\nx;p;1;2;3,5;4\n"));
    EXPECT_EQ('\t', psex::detectSeparator("Sample\tA\tA\nx, y\t1\t2\n"));
    EXPECT_EQ('\t', psex::detectSeparator("a,b\tc;d\n")); // a tie: TAB first
    EXPECT_EQ(';', psex::detectSeparator("a,b;c\n"));
    EXPECT_EQ(',', psex::detectSeparator("Sample\nx\n")); // nothing to count
    EXPECT_EQ(',', psex::detectSeparator("\"a;b;c\",d\n"));
}

TEST(CsvText, HandsOutRowsUntilTheVisitorStops) {
    // Reading stops where the visitor says: a broken quote further down is
    // not reached, and a second reading begins at the top again.
    const psex::CsvText table("a,b\r\nc,\"d\ne\"\nf,g\nh,\"broken\n", ',');
    std::vector<CsvRow> seen;
    table.forEachRow([&](const CsvRow& row) {
        seen.push_back(row);
        return seen.size() < 3;
    });
    ASSERT_EQ(3u, seen.size());
    EXPECT_EQ((Cells{"c", "d\ne"}), seen[1].cells);
    EXPECT_EQ(4u, seen[2].line);
    EXPECT_EQ(',', table.separator());
    std::size_t rows = 0;
    EXPECT_THROW(table.forEachRow([&](const CsvRow&) { return ++rows > 0; }), ImportRefusal);
    EXPECT_EQ(3u, rows);
}

TEST(CsvText, LetsTheVisitorRefuseARow) {
    // A reader refuses a row by throwing from the visitor; the exception
    // must come out whole, not through the CSV library's C code.
    const psex::CsvText table("a\nb\nc\n", ',');
    try {
        table.forEachRow([](const CsvRow& row) -> bool {
            if (row.cells[0] == "b") {
                ImportRefusal refusal;
                refusal.line = row.line;
                throw refusal;
            }
            return true;
        });
        ADD_FAILURE() << "no refusal";
    } catch (const ImportRefusal& refusal) {
        EXPECT_EQ(2u, refusal.line);
    }
}

} // namespace
