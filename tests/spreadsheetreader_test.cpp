// spreadsheetreader_test.cpp                                     -*-C++-*-
#include "import/spreadsheetreader.h"

#include "import/csvtable.h"
#include "importrefusal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using psex::AlleleCopy;
using psex::ImportedData;
using psex::TableOptions;
using Names = std::vector<std::string>;
using Copies = std::vector<AlleleCopy>;

const AlleleCopy k_missing = std::nullopt;

Names locusNames(const ImportedData& data) {
    Names names;
    for (const auto& locus : data.loci) {
        names.push_back(locus.name);
    }
    return names;
}

ImportedData plain(const std::string& text, const TableOptions& options = TableOptions()) {
    return psex::readPlainTable(psex::CsvText(text, ','), options);
}

// Return the refusal that reading the specified 'text' as a plain table
// (or, with 'genAlEx', as a GenAlEx sheet) gives, as "line|column|text".
std::string refusalOf(const std::string& text, const TableOptions& options = TableOptions(),
                      bool genAlEx = false) {
    return psex::test::refusalOf([&] {
        const auto rows = psex::CsvText(text, ',');
        genAlEx ? psex::readGenAlEx(rows, options) : psex::readPlainTable(rows, options);
    });
}

TEST(ReadGenAlEx, ReadsTheSheetBelowItsCountAndTitleRows) {
    const std::string sheet = "2,3,2,2,1\n"
                              "Seagrass,,,North,South\n"
                              "Sample,Pop,CnA3,,CnB1,,,Lat\n"
                              "CN01,North,155,161,200,0,,43.2\n"
                              "CN02,North,153,153,198,204,,\n"
                              ",,,,,,,\n"
                              "CN03,South,0,0,200,200,,43.3\n";
    const auto rows = psex::CsvText(sheet, ',');
    EXPECT_TRUE(psex::looksLikeGenAlEx(rows));
    const ImportedData data = psex::readGenAlEx(rows, TableOptions());
    EXPECT_EQ(2, data.ploidy);
    EXPECT_EQ((Names{"CnA3", "CnB1"}), locusNames(data));
    ASSERT_EQ(3u, data.samples.size());
    EXPECT_EQ("CN03", data.samples[2].name);
    EXPECT_EQ("South", data.populationOf(2));
    EXPECT_EQ(7u, data.samples[2].line);
    EXPECT_EQ((Copies{155, 161, 200, k_missing}), data.alleles.row(0));
    EXPECT_EQ((Copies{k_missing, k_missing, 200, 200}), data.alleles.row(2));
    EXPECT_TRUE(data.hasPopulations);
    EXPECT_EQ("population column 2 (B) 'Pop'", data.populationSource);
    // The counts agree; the coordinates and the padding row are left out
    // with a note.
    EXPECT_EQ((Names{"empty rows skipped: line 6",
                     "columns not read (neither sample, population nor allele): 8 (H) 'Lat'"}),
              data.notes);
}

TEST(ReadGenAlEx, CarriesTheCoordinatesXAndYAfterAnEmptyColumn) {
    const ImportedData sheet = psex::readGenAlEx(
        psex::CsvText("1,2,1,2\nt,,,p\nS,P,A,,,X,Y\nx,p,1,2,,43.1,5.2\ny,p,1,1,,\"-4,5\",\n", ','),
        {});
    EXPECT_EQ((Names{"A"}), locusNames(sheet));
    EXPECT_EQ((Names{"X", "Y"}), sheet.coordinateNames);
    EXPECT_EQ((Names{"43.1", "5.2", "-4.5", ""}), sheet.coordinates);
    EXPECT_EQ((Names{"coordinates from columns 6 (F) 'X' and 7 (G) 'Y'",
                     "decimal commas written as points: 1 coordinate"}),
              sheet.notes);
}

