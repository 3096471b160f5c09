// importeddata_test.cpp                                          -*-C++-*-
#include "importeddata.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using psex::ImportedData;
using psex::ImportedLocus;
using psex::ImportedSample;
using Names = std::vector<std::string>;

ImportedSample sample(const std::string& name, std::size_t line) {
    ImportedSample result;
    result.name = name;
    result.line = line;
    return result;
}

TEST(ColumnLabel, NamesTheColumnAsASpreadsheetShowsIt) {
    EXPECT_EQ("1 (A)", psex::columnLabel(1));
    EXPECT_EQ("26 (Z)", psex::columnLabel(26));
    EXPECT_EQ("27 (AA)", psex::columnLabel(27));
    EXPECT_EQ("52 (AZ)", psex::columnLabel(52));
    EXPECT_EQ("702 (ZZ)", psex::columnLabel(702));
    EXPECT_EQ("703 (AAA)", psex::columnLabel(703));
}

TEST(TidyNames, MakesSampleNamesFitForADataFileAndSaysSo) {
    ImportedData data;
    data.loci = {ImportedLocus{"A", false}};
    data.samples = {sample(" CN01 ", 4), sample("CN,02", 5), sample("CN\t03", 6), sample("CN04", 7),
                    sample("CN 05", 8),  sample("CN04", 9),  sample("CN04\r", 11)};
    psex::tidyNames(&data);
    Names names;
    for (const ImportedSample& s : data.samples) {
        names.push_back(s.name);
    }
    EXPECT_EQ((Names{"CN01", "CN_02", "CN_03", "CN04", "CN 05", "CN04", "CN04"}), names);
    EXPECT_EQ((Names{"line 4: sample name ' CN01 ' written as 'CN01'",
                     "line 5: sample name 'CN,02' written as 'CN_02'",
                     "line 6: sample name 'CN\t03' written as 'CN_03'",
                     "line 11: sample name 'CN04\r' written as 'CN04'",
                     "sample name 'CN04' is used 3 times (lines 7, 9, 11)"}),
              data.notes);
}

TEST(TidyNames, GivesEveryLocusADistinctNameWithoutCommas) {
    ImportedData data;
    data.loci = {ImportedLocus{"CnA3", false}, ImportedLocus{"", false},
                 ImportedLocus{" Cn,B1 ", false}, ImportedLocus{"CnA3", false},
                 ImportedLocus{"CnA3_2", false}};
    psex::tidyNames(&data);
    Names names;
    for (const ImportedLocus& locus : data.loci) {
        names.push_back(locus.name);
    }
    EXPECT_EQ((Names{"CnA3", "Locus2", "Cn_B1", "CnA3_2", "CnA3_2_2"}), names);
    EXPECT_EQ((Names{"locus 2 has no name: written as 'Locus2'",
                     "locus name ' Cn,B1 ' written as 'Cn_B1'",
                     "locus name 'CnA3' is used before: written as 'CnA3_2'",
                     "locus name 'CnA3_2' is used before: written as 'CnA3_2_2'"}),
              data.notes);
    EXPECT_EQ((Names{"Sample", "CnA3_a", "CnA3_b", "Locus2_a", "Locus2_b", "Cn_B1_a", "Cn_B1_b",
                     "CnA3_2_a", "CnA3_2_b", "CnA3_2_2_a", "CnA3_2_2_b"}),
              psex::columnNames(data));
}

TEST(TidyNames, KeepsHaploidColumnNamesApartFromTheSampleColumn) {
    ImportedData data;
    data.ploidy = 1;
    data.loci = {ImportedLocus{"Sample", false}, ImportedLocus{"Sample_a", false}};
    psex::tidyNames(&data);
    EXPECT_EQ((Names{"Sample", "Sample_2", "Sample_a"}), psex::columnNames(data));
    EXPECT_EQ((Names{"locus name 'Sample' is used before: written as 'Sample_2'"}), data.notes);
}

TEST(Trimmed, RemovesWhiteSpaceAtBothEndsOnly) {
    EXPECT_EQ("a b", psex::trimmed(" \t a b\r\n"));
    EXPECT_EQ("", psex::trimmed(" \t"));
    EXPECT_EQ("'x'", psex::quoted("x"));
}

} // namespace
