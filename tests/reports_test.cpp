// reports_test.cpp                                               -*-C++-*-
#include "reports/reports.h"

#include "analysis/lineages.h"
#include "groupinglocale.h"
#include "model/mlgtable.h"
#include "tablefromtext.h"
#include "workedtables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using psex::MLGTable;
using psex::test::familywiseExample;
using psex::test::tableFromText;
using psex::test::withoutSimulatedValues;
using psex::test::workedExample;

std::string simulationResults(const MLGTable& table) {
    std::ostringstream out;
    psex::writeSimulationResults(table, out);
    return out.str();
}

std::string fullTable(const MLGTable& table) {
    std::ostringstream out;
    psex::writeFullTable(table, out);
    return out.str();
}

std::string samples(const MLGTable& table) {
    std::ostringstream out;
    psex::writeSamples(table, psex::singletonLineages(table).lineageOfMlg, out);
    return out.str();
}

TEST(Reports, WritesTheWorkedExampleSimulationResults) {
    // PGen 0.25, 0.375, 0.09375; PSex of 1/2 among four: 0.481201171875.
    // One of three simulated values lies below it: significance 1/3; the
    // family-wise p-value is not in this file.  Every
    // threshold is entry 0 (0.1), and no realized level reaches above 0.
    EXPECT_EQ("MLG,n,PSex,Significance,Level,PGen,L1_0,L1_1\n"
              "MLG1,1,\"-\",\"-\",\"-\",0.25,1,1\n"
              "MLG2,2,0.481201,0.333333,ns,0.375,1,2\n"
              "MLG3,1,\"-\",\"-\",\"-\",0.09375,2,3\n"
              "\n"
              ",,,,L1,\n"
              "Number of alleles,,,,3,\n"
              "He,,,,0.59375,\n"
              "Ho,,,,0.75,\n"
              "Fis,,,,-0.263158,\n"
              "\n"
              "\n"
              "Clonal Richness\n"
              "G,3\n"
              "N,4\n"
              "R,0.666667\n"
              "Pd,0.75\n"
              "Single MLGs,2\n"
              "Clonal MLGs,1\n"
              "\n"
              "PValue(0.01),0.1,significance level,0\n"
              "PValue(0.05),0.1,significance level,0\n"
              "PValue(0.10),0.1,significance level,0\n"
              "\n"
              "Samplesize,4\n"
              "PValues,3\n"
              "\n"
              "\n"
              "Allele frequencies:\n"
              "Locus L1\n"
              ",1,0.5\n"
              ",2,0.375\n"
              ",3,0.125\n"
              "\n"
              "\n"
              "PSex Values:\n"
              "0.1,\n"
              "0.481201,\n"
              "0.9,\n"
              "\n"
              "\n",
              simulationResults(workedExample()));
}

TEST(Reports, WritesTheWorkedExampleFullTable) {
    EXPECT_EQ("Sample,MLG,PSex,PValue,L1_0,L1_1\n"
              "s3,MLG_1,\"-\",\"-\",1,1\n"
              "s1,MLG_2,0.481201,0.333333,1,2\n"
              "s2,MLG_2,0.481201,0.333333,1,2\n"
              "s4,MLG_3,\"-\",\"-\",2,3\n",
              fullTable(workedExample()));
}