TEST(ReadPlainTable, CarriesTheCoordinatesThatTheUserNames) {
    TableOptions options;
    options.coordinateColumns = "lon,2";
    const ImportedData data = plain("Sample,Lat,A,A,Lon\nx,3e2,1,2,.5\ny,north,1,1,7,\n", options);
    EXPECT_EQ((Names{"A"}), locusNames(data));
    EXPECT_EQ((Copies{1, 2}), data.alleles.row(0));
    EXPECT_EQ((Names{"Lon", "Lat"}), data.coordinateNames); // x first, as named
    EXPECT_EQ((Names{".5", "3e2", "7", ""}), data.coordinates);
    EXPECT_EQ((Names{"coordinates from columns 5 (E) 'Lon' and 2 (B) 'Lat'",
                     "coordinates that are not decimal numbers, left empty: line 3 'north'"}),
              data.notes);

    for (const char* spec : {"Lat", "Lat,Lon,A", ",Lon", "Sample,Lat", "Lat,lat"}) {
        TableOptions wrong;
        wrong.coordinateColumns = spec;
        EXPECT_NE("", refusalOf("Sample,Lat,A,A,Lon\nx,3,1,2,5\n", wrong)) << spec;
    }
}

TEST(ReadGenAlEx, NotesCountsThatDisagreeWithTheSheet) {
    const ImportedData data =
        psex::readGenAlEx(psex::CsvText("1,5,3\nt\nS,P,A,\nx,p,1,2\n", ','), TableOptions());
    EXPECT_EQ((Names{"line 1: the count row gives 5 samples, the sheet holds 1",
                     "line 1: the count row gives 3 populations, the sheet holds 1"}),
              data.notes);
}

TEST(ReadGenAlEx, RefusesASheetWithoutUsableCounts) {
    EXPECT_FALSE(psex::looksLikeGenAlEx(psex::CsvText("Sample,A,A\nx,1,2\ny,1,2\n", ',')));
    EXPECT_FALSE(psex::looksLikeGenAlEx(psex::CsvText("2,3,1\nt\n", ',')));
    EXPECT_EQ("1|1 (A)|the number of loci '0' is not usable (expected a whole number of loci "
              "from 1 to 100000 in the first cell of a GenAlEx sheet)",
              refusalOf("0,3,1\nt\nS,P\nx,p\n", TableOptions(), true));
    EXPECT_EQ("2||the sheet ends before its header row (expected a GenAlEx sheet: a count row, "
              "a title row, then a row naming the sample, population and locus columns)",
              refusalOf("2,3,1\nt\n", TableOptions(), true));
}

TEST(ReadPlainTable, NamesEachLocusFromTheHeadersOverItsColumns) {
    // Named once, named alike, named with a stem and endings, not named.
    // R's check.names gives "CnE5" and "CnE5.1".
    const ImportedData data = plain("Sample,CnA3,,CnB1,CnB1,CnC8_a,CnC8_b,CnD2.1,CnD2.2,,,"
                                    "Loc-A,Loc-B,CnE5,CnE5.1,CnF7a,CnF7b\n"
                                    "x,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16\n");
    EXPECT_EQ((Names{"CnA3", "CnB1", "CnC8", "CnD2", "", "Loc", "CnE5", "CnF7"}), locusNames(data));
    EXPECT_EQ((Copies{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}), data.alleles.row(0));
    EXPECT_FALSE(data.hasPopulations);
    EXPECT_TRUE(data.notes.empty());
}

TEST(ReadPlainTable, ReadsPaddingAndHaploidData) {
    // The last locus's second column has no header (its name stands over
    // its first column only); rows may have empty cells after the last.
    for (const std::string header : {"Sample,A,,B,", "Sample,A,,B"}) {
        const ImportedData diploid = plain(header + "\n"
                                                    "x,1,2,3,4,,,\n"
                                                    "y,1,,,\n"
                                                    ",,,,\n");
        EXPECT_EQ((Names{"A", "B"}), locusNames(diploid));
        ASSERT_EQ(2u, diploid.samples.size());
        EXPECT_EQ((Copies{1, k_missing, k_missing, k_missing}), diploid.alleles.row(1));
        EXPECT_EQ((Names{"empty rows skipped: line 4"}), diploid.notes);
    }

    TableOptions haploid;
    haploid.ploidy = 1;
    const ImportedData data = plain("Isolate,L1,L2,L3\nf1,1,2,3\nf2,NA,2,3\n", haploid);
    EXPECT_EQ(1, data.ploidy);
    EXPECT_EQ((Names{"L1", "L2", "L3"}), locusNames(data));
    EXPECT_EQ((Copies{k_missing, 2, 3}), data.alleles.row(1));
}

