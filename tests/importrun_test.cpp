// importrun_test.cpp                                             -*-C++-*-
#include "import/importrun.h"

#include "collectedmessages.h"
#include "scratchfolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

using psex::ImportedData;
using psex::ImportOptions;
using psex::ImportRefusal;

std::string refusalOf(const std::string& text, const ImportOptions& options = ImportOptions()) {
    try {
        psex::importText(text, options);
    } catch (const ImportRefusal& refusal) {
        return psex::refusalMessage("in.csv", refusal);
    }
    return "no refusal";
}

TEST(ImportText, FindsTheFormatFromTheContent) {
    const ImportedData genAlEx = psex::importText("1;2;1\nt\nS;P;A;\nx;p;1;2\ny;p;1;1\n", {});
    EXPECT_EQ("GenAlEx, semicolon-separated", genAlEx.formatName);
    const ImportedData table = psex::importText("Sample\tA\tA\nx\t1\t2\n", {});
    EXPECT_EQ("a table, TAB-separated", table.formatName);
    const ImportedData genepop = psex::importText("title, 2019\nA\nPop\nx, 0102\n", {});
    EXPECT_EQ("genepop", genepop.formatName);
    // A plain table whose first cells happen to be numbers, read as told:
    // its header row of numbers is the first sample, without a header.
    ImportOptions asTable;
    asTable.format = psex::findImportFormat("table");
    EXPECT_EQ("error: line 1: the heading row holds only numbers; is the heading missing?",
              refusalOf("1,2,2\nx,1,2\ny,3,4\n", asTable));
    const ImportedData numbered = psex::importText("1,A,A\nx,1,2\ny,3,4\n", asTable);
    EXPECT_EQ("a table, comma-separated", numbered.formatName);
    EXPECT_EQ(2u, numbered.samples.size());
    // More commas than semicolons, but the user knows better.
    ImportOptions semicolon;
    semicolon.separator = ';';
    const ImportedData told = psex::importText("a,b,c,d;A;A\nx,y,z,w;1;2\n", semicolon);
    EXPECT_EQ("a table, semicolon-separated", told.formatName);
    ASSERT_EQ(1u, told.samples.size());
    EXPECT_EQ("x_y_z_w", told.samples[0].name);
}

TEST(ImportText, SkipsAByteOrderMarkAndTidiesNames) {
    const ImportedData data = psex::importText("\xEF\xBB\xBFSample,A,A\n\" x \",1,2\n", {});
    ASSERT_EQ(1u, data.samples.size());
    EXPECT_EQ("x", data.samples[0].name);
    EXPECT_EQ(std::vector<std::string>{"line 2: sample name ' x ' written as 'x'"}, data.notes);
}

TEST(ImportText, RefusesWhatIsNoTextWithTheFileLineAndColumn) {
    EXPECT_EQ("error: in.csv, line 1: the file is UTF-16 text (expected UTF-8 or ASCII text: "
              "save the sheet as CSV UTF-8, or as tab-delimited text).",
              refusalOf(std::string("\xFF\xFES\0a\0", 6)));
    EXPECT_EQ("error: in.csv, line 3: the file holds a NUL byte (expected text; a workbook "
              "(.xlsx, .xls, .ods) must first be saved as CSV).",
              refusalOf(std::string("Sample,A,A\nx,1,2\ny\0,1,2\n", 24)));
    EXPECT_EQ("error: in.csv, line 2, column 2 (B): sample 'x', locus 'A': allele 'abc' is not "
              "an allele (expected a whole number, a nucleotide letter A, C, G or T, or a "
              "missing-data code (0, -9, NA, ?, . or an empty cell)).",
              refusalOf("Sample,A,A\nx,abc,1\n"));
    EXPECT_EQ("error: in.csv: the file holds no table (expected a header row, then one row per "
              "sample).",
              refusalOf(""));
}

