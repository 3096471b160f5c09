// frequencies_test.cpp                                           -*-C++-*-
#include "model/frequencies.h"

#include "collectedmessages.h"
#include "model/mlgtable.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using psex::FrequencyEstimate;
using psex::Locus;
using psex::MLGTable;
using psex::MLGTuple;
using psex::TableSettings;
using psex::test::CollectedMessages;
using Frequencies = psex::AlleleFrequencies;

struct Sample {
    std::string name;
    std::vector<std::int32_t> alleles;
};

TableSettings settingsOf(std::int32_t ploidy, std::int32_t locusCount, FrequencyEstimate frequency,
                         std::optional<std::int32_t> missingCode = std::nullopt) {
    TableSettings settings;
    settings.ploidy = ploidy;
    settings.locusCount = locusCount;
    settings.frequency = frequency;
    settings.missingCode = missingCode;
    return settings;
}

// The loci of the specified 'samples' (added one by one, in this order, to a
// table of the specified 'settings') with the frequencies estimated from its
// genotypes.
std::vector<Locus> estimated(const TableSettings& settings, const std::vector<Sample>& samples) {
    MLGTable table(settings);
    for (const Sample& sample : samples) {
        MLGTuple tuple(settings.ploidy, static_cast<std::uint32_t>(settings.locusCount));
        for (std::size_t i = 0; i < sample.alleles.size(); ++i) {
            tuple.alleleAt(i) = sample.alleles[i];
        }
        tuple.addSampleName(sample.name);
        table.addSample(tuple);
    }
    std::vector<Locus> loci(static_cast<std::size_t>(settings.locusCount));
    psex::estimateFrequencies(loci, table.mlgs(), settings);
    return loci;
}

// The worked example: four diploid samples at one locus, s1 and s2 one
// genotype.
const std::vector<Sample> k_worked = {
    {"s1", {1, 2}}, {"s2", {1, 2}}, {"s3", {1, 1}}, {"s4", {2, 3}}};

TEST(EstimateFrequencies, CountsEverySampleOrEveryDistinctGenotypeOnce) {
    const std::vector<Locus> bySample =
        estimated(settingsOf(2, 1, FrequencyEstimate::e_sample), k_worked);
    EXPECT_EQ((Frequencies{{1, 0.5}, {2, 0.375}, {3, 0.125}}), bySample[0].frequencies());
    EXPECT_EQ(8u, bySample[0].sampleCount());
    EXPECT_TRUE(bySample[0].isNormalized());

    const std::vector<Locus> byMLG =
        estimated(settingsOf(2, 1, FrequencyEstimate::e_mlg), k_worked);
    EXPECT_EQ((Frequencies{{1, 3.0 / 6.0}, {2, 2.0 / 6.0}, {3, 1.0 / 6.0}}),
              byMLG[0].frequencies());
    EXPECT_EQ(6u, byMLG[0].sampleCount());

    // A genotype that arrives carrying three samples counts three times
    // under SAMPLE, as three samples added one by one do.
    MLGTable table(settingsOf(2, 1, FrequencyEstimate::e_sample));
    MLGTuple three(2, 1);
    three.alleleAt(0) = 4;
    three.alleleAt(1) = 5;
    for (const char* name : {"a", "b", "c"}) {
        three.addSampleName(name);
    }
    table.addSample(three);
    std::vector<Locus> loci(1);
    psex::estimateFrequencies(loci, table.mlgs(), table.settings());
    EXPECT_EQ((Frequencies{{4, 0.5}, {5, 0.5}}), loci[0].frequencies());
    EXPECT_EQ(6u, loci[0].sampleCount());
}

// Four diploid samples at two loci with the missing code 0: s2 failed at
// the second locus, s3 at one copy of the first.
const std::vector<Sample> k_gappy = {
    {"s1", {1, 2, 5, 5}}, {"s2", {1, 2, 0, 0}}, {"s3", {0, 1, 5, 6}}, {"s4", {2, 2, 6, 6}}};

TEST(EstimateFrequencies, CountsOnlyTypedCopiesPerLocus) {
    const std::vector<Locus> loci =
        estimated(settingsOf(2, 2, FrequencyEstimate::e_sample, 0), k_gappy);
    // Seven typed copies at the first locus, six at the second; the code is
    // never an allele.
    EXPECT_EQ((Frequencies{{1, 3.0 / 7}, {2, 4.0 / 7}}), loci[0].frequencies());
    EXPECT_EQ((Frequencies{{5, 3.0 / 6}, {6, 3.0 / 6}}), loci[1].frequencies());
    EXPECT_EQ(7u, loci[0].sampleCount());

    // With FREQUENCY=MLG a clone of s3 adds nothing; with SAMPLE it adds
    // its one typed copy at the first locus.
    std::vector<Sample> cloned = k_gappy;
    cloned.push_back({"s5", {0, 1, 5, 6}});
    EXPECT_EQ((Frequencies{{1, 3.0 / 7}, {2, 4.0 / 7}}),
              estimated(settingsOf(2, 2, FrequencyEstimate::e_mlg, 0), cloned)[0].frequencies());
    EXPECT_EQ((Frequencies{{1, 4.0 / 8}, {2, 4.0 / 8}}),
              estimated(settingsOf(2, 2, FrequencyEstimate::e_sample, 0), cloned)[0].frequencies());

    // Without the code, 0 is an allele like any other.
    EXPECT_EQ((Frequencies{{0, 1.0 / 8}, {1, 3.0 / 8}, {2, 4.0 / 8}}),
              estimated(settingsOf(2, 2, FrequencyEstimate::e_sample), k_gappy)[0].frequencies());
}