TEST(Reports, GivesHaploidLociOneColumnButTwoStatisticCells) {
    // One sample: R is undefined, the list is empty (thresholds 1, levels 0).
    MLGTable table = tableFromText("PLOIDY=HAPLOID\nLOCUSCOUNT=2\nLOCUSNAMES=A,B\n"
                                   "SIMULATIONS=3\n\nSample,a,b\nx,5,7\n");
    table.setPsexValues(psex::PsexList());
    EXPECT_EQ("MLG,n,PSex,Significance,Level,PGen,A_0,B_0\n"
              "MLG1,1,\"-\",\"-\",\"-\",1,5,7\n"
              "\n"
              ",,,,A,,B,\n"
              "Number of alleles,,,,1,,1,\n"
              "He,,,,0,,0,\n"
              "Ho,,,,0,,0,\n"
              "Fis,,,,1,,1,\n"
              "\n"
              "\n"
              "Clonal Richness\n"
              "G,1\n"
              "N,1\n"
              "R,\"-\"\n"
              "Pd,1\n"
              "Single MLGs,1\n"
              "Clonal MLGs,0\n"
              "\n"
              "PValue(0.01),1,significance level,0\n"
              "PValue(0.05),1,significance level,0\n"
              "PValue(0.10),1,significance level,0\n"
              "\n"
              "Samplesize,1\n"
              "PValues,0\n"
              "\n"
              "\n"
              "Allele frequencies:\n"
              "Locus A\n"
              ",5,1\n"
              "Locus B\n"
              ",7,1\n"
              "\n"
              "\n"
              "PSex Values:\n"
              "\n"
              "\n",
              simulationResults(table));
    EXPECT_EQ("Sample,MLG,PSex,PValue,A_0,B_0\n"
              "x,MLG_1,\"-\",\"-\",5,7\n",
              fullTable(table));
}

TEST(Reports, WritesUndefinedStatisticsOfAnEmptyTableAsDashCells) {
    // The columns do not fit: no samples, so Pd, Ho and Fis have no value.
    const MLGTable table =
        tableFromText("PLOIDY=2\nLOCUSCOUNT=1\nLOCUSNAMES=A\nSIMULATIONS=3\n\nSample,a\nx,1\n");
    const std::string results = simulationResults(table);
    EXPECT_EQ(0u, results.find("MLG,n,PSex,Significance,Level,PGen,A_0,A_1\n"
                               "\n"
                               ",,,,A,\n"
                               "Number of alleles,,,,0,\n"
                               "He,,,,\"-\",\n"
                               "Ho,,,,\"-\",\n"
                               "Fis,,,,\"-\",\n"
                               "\n"
                               "\n"
                               "Clonal Richness\n"
                               "G,0\n"
                               "N,0\n"
                               "R,\"-\"\n"
                               "Pd,\"-\"\n"));
    EXPECT_NE(std::string::npos, results.find("\nAllele frequencies:\nLocus A\n\n\nPSex"));
    EXPECT_EQ(std::string::npos, results.find("nan"));
    EXPECT_EQ("Sample,MLG,PSex,PValue,A_0,A_1\n", fullTable(table));
}

TEST(Reports, MarksSignificantGenotypesWithStars) {
    // Thirty samples of 1/2 among 1/1 and 2/2 ones give the clone a small
    // PSex; a simulated list of larger values makes it highly significant.
    std::string text = "PLOIDY=2\nLOCUSCOUNT=1\nSIMULATIONS=3\n\nS,a,b\n";
    for (int i = 0; i < 4; ++i) {
        text += 'c' + std::to_string(i) + ",1,2\n";
    }
    for (int i = 0; i < 40; ++i) {
        text += 'o' + std::to_string(i) + (i % 2 ? ",1,1\n" : ",2,2\n");
    }
    MLGTable table = tableFromText(text);
    const double psex = table.mlgs()[1].psex();
    table.setPsexValues({psex * 2, psex * 3, psex * 4});
    table.assignPValues();
    std::ostringstream expectedLine;
    expectedLine << "MLG2,4," << psex << ",0,***,";
    EXPECT_NE(std::string::npos, simulationResults(table).find(expectedLine.str()));
    std::ostringstream expectedSample;
    expectedSample << "c0,MLG_2," << psex << ",0,1,2\n";
    EXPECT_NE(std::string::npos, fullTable(table).find(expectedSample.str()));
}

