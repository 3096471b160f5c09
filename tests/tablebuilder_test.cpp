// tablebuilder_test.cpp                                          -*-C++-*-
#include "model/tablebuilder.h"

#include "collectedmessages.h"
#include "model/datareader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using psex::MLGTable;
using psex::MLGTuple;
using psex::test::CollectedMessages;
using Alleles = std::vector<std::int32_t>;
using Names = std::vector<std::string>;
using Frequencies = psex::AlleleFrequencies;

Alleles allelesOf(const MLGTable& table) {
    Alleles all;
    for (const MLGTuple& mlg : table.mlgs()) {
        all.insert(all.end(), mlg.alleles().begin(), mlg.alleles().end());
    }
    return all;
}

struct Built {
    std::string out;
    std::string err;
    MLGTable table;
};

Built build(const std::string& text) {
    CollectedMessages messages;
    std::istringstream in(text);
    psex::DataReader reader(in, messages);
    MLGTable table = psex::buildTable(reader, messages);
    return {messages.output(), messages.error(), table};
}

TEST(BuildTable, AssumesDefaultsForMissingKeysInOrder) {
    const Built built = build("LOCUSCOUNT=2\nLOCUSNAMES=A,B\n\nSample,a1,a2,b1,b2\n"
                              "x,1,2,3,4\n");
    EXPECT_EQ("error: PLOIDY is unspecified, assuming DIPLOID.\n"
              "error: SIMULATIONS is unspecified, assuming 1000.\n",
              built.err);
    EXPECT_EQ(2, built.table.ploidy());
    EXPECT_EQ(psex::FrequencyEstimate::e_sample, built.table.settings().frequency);
    EXPECT_FALSE(built.table.fisModel());
    EXPECT_EQ(1000, built.table.simulations());
    EXPECT_EQ("A", built.table.loci()[0].name());
    EXPECT_EQ("B", built.table.loci()[1].name());
    EXPECT_EQ((Alleles{1, 2, 3, 4}), allelesOf(built.table));
}

TEST(BuildTable, ReportsValuesItDoesNotAcceptInTheirOrder) {
    const Built built = build("PLOIDY=3\nFREQUENCY=sample\nMODEL=fis\nSIMULATIONS=many\n"
                              "LOCUSNAMES=L1,L2,L3\nTITLE=t\n\nSample,a\n");
    EXPECT_EQ("error: only HAPLOID and DIPLOID are supported for now (not '3').\n"
              "error: FREQUENCY is unspecified, assuming SAMPLE.\n"
              "error: MODEL is unspecified, assuming HWE.\n"
              "error: PLOIDY is unspecified, assuming DIPLOID.\n"
              "error: LOCUSCOUNT is unspecified, assuming 1.\n"
              "error: SIMULATIONS is unspecified, assuming 1000.\n"
              "error: too many locus names given in LOCUSNAMES.\n"
              "error: too many locus names given in LOCUSNAMES.\n"
              "error: not enough columns in table according to ploidy and locus count "
              "(should be: 3 has: 2).\n",
              built.err);
    EXPECT_EQ("t", built.table.title());
    EXPECT_EQ("L1", built.table.loci()[0].name());
}

TEST(BuildTable, ChecksTheColumnCount) {
    const Built tooMany = build("PLOIDY=1\nLOCUSCOUNT=3\nSIMULATIONS=1\n\nS,a,b,c,d\nx,1,2,3,4\n");
    EXPECT_EQ("error: not enough columns in table according to ploidy and locus count "
              "(should be: 4 has: 5).\n",
              tooMany.err);
    EXPECT_TRUE(tooMany.table.mlgs().empty());
    EXPECT_TRUE(tooMany.table.sampleNames().empty());
    EXPECT_EQ(3u, tooMany.table.loci().size());
    EXPECT_FALSE(tooMany.table.loci()[0].isNormalized());

    // A repeated name counts once, so the count falls short.
    const Built repeated = build("PLOIDY=2\nLOCUSCOUNT=1\nSIMULATIONS=1\n\nS,A,A\nx,1,2\n");
    EXPECT_EQ("error:5: duplicate column name 'A'.\n", repeated.out);
    EXPECT_EQ("error: not enough columns in table according to ploidy and locus count "
              "(should be: 3 has: 2).\n",
              repeated.err);
}