// A meadow where one clone dominates (c1-c5) and d1 differs from it only at
// locus B, as a scoring error would make it.
const std::vector<Sample> k_bigClone = {
    {"c1", {1, 1, 1, 2}}, {"c2", {1, 1, 1, 2}}, {"c3", {1, 1, 1, 2}},
    {"c4", {1, 1, 1, 2}}, {"c5", {1, 1, 1, 2}}, {"d1", {1, 1, 2, 2}},
    {"e1", {2, 3, 1, 1}}, {"f1", {1, 2, 1, 2}}, {"g1", {1, 2, 1, 3}}};

TEST(EstimateFrequencies, EstimatesEachLocusFromGenotypesDistinctAtTheOthers) {
    const std::vector<Locus> loci =
        estimated(settingsOf(2, 2, FrequencyEstimate::e_roundRobin), k_bigClone);
    // Locus A, over the genotypes distinct at B: the clone (for itself and
    // f1, which shares its B), d1, e1 and g1: copies 1,1 1,1 2,3 1,2.
    EXPECT_EQ((Frequencies{{1, 5.0 / 8}, {2, 2.0 / 8}, {3, 1.0 / 8}}), loci[0].frequencies());
    // Locus B, over the genotypes distinct at A: the clone (not d1), e1 and
    // f1 (not g1): copies 1,2 1,1 1,2.  Allele 3 of g1 was not counted: it
    // weighs one copy of 2G = 10, and all are divided by 4/6 + 2/6 + 1/10.
    ASSERT_EQ(3u, loci[1].alleleCount());
    EXPECT_NEAR(4.0 / 6 / 1.1, loci[1].frequency(1), 1e-15);
    EXPECT_NEAR(2.0 / 6 / 1.1, loci[1].frequency(2), 1e-15);
    EXPECT_NEAR(0.1 / 1.1, loci[1].frequency(3), 1e-15);
    EXPECT_TRUE(psex::frequenciesSumToOne(loci));

    // With FREQUENCY=MLG the near-copy d1 counts allele 2 twice more at B:
    // 1 five times, 2 four times, 3 once.
    EXPECT_EQ((Frequencies{{1, 5.0 / 10}, {2, 4.0 / 10}, {3, 1.0 / 10}}),
              estimated(settingsOf(2, 2, FrequencyEstimate::e_mlg), k_bigClone)[1].frequencies());
}

TEST(EstimateFrequencies, CountsTheFirstSampleOfTheDataFileRoundRobin) {
    // x and y agree at locus 2; x comes first in the file although its
    // genotype sorts after y's, so x's copy at locus 1 is the one counted.
    const std::vector<Locus> loci = estimated(settingsOf(1, 2, FrequencyEstimate::e_roundRobin),
                                              {{"x", {9, 5}}, {"y", {3, 5}}});
    // 9 counted; 3 weighs one copy of G = 2, so 1 and 1/2, divided by 3/2.
    EXPECT_EQ((Frequencies{{3, 1.0 / 3}, {9, 2.0 / 3}}), loci[0].frequencies());
}

TEST(EstimateFrequencies, CountsOnlyTypedCopiesRoundRobin) {
    // With MISSING the counted genotype's missing copy is left out, and an
    // allele only in uncounted genotypes still gets its one copy.
    const std::vector<Locus> loci = estimated(settingsOf(1, 2, FrequencyEstimate::e_roundRobin, 0),
                                              {{"x", {0, 5}}, {"y", {3, 5}}, {"z", {4, 6}}});
    // Locus 1 grouped by locus 2: {x, y} (5) counts x, missing; {z} counts
    // 4.  Allele 3 weighs 1/G = 1/3: 4 -> 1, 3 -> 1/3, divided by 4/3.
    EXPECT_EQ((Frequencies{{3, 0.25}, {4, 0.75}}), loci[0].frequencies());
}

TEST(CheckFrequencies, ReportsOnceWhenSomeLocusWithAllelesDoesNotSumToOne) {
    Locus whole;
    whole.assignFrequencies({{1, 0.5}, {2, 0.5}});
    Locus nearlyWhole; // within 1e-8: rounding, not a fault
    nearlyWhole.assignFrequencies({{1, 0.5}, {2, 0.5 + 5e-9}});
    Locus untyped; // no typed copy: nothing to add up
    Locus broken;
    broken.assignFrequencies({{1, 0.25}});

    CollectedMessages messages;
    psex::checkFrequencies({whole, nearlyWhole, untyped}, messages);
    EXPECT_EQ("", messages.error());
    EXPECT_TRUE(psex::frequenciesSumToOne({whole, nearlyWhole, untyped}));

    psex::checkFrequencies({broken, whole, broken}, messages);
    EXPECT_EQ("error: not all frequencies sum up to +-1.0.\n", messages.error());
    EXPECT_FALSE(psex::frequenciesSumToOne({whole, broken}));
}

TEST(EstimateFrequenciesDeathTest, StartsFromNewLoci) {
    std::vector<Locus> counted(1);
    counted[0].addAllele(3);
    EXPECT_DEATH(psex::estimateFrequencies(counted, {}, settingsOf(2, 1, FrequencyEstimate::e_mlg)),
                 "locus.sampleCount\\(\\) == 0");
}

} // namespace
