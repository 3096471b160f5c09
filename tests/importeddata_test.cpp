// importeddata_test.cpp                                          -*-C++-*-
#include "import/importeddata.h"

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

TEST(AlleleMatrix, KeepsEveryCopyAndWhetherItIsMissing) {
    psex::AlleleMatrix matrix;
    const std::vector<psex::AlleleCopy> first = {151, std::nullopt, 0, -2147483647 - 1};
    const std::vector<psex::AlleleCopy> second = {std::nullopt, std::nullopt, 2147483647, 0};
    matrix.reserve(2, 4);
    matrix.addRow(first);
    matrix.addRow(second);
    EXPECT_EQ(2u, matrix.rows());
    EXPECT_EQ(4u, matrix.width());
    EXPECT_EQ(first, matrix.row(0));
    EXPECT_EQ(second, matrix.row(1));
    EXPECT_EQ(psex::AlleleCopy(0), matrix.at(0, 2)); // an allele 0 is no missing copy
}

TEST(PopulationNames, NumbersEveryNameOnceInTheOrderOfItsFirstUse) {
    // Many names, used again in another order: each keeps its number.
    psex::PopulationNames names;
    const std::size_t count = 100000;
    const auto nameOf = [](std::size_t n) {
        std::string name(1, 'P'); // (GCC 12 misreads "P" + ... as an overlap)
        return name += std::to_string(n);
    };
    for (std::size_t i = 0; i < count; ++i) {
        EXPECT_EQ(i, names.numberOf(nameOf(i * 7919 % count)));
    }
    for (std::size_t i = count; i > 0; --i) {
        const std::string name = nameOf((i - 1) * 7919 % count);
        ASSERT_EQ(i - 1, names.numberOf(name));
        ASSERT_EQ(name, names.name(static_cast<std::uint32_t>(i - 1)));
    }
    EXPECT_EQ(count, names.size());
    EXPECT_EQ(count, names.numberOf("")); // the empty name is a name like any other
}

TEST(ImportedData, KeepsTheSamplesInOrderWithTheirPopulations) {
    ImportedData data;
    data.addSample("x", 3, " North ", {1, 2});
    data.addSample("y", 4, "South", {std::nullopt, 5});
    data.addSample("z", 6, "North", {7, 8});
    EXPECT_EQ("North", data.populationOf(0)); // without its white space
    EXPECT_EQ("South", data.populationOf(1));
    EXPECT_EQ(data.samples[0].population, data.samples[2].population);
    EXPECT_EQ(6u, data.samples[2].line);
    EXPECT_EQ((std::vector<psex::AlleleCopy>{std::nullopt, 5}), data.alleles.row(1));
}

} // namespace