TEST(BuildTable, BoundsTheLociOfAnAbsurdLocusCount) {
    // A table whose columns do not fit holds no sample; its loci are only
    // listed, and never more of them than the column-name line has names
    // (one at least), so that a number in the header or a LOCUSNAMES of
    // commas cannot make the table, or the reports, large.
    const Built empty = build("");
    EXPECT_EQ(1u, empty.table.loci().size());
    const Built short_ = build("PLOIDY=2\nLOCUSCOUNT=4\nSIMULATIONS=1\nLOCUSNAMES=A,B\n\nS,A,B\n");
    EXPECT_EQ(3u, short_.table.loci().size());
    EXPECT_EQ("B", short_.table.loci()[1].name());
    EXPECT_EQ("", short_.table.loci()[2].name());

    // Names beyond the loci held but within LOCUSCOUNT are not listed, and
    // not reported either: they are not too many for the header.
    std::string names = "L0";
    for (int i = 1; i < 12000; ++i) {
        names += ",L";
        names += std::to_string(i);
    }
    const Built named = build(
        "PLOIDY=2\nLOCUSCOUNT=2000000000\nSIMULATIONS=1\nLOCUSNAMES=" + names + "\n\nS,a,b\n");
    EXPECT_EQ("error: not enough columns in table according to ploidy and locus count "
              "(should be: 4000000001 has: 3).\n",
              named.err);
    EXPECT_EQ(3u, named.table.loci().size());
    EXPECT_EQ(3u, named.table.locusCount());
    EXPECT_EQ("L2", named.table.loci()[2].name());

    const Built widest =
        build("PLOIDY=2\nLOCUSCOUNT=99999999999\nSIMULATIONS=1\n\nS,a,b,c,d,e,f,g,h,i,j\n");
    EXPECT_EQ("error: not enough columns in table according to ploidy and locus count "
              "(should be: 4294967295 has: 11).\n",
              widest.err);
    EXPECT_EQ(11u, widest.table.loci().size());

    // A repeated column name counts once, as in the column message.
    const Built repeated = build("PLOIDY=1\nLOCUSCOUNT=5\nSIMULATIONS=1\n\nS,a,a,a,a,a,a\n");
    EXPECT_EQ(2u, repeated.table.loci().size());

    // Names beyond LOCUSCOUNT are reported as ever, also when the columns do
    // not fit.
    const Built beyond =
        build("PLOIDY=1\nLOCUSCOUNT=2\nSIMULATIONS=1\nLOCUSNAMES=A,B,C,D\n\nS,a,b,c,d,e\n");
    EXPECT_EQ("error: too many locus names given in LOCUSNAMES.\n"
              "error: too many locus names given in LOCUSNAMES.\n"
              "error: not enough columns in table according to ploidy and locus count "
              "(should be: 3 has: 6).\n",
              beyond.err);
    EXPECT_EQ(2u, beyond.table.loci().size());
    EXPECT_EQ("B", beyond.table.loci()[1].name());
}

TEST(BuildTable, KeepsTheDefaultLocusOfAFileWithoutColumns) {
    // An empty column-name line names nothing, yet the one locus of the
    // default count is listed in the reports as an unnamed locus.
    const Built empty = build("PLOIDY=2\nSIMULATIONS=1\n\n\n");
    EXPECT_EQ("error: LOCUSCOUNT is unspecified, assuming 1.\n"
              "error: not enough columns in table according to ploidy and locus count "
              "(should be: 3 has: 0).\n",
              empty.err);
    EXPECT_EQ(1u, empty.table.loci().size());
    EXPECT_EQ(1u, empty.table.locusCount());
}

TEST(BuildTable, NamesLociFromLocusNames) {
    const Built four = build("PLOIDY=1\nLOCUSCOUNT=2\nSIMULATIONS=1\n"
                             "LOCUSNAMES=L1,L2,L3,L4\n\nS,a,b\nx,1,2\n");
    EXPECT_EQ("error: too many locus names given in LOCUSNAMES.\n"
              "error: too many locus names given in LOCUSNAMES.\n",
              four.err);
    EXPECT_EQ("L2", four.table.loci()[1].name());

    const Built trailing = build("PLOIDY=1\nLOCUSCOUNT=2\nSIMULATIONS=1\n"
                                 "LOCUSNAMES=L1,L2,\n\nS,a,b\nx,1,2\n");
    EXPECT_EQ("error: too many locus names given in LOCUSNAMES.\n", trailing.err);

    const Built spaced = build("PLOIDY=1\nLOCUSCOUNT=3\nSIMULATIONS=1\n"
                               "LOCUSNAMES=A, B\n\nS,a,b,c\n");
    EXPECT_EQ(" B", spaced.table.loci()[1].name());
    EXPECT_EQ("", spaced.table.loci()[2].name());
}