TEST(ReadPlainTable, FindsTheSampleAndPopulationColumns) {
    const ImportedData detected = plain("Sample,Population,A,A\nx,North,1,2\n");
    EXPECT_TRUE(detected.hasPopulations);
    EXPECT_EQ("North", detected.populationOf(0));
    EXPECT_EQ((Names{"A"}), locusNames(detected));
    EXPECT_EQ((Names{"column 2 (B) 'Population' read as the population column"}), detected.notes);

    TableOptions options;
    options.sampleColumn = "id";    // by name, in any case
    options.populationColumn = "1"; // by number
    const ImportedData chosen = plain("Site,Depth,ID,A,A\nNorth,3,x,1,2\n", options);
    EXPECT_EQ("x", chosen.samples[0].name);
    EXPECT_EQ("North", chosen.populationOf(0));
    EXPECT_EQ("population column 1 (A) 'Site'", chosen.populationSource);
    EXPECT_EQ((Copies{1, 2}), chosen.alleles.row(0));
    EXPECT_EQ((Names{"columns not read (neither sample, population nor allele): 2 (B) 'Depth'"}),
              chosen.notes);
}

TEST(ReadPlainTable, ReadsNucleotidesPerLocus) {
    const ImportedData data = plain("Sample,snp1,snp1,snp2,snp2\nx,a,G,120,122\ny,T,t,NA,120\n");
    EXPECT_TRUE(data.loci[0].nucleotides);
    EXPECT_FALSE(data.loci[1].nucleotides);
    EXPECT_EQ((Copies{4, 4, k_missing, 120}), data.alleles.row(1));
}

TEST(ReadPlainTable, RefusesWhatItCannotReadWithLineAndColumn) {
    const std::string expected = "a whole number, a nucleotide letter A, C, G or T, or a "
                                 "missing-data code (0, -9, NA, ?, . or an empty cell)";
    TableOptions noSuch;
    noSuch.sampleColumn = "ID";
    TableOptions tooFar;
    tooFar.populationColumn = "7";
    TableOptions same;
    same.populationColumn = "Sample";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {refusalOf("Sample,A,A\nx,152.6,150\n"),
         "2|2 (B)|sample 'x', locus 'A': allele '152.6' is not a whole number (expected " +
             expected + ")"},
        {refusalOf("Sample,A,A\nx,1,2\n  ,1,2\n"),
         "3|1 (A)|the sample name is empty (expected a name in column 1 (A) of every row that "
         "holds alleles)"},
        {refusalOf("Sample,CnA3,CnB1\nx,1,2\n"),
         "1|3 (C)|columns 2 (B) and 3 (C) hold the allele copies of one locus but name "
         "different loci, 'CnA3' and 'CnB1' (expected one locus name over the 2 columns of a "
         "locus, or names with one stem such as CnA3_a and CnA3_b; a table of haploid data "
         "needs --ploidy 1)"},
        {refusalOf("Sample,CnA3_a,CnB1_a\nx,1,2\n"),
         "1|3 (C)|columns 2 (B) and 3 (C) hold the allele copies of one locus but name "
         "different loci, 'CnA3_a' and 'CnB1_a' (expected one locus name over the 2 columns of a "
         "locus, or names with one stem such as CnA3_a and CnA3_b; a table of haploid data "
         "needs --ploidy 1)"},
        {refusalOf("Sample,A,A,B,B\nx,1,2,NA,0\ny,1,2,?,\n"),
         "1|4 (D)|locus 'B' in columns 4 (D) to 5 (E) has no allele in any sample (expected at "
         "least one allele per locus; a table of haploid data needs --ploidy 1)"},
        {refusalOf("Sample,A,A\nx,1,2\ny,C,A\n"),
         "3|2 (B)|locus 'A' holds numbers (first on line 2, column 2 (B)) and here a nucleotide "
         "letter (expected one kind of allele per locus: the letters A, C, G and T are written "
         "as 1, 2, 3 and 4 and would be taken for those numbers)"},
        {refusalOf("Sample,A,A\n,,\n"),
         "1||no sample rows follow the header row (expected one row per sample)"},
        {refusalOf(",,\n\n"),
         "0||the file holds no table (expected a header row, then one row per sample)"},
        {refusalOf("Sample\nx\n"),
         "1||no allele columns follow column 1 (A) (expected 2 allele columns per locus after "
         "the sample column)"},
        {refusalOf("Sample\nx,1,2\n"),
         "1||no allele columns follow column 1 (A) (expected 2 allele columns per locus after "
         "the sample column)"},
        {refusalOf("Sample,A,A\nx,1,2\n", noSuch),
         "1||no column of the header row is named 'ID' (expected a column name or number for "
         "--sample-column)"},
        {refusalOf("Sample,A,A\nx,1,2\n", tooFar),
         "1||the header row has 3 columns, so there is no column 7 (expected a column number "
         "from 1 to 3 for --population-column)"},
        {refusalOf("Sample,A,A\nx,1,2\n", same),
         "1|1 (A)|the sample and the population column are the same column (expected two "
         "different columns)"},
    };
    for (const auto& [actual, wanted] : cases) {
        EXPECT_EQ(wanted, actual);
    }
}

