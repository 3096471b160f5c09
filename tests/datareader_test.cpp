// datareader_test.cpp                                            -*-C++-*-
#include "model/datareader.h"

#include "collectedmessages.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using psex::DataReader;
using psex::test::CollectedMessages;
using Parameters = std::map<std::string, std::string>;

// A data file parsed from text, with everything the reader printed.
class ParsedFile {
    CollectedMessages d_messages; // first: it must see the constructor's messages
    std::istringstream d_in;
    DataReader d_reader;

  public:
    explicit ParsedFile(const std::string& text) : d_in(text), d_reader(d_in, d_messages) {}

    DataReader& reader() { return d_reader; }
    std::string messages() const { return d_messages.output(); }
    std::string errors() const { return d_messages.error(); }

    // Read every data line the reader delivers, each as its fields.
    std::vector<std::vector<std::string>> dataLines(std::size_t fields) {
        std::vector<std::vector<std::string>> lines;
        while (d_reader.readDataLine()) {
            std::vector<std::string> line;
            for (std::size_t i = 0; i < fields; ++i) {
                line.push_back(d_reader.getColumn(i));
            }
            lines.push_back(line);
        }
        return lines;
    }
};

using Lines = std::vector<std::vector<std::string>>;

TEST(DataReader, KeepsHeaderTextExactlyAsWritten) {
    ParsedFile file("# a comment line\n"
                    "PLOIDY=2\n"
                    "TITLE=a=b\n"
                    "=\n"
                    "NOTE=kept\tleft over from a spreadsheet\n"
                    "PLOIDY = 1\n"
                    "\n"
                    "Sample,A\n");
    EXPECT_EQ(
        (Parameters{
            {"", ""}, {"NOTE", "kept"}, {"PLOIDY", "2"}, {"PLOIDY ", " 1"}, {"TITLE", "a=b"}}),
        file.reader().parameters());
    EXPECT_EQ("", file.messages());
    EXPECT_TRUE(file.reader().hasParameter("TITLE"));
    EXPECT_FALSE(file.reader().hasParameter("title"));
    EXPECT_EQ("a=b", file.reader().getParameter("TITLE"));
    EXPECT_EQ(2u, file.reader().columnCount());
}

TEST(DataReader, OrdersKeysByteWise) {
    ParsedFile file("TITLE=t\nPLOIDY=2\nextra=1\nLOCUSNAMES=A,B\nFREQUENCY=MLG\n\nS\n");
    std::vector<std::string> keys;
    for (const auto& parameter : file.reader().parameters()) {
        keys.push_back(parameter.first);
    }
    EXPECT_EQ((std::vector<std::string>{"FREQUENCY", "LOCUSNAMES", "PLOIDY", "TITLE", "extra"}),
              keys);
}

TEST(DataReader, NumbersHeaderMessagesAfterTheCountedLineEnd) {
    // A line without '=' and a repeated key are reported once their line end
    // has been counted, so with the number of the following line.
    ParsedFile file("PLOIDY=1\n"    // 1
                    "no equals\r\n" // 2: E1 reported as line 3, without the CR
                    "PLOIDY=2\n"    // 3: E3 reported as line 4
                    "\n"            // 4
                    "Sample,A\n");
    EXPECT_EQ("Error:3: header variable with no '=' (line = 'no equals').\n"
              "error:4: duplicate key in header ('PLOIDY').\n",
              file.messages());
    EXPECT_EQ((Parameters{{"PLOIDY", "2"}}), file.reader().parameters());
    EXPECT_EQ(2u, file.reader().columnCount());
}

TEST(DataReader, ReportsAFileThatBeginsWithItsColumnLine) {
    ParsedFile file("Sample,A,B\ns1,1,2\n");
    EXPECT_EQ("Error:2: header variable with no '=' (line = 'Sample,A,B').\n"
              "Error:3: header variable with no '=' (line = 's1,1,2').\n"
              "Error:3: end of file while parsing header variable.\n",
              file.messages());
    EXPECT_TRUE(file.reader().parameters().empty());
    EXPECT_EQ(0u, file.reader().columnCount());
    EXPECT_FALSE(file.reader().readDataLine());
}

