// genepopreader_test.cpp                                         -*-C++-*-
#include "import/genepopreader.h"

#include "importrefusal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using psex::AlleleCopy;
using psex::AlleleReader;
using psex::ImportedData;
using Names = std::vector<std::string>;
using Copies = std::vector<AlleleCopy>;

const AlleleCopy k_missing = std::nullopt;
const AlleleReader k_defaultCodes(psex::defaultMissingCodes());

ImportedData read(const std::string& text, std::optional<std::int32_t> ploidy = std::nullopt) {
    return psex::readGenepop(text, ploidy, k_defaultCodes);
}

std::string refusalOf(const std::string& text, std::optional<std::int32_t> ploidy = std::nullopt) {
    return psex::test::refusalOf([&] { read(text, ploidy); });
}

TEST(ReadGenepop, ReadsDiploidThreeDigitCodesAndPopulations) {
    const std::string text = "Seagrass meadows 2019\r\n"
                             "CnA3\r\n"
                             "CnB1, CnC8\r\n"
                             "POP\r\n"
                             "CN01 ,  155161 200200\t114116\r\n"
                             "CN02,155000 000000 116114\r\n"
                             "\r\n"
                             "Pop South meadow\r\n"
                             "CS01, 153153 198204 114114\r\n";
    EXPECT_TRUE(psex::looksLikeGenepop(text));
    const ImportedData data = read(text);
    EXPECT_EQ("genepop", data.formatName);
    EXPECT_EQ(2, data.ploidy);
    ASSERT_EQ(3u, data.loci.size());
    EXPECT_EQ("CnC8", data.loci[2].name);
    ASSERT_EQ(3u, data.samples.size());
    EXPECT_EQ("CN01", data.samples[0].name); // spaces before the comma are the format's
    EXPECT_EQ((Copies{155, 161, 200, 200, 114, 116}), data.alleles.row(0));
    EXPECT_EQ((Copies{155, k_missing, k_missing, k_missing, 116, 114}), data.alleles.row(1));
    EXPECT_EQ("pop1", data.populationOf(1));
    EXPECT_EQ("South meadow", data.populationOf(2));
    EXPECT_EQ(9u, data.samples[2].line);
    EXPECT_TRUE(data.hasPopulations);
}

TEST(ReadGenepop, ReadsTwoDigitAndHaploidCodes) {
    const ImportedData twoDigits = read("t\nA\nB\npop\nx, 0102 0000\ny, 0303 0101\n");
    EXPECT_EQ(2, twoDigits.ploidy);
    EXPECT_EQ((Copies{1, 2, k_missing, k_missing}), twoDigits.alleles.row(0));
    const ImportedData haploid = read("t\nA,B,C\nPop\nx, 101 000 103\ny, 102 104 000\n", 1);
    EXPECT_EQ(1, haploid.ploidy);
    EXPECT_EQ((Copies{101, k_missing, 103}), haploid.alleles.row(0));
}

TEST(LooksLikeGenepop, NeedsAPopLineAfterTitleAndLociThenASample) {
    EXPECT_TRUE(psex::looksLikeGenepop("t\nA\npop\n\nx, 0101\n"));
    EXPECT_TRUE(psex::looksLikeGenepop("t\nA\npop\nx,\ny, 0101\n"));
    EXPECT_TRUE(psex::looksLikeGenepop("t\nA\npop\nx, 01O1\n")); // a typing slip
    // Plain tables with a sample named pop, comma- or TAB-separated.
    EXPECT_FALSE(psex::looksLikeGenepop("Sample,A,A\npop,1,2\n"));
    EXPECT_FALSE(psex::looksLikeGenepop("Sample,A,A\nx,1,2\npop\ny,1,2\n"));
    EXPECT_FALSE(psex::looksLikeGenepop("Sample\tA\tA\nx\t1\t2\npop\t1\t2\ny\t3,5\t4\n"));
    EXPECT_FALSE(psex::looksLikeGenepop("t\nA\npopulation\nx, 0101\n"));
    EXPECT_FALSE(psex::looksLikeGenepop("t\nA\nPop\nx 0101\n"));
    EXPECT_FALSE(psex::looksLikeGenepop("t\nA\nPop\n"));
}