TEST(BuildTable, TurnsDataLinesIntoSamples) {
    const Built built = build("PLOIDY=2\nLOCUSCOUNT=2\nSIMULATIONS=1\n\nS,a,b,c,d\n"
                              "x,12,14,,7\n"
                              "y, 12,14a,0,7\n"
                              "x,NA,?,-3,-3\n");
    EXPECT_EQ("warning: line 7: allele '14a' is not a whole number; read as 14.\n"
              "warning: line 8: allele 'NA' is not a whole number; read as 0.\n"
              "warning: line 8: allele '?' is not a whole number; read as 0.\n",
              built.err);
    ASSERT_EQ(2u, built.table.mlgs().size());
    EXPECT_EQ((Alleles{0, 0, -3, -3, 12, 14, 0, 7}), allelesOf(built.table));
    EXPECT_EQ((Names{"x", "y"}), built.table.mlgs()[1].sampleNames());
    EXPECT_EQ((Names{"x", "y", "x"}), built.table.sampleNames());
    EXPECT_EQ((Frequencies{{-3, 2.0 / 6}, {0, 2.0 / 6}, {7, 2.0 / 6}}),
              built.table.loci()[1].frequencies());
}

TEST(BuildTable, ReportsAFileWithoutDataLines) {
    // No sample, so no frequencies: nothing to add up (the driver says
    // that no sample was read).
    const Built built = build("PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=1\n\nS,a\n");
    EXPECT_EQ("", built.err);
    EXPECT_TRUE(built.table.sampleNames().empty());
}

TEST(BuildTable, SaysWhichAlleleCellsAreNotWholeNumbers) {
    // Signs, digits and spaces around them are whole numbers; so is an
    // empty or blank cell.  Others keep the value they are read as (the
    // letter O in '12O' was meant as a zero), the first five each, the rest
    // counted.
    const Built built = build("PLOIDY=2\nLOCUSCOUNT=2\nSIMULATIONS=1\n\nS,a,b,c,d\n"
                              "p, 12 ,+14,-3,  \n"
                              "q,12O,1.5,-,+\n"
                              "r,0x1F,1e3,12 O,\n"
                              "s,NA,7,8,9\n");
    EXPECT_EQ("warning: line 7: allele '12O' is not a whole number; read as 12.\n"
              "warning: line 7: allele '1.5' is not a whole number; read as 1.\n"
              "warning: line 7: allele '-' is not a whole number; read as 0.\n"
              "warning: line 7: allele '+' is not a whole number; read as 0.\n"
              "warning: line 8: allele '0x1F' is not a whole number; read as 0.\n"
              "warning: 3 more allele cells are not whole numbers.\n",
              built.err);
    EXPECT_EQ(4u, built.table.sampleNames().size());

    // Five exactly: no count after them.
    const Built five = build("PLOIDY=1\nLOCUSCOUNT=5\nSIMULATIONS=1\n\nS,a,b,c,d,e\n"
                             "p,a,b,c,d,e\nq,1,2,3,4,5\n");
    EXPECT_EQ(std::string::npos, five.err.find("more allele cells"));
    EXPECT_NE(std::string::npos,
              five.err.find("warning: line 6: allele 'e' is not a whole number; read as 0.\n"));
}

TEST(BuildTable, ReadsCoordinatesAfterTheAlleles) {
    const Built built = build("PLOIDY=1\nLOCUSCOUNT=2\nSIMULATIONS=1\nCOORDINATES=x,y\n\n"
                              "S,a,b,x,y\n"
                              "p,1,2,0.5,-3\n"
                              "q,1,2O,,4\n"
                              "r,3,4,1e2, 7 \n"
                              "s,3,4,NA,NA\n");
    // A row's coordinate warning follows its allele warnings.
    EXPECT_EQ("warning: line 8: allele '2O' is not a whole number; read as 2.\n"
              "warning: line 8: sample 'q' has no usable coordinates.\n"
              "warning: line 10: sample 's' has no usable coordinates.\n",
              built.err);
    EXPECT_EQ(4u, built.table.sampleNames().size()); // every genotype is kept
    using psex::SamplePoint;
    EXPECT_EQ((std::vector<SamplePoint>{
                  {0.5, -3.0, true}, SamplePoint{}, {100.0, 7.0, true}, SamplePoint{}}),
              built.table.samplePoints());
    EXPECT_TRUE(built.table.settings().coordinateColumns);

    // Without the key the columns are two columns too many, as ever.
    const Built without =
        build("PLOIDY=1\nLOCUSCOUNT=2\nSIMULATIONS=1\n\nS,a,b,x,y\np,1,2,0.5,-3\n");
    EXPECT_EQ("error: not enough columns in table according to ploidy and locus count "
              "(should be: 3 has: 5).\n",
              without.err);
    EXPECT_TRUE(without.table.samplePoints().empty());
}