TEST(DataReader, ReportsTheEndOfFileInsideTheHeaderOnTheLineConcerned) {
    struct Case {
        const char* text;
        const char* message;
        Parameters parameters;
    } cases[] = {
        {"", "Error:1: end of file while parsing header variable.\n", {}},
        {"A=1\nB=2", "Error:2: end of file while parsing header variable.\n", {{"A", "1"}}},
        {"A=1\nB", "Error:2: end of file while parsing header variable.\n", {{"A", "1"}}},
        {"A=1\n# comment", "Error:2: end of file while parsing header variable.\n", {{"A", "1"}}},
        {"# comment\n", "Error:2: end of file while parsing header variable.\n", {}},
        // A TAB ends the value even when the line never ends.
        {"A=1\nB=2\tjunk",
         "Error:2: end of file while parsing header variable.\n",
         {{"A", "1"}, {"B", "2"}}},
    };
    for (const Case& c : cases) {
        ParsedFile file(c.text);
        EXPECT_EQ(c.message, file.messages()) << "file: " << c.text;
        EXPECT_EQ(c.parameters, file.reader().parameters()) << "file: " << c.text;
        EXPECT_EQ(0u, file.reader().columnCount());
        EXPECT_FALSE(file.reader().readDataLine());
    }
}

TEST(DataReader, EndsTheHeaderAtAnEmptyOrIndentedLine) {
    // The indented line's content is discarded and counted, and comment
    // lines may stand between the header and the column-name line.
    ParsedFile indented("A=1\n   not a parameter=1\n# comment\nSample,X,Y,,\nx,1,2,,\n");
    EXPECT_EQ("", indented.messages());
    EXPECT_EQ((Parameters{{"A", "1"}}), indented.reader().parameters());
    EXPECT_EQ(3u, indented.reader().columnCount());
    EXPECT_EQ((Lines{{"x", "1", "2"}}), indented.dataLines(3));

    ParsedFile noHeader("\nSample,X\nx,1\n");
    EXPECT_TRUE(noHeader.reader().parameters().empty());
    EXPECT_EQ((Lines{{"x", "1"}}), noHeader.dataLines(2));

    // A second empty line is taken for the column-name line: no columns.
    ParsedFile secondEmpty("A=1\n\n\nSample,X\n");
    EXPECT_EQ(0u, secondEmpty.reader().columnCount());
}

TEST(DataReader, CountsRepeatedColumnNamesOnceButGivesThemPositions) {
    ParsedFile file("A=1\n\nSample,L,L,M\nx,1,2,3\n");
    EXPECT_EQ("error:3: duplicate column name 'L'.\n", file.messages());
    EXPECT_EQ(3u, file.reader().columnCount());
    EXPECT_EQ((Lines{{"x", "1", "2", "3"}}), file.dataLines(4));
}

TEST(DataReader, RefusesAColumnLineWithAnEmptyNameBetweenNames) {
    // An empty heading between two names would take no position, so every
    // allele after it would be read into the column before: no columns
    // then, and no sample is read.
    ParsedFile gap("A=1\n\n#c\nS,A1,,A2\nx,151,,157\n");
    EXPECT_EQ("error:4: empty column name between 'A1' and 'A2'.\n", gap.messages());
    EXPECT_EQ(0u, gap.reader().columnCount());
    EXPECT_TRUE(gap.dataLines(0).empty());

    // Each gap is reported, however wide, also between TABs and with a CR
    // in it; a repeated name is still reported as it comes.
    ParsedFile gaps("A=1\n\nS\t\tA,,,B,\r,A\r\n");
    EXPECT_EQ("error:3: empty column name between 'S' and 'A'.\n"
              "error:3: empty column name between 'A' and 'B'.\n"
              "error:3: empty column name between 'B' and 'A'.\n"
              "error:3: duplicate column name 'A'.\n",
              gaps.messages());
    EXPECT_EQ(0u, gaps.reader().columnCount());

    // Empty names at the ends of the line, and a name that the end of the
    // file cuts off, leave no gap between names.
    ParsedFile ends("A=1\n\n,,S,A,,\nx,1\n");
    EXPECT_EQ("", ends.messages());
    EXPECT_EQ((Lines{{"x", "1"}}), ends.dataLines(2));
    ParsedFile cut("A=1\n\nS,A,,B");
    EXPECT_EQ("", cut.messages());
    EXPECT_EQ(2u, cut.reader().columnCount());
}

TEST(DataReader, DropsAColumnNameCutOffByTheEndOfFile) {
    ParsedFile file("A=1\n\nSample,B");
    EXPECT_EQ(1u, file.reader().columnCount());
}