// ---- what a typing slip does to a row, and what is not a sample ----

// Return the refusal of reading the specified GenAlEx 'sheet'.
std::string genAlExRefusalOf(const std::string& sheet) {
    return refusalOf(sheet, TableOptions(), true);
}

TEST(ReadTables, RefuseARowWithACellMoreOrLessThanTheHeaderRow) {
    const std::string table = "Sample,A,A,B,B\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        // A deleted cell, an extra cell, a row cut short: the alleles after
        // the place would move into the wrong locus.
        {refusalOf(table + "x,1,2,4\n"),
         "2|message|line 2 (sample 'x'): 4 cells where the heading has 5."},
        {refusalOf(table + "x,1,2,3,4\ny ,1,2,3,3,4\n"),
         "3|message|line 3 (sample 'y'): 6 cells where the heading has 5."},
        {refusalOf(table + "x,1,2,3,4\ny,1\n"),
         "3|message|line 3 (sample 'y'): 2 cells where the heading has 5."},
        // A sheet that pads every row with an empty cell: a row without it
        // lost a cell.
        {refusalOf("Sample,A,A,B,B,\nx,1,2,3,4,\ny,1,2,3,\n"),
         "3|message|line 3 (sample 'y'): 5 cells where the heading has 6."},
        // Empty cells after the last are padding, in a row or in the
        // header row alone.
        {refusalOf(table + "x,1,2,3,4,,,\n"), "no refusal"},
        {refusalOf("Sample,A,A,B,B,,,\nx,1,2,3,4\ny,1,2,,\n"), "no refusal"},
        // GenAlEx: the count row gives the allele columns, which the header
        // row names only in part; columns after them count as well.
        {genAlExRefusalOf("1,2,1,2\nt,,,p\nS,P,A,\nx,p,1,2\ny,p,1\n"),
         "5|message|line 5 (sample 'y'): 3 cells where the heading has 4."},
        {genAlExRefusalOf("1,2,1,2\nt,,,p\nS,P,A\nx,p,1,2\ny,p,1,2,9\n"),
         "5|message|line 5 (sample 'y'): 5 cells where the heading has 4."},
        {genAlExRefusalOf("1,2,1,2\nt,,,p\nS,P,A,,,Lat\nx,p,1,2,,43\ny,p,1,,43\n"),
         "5|message|line 5 (sample 'y'): 5 cells where the heading has 6."},
    };
    for (const auto& [actual, wanted] : cases) {
        EXPECT_EQ(wanted, actual);
    }
}

