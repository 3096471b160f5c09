// spreadsheetreader_test.cpp                                     -*-C++-*-
#include "spreadsheetreader.h"

#include "csvtable.h"
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
    return psex::readPlainTable(psex::readCsv(text, ','), options);
}

// Return the refusal that reading the specified 'text' as a plain table
// (or, with 'genAlEx', as a GenAlEx sheet) gives, as "line|column|text".
std::string refusalOf(const std::string& text, const TableOptions& options = TableOptions(),
                      bool genAlEx = false) {
    return psex::test::refusalOf([&] {
        const auto rows = psex::readCsv(text, ',');
        genAlEx ? psex::readGenAlEx(rows, options) : psex::readPlainTable(rows, options);
    });
}

TEST(ReadGenAlEx, ReadsTheSheetBelowItsCountAndTitleRows) {
    const std::string sheet = "2,3,2,2,1\n"
                              "Seagrass,,,North,South\n"
                              "Sample,Pop,CnA3,,CnB1,,,Lat\n"
                              "CN01,North,155,161,200,0,,43.2\n"
                              "CN02,North,153,153,198,204\n"
                              ",,,,,,,\n"
                              "CN03,South,0,0,200,200,,43.3\n";
    const auto rows = psex::readCsv(sheet, ',');
    EXPECT_TRUE(psex::looksLikeGenAlEx(rows));
    const ImportedData data = psex::readGenAlEx(rows, TableOptions());
    EXPECT_EQ(2, data.ploidy);
    EXPECT_EQ((Names{"CnA3", "CnB1"}), locusNames(data));
    ASSERT_EQ(3u, data.samples.size());
    EXPECT_EQ("CN03", data.samples[2].name);
    EXPECT_EQ("South", data.samples[2].population);
    EXPECT_EQ(7u, data.samples[2].line);
    EXPECT_EQ((Copies{155, 161, 200, k_missing}), data.samples[0].alleles);
    EXPECT_EQ((Copies{k_missing, k_missing, 200, 200}), data.samples[2].alleles);
    EXPECT_TRUE(data.hasPopulations);
    EXPECT_EQ("population column 2 (B) 'Pop'", data.populationSource);
    // The counts agree; the coordinates and the padding row are left out
    // with a note.
    EXPECT_EQ((Names{"empty rows skipped: line 6",
                     "columns not read (neither sample, population nor allele): 8 (H) 'Lat'"}),
              data.notes);
}

TEST(ReadGenAlEx, NotesCountsThatDisagreeWithTheSheet) {
    const ImportedData data =
        psex::readGenAlEx(psex::readCsv("1,5,3\nt\nS,P,A,\nx,p,1,2\n", ','), TableOptions());
    EXPECT_EQ((Names{"line 1: the count row gives 5 samples, the sheet holds 1",
                     "line 1: the count row gives 3 populations, the sheet holds 1"}),
              data.notes);
}

TEST(ReadGenAlEx, RefusesASheetWithoutUsableCounts) {
    EXPECT_FALSE(psex::looksLikeGenAlEx(psex::readCsv("Sample,A,A\nx,1,2\ny,1,2\n", ',')));
    EXPECT_FALSE(psex::looksLikeGenAlEx(psex::readCsv("2,3,1\nt\n", ',')));
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
    EXPECT_EQ((Copies{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}),
              data.samples[0].alleles);
    EXPECT_FALSE(data.hasPopulations);
    EXPECT_TRUE(data.notes.empty());
}

TEST(ReadPlainTable, ReadsShortRowsPaddingAndHaploidData) {
    // The last locus's second column has no header and is the widest data.
    const ImportedData diploid = plain("Sample,A,,B,\n"
                                       "x,1,2,3,4,,,\n"
                                       "y,1\n"
                                       ",,,,\n");
    EXPECT_EQ(2u, diploid.loci.size());
    ASSERT_EQ(2u, diploid.samples.size());
    EXPECT_EQ((Copies{1, k_missing, k_missing, k_missing}), diploid.samples[1].alleles);
    EXPECT_EQ((Names{"empty rows skipped: line 4"}), diploid.notes);

    TableOptions haploid;
    haploid.ploidy = 1;
    const ImportedData data = plain("Isolate,L1,L2,L3\nf1,1,2,3\nf2,NA,2,3\n", haploid);
    EXPECT_EQ(1, data.ploidy);
    EXPECT_EQ((Names{"L1", "L2", "L3"}), locusNames(data));
    EXPECT_EQ((Copies{k_missing, 2, 3}), data.samples[1].alleles);
}

TEST(ReadPlainTable, FindsTheSampleAndPopulationColumns) {
    const ImportedData detected = plain("Sample,Population,A,A\nx,North,1,2\n");
    EXPECT_TRUE(detected.hasPopulations);
    EXPECT_EQ("North", detected.samples[0].population);
    EXPECT_EQ((Names{"A"}), locusNames(detected));
    EXPECT_EQ((Names{"column 2 (B) 'Population' read as the population column"}), detected.notes);

    TableOptions options;
    options.sampleColumn = "id";    // by name, in any case
    options.populationColumn = "1"; // by number
    const ImportedData chosen = plain("Site,Depth,ID,A,A\nNorth,3,x,1,2\n", options);
    EXPECT_EQ("x", chosen.samples[0].name);
    EXPECT_EQ("North", chosen.samples[0].population);
    EXPECT_EQ("population column 1 (A) 'Site'", chosen.populationSource);
    EXPECT_EQ((Copies{1, 2}), chosen.samples[0].alleles);
    EXPECT_EQ((Names{"columns not read (neither sample, population nor allele): 2 (B) 'Depth'"}),
              chosen.notes);
}

TEST(ReadPlainTable, ReadsNucleotidesPerLocus) {
    const ImportedData data = plain("Sample,snp1,snp1,snp2,snp2\nx,a,G,120,122\ny,T,t,NA,120\n");
    EXPECT_TRUE(data.loci[0].nucleotides);
    EXPECT_FALSE(data.loci[1].nucleotides);
    EXPECT_EQ((Copies{4, 4, k_missing, 120}), data.samples[1].alleles);
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

} // namespace
