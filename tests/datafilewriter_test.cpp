// datafilewriter_test.cpp                                        -*-C++-*-
#include "import/datafilewriter.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using psex::AlleleCopy;
using psex::DataFileSettings;
using psex::ImportedData;
using psex::ImportedLocus;

const AlleleCopy k_missing = std::nullopt;

ImportedData twoLoci(std::vector<std::vector<AlleleCopy>> alleles) {
    ImportedData data;
    data.loci = {ImportedLocus{"CnA3", false}, ImportedLocus{"CnB1", false}};
    for (std::size_t i = 0; i < alleles.size(); ++i) {
        std::string name = "S";
        name += std::to_string(i + 1);
        data.addSample(name, i + 1, "", alleles[i]);
    }
    return data;
}

TEST(ChooseMissingCode, TakesZeroOrTheLargestNegativeNumberNoAlleleUses) {
    EXPECT_EQ(0, psex::chooseMissingCode(twoLoci({{151, 153, 200, k_missing}})));
    // 0 is a real allele (the user's codes did not include it): -1.
    EXPECT_EQ(-1, psex::chooseMissingCode(twoLoci({{0, 153, 200, k_missing}})));
    EXPECT_EQ(-3, psex::chooseMissingCode(twoLoci({{0, -1, -2, k_missing}, {-4, 5, 1, 2}})));
}

TEST(WriteDataFile, WritesHeaderColumnsAndOneCompleteAscendingLinePerSample) {
    ImportedData data = twoLoci({{161, 155, 200, 200},
                                 {k_missing, 153, 206, k_missing},
                                 {153, k_missing, k_missing, k_missing}});
    DataFileSettings settings;
    settings.title = "meadow";
    settings.model = "FIS";
    settings.lineageDistance = 1;
    settings.simulations = 200;
    std::ostringstream out;
    const psex::WriteCounts counts = psex::writeDataFile(out, data, {0, 1, 2}, settings, 0);
    // 161/155 and 153/(missing) and 206/(missing) turn round: the missing
    // copy, written as 0, is the smaller one.
    EXPECT_EQ(3u, counts.reordered);
    EXPECT_EQ(5u, counts.missing);
    EXPECT_EQ("PLOIDY=DIPLOID\n"
              "LOCUSCOUNT=2\n"
              "LOCUSNAMES=CnA3,CnB1\n"
              "MISSING=0\n"
              "TITLE=meadow\n"
              "MODEL=FIS\n"
              "MLLDISTANCE=1\n"
              "SIMULATIONS=200\n"
              "\n"
              "Sample,CnA3_a,CnA3_b,CnB1_a,CnB1_b\n"
              "S1,155,161,200,200\n"
              "S2,0,153,0,206\n"
              "S3,0,153,0,0\n",
              out.str());
}

TEST(WriteDataFile, WritesMissingOnlyWhenACopyIsMissingAndTheChosenSamplesOnly) {
    ImportedData data = twoLoci({{0, 1, 2, 3}, {4, 5, k_missing, 7}});
    data.ploidy = 1;
    data.loci.push_back(ImportedLocus{"CnC8", false});
    data.loci.push_back(ImportedLocus{"CnD2", false});
    DataFileSettings settings;
    settings.title = "t";
    settings.frequency = "ROUNDROBIN";
    std::ostringstream first;
    psex::writeDataFile(first, data, {0}, settings, -1);
    EXPECT_EQ("PLOIDY=HAPLOID\nLOCUSCOUNT=4\nLOCUSNAMES=CnA3,CnB1,CnC8,CnD2\nTITLE=t\n"
              "FREQUENCY=ROUNDROBIN\nSIMULATIONS=1000\n\nSample,CnA3,CnB1,CnC8,CnD2\nS1,0,1,2,3\n",
              first.str());
    std::ostringstream second;
    psex::writeDataFile(second, data, {1}, settings, -1);
    EXPECT_NE(std::string::npos, second.str().find("\nMISSING=-1\n"));
    EXPECT_NE(std::string::npos, second.str().find("\nS2,4,5,-1,7\n"));
}

TEST(SafeTitle, KeepsWhatPsexCanPutIntoAFileName) {
    EXPECT_EQ("North_shore_2019", psex::safeTitle(" North/shore,2019 "));
    EXPECT_EQ("a_b_c", psex::safeTitle("a\\b\tc"));
    EXPECT_EQ("", psex::safeTitle("  "));
}

} // namespace