TEST(ReadTables, RefuseAHeaderRowOfNumbers) {
    // A table without its header row: the first sample's alleles would
    // become locus names.  Missing-data codes count with the numbers.
    const std::string refused =
        "1|message|line 1: the heading row holds only numbers; is the heading missing?";
    EXPECT_EQ(refused, refusalOf("CN01,155,161,200,200\nCN02,153,155,198,198\n"));
    EXPECT_EQ(refused, refusalOf("CN01,155,NA,0,200\nCN02,153,155,198,198\n"));
    EXPECT_EQ(refused, refusalOf("Sample,1,1,2,2\nx,1,2,3,4\n")); // loci need names
    EXPECT_EQ("3|message|line 3: the heading row holds only numbers; is the heading missing?",
              genAlExRefusalOf("2,2,1,2\nt,,,p\nCN01,p,155,161,200,200\nCN02,p,1,2,3,4\n"));
    EXPECT_EQ("no refusal", refusalOf("Sample,A1,,155,\nx,1,2,3,4\n"));
}

TEST(ReadPlainTable, TakesALocusNameOverItsFirstColumnOnly) {
    // A triploid sheet read as diploid pairs the alleles of different
    // loci: its second name stands over the second column of a pair.
    EXPECT_EQ("1|5 (E)|'L2' names column 5 (E), allele column 2 of a locus whose first column "
              "4 (D) has no name (expected each locus name over the first of its 2 allele "
              "columns: a column before it is missing or one too many, or the data are not "
              "diploid)",
              refusalOf("Sample,L1,,,L2,,\nx,1,2,3,4,5,6\n"));
    // Names that differ in their number are two loci.
    EXPECT_EQ("1|3 (C)|columns 2 (B) and 3 (C) hold the allele copies of one locus but name "
              "different loci, 'SNP1' and 'SNP2' (expected one locus name over the 2 columns of "
              "a locus, or names with one stem such as CnA3_a and CnA3_b; a table of haploid "
              "data needs --ploidy 1)",
              refusalOf("Sample,SNP1,SNP2,SNP3,SNP4\nx,A,G,C,C\n"));
    TableOptions haploid;
    haploid.ploidy = 1;
    const ImportedData snps = plain("Sample,SNP1,SNP2,SNP3,SNP4\nx,A,G,C,C\n", haploid);
    EXPECT_EQ((Names{"SNP1", "SNP2", "SNP3", "SNP4"}), locusNames(snps));
    // A last locus named over its first column only, after loci named over
    // both: the rows fill its second column.
    const ImportedData mixed = plain("Sample,L1_a,L1_b,L2\nx,1,2,3,4\n");
    EXPECT_EQ((Names{"L1", "L2"}), locusNames(mixed));
    EXPECT_EQ((Copies{1, 2, 3, 4}), mixed.alleles.row(0));
    // A number after a separator numbers the copies.
    EXPECT_EQ((Names{"SNP", "L1"}), locusNames(plain("Sample,SNP.1,SNP.2,L1_1,L1_2\nx,1,2,3,4\n")));
}