TEST(ReadGenepop, RefusesWhatItCannotReadWithLineAndColumn) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {refusalOf("t\nA\nB\nPop\nx, 0102 01a2\n"),
         "5|9|genotype '01a2' is not a run of digits (expected 2 or 3 digits per allele copy, "
         "such as 0102 or 102104, with 0 or 000 for a missing copy)"},
        {refusalOf("t\nA\nB\nPop\nx, 0102 0102\ny, 0102 010203\n"),
         "6|9|genotype '010203' has 6 digits (expected 4 like the first genotype, on line 5)"},
        {refusalOf("t\nA\nPop\nx, 01020\n"),
         "4|4|genotype '01020' has 5 digits (expected 4 or 6 digits for a diploid, 2 or 3 for a "
         "haploid: 2 or 3 digits per allele copy)"},
        {refusalOf("t\nA\nPop\nx, 0102\n", 1),
         "4|4|genotype '0102' has 4 digits, which makes the file diploid (expected 2 or 3 "
         "digits for --ploidy 1)"},
        {refusalOf("t\nA\nB\nPop\nx, 0102\n"),
         "5||sample 'x' has 1 genotype (expected 2, one per locus)"},
        {refusalOf("t\nA\nPop\nx 0102\n"),
         "4||this line has no comma (expected a sample: its name, a comma, and one genotype "
         "per locus)"},
        {refusalOf("t\nA\nPop\n , 0102\n"),
         "4|1|the sample name is empty (expected a name before the comma)"},
        {refusalOf("t\nA\nB\n"),
         "0||there is no line 'Pop' (expected a genepop file: a title line, the locus names, "
         "then 'Pop' before the samples of each population)"},
        {refusalOf("t\nPop\nx, 0102\n"),
         "2||no locus names come before the first 'Pop' line (expected the title line, then "
         "the locus names, one per line or separated by commas)"},
        {refusalOf("t\nA\nPop\n\nPop\n"),
         "3||no samples follow the 'Pop' line (expected one line per sample: its name, a "
         "comma, and one genotype per locus)"},
        {refusalOf("t\nA\nB\nPop\nx, 0102 0000\n"),
         "0||locus 'B' has no allele in any sample (expected at least one allele per locus)"},
    };
    for (const auto& [actual, wanted] : cases) {
        EXPECT_EQ(wanted, actual);
    }
}

TEST(ReadGenepop, TakesALineWithACommaForASampleWhateverItsName) {
    const ImportedData data = read("t\nA\nPop\nPop 7, 0101\npop, 0202\n  POP North  \nx, 0303\n");
    ASSERT_EQ(3u, data.samples.size());
    EXPECT_EQ((Names{"Pop 7", "pop", "x"}),
              (Names{data.samples[0].name, data.samples[1].name, data.samples[2].name}));
    EXPECT_EQ("pop1", data.populationOf(1));
    EXPECT_EQ("North", data.populationOf(2));
    // "Pop, North" is a sample named Pop, whose genotype is no number.
    EXPECT_EQ("5|6|genotype 'North' is not a run of digits (expected 2 or 3 digits per allele "
              "copy, such as 0102 or 102104, with 0 or 000 for a missing copy)",
              refusalOf("t\nA\nPop\nx, 0101\nPop, North\ny, 0202\n"));
}

TEST(ReadGenepop, PassesOverLinesThatAreNoSamples) {
    const ImportedData data =
        read("t\nA\n\xEF\xBB\xBF\nPop\nx, 0101\ny ,\n\xEF\xBB\xBF\n  \t\n\nz, 0000\n");
    ASSERT_EQ(2u, data.samples.size());
    EXPECT_EQ((Copies{k_missing, k_missing}), data.alleles.row(1)); // a sample all the same
    EXPECT_EQ((Names{"line 3: the line holds only a byte-order mark; it is skipped.",
                     "line 6: row 'y' has no allele cell filled; it is not a sample.",
                     "line 7: the line holds only a byte-order mark; it is skipped.",
                     "line 8: the line holds only white space; it is skipped."}),
              data.warnings);
}

} // namespace