TEST(Reports, WritesTheWorkedExampleSamplesTableInDataFileOrder) {
    // Exact values: PSex of 1/2 is 1971/4096 = 0.481201171875, its p-value
    // 1/3; two of four data sets have a smallest value at most its PSex
    // (0.1, and the same PSex), so the family-wise p-value is 3/5.  A
    // genotype seen once has no PSex, p-values or levels.
    EXPECT_EQ("sample,mlg,n,pgen,psex,p_value,level,mll,p_familywise,level_familywise\n"
              "s1,2,2,0.375,0.481201171875,0.3333333333333333,ns,2,0.6,ns\n"
              "s2,2,2,0.375,0.481201171875,0.3333333333333333,ns,2,0.6,ns\n"
              "s3,1,1,0.25,NA,NA,NA,1,NA,NA\n"
              "s4,3,1,0.09375,NA,NA,NA,3,NA,NA\n",
              samples(workedExample()));

    // Duplicate names keep their own rows and MLGs; a quote is quoted.  PSex
    // of a genotype of PGen 1/2 seen twice among four: 1 - 1/16 - 4/16.
    // No simulated repeat: no p-value, no level; in three data sets no
    // repeat at all, so the family-wise p-value is 1/4.
    const MLGTable table = withoutSimulatedValues("PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=3\n\nS,a\n"
                                                  "x,2\n\"y,1\nx,1\nz,2\n");
    EXPECT_EQ("sample,mlg,n,pgen,psex,p_value,level,mll,p_familywise,level_familywise\n"
              "x,2,2,0.5,0.6875,NA,NA,2,0.25,ns\n"
              "\"\"\"y\",1,2,0.5,0.6875,NA,NA,1,0.25,ns\n"
              "x,1,2,0.5,0.6875,NA,NA,1,0.25,ns\n"
              "z,2,2,0.5,0.6875,NA,NA,2,0.25,ns\n",
              samples(table));
}

TEST(Reports, GivesNoVerdictWithoutSimulatedRepeats) {
    // Three samples of one genotype (PGen 1/2, PSex 1 - 1/16 - 4/16 among
    // four) and no chance repeat to judge them by: no significance, no
    // level, no threshold; the family-wise p-value stands (1/4, ns).
    const MLGTable table = withoutSimulatedValues("PLOIDY=1\nLOCUSCOUNT=1\nLOCUSNAMES=A\n"
                                                  "SIMULATIONS=3\n\nS,a\nx,1\ny,1\nz,2\nw,2\n");
    const std::string results = simulationResults(table);
    EXPECT_NE(std::string::npos, results.find("\nMLG1,2,0.6875,\"-\",\"-\",0.5,1\n"));
    EXPECT_NE(std::string::npos, results.find("\nMLG2,2,0.6875,\"-\",\"-\",0.5,2\n"));
    // The threshold lines keep their layout.
    EXPECT_NE(std::string::npos, results.find("\nPValue(0.05),1,significance level,0\n"));
    EXPECT_EQ("Sample,MLG,PSex,PValue,A_0\n"
              "x,MLG_1,0.6875,\"-\",1\n"
              "y,MLG_1,0.6875,\"-\",1\n"
              "z,MLG_2,0.6875,\"-\",2\n"
              "w,MLG_2,0.6875,\"-\",2\n",
              fullTable(table));
}

TEST(Reports, GivesEverySampleItsFamilywiseLevel) {
    // Sizes 3, 2, 1, 2, 1, 1, 1 (N = 11, G = 7).  Of 99 data sets, five
    // have a smallest value m at most the PSex of MLG2 and of MLG4 but above
    // that of MLG1: MLG1 gets p = 1/100 ('**'), MLG2 and MLG4 6/100 ('ns').
    const MLGTable table = familywiseExample();
    ASSERT_EQ(7u, table.mlgs().size());
    ASSERT_LT(table.mlgs()[0].psex(), std::min(table.mlgs()[1].psex(), table.mlgs()[3].psex()));
    EXPECT_EQ(0.01, table.mlgs()[0].familywisePvalue());
    EXPECT_EQ(0.06, table.mlgs()[1].familywisePvalue());
    EXPECT_EQ(0.06, table.mlgs()[3].familywisePvalue());
    EXPECT_NE(std::string::npos, samples(table).find(",1,0.01,**\n"));
    EXPECT_NE(std::string::npos, samples(table).find(",2,0.06,ns\n"));
}