TEST(DataReader, DeliversDataLinesByPosition) {
    ParsedFile file("A=1\n\nSample,X,Y\n"
                    "x,1,2\n"
                    "#y,,3,,\n" // a number sign here is data; empty fields count
                    "z\t4\t5\n"
                    "w,6,7"); // the last line may lack its line end
    EXPECT_EQ("", file.messages());
    EXPECT_EQ((Lines{{"x", "1", "2"}, {"#y", "", "3"}, {"z", "4", "5"}, {"w", "6", "7"}}),
              file.dataLines(3));
}

TEST(DataReader, EndsTheDataAtAnIndentedLineWithoutAFormatMessage) {
    ParsedFile file("A=1\n\nSample,X\nx,1\n y,2\nz,3\n");
    EXPECT_EQ((Lines{{"x", "1"}}), file.dataLines(2));
    EXPECT_EQ("", file.messages());
    // The indented line is line 5; itself and line 6 are lost.
    EXPECT_EQ("warning: the data end at line 5; 1 later lines were not read.\n", file.errors());
}

TEST(DataReader, WarnsWhenTheDataEndBeforeTheLinesThatHoldText) {
    struct Case {
        const char* data; // lines after the two-column header ending on line 3
        std::size_t delivered;
        const char* errors;
    } cases[] = {
        // Blank or white lines after the end lose nothing.
        {"x,1\n\n", 1, ""},
        {"x,1\n\t \r\n\n   ", 1, ""},
        // The line that ends the data is not counted among the later ones.
        {"x,1\n y,2", 1, ""},
        {"x,1\n y,2\n\n z", 1, "warning: the data end at line 5; 1 later lines were not read.\n"},
        // A short line ends the data at its own number whatever E6 prints;
        // a last piece without line end counts as a line.
        {"x,1\ny\nz,3\n\nw,4", 1,
         "warning: the data end at line 5; 2 later lines were not read.\n"},
        {"x,1\n\nz,3\r\n \r\n\tw,4\n", 1,
         "warning: the data end at line 5; 2 later lines were not read.\n"},
        {"x,1\ny", 1, ""},
        {"\tx,1\ny,2\n#z,3\n", 0,
         "warning: the data end at line 4; 2 later lines were not read.\n"},
    };
    for (const Case& c : cases) {
        ParsedFile file(std::string("A=1\n\nSample,X\n") + c.data);
        EXPECT_EQ(c.delivered, file.dataLines(2).size()) << "data: " << c.data;
        EXPECT_EQ(c.errors, file.errors()) << "data: " << c.data;
    }
}

TEST(DataReader, SkipsRowsOfEmptyCellsAndReadsOn) {
    ParsedFile file("A=1\n\nSample,X,Y\n"
                    "x,1,2\n"
                    ",,\n"       // line 5: a blank spreadsheet row
                    ",,,,,,\r\n" // line 6: padded further, Windows line end
                    "y,3,4\n"
                    ",,9\n"   // a row with a value is a sample, without name
                    ",,,,7\n" // line 9: one with text beyond the columns too
                    ",\n");   // line 10: short, it ends the data
    EXPECT_EQ((Lines{{"x", "1", "2"}, {"y", "3", "4"}, {"", "", "9"}, {"", "", ""}}),
              file.dataLines(3));
    EXPECT_EQ("warning: line 5: empty row skipped.\n"
              "warning: line 6: empty row skipped.\n",
              file.errors());
    EXPECT_EQ("error:9: data line has too many entries.\n"
              "error:10: data line has not enough entries (2 of 3).\n",
              file.messages());
    EXPECT_FALSE(file.reader().dataEndedEarly()); // the short line holds nothing

    // With a single column an empty line is an empty row.
    ParsedFile single("A=1\n\nSample\nx\n\ny\n");
    EXPECT_EQ((Lines{{"x"}, {"y"}}), single.dataLines(1));
    EXPECT_EQ("warning: line 5: empty row skipped.\n", single.errors());
}

// A stream buffer that serves a text and then fails as a broken disk does:
// the file buffer of the standard library throws from underflow.
class FailingBuffer : public std::streambuf {
    std::string d_text;

  public:
    explicit FailingBuffer(std::string text) : d_text(std::move(text)) {
        setg(d_text.data(), d_text.data(), d_text.data() + d_text.size());
    }

  protected:
    int_type underflow() override { throw std::ios_base::failure("read error"); }
};

