// referencesimulation_test.cpp                                   -*-C++-*-
#include "support/referencesimulation.h"

#include "collectedmessages.h"
#include "countedlocus.h"
#include "model/binomial.h"
#include "tablefromtext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

namespace {

using psex::Locus;
using psex::MLGTable;
using psex::MLGTuple;
using psex::test::CollectedMessages;
using psex::test::locusWithCounts;
using psex::test::ReferenceGenerator;
using psex::test::tableFromText;

TEST(ReferenceSimulation, DrawsFromTheDefaultSeededLaggedFibonacciStream) {
    // Pinned: a change of the generator or its seeding changes every
    // published simulation result.
    ReferenceGenerator generator;
    EXPECT_EQ(0.39562183130421502, generator());
    EXPECT_EQ(0.79419704628659105, generator());
    EXPECT_EQ(0.98304110631465846, generator());
    EXPECT_EQ(0.65140497060344416, generator());
    EXPECT_EQ(0.92272651647358472, generator());
    generator.discard(1000000 - 5);
    EXPECT_EQ(0.78842785601826648, generator());
}

TEST(ReferenceSimulation, ChoosesAllelesBySequentialSubtraction) {
    const Locus locus = locusWithCounts({{1, 3}, {2, 7}}); // 0.3 and 0.7
    EXPECT_EQ(1, psex::test::drawAllele(locus, 0.0));
    EXPECT_EQ(1, psex::test::drawAllele(locus, 0.29));
    EXPECT_EQ(2, psex::test::drawAllele(locus, 0.3)); // 0.3 > 0.3 fails, then 0.7 > 0
    EXPECT_EQ(2, psex::test::drawAllele(locus, 0.99));
    // Rounding in the subtraction can leave u at 0.7 after the first step
    // (1 - 2^-53 - 0.3 rounds up), so the walk passes the last allele.
    EXPECT_FALSE(psex::test::drawAllele(locus, 0.9999999999999999).has_value());

    const Locus thirds = locusWithCounts({{-4, 1}, {0, 1}, {9, 1}});
    EXPECT_EQ(-4, psex::test::drawAllele(thirds, std::nextafter(1.0 / 3.0, 0.0)));
    EXPECT_EQ(0, psex::test::drawAllele(thirds, 1.0 / 3.0));
    EXPECT_EQ(9, psex::test::drawAllele(thirds, 0.9999999999999999));

    EXPECT_FALSE(psex::test::drawAllele(Locus(), 0.5).has_value());
}

TEST(ReferenceSimulation, DrawsOneNumberPerAlleleCopyAndStoresAllelesAscending) {
    psex::TableSettings twoLoci;
    twoLoci.locusCount = 2;
    MLGTable real(twoLoci);
    real.locus(0) = locusWithCounts({{7, 1}, {3, 1}});
    real.locus(1) = locusWithCounts({{5, 1}});
    ReferenceGenerator generator;
    ReferenceGenerator expectedState = generator;
    const MLGTable sample = psex::test::simulateSample(200, real, generator);
    expectedState.discard(200 * 2 * 2);
    EXPECT_TRUE(expectedState == generator);

    EXPECT_EQ(200u, sample.sampleNames().size());
    EXPECT_EQ("s0", sample.sampleNames().front());
    EXPECT_EQ("s199", sample.sampleNames().back());
    ASSERT_EQ(3u, sample.mlgs().size()); // 3/3, 3/7, 7/7: never 7/3
    EXPECT_EQ((std::vector<std::int32_t>{3, 3, 5, 5}), sample.mlgs()[0].alleles());
    EXPECT_EQ((std::vector<std::int32_t>{3, 7, 5, 5}), sample.mlgs()[1].alleles());
    EXPECT_EQ((std::vector<std::int32_t>{7, 7, 5, 5}), sample.mlgs()[2].alleles());
}

TEST(ReferenceSimulation, StoresTheMissingCodeOrZeroForCopiesWithoutAnAllele) {
    MLGTable real(psex::TableSettings{});
    real.setFrequencies(MLGTable(psex::TableSettings{}).loci()); // nothing to choose
    ReferenceGenerator generator;
    const MLGTable sample = psex::test::simulateSample(3, real, generator);
    ASSERT_EQ(1u, sample.mlgs().size());
    EXPECT_EQ((std::vector<std::int32_t>{0, 0}), sample.mlgs()[0].alleles());

    psex::TableSettings withCode;
    withCode.missingCode = -1;
    MLGTable realWithCode(withCode);
    realWithCode.setFrequencies(real.loci());
    const MLGTable coded = psex::test::simulateSample(3, realWithCode, generator);
    ASSERT_EQ(1u, coded.mlgs().size());
    EXPECT_EQ((std::vector<std::int32_t>{-1, -1}), coded.mlgs()[0].alleles());
    EXPECT_EQ(-1, coded.missingCode());
    // An untyped genotype is no evidence of anything: PGen 1, PSex 1.
    MLGTable single(coded.settings());
    single.addSample(coded.mlgs()[0]);
    single.setFrequencies(real.loci());
    CollectedMessages messages;
    single.computeProbabilities(3, messages);
    EXPECT_EQ(1.0, single.mlgs()[0].pgen());
    EXPECT_EQ(1.0, single.mlgs()[0].psex());
}

// One locus, alleles A and B at 0.5 each, 3 AA, 4 AB and 3 BB: Ho 0.4 and
// Fis 0.2, so a heterozygote's PGen is 2pq(1 - F) = 0.4 and a
// homozygote's F p + (1 - F) p^2 = 0.3.
const char k_inbredLocus[] = "PLOIDY=2\nMODEL=FIS\nLOCUSCOUNT=1\nSIMULATIONS=200\n\nS,a,b\n"
                             "s1,1,1\ns2,1,1\ns3,1,1\ns4,1,2\ns5,1,2\ns6,1,2\ns7,1,2\n"
                             "s8,2,2\ns9,2,2\ns10,2,2\n";

TEST(ReferenceSimulation, JudgesChanceRepeatsWithTheRealDatasFis) {
    // Every chance repeat is judged as if it had been observed in the real
    // data: the real frequencies, N and the real Fis, not the Fis of a table
    // that holds the repeat alone (1 - 1/He = -1 for a heterozygote, which
    // gave every heterozygous repeat PGen 1 and PSex 1).
    const MLGTable real = tableFromText(k_inbredLocus);
    ASSERT_EQ(3u, real.mlgs().size());
    const double homozygote = real.mlgs()[0].pgen();
    const double heterozygote = real.mlgs()[1].pgen();
    EXPECT_NEAR(0.3, homozygote, 1e-15);
    EXPECT_NEAR(0.4, heterozygote, 1e-15);
    EXPECT_NEAR(0.6177193984, real.mlgs()[1].psex(), 1e-10); // P(X >= 4), X ~ B(10, 0.4)

    ReferenceGenerator generator;
    CollectedMessages messages;
    const std::vector<double> values = psex::test::simulatedPsexValues(real, generator, messages);
    ASSERT_GT(values.size(), 400u); // each data set repeats two or three genotypes
    std::size_t heterozygous = 0;
    for (const double value : values) {
        bool explained = false;
        for (std::uint32_t count = 2; count <= 10; ++count) {
            const double sum = psex::binomialTermSum(10, count, heterozygote);
            if (value == psex::psexOf(10, count, heterozygote, sum, messages)) {
                explained = true;
                ++heterozygous;
            }
            explained =
                explained ||
                value == psex::psexOf(10, count, homozygote,
                                      psex::binomialTermSum(10, count, homozygote), messages);
        }
        EXPECT_TRUE(explained) << value;
    }
    EXPECT_GT(heterozygous, 150u);
    EXPECT_EQ(0u, std::count(values.begin(), values.end(), 1.0)); // no repeat is sure
}

TEST(ReferenceSimulation, CollectsThePsexOfEveryRepeatOfEveryDataSetAscending) {
    // Two samples of one haploid locus with alleles 1 and 2 at 0.5 each:
    // a data set repeats a genotype exactly when both draws pick the same
    // allele, and that repeat's PSex is PGen^2 = 0.25.
    const MLGTable real =
        tableFromText("PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=30\n\nS,a\nx,1\ny,2\n");
    ReferenceGenerator generator;
    ReferenceGenerator replay = generator;
    CollectedMessages messages;
    std::vector<std::uint64_t> reported;
    const std::vector<double> values = psex::test::simulatedPsexValues(
        real, generator, messages,
        [&](std::uint64_t done, std::uint64_t total) { reported.push_back(done * 100 + total); });
    std::size_t repeats = 0;
    for (int r = 0; r < 30; ++r) {
        repeats += (replay() < 0.5) == (replay() < 0.5);
    }
    EXPECT_EQ(std::vector<double>(repeats, 0.25), values);
    EXPECT_TRUE(replay == generator);
    EXPECT_EQ(30u, reported.size());
    EXPECT_EQ(130u, reported.front());
    EXPECT_EQ(3030u, reported.back());
    EXPECT_EQ("", messages.output() + messages.error());
}

} // namespace