TEST(BuildTable, CountsSamplesWithoutCoordinatesAfterFive) {
    std::ostringstream text;
    text << "PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=1\nCOORDINATES=x,y\n\nS,a,x,y\n";
    for (int i = 0; i < 8; ++i) {
        text << 's' << i << ",x,,1\n";
    }
    const Built built = build(text.str());
    EXPECT_EQ(std::string::npos, built.err.find("sample 's5'"));
    EXPECT_NE(std::string::npos,
              built.err.find("warning: line 11: sample 's4' has no usable coordinates.\n"
                             "warning: 3 more allele cells are not whole numbers.\n"
                             "warning: 3 more samples have no usable coordinates.\n"))
        << built.err;
}

TEST(BuildTable, ReadsMisplacedCoordinatesAsIfTheKeyWereAbsent) {
    // The named columns must be the two right after the alleles, in order.
    for (const char* columns : {"S,a,y,x", "S,a,x,q,y", "S,x,y,a", "S,a,x,y,x"}) {
        std::ostringstream text;
        text << "PLOIDY=1\nLOCUSCOUNT=1\nLOCUSNAMES=A,B\nSIMULATIONS=1\nCOORDINATES=x,y\n\n"
             << columns << "\n1,2,3,4,5\n";
        const Built built = build(text.str());
        EXPECT_NE(std::string::npos,
                  built.err.find("error: too many locus names given in LOCUSNAMES.\n"
                                 "error: COORDINATES names 'x' and 'y', which are not the two "
                                 "columns after the alleles.\n"
                                 "error: not enough columns in table according to ploidy and "
                                 "locus count (should be: 2 has: "))
            << columns << "\n"
            << built.err;
        EXPECT_FALSE(built.table.settings().coordinateColumns) << columns;
        EXPECT_TRUE(built.table.samplePoints().empty()) << columns;
    }
    // In place but with a column too many: the count expects the two.
    const Built extra = build("PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=1\nCOORDINATES=x,y\n\n"
                              "S,a,x,y,z\np,1,2,3,4\n");
    EXPECT_EQ("error: not enough columns in table according to ploidy and locus count "
              "(should be: 4 has: 5).\n",
              extra.err);
    // Other sources of rows have no column names: no coordinates.
    psex::SampleRows rows;
    rows.columnCount = 4;
    rows.next = []() -> const std::vector<std::string>* { return nullptr; };
    CollectedMessages messages;
    const MLGTable table = psex::buildTable(
        {{"PLOIDY", "1"}, {"LOCUSCOUNT", "1"}, {"SIMULATIONS", "1"}, {"COORDINATES", "x,y"}}, rows,
        messages);
    EXPECT_NE(std::string::npos, messages.error().find("not the two columns after the alleles"));
}

TEST(BuildTable, WarnsAboutALocusWithoutATypedCopy) {
    // After the missing-copy note, one warning per such locus; no message
    // about frequency sums.
    const Built built = build("PLOIDY=2\nLOCUSCOUNT=3\nLOCUSNAMES=A,B,C\nMISSING=-9\n"
                              "SIMULATIONS=1\n\nS,a1,a2,b1,b2,c1,c2\n"
                              "x,1,2,-9,-9,-9,-9\ny,1,1,-9,-9,-9,-9\n");
    EXPECT_EQ("note: missing allele copies: B 4, C 4\n"
              "warning: locus 'B' has no typed allele copy; it adds nothing to PGen.\n"
              "warning: locus 'C' has no typed allele copy; it adds nothing to PGen.\n",
              built.err);
    EXPECT_TRUE(std::isnan(built.table.loci()[1].expectedHeterozygosity()));
    // A locus typed in one copy only is typed.
    const Built once = build("PLOIDY=2\nLOCUSCOUNT=1\nMISSING=-9\nSIMULATIONS=1\n\nS,a1,a2\n"
                             "x,-9,-9\ny,-9,4\n");
    EXPECT_EQ("note: missing allele copies:  3\n", once.err);
}