TEST(DataReader, TellsAReadErrorFromTheEndOfTheFile) {
    CollectedMessages messages;
    FailingBuffer buffer("A=1\n\nSample,X\nx,1\ny,2");
    std::istream in(&buffer);
    DataReader reader(in, messages);
    ASSERT_TRUE(reader.readDataLine());
    EXPECT_EQ("x", reader.getColumn(0));
    EXPECT_FALSE(reader.readError());
    // The line that the failure cuts is not delivered, nor reported as
    // short: it is no line at all.
    EXPECT_FALSE(reader.readDataLine());
    EXPECT_TRUE(reader.readError());
    EXPECT_EQ("", messages.output() + messages.error());

    ParsedFile complete("A=1\n\nSample,X\nx,1\ny,");
    complete.dataLines(2);
    EXPECT_FALSE(complete.reader().readError());

    FailingBuffer inHeader("A=1\nB");
    std::istream headerIn(&inHeader);
    DataReader cut(headerIn, messages);
    EXPECT_TRUE(cut.readError());
}

TEST(DataReader, NumbersDataLineMessages) {
    struct Case {
        const char* data; // lines after the three-column header ending on line 3
        Lines delivered;
        const char* message;
        const char* errors = "";
        bool endedEarly = false; // text was left unread
    } cases[] = {
        // A short line is reported with its own number, whether its line
        // end was read or not.  It ends the data early when it or a later
        // line holds text.
        {"x,1,2\ny,1\nz,1,2\n",
         {{"x", "1", "2"}},
         "error:5: data line has not enough entries (2 of 3).\n",
         "warning: the data end at line 5; 1 later lines were not read.\n",
         true},
        {"x,1,2\ny,1",
         {{"x", "1", "2"}},
         "error:5: data line has not enough entries (2 of 3).\n",
         "",
         true},
        {"x,1,2\ny,1\n",
         {{"x", "1", "2"}},
         "error:5: data line has not enough entries (2 of 3).\n",
         "",
         true},
        {"x,1,2\n\n", {{"x", "1", "2"}}, "error:5: data line has not enough entries (1 of 3).\n"},
        {"x,1,2\n,\n \n",
         {{"x", "1", "2"}},
         "error:5: data line has not enough entries (2 of 3).\n"},
        {"x,1,2\n\nz,1,2\n",
         {{"x", "1", "2"}},
         "error:5: data line has not enough entries (1 of 3).\n",
         "warning: the data end at line 5; 1 later lines were not read.\n",
         true},
        // Too many entries: the line concerned, and the next line is read.
        {"x,1,2,3,4\ny,4,5\n",
         {{"x", "1", "2"}, {"y", "4", "5"}},
         "error:4: data line has too many entries.\n"},
        {"x,1,2,,9\ny,4,5\n",
         {{"x", "1", "2"}, {"y", "4", "5"}},
         "error:4: data line has too many entries.\n"},
        {"x,1,2,3\ny,4,5\n",
         {{"x", "1", "2"}, {"y", "4", "5"}},
         "error:4: data line has too many entries.\n"},
        {"x,1,2\ny,4,5,6",
         {{"x", "1", "2"}, {"y", "4", "5"}},
         "error:5: data line has too many entries.\n"},
    };
    for (const Case& c : cases) {
        ParsedFile file(std::string("A=1\n\nSample,X,Y\n") + c.data);
        EXPECT_EQ(c.delivered, file.dataLines(3)) << "data: " << c.data;
        EXPECT_EQ(c.message, file.messages()) << "data: " << c.data;
        EXPECT_EQ(c.errors, file.errors()) << "data: " << c.data;
        EXPECT_EQ(c.endedEarly, file.reader().dataEndedEarly()) << "data: " << c.data;
    }
}

TEST(DataReader, TellsWhetherTheDataEndedWithTextUnread) {
    // A line that begins with a space ends the data; it is the end marker
    // itself, so only later lines with text count.
    ParsedFile marker("A=1\n\nSample,X\nx,1\n trailing note\n\t\n");
    EXPECT_EQ(1u, marker.dataLines(2).size());
    EXPECT_FALSE(marker.reader().dataEndedEarly());
    ParsedFile lost("A=1\n\nSample,X\nx,1\n y,2\nz,3\n");
    EXPECT_EQ(1u, lost.dataLines(2).size());
    EXPECT_TRUE(lost.reader().dataEndedEarly());
    ParsedFile whole("A=1\n\nSample,X\nx,1\ny,2");
    EXPECT_EQ(2u, whole.dataLines(2).size());
    EXPECT_FALSE(whole.reader().dataEndedEarly());
}