TEST(ReadTables, SkipLinesAndRowsThatAreNoSamples) {
    // A line of spaces, a line holding only a byte-order mark, a note
    // under the table and a name without alleles are no samples; a sample
    // whose every copy failed is one.
    const std::string rows = "x,1,2\n"
                             "   \n"
                             "\xEF\xBB\xBF\n"
                             "y,NA,0\n"
                             "z,,\n"
                             "Notes: shoots collected in May 2019\n";
    const Names warnings = {"line 3: the line holds only white space; it is skipped.",
                            "line 4: the line holds only a byte-order mark; it is skipped.",
                            "line 6: row 'z' has no allele cell filled; it is not a sample.",
                            "line 7: row 'Notes: shoots collected in May 2019' has no allele "
                            "cell filled; it is not a sample."};
    const ImportedData table = plain("Sample,A,A\n" + rows);
    ASSERT_EQ(2u, table.samples.size());
    EXPECT_EQ("y", table.samples[1].name);
    EXPECT_EQ((Copies{k_missing, k_missing}), table.alleles.row(1));
    EXPECT_EQ(warnings, table.warnings);
    EXPECT_TRUE(table.notes.empty());

    const ImportedData sheet = psex::readGenAlEx(
        psex::CsvText("1,2,1,2\nt,,,p\nSample,Pop,A,\nx,p,1,2\n   \n\xEF\xBB\xBF\ny,p,NA,0\n"
                      "z,p,,\nNotes: shoots collected in May 2019\n",
                      ','),
        {});
    ASSERT_EQ(2u, sheet.samples.size());
    EXPECT_EQ((Names{"line 5: the line holds only white space; it is skipped.",
                     "line 6: the line holds only a byte-order mark; it is skipped.",
                     "line 8: row 'z' has no allele cell filled; it is not a sample.",
                     "line 9: row 'Notes: shoots collected in May 2019' has no allele cell "
                     "filled; it is not a sample."}),
              sheet.warnings);

    // A line of spaces before the header row is passed over the same way.
    EXPECT_EQ((Names{"line 1: the line holds only white space; it is skipped."}),
              plain("  \nSample,A,A\nx,1,2\n").warnings);
}

TEST(ReadTables, LeaveOutColumnsThatHoldNoAlleles) {
    TableOptions depth;
    depth.ignoredColumns = {"depth"}; // a name, in any case
    const ImportedData ignored = plain("Sample,A,A,Depth,B,B\nx,1,2,3.5,3,4\n", depth);
    EXPECT_EQ((Names{"A", "B"}), locusNames(ignored));
    EXPECT_EQ((Copies{1, 2, 3, 4}), ignored.alleles.row(0));
    EXPECT_EQ((Names{"columns ignored: Depth"}), ignored.notes);

    // GenAlEx's coordinates, X and Y after an empty column, are left out of
    // a plain table unless named (and carried from a GenAlEx sheet).
    const ImportedData table = plain("Sample,A,A,,X,Y\nx,1,2,,43.1,5.2\n");
    EXPECT_EQ((Names{"A"}), locusNames(table));
    EXPECT_EQ((Names{"columns ignored: X, Y"}), table.notes);
    EXPECT_TRUE(table.coordinateNames.empty());
    EXPECT_TRUE(table.coordinates.empty());

    TableOptions sample;
    sample.ignoredColumns = {"1"};
    const std::string expected =
        "(expected one locus name over the 2 columns of a locus, or names with one stem such as "
        "CnA3_a and CnA3_b; ";
    const std::string ignoreHint = "a column that holds no alleles, such as a coordinate, is left "
                                   "out with --ignore-column NAME)";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {refusalOf("Sample,A,A,X,Y\nx,1,2,43.1,5.2\n"),
         "1|5 (E)|columns 4 (D) and 5 (E) hold the allele copies of one locus but name different "
         "loci, 'X' and 'Y' " +
             expected + ignoreHint},
        {refusalOf("Sample,A,A,B,B,Depth\nx,1,2,3,4,3.5\n"),
         "1|6 (F)|column 6 (F) 'Depth' after the loci would be a locus of 1 allele column "
         "(expected 2 allele columns per locus; " +
             ignoreHint},
        {refusalOf("Sample,Site,A,A,B,B\nx,North,1,2,3,4\n"),
         "1|3 (C)|columns 2 (B) and 3 (C) hold the allele copies of one locus but name different "
         "loci, 'Site' and 'A' " +
             expected + "a population column is read as one with --population-column Site, and " +
             ignoreHint},
        {refusalOf("Sample,A,A\nx,1,2\n", sample),
         "1|1 (A)|--ignore-column 1 names the sample column (expected a column that is neither "
         "the sample nor the population column)"},
    };
    for (const auto& [actual, wanted] : cases) {
        EXPECT_EQ(wanted, actual);
    }
}

} // namespace