TEST(BuildTable, TakesSampleRowsFromAnySource) {
    // Rows that come from elsewhere than a data file (another input format)
    // build the same table as the data lines of a data file.
    const Built fromFile = build("PLOIDY=2\nLOCUSCOUNT=2\nSIMULATIONS=3\nFREQUENCY=MLG\n\n"
                                 "S,a,b,c,d\nx,1,2,3,3\ny,1,2,3,3\nz,2,2,3,4\n");
    const std::vector<std::vector<std::string>> rows = {
        {"x", "1", "2", "3", "3"}, {"y", "1", "2", "3", "3"}, {"z", "2", "2", "3", "4"}};
    std::size_t next = 0;
    psex::SampleRows source;
    source.columnCount = 5;
    source.next = [&]() { return next < rows.size() ? &rows[next++] : nullptr; };
    CollectedMessages messages;
    const MLGTable table = psex::buildTable(
        {{"PLOIDY", "2"}, {"LOCUSCOUNT", "2"}, {"SIMULATIONS", "3"}, {"FREQUENCY", "MLG"}}, source,
        messages);
    EXPECT_EQ("", messages.output() + messages.error());
    EXPECT_EQ(3u, next);
    EXPECT_EQ(allelesOf(fromFile.table), allelesOf(table));
    EXPECT_EQ(fromFile.table.sampleNames(), table.sampleNames());
    ASSERT_EQ(2u, table.mlgs().size());
    EXPECT_EQ(fromFile.table.mlgs()[0].psex(), table.mlgs()[0].psex());
    EXPECT_EQ(fromFile.table.loci()[1].frequencies(), table.loci()[1].frequencies());

    // Rows whose columns do not fit are never asked for.
    next = 0;
    source.columnCount = 4;
    psex::buildTable({{"PLOIDY", "2"}, {"LOCUSCOUNT", "2"}, {"SIMULATIONS", "3"}}, source,
                     messages);
    EXPECT_EQ(0u, next);
}

} // namespace

namespace {

TEST(BuildTable, StoresEveryDiploidPairInAscendingOrder) {
    const Built built = build("PLOIDY=2\nLOCUSCOUNT=2\nSIMULATIONS=1\n\nS,a,b,c,d\n"
                              "x,116,114,7,7\ny,114,116,7,7\nz,-2,-5,9,3\n");
    EXPECT_EQ("", built.err);
    // 116/114 and 114/116 are one genotype, carried by x and y.
    ASSERT_EQ(2u, built.table.mlgs().size());
    EXPECT_EQ((Alleles{-5, -2, 3, 9, 114, 116, 7, 7}), allelesOf(built.table));
    EXPECT_EQ((Names{"x", "y"}), built.table.mlgs()[1].sampleNames());

    // Haploid loci keep their order: there is no pair.
    const Built haploid = build("PLOIDY=1\nLOCUSCOUNT=2\nSIMULATIONS=1\n\nS,a,b\nx,9,3\n");
    EXPECT_EQ((Alleles{9, 3}), allelesOf(haploid.table));
}

TEST(BuildTable, CountsMissingCopiesPerLocus) {
    const Built none = build("PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=1\nMISSING=0\n\nS,a\nx,5\n");
    EXPECT_EQ(std::optional<std::int32_t>(0), none.table.missingCode());
    EXPECT_EQ("", none.err); // nothing missing: no note

    // Every sample counts, not only the first of each genotype; loci
    // without a missing copy are left out.
    const Built built = build("PLOIDY=2\nLOCUSCOUNT=3\nLOCUSNAMES=Zm1,Zm2,Zm3\nSIMULATIONS=1\n"
                              "FREQUENCY=MLG\nMISSING=-9\n\nS,a,b,c,d,e,f\n"
                              "x,-9,-9,4,4,5,-9\ny,-9,-9,4,4,5,-9\nz,2,-9,4,4,5,6\n");
    EXPECT_EQ("note: missing allele copies: Zm1 5, Zm3 2\n", built.err);
    // The code is stored (first: it is the smaller value) and grouped as a
    // value: x and y share a genotype.
    ASSERT_EQ(2u, built.table.mlgs().size());
    EXPECT_EQ((Alleles{-9, -9, 4, 4, -9, 5, -9, 2, 4, 4, 5, 6}), allelesOf(built.table));
}

} // namespace

namespace {

TEST(BuildTable, FallsBackFromRoundRobinToMLGWithOneLocus) {
    const Built one = build("PLOIDY=2\nLOCUSCOUNT=1\nSIMULATIONS=1\nFREQUENCY=ROUNDROBIN\n\n"
                            "S,a,b\nx,1,2\ny,1,2\nz,2,2\n");
    EXPECT_EQ("warning: FREQUENCY=ROUNDROBIN needs two or more loci; using MLG.\n", one.err);
    EXPECT_EQ(psex::FrequencyEstimate::e_mlg, one.table.settings().frequency);
    EXPECT_EQ((Frequencies{{1, 1.0 / 4}, {2, 3.0 / 4}}), one.table.loci()[0].frequencies());
}

} // namespace