TEST(Reports, FramesTheOriginalReportsWithTheDataFileAndTheHeaderEcho) {
    const MLGTable table = workedExample();
    std::ostringstream results;
    psex::writeSimulationResultsFile("data/meadow, 1.txt", table,
                                     {{"LOCUSNAMES", "L1,\"odd"}, {"PLOIDY", "2"}, {"TITLE", ""}},
                                     results);
    // The path is one cell, quoted for its comma; a value with commas
    // spreads over several cells, and a piece with a double quote is quoted.
    const std::string body = simulationResults(table);
    EXPECT_EQ("Datafile,\"data/meadow, 1.txt\"\n\n" + body +
                  "\n\nSpecified parameters:\n"
                  "LOCUSNAMES,L1,\"\"\"odd\"\n"
                  "PLOIDY,2\n"
                  "TITLE,\n"
                  "\n",
              results.str());

    std::ostringstream full;
    psex::writeFullTableFile("meadow.txt", table, full);
    EXPECT_EQ("Datafile,meadow.txt\n\n" + fullTable(table) + "\n\n", full.str());
}

TEST(Reports, QuotesSampleNamesThatWouldBreakTheFullTableAsCsv) {
    // A name from a spreadsheet's quoted export ('"x') opened a quoted
    // field that swallowed the rows after it.  Such a name is written as a
    // quoted CSV field, its quotes doubled; other names stay as they are.
    // PGen of allele 1 is 3/5; PSex of three among five: 1 - P(X < 3) =
    // 1 - (32 + 240 + 720) / 3125 = 0.68256; of allele 2 (2/5) seen twice:
    // 1 - (243 + 810) / 3125 = 0.66304.  (No simulated repeat: no p-value.)
    const MLGTable table =
        withoutSimulatedValues("PLOIDY=1\nLOCUSCOUNT=1\nLOCUSNAMES=A\nSIMULATIONS=3\n\n"
                               "S,a\n\"x,1\nplain,2\nsay \"hi\",1\nlast\",1\ny,2\n");
    EXPECT_EQ("Sample,MLG,PSex,PValue,A_0\n"
              "\"\"\"x\",MLG_1,0.68256,\"-\",1\n"
              "\"say \"\"hi\"\"\",MLG_1,0.68256,\"-\",1\n"
              "\"last\"\"\",MLG_1,0.68256,\"-\",1\n"
              "plain,MLG_2,0.66304,\"-\",2\n"
              "y,MLG_2,0.66304,\"-\",2\n",
              fullTable(table));
}

TEST(Reports, WritesNumbersThatReadBackExactly) {
    for (const double value :
         {0.1, 1.0 / 3.0, 4.8880122e-316, 1e-300, 0.0, 1.0, 123456789.0, 2.0 / 3.0 * 1e-7}) {
        const std::string text = psex::shortestNumber(value);
        EXPECT_EQ(value, std::strtod(text.c_str(), nullptr)) << text;
    }
    EXPECT_EQ("0.1", psex::shortestNumber(0.1));
    EXPECT_EQ("1e-300", psex::shortestNumber(1e-300));
    EXPECT_EQ("NA", psex::shortestNumber(std::nan("")));
    EXPECT_EQ("NA", psex::shortestNumber(HUGE_VAL));
    EXPECT_EQ("plain name", psex::csvField("plain name"));
    EXPECT_EQ("\"a,b\"", psex::csvField("a,b"));
    EXPECT_EQ("\"say \"\"hi\"\"\"", psex::csvField("say \"hi\""));
    EXPECT_EQ("\"two\nlines\r\"", psex::csvField("two\nlines\r"));
}

TEST(Reports, FormatsEveryReportInTheClassicLocale) {
    // A data set large enough for grouping (N = 1200) and with decimals.
    std::string text = "PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=3\n\nS,a\n";
    for (int s = 0; s < 1200; ++s) {
        text += 's';
        text += std::to_string(s);
        text += ',';
        text += std::to_string(s % 7);
        text += '\n';
    }
    const MLGTable table = tableFromText(text);
    const std::string results = simulationResults(table);
    const std::string full = fullTable(table);
    const std::string tidy = samples(table);
    ASSERT_NE(std::string::npos, results.find("\nN,1200\n"));
    const psex::test::GroupingLocale grouping;
    EXPECT_EQ(results, simulationResults(table));
    EXPECT_EQ(full, fullTable(table));
    EXPECT_EQ(tidy, samples(table));
}

} // namespace