TEST(DataReader, NumbersTheLineOfEveryDeliveredRow) {
    ParsedFile file("A=1\n\n# comment\nSample,X\nx,1\n,\ny,2\r\nz,3");
    std::vector<std::uint32_t> lines;
    while (file.reader().readDataLine()) {
        lines.push_back(file.reader().lineOfFields());
    }
    EXPECT_EQ((std::vector<std::uint32_t>{5, 7, 8}), lines); // line 6 is an empty row
}

TEST(DataReader, RecognisesASpreadsheetTableGivenForADataFile) {
    struct Case {
        const char* text;
        bool table;
    } cases[] = {
        {"Sample,Pop,A,A,B,B\nx,1,2,3,4,5\n", true},
        {"Sample;Pop;A\r\nx;1;2\r\n", true},
        {"Sample\tA\tB\nx\t1\t2\n", true},
        {"6,12,2,6,6,,,\nTitle,,,North\n", true}, // a GenAlEx sheet
        {"Sample,A\nx,1\n", false},               // two cells only
        {"Sample,A;B\nx,1\n", false},             // two of each kind
        {"# Sample,A,B,C\nSample,A\n", false},    // the first line is a comment
        {"PLOIDY=2\nSample,A,B,C\n", false},      // a header with '='
        {"Sample,A,B\nNOTE=x\n\nS,a\n", false},   // a later line with '='
        {"", false},
    };
    for (const Case& c : cases) {
        ParsedFile file(c.text);
        EXPECT_EQ(c.table, file.reader().looksLikeTable()) << c.text;
    }
}

TEST(DataReader, ReadsWindowsLineEndsLikeUnixOnes) {
    ParsedFile windows("PLOIDY=2\r\nTITLE=run 1\r\nODD=v\r\r\n\r\n# comment\r\n"
                       "Sample\tA\tB\r\nx\t1\t2\r\ny\t3\t4\r\n");
    EXPECT_EQ("", windows.messages());
    EXPECT_EQ((Parameters{{"ODD", "v\r"}, {"PLOIDY", "2"}, {"TITLE", "run 1"}}),
              windows.reader().parameters());
    EXPECT_EQ(3u, windows.reader().columnCount());
    EXPECT_EQ((Lines{{"x", "1", "2"}, {"y", "3", "4"}}), windows.dataLines(3));

    ParsedFile shortLine("A=1\r\n\r\nSample,X,Y\r\nx,1\r\n");
    EXPECT_TRUE(shortLine.dataLines(3).empty());
    EXPECT_EQ("error:4: data line has not enough entries (2 of 3).\n", shortLine.messages());
}

TEST(DataReader, SkipsAByteOrderMark) {
    ParsedFile marked("\xEF\xBB\xBFPLOIDY=2\n\nSample,A\n");
    EXPECT_EQ((Parameters{{"PLOIDY", "2"}}), marked.reader().parameters());

    ParsedFile markedComment("\xEF\xBB\xBF# comment\nPLOIDY=2\n\nSample,A\n");
    EXPECT_EQ((Parameters{{"PLOIDY", "2"}}), markedComment.reader().parameters());

    // Only a whole mark is dropped.
    ParsedFile partial("\xEF\xBBX=1\n\nSample,A\n");
    EXPECT_EQ((Parameters{{"\xEF\xBBX", "1"}}), partial.reader().parameters());
}

TEST(DataReader, TakesAReadErrorForTheEndOfTheFile) {
    // Reading a directory fails with an error (the file buffer throws).
    CollectedMessages messages;
    std::ifstream directory(::testing::TempDir());
    DataReader reader(directory, messages);
    EXPECT_EQ("Error:1: end of file while parsing header variable.\n", messages.output());
    EXPECT_FALSE(reader.readDataLine());
}

TEST(DataReaderDeathTest, ChecksItsPreconditions) {
    ParsedFile file("A=1\n\nSample,X\nx,1\n");
    EXPECT_DEATH(file.reader().getParameter("B"), "hasParameter\\(name\\)");
    ASSERT_TRUE(file.reader().readDataLine());
    EXPECT_DEATH(file.reader().getColumn(2), "columnIndex < d_columnData.size\\(\\)");
}

} // namespace