TEST(RunImport, WritesTheDataFileAndASummaryOfEveryChange) {
    ImportOptions options;
    options.input.assign(1, '-'); // (GCC 12 misreads assigning "-" as an overlap)
    options.title = "meadow/2019";
    std::istringstream input("Sample,Pop,CnA3,,CnB1,\n"
                             "CN01,N,155,161,A,C\n"
                             "CN02 ,N,161,153,A,?\n"
                             "CN03,S,153,153,NA,NA\n");
    std::ostringstream output;
    psex::test::CollectedMessages messages;
    EXPECT_EQ(0, psex::runImport(options, input, output, messages));
    EXPECT_EQ("PLOIDY=DIPLOID\nLOCUSCOUNT=2\nLOCUSNAMES=CnA3,CnB1\nMISSING=0\n"
              "TITLE=meadow_2019\nSIMULATIONS=1000\n\n"
              "Sample,CnA3_a,CnA3_b,CnB1_a,CnB1_b\n"
              "CN01,155,161,1,2\nCN02,153,161,0,1\nCN03,153,153,0,0\n",
              output.str());
    EXPECT_EQ("", messages.output());
    EXPECT_EQ("Read standard input as a table, comma-separated.\n"
              "Samples: 3\n"
              "Loci: 2 (diploid)\n"
              "Populations: 2 ('N' 2, 'S' 1)\n"
              "Missing allele copies: 3 of 12 (25.0%), by locus:\n"
              "  CnB1: 3 of 6 (50.0%)\n"
              "  none at the other locus\n"
              "Changes and notes:\n"
              "  - column 2 (B) 'Pop' read as the population column\n"
              "  - line 3: sample name 'CN02 ' written as 'CN02'\n"
              "  - nucleotide letters A, C, G, T written as 1, 2, 3, 4 at locus 'CnB1'\n"
              "  - title 'meadow/2019' written as 'meadow_2019'\n"
              "  - population column 2 (B) 'Pop' left out: give --split-populations PREFIX for "
              "one data file per population\n"
              "  - 3 missing allele copies written as 0 (MISSING=0)\n"
              "  - 2 diploid genotypes written smaller allele first\n"
              "Written: standard output\n",
              messages.error());
}

TEST(RunImport, WritesNothingWhenItRefuses) {
    ImportOptions options;
    options.input.assign(1, '-'); // (GCC 12 misreads assigning "-" as an overlap)
    std::istringstream input("Sample,A,A\nx,1,2\ny,1,152.5\n");
    std::ostringstream output;
    psex::test::CollectedMessages messages;
    EXPECT_EQ(1, psex::runImport(options, input, output, messages));
    EXPECT_EQ("", output.str());
    EXPECT_EQ("error: standard input, line 3, column 3 (C): sample 'y', locus 'A': allele "
              "'152.5' is not a whole number (expected a whole number, a nucleotide letter A, "
              "C, G or T, or a missing-data code (0, -9, NA, ?, . or an empty cell)).\n",
              messages.error());
}

TEST(RunImport, WarnsAboutRowsThatAreNoSamplesAndCountsSamplesWithNothingTyped) {
    ImportOptions options;
    options.input.assign(1, '-'); // (GCC 12 misreads assigning "-" as an overlap)
    std::istringstream input("Sample,A,A,B,B\n"
                             "x,151,153,200,202\n"
                             "y,0,0,NA,?\n"
                             "z,-9,.,,\n"
                             "Notes: leaves only,,,,\n");
    std::ostringstream output;
    psex::test::CollectedMessages messages;
    EXPECT_EQ(0, psex::runImport(options, input, output, messages));
    EXPECT_EQ("PLOIDY=DIPLOID\nLOCUSCOUNT=2\nLOCUSNAMES=A,B\nMISSING=0\nTITLE=stdin\n"
              "SIMULATIONS=1000\n\nSample,A_a,A_b,B_a,B_b\n"
              "x,151,153,200,202\ny,0,0,0,0\nz,0,0,0,0\n",
              output.str());
    EXPECT_EQ("warning: line 5: row 'Notes: leaves only' has no allele cell filled; it is not a "
              "sample.\n"
              "Read standard input as a table, comma-separated.\n"
              "Samples: 3\n"
              "Loci: 2 (diploid)\n"
              "Populations: none in the input\n"
              "Missing allele copies: 8 of 12 (66.7%), by locus:\n"
              "  A: 4 of 6 (66.7%)\n"
              "  B: 4 of 6 (66.7%)\n"
              "Changes and notes:\n"
              "  - samples with nothing typed: 2\n"
              "  - 8 missing allele copies written as 0 (MISSING=0)\n"
              "Written: standard output\n",
              messages.error());
}

TEST(RunImport, NamesTheTitlesOfSplitFilesAfterTheirPrefix) {
    // Two split studies in one folder must not name their results alike:
    // the prefix, without its folder, stands before each population's name.
    for (const auto& [prefix, title] : {std::pair<std::string, std::string>{"cats-", "cats-"},
                                        {"out/dogs_", "dogs_"},
                                        {"", ""}}) {
        psex::test::ScratchFolder folder;
        std::filesystem::create_directory(folder / "out");
        ImportOptions options;
        options.input.assign(1, '-');
        options.splitPrefix = (folder / prefix).string();
        std::istringstream input("Sample,Pop,A,A\nx,North/1,1,2\ny,South,3,4\n");
        std::ostringstream output;
        psex::test::CollectedMessages messages;
        ASSERT_EQ(0, psex::runImport(options, input, output, messages)) << messages.error();
        for (const std::string population : {"North_1", "South"}) {
            const std::string text = psex::test::readFile(folder / (prefix + population + ".txt"));
            EXPECT_NE(std::string::npos, text.find("\nTITLE=" + title + population + "\n")) << text;
        }
    }
}

} // namespace
