// mlgtable_test.cpp                                              -*-C++-*-
#include "model/mlgtable.h"

#include "collectedmessages.h"
#include "model/frequencies.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

using psex::MLGTable;
using psex::MLGTuple;
using psex::test::CollectedMessages;
using Alleles = std::vector<std::int32_t>;
using Names = std::vector<std::string>;
using Frequencies = psex::AlleleFrequencies;

std::string numbered(const char* prefix, int number) {
    std::string name(prefix);
    name += std::to_string(number);
    return name;
}

struct Sample {
    std::string name;
    Alleles alleles;
};

MLGTuple tupleOf(std::int32_t ploidy, const Sample& sample) {
    MLGTuple tuple(ploidy, static_cast<std::uint32_t>(sample.alleles.size() / ploidy));
    for (std::size_t i = 0; i < sample.alleles.size(); ++i) {
        tuple.alleleAt(i) = sample.alleles[i];
    }
    tuple.addSampleName(sample.name);
    return tuple;
}

struct Settings {
    std::int32_t ploidy = 2;
    std::int32_t locusCount = 1;
    bool frequencyFromSamples = true;
    bool fisModel = false;
};

psex::TableSettings tableSettings(const Settings& settings,
                                  std::optional<std::int32_t> missingCode = std::nullopt) {
    psex::TableSettings table;
    table.ploidy = settings.ploidy;
    table.locusCount = settings.locusCount;
    table.frequency = settings.frequencyFromSamples ? psex::FrequencyEstimate::e_sample
                                                    : psex::FrequencyEstimate::e_mlg;
    table.fisModel = settings.fisModel;
    table.missingCode = missingCode;
    return table;
}

// Default settings (diploid, SAMPLE, HWE) with the specified 'locusCount'.
psex::TableSettings withLoci(std::int32_t locusCount) {
    psex::TableSettings settings;
    settings.locusCount = locusCount;
    return settings;
}

MLGTable filledTable(const Settings& settings, const std::vector<Sample>& samples) {
    MLGTable table(tableSettings(settings));
    for (const Sample& sample : samples) {
        table.addSample(tupleOf(settings.ploidy, sample));
    }
    return table;
}

MLGTable completedTable(const Settings& settings, const std::vector<Sample>& samples,
                        psex::MessageSink& messages) {
    MLGTable table = filledTable(settings, samples);
    table.computeProbabilities(static_cast<std::uint32_t>(table.sampleNames().size()), messages);
    return table;
}

// The completed table of the specified 'samples'; no message is expected.
MLGTable completedTable(const Settings& settings, const std::vector<Sample>& samples) {
    CollectedMessages messages;
    MLGTable table = completedTable(settings, samples, messages);
    EXPECT_EQ("", messages.error() + messages.output());
    return table;
}

Alleles allelesOf(const MLGTable& table) {
    Alleles all;
    for (const MLGTuple& mlg : table.mlgs()) {
        all.insert(all.end(), mlg.alleles().begin(), mlg.alleles().end());
    }
    return all;
}

// The worked example: four diploid samples at one locus.
const std::vector<Sample> k_worked = {
    {"s1", {1, 2}}, {"s2", {1, 2}}, {"s3", {1, 1}}, {"s4", {2, 3}}};

// ---- grouping samples into MLGs ----

TEST(MLGTable, GroupsEqualGenotypesInSortedOrder) {
    const MLGTable table = filledTable({}, k_worked);
    EXPECT_EQ((Alleles{1, 1, 1, 2, 2, 3}), allelesOf(table));
    EXPECT_EQ((Names{"s1", "s2"}), table.mlgs()[1].sampleNames());
    EXPECT_EQ((Names{"s1", "s2", "s3", "s4"}), table.sampleNames());

    const MLGTable swapped = filledTable({}, {{"a", {12, 14}}, {"b", {14, 12}}});
    EXPECT_EQ(2u, swapped.mlgs().size());

    const MLGTable haploid =
        filledTable({1, 2, true, false}, {{"a", {3, 1}}, {"b", {1, 5}}, {"c", {1, 2}}});
    EXPECT_EQ((Alleles{1, 2, 1, 5, 3, 1}), allelesOf(haploid));
    EXPECT_EQ((Names{"a", "b", "c"}), haploid.sampleNames());

    const MLGTable negative = filledTable({1, 1, true, false}, {{"a", {0}}, {"b", {-1}}});
    EXPECT_EQ((Alleles{-1, 0}), allelesOf(negative));
}

TEST(MLGTable, CountsHeterozygotesPerSampleOrPerGenotype) {
    std::vector<Sample> samples = {
        {"a", {12, 14}}, {"b", {12, 14}}, {"c", {12, 14}}, {"d", {12, 12}}, {"e", {12, 12}}};
    EXPECT_EQ(3u, filledTable({2, 1, true, false}, samples).heterozygoteCount(0));
    EXPECT_EQ(1u, filledTable({2, 1, false, false}, samples).heterozygoteCount(0));
    EXPECT_EQ(0u, filledTable({1, 2, true, false}, {{"a", {1, 2}}}).heterozygoteCount(0));
}

// ---- allele frequencies ----

TEST(MLGTable, EstimatesFrequenciesFromSamplesOrDistinctGenotypes) {
    const MLGTable bySample = completedTable({}, k_worked);
    EXPECT_EQ((Frequencies{{1, 0.5}, {2, 0.375}, {3, 0.125}}), bySample.loci()[0].frequencies());

    const MLGTable byMLG = completedTable({2, 1, false, false}, k_worked);
    EXPECT_EQ((Frequencies{{1, 3.0 / 6.0}, {2, 2.0 / 6.0}, {3, 1.0 / 6.0}}),
              byMLG.loci()[0].frequencies());
}

TEST(MLGTable, ReportsFrequenciesThatDoNotSumToOne) {
    CollectedMessages messages;
    completedTable({}, k_worked, messages);
    EXPECT_EQ("", messages.error());

    // A table without samples has no frequencies to add up.
    MLGTable empty(withLoci(2));
    empty.computeProbabilities(0, messages);
    EXPECT_EQ("", messages.error());
    EXPECT_EQ("", messages.output());
    EXPECT_TRUE(empty.psexValues().empty());
}

TEST(MLGTable, LeavesCopiedFrequenciesAsTheyAre) {
    const MLGTable real = completedTable({}, k_worked);
    MLGTable single(psex::TableSettings{});
    single.addSample(tupleOf(2, {"x", {2, 3}}));
    single.setFrequencies(real.loci());
    CollectedMessages messages;
    single.computeProbabilities(4, messages);
    EXPECT_EQ("", messages.error());
    EXPECT_EQ(real.loci()[0].frequencies(), single.loci()[0].frequencies());

    // Copied frequencies were checked where they were computed: a
    // one-genotype table of a simulation does not report them again.
    psex::Locus broken;
    broken.assignFrequencies({{1, 0.25}});
    MLGTable target(psex::TableSettings{});
    target.addSample(tupleOf(2, {"x", {1, 1}}));
    target.setFrequencies({broken});
    EXPECT_FALSE(psex::frequenciesSumToOne(target.loci()));
    target.computeProbabilities(1, messages);
    EXPECT_EQ("", messages.error());
}

TEST(MLGTableDeathTest, ChecksLocusIndicesAndFrequencyLists) {
    MLGTable table(withLoci(2));
    EXPECT_DEATH(table.locus(2), "index < d_loci.size\\(\\)");
    EXPECT_DEATH(table.fis(2), "locusIndex < d_loci.size\\(\\)");
    EXPECT_DEATH(table.setFrequencies(MLGTable(psex::TableSettings{}).loci()),
                 "loci.size\\(\\) == d_loci.size\\(\\)");
    EXPECT_DEATH(MLGTable(withLoci(-1)), "settings.locusCount >= 0");
}

// ---- per-locus statistics ----

TEST(MLGTable, ComputesTheWorkedExampleStatistics) {
    const MLGTable bySample = completedTable({}, k_worked);
    EXPECT_EQ(3u, bySample.loci()[0].alleleCount());
    EXPECT_DOUBLE_EQ(0.59375, bySample.loci()[0].expectedHeterozygosity());
    EXPECT_DOUBLE_EQ(0.75, bySample.observedHeterozygosity(0));
    EXPECT_NEAR(-0.263158, bySample.fis(0), 5e-7);

    const MLGTable byMLG = completedTable({2, 1, false, false}, k_worked);
    EXPECT_NEAR(0.611111, byMLG.loci()[0].expectedHeterozygosity(), 5e-7);
    EXPECT_DOUBLE_EQ(2.0 / 3.0, byMLG.observedHeterozygosity(0));
    EXPECT_NEAR(-0.0909091, byMLG.fis(0), 5e-8);
}

TEST(MLGTable, GivesFisOneWithoutExpectedHeterozygosityAndForHaploids) {
    const MLGTable monomorphic = completedTable({}, {{"a", {4, 4}}, {"b", {4, 4}}});
    EXPECT_EQ(0.0, monomorphic.loci()[0].expectedHeterozygosity());
    EXPECT_EQ(1.0, monomorphic.fis(0));

    const MLGTable haploid = completedTable({1, 2, true, false}, {{"a", {1, 1}}, {"b", {2, 1}}});
    EXPECT_EQ(0.0, haploid.observedHeterozygosity(0));
    EXPECT_EQ(1.0, haploid.fis(0)); // He 0.5
    EXPECT_EQ(1.0, haploid.fis(1)); // He 0
}

TEST(MLGTable, LeavesStatisticsOfAnEmptyTableUndefined) {
    CollectedMessages messages;
    MLGTable empty(psex::TableSettings{});
    empty.computeProbabilities(0, messages);
    EXPECT_TRUE(std::isnan(empty.observedHeterozygosity(0))); // not 0 / 0 heterozygotes
    EXPECT_TRUE(std::isnan(empty.fis(0)));
    EXPECT_TRUE(std::isnan(empty.loci()[0].expectedHeterozygosity()));
}

// ---- the simulated PSex list ----

TEST(MLGTable, GivesEveryClonalMLGItsPValue) {
    MLGTable table = completedTable({}, k_worked);
    const double psex = table.mlgs()[1].psex();
    table.setPsexValues({psex / 2, psex, psex * 1.5, 2.0});
    table.assignPValues();
    EXPECT_EQ(0.25, table.mlgs()[1].pvalue());
    EXPECT_EQ(0.0, table.mlgs()[0].pvalue()); // seen once: no p-value
}

// ---- PGen and PSex ----

TEST(MLGTable, ComputesPgenUnderHardyWeinberg) {
    const MLGTable table = completedTable({}, {{"a", {1, 2}}, {"b", {2, 1}}});
    EXPECT_EQ(0.5, table.pgen(tupleOf(2, {"x", {1, 2}})));
    EXPECT_EQ(0.25, table.pgen(tupleOf(2, {"x", {1, 1}})));
    EXPECT_EQ(0.0, table.pgen(tupleOf(2, {"x", {1, 9}}))); // allele never seen

    const MLGTable worked = completedTable({}, k_worked);
    EXPECT_EQ(0.25, worked.mlgs()[0].pgen());
    EXPECT_EQ(0.375, worked.mlgs()[1].pgen());
    EXPECT_EQ(0.09375, worked.mlgs()[2].pgen());

    // Haploid: no factor two, and the model makes no difference.
    const std::vector<Sample> haploidSamples = {{"a", {1, 1}}, {"b", {2, 1}}, {"c", {2, 2}}};
    const MLGTable hwe = completedTable({1, 2, true, false}, haploidSamples);
    const MLGTable fis = completedTable({1, 2, true, true}, haploidSamples);
    const MLGTuple probe = tupleOf(1, {"x", {2, 1}});
    EXPECT_DOUBLE_EQ((2.0 / 3.0) * (2.0 / 3.0), hwe.pgen(probe));
    EXPECT_EQ(hwe.pgen(probe), fis.pgen(probe));
}

TEST(MLGTable, CorrectsPgenByFisUnderTheFisModel) {
    // The first locus has no heterozygote, so F = 1 there; the second has
    // He = Ho = 0.5, so F = 0.
    const std::vector<Sample> samples = {
        {"a", {1, 1, 1, 2}}, {"b", {2, 2, 1, 1}}, {"c", {1, 1, 2, 2}}, {"d", {2, 2, 2, 1}}};
    const MLGTable fis = completedTable({2, 2, true, true}, samples);
    const MLGTable hwe = completedTable({2, 2, true, false}, samples);
    EXPECT_EQ(1.0, fis.fis(0));
    EXPECT_EQ(0.0, fis.fis(1));
    // Homozygote at an F = 1 locus: p, not p * p; heterozygote: 2pq (1 - F).
    const MLGTuple probe = tupleOf(2, {"x", {1, 1, 1, 2}});
    EXPECT_EQ(0.5 * 0.5, fis.pgen(probe));
    EXPECT_EQ(0.5 * 0.5 * 0.5, hwe.pgen(probe));
    const MLGTuple heterozygote = tupleOf(2, {"x", {1, 2, 1, 2}});
    EXPECT_EQ(0.0, fis.pgen(heterozygote)); // (1 - F) = 0 at the first locus
    // At an F = 0 locus the model changes nothing.
    const MLGTable f0 = completedTable(
        {2, 1, true, true}, {{"a", {1, 2}}, {"b", {1, 1}}, {"c", {2, 2}}, {"d", {2, 1}}});
    const MLGTable h0 = completedTable(
        {2, 1, true, false}, {{"a", {1, 2}}, {"b", {1, 1}}, {"c", {2, 2}}, {"d", {2, 1}}});
    EXPECT_EQ(0.0, f0.fis(0));
    for (const MLGTuple& mlg : h0.mlgs()) {
        EXPECT_EQ(mlg.pgen(), f0.pgen(mlg));
    }
}

TEST(MLGTable, NeverGivesANegativePgen) {
    // Ten heterozygotes 1/2 and two 2/3: Ho = 1, He = 328/576, so Fis is
    // about -0.756 and the homozygote 3/3 (p = 1/12) would get the term
    // F p + (1 - F) p^2 < 0.  It is taken as 0.
    std::vector<Sample> samples(10, Sample{"h", {1, 2}});
    samples.push_back({"r", {2, 3}});
    samples.push_back({"c", {2, 3}});
    const MLGTable table = completedTable({2, 1, true, true}, samples);
    EXPECT_LT(table.fis(0), -0.5);
    EXPECT_EQ(0.0, table.pgen(tupleOf(2, {"x", {3, 3}})));
    for (const MLGTuple& mlg : table.mlgs()) {
        EXPECT_GE(mlg.pgen(), 0.0);
        EXPECT_GE(mlg.psex(), 0.0);
        EXPECT_LE(mlg.psex(), 1.0);
    }
}

TEST(MLGTable, ComputesPsexAndListsItForEveryMLG) {
    const MLGTable table = completedTable({}, k_worked);
    // 1/2 seen twice among four: 1 - (5/8)^4 - 4 (3/8) (5/8)^3.
    EXPECT_DOUBLE_EQ(0.481201171875, table.mlgs()[1].psex());
    // Seen once: 1 - (1 - PGen)^4.
    EXPECT_DOUBLE_EQ(1.0 - std::pow(0.75, 4.0), table.mlgs()[0].psex());
    std::vector<double> expected;
    for (const MLGTuple& mlg : table.mlgs()) {
        expected.push_back(mlg.psex());
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, table.psexValues().values());

    // Every sample the same genotype of probability 1: PSex 1.
    const MLGTable monomorphic = completedTable({}, {{"a", {4, 4}}, {"b", {4, 4}}});
    EXPECT_EQ(1.0, monomorphic.mlgs()[0].pgen());
    EXPECT_EQ(1.0, monomorphic.mlgs()[0].psex());
}

TEST(MLGTable, KeepsPsexANumberForLargeClones) {
    // 2000 samples, one genotype carried by 400 of them: the direct
    // binomial terms are infinity times zero.
    std::vector<Sample> samples;
    for (int i = 0; i < 1600; ++i) {
        samples.push_back({numbered("u", i), {i, i + 1, i % 7, i % 11}});
    }
    for (int i = 0; i < 400; ++i) {
        samples.push_back({numbered("c", i), {-1, -1, 0, 0}});
    }
    const MLGTable table = completedTable({2, 2, true, false}, samples);
    for (const MLGTuple& mlg : table.mlgs()) {
        EXPECT_TRUE(std::isfinite(mlg.psex()));
    }
    EXPECT_EQ(400u, table.mlgs().front().sampleCount());
    EXPECT_LT(table.mlgs().front().psex(), 1e-12); // far beyond any chance
}

} // namespace

namespace {

// ---- missing data ----

// Four diploid samples at two loci with the missing code 0: s2 failed at
// the second locus, s3 at one copy of the first.
const std::vector<Sample> k_gappy = {
    {"s1", {1, 2, 5, 5}}, {"s2", {1, 2, 0, 0}}, {"s3", {0, 1, 5, 6}}, {"s4", {2, 2, 6, 6}}};

MLGTable gappyTable(const Settings& settings, const std::vector<Sample>& samples,
                    psex::MessageSink& messages) {
    MLGTable table(tableSettings(settings, 0));
    for (const Sample& sample : samples) {
        table.addSample(tupleOf(settings.ploidy, sample));
    }
    table.computeProbabilities(static_cast<std::uint32_t>(table.sampleNames().size()), messages);
    return table;
}

TEST(MLGTable, TakesHoOverTheSamplesTypedAtTheLocus) {
    CollectedMessages messages;
    const MLGTable table = gappyTable({2, 2, true, false}, k_gappy, messages);
    // First locus: s1, s2, s4 typed, two of them heterozygous; second: s1,
    // s3, s4 typed, s3 heterozygous.
    EXPECT_EQ(2u, table.heterozygoteCount(0));
    EXPECT_EQ(3u, table.typedCount(0));
    EXPECT_EQ(2.0 / 3.0, table.observedHeterozygosity(0));
    EXPECT_EQ(1.0 / 3.0, table.observedHeterozygosity(1));
    EXPECT_DOUBLE_EQ(24.0 / 49.0, table.loci()[0].expectedHeterozygosity());
    EXPECT_NEAR(-13.0 / 36.0, table.fis(0), 1e-14);
    EXPECT_NEAR(1.0 / 3.0, table.fis(1), 1e-14);
}

TEST(MLGTable, GivesAnUntypedLocusTheFactorOneUnderBothModels) {
    CollectedMessages messages;
    const MLGTable hwe = gappyTable({2, 2, true, false}, k_gappy, messages);
    // Table order: s3 (0/1), s2 (1/2, 0/0), s1 (1/2, 5/5), s4 (2/2, 6/6).
    ASSERT_EQ((Names{"s3"}), hwe.mlgs()[0].sampleNames());
    ASSERT_EQ((Names{"s2"}), hwe.mlgs()[1].sampleNames());
    EXPECT_DOUBLE_EQ(0.5, hwe.mlgs()[0].pgen());         // 2 * 0.5 * 0.5 at the second
    EXPECT_DOUBLE_EQ(24.0 / 49.0, hwe.mlgs()[1].pgen()); // 2 pq at the first
    EXPECT_DOUBLE_EQ(6.0 / 49.0, hwe.mlgs()[2].pgen());  // 2pq * 0.25
    EXPECT_DOUBLE_EQ(4.0 / 49.0, hwe.mlgs()[3].pgen());  // q^2 * 0.25

    const MLGTable fis = gappyTable({2, 2, true, true}, k_gappy, messages);
    EXPECT_DOUBLE_EQ(0.5 * (1.0 - 1.0 / 3.0), fis.mlgs()[0].pgen());
    EXPECT_NEAR(24.0 / 49.0 * (1.0 + 13.0 / 36.0), fis.mlgs()[1].pgen(), 1e-14);
    EXPECT_EQ("", messages.error());
}

TEST(MLGTable, LeavesALocusWithoutTypedCopiesWithoutFrequencies) {
    CollectedMessages messages;
    const MLGTable table =
        gappyTable({1, 2, true, false}, {{"a", {3, 0}}, {"b", {4, 0}}}, messages);
    EXPECT_EQ("", messages.error()); // no sum to check, no sum to fail
    EXPECT_TRUE(psex::frequenciesSumToOne(table.loci()));
    EXPECT_TRUE(table.loci()[1].frequencies().empty());
    EXPECT_TRUE(std::isnan(table.loci()[1].expectedHeterozygosity()));
    EXPECT_TRUE(std::isnan(table.observedHeterozygosity(1)));
    EXPECT_TRUE(std::isnan(table.fis(1)));
    EXPECT_EQ(0.5, table.mlgs()[0].pgen()); // the second locus adds nothing
}

TEST(MLGTable, WithoutACodeTakesEveryValueForAnAllele) {
    // The same samples with no missing code: 0 is an allele like any other.
    const MLGTable table = completedTable({2, 2, true, false}, k_gappy);
    EXPECT_EQ((Frequencies{{0, 1.0 / 8}, {1, 3.0 / 8}, {2, 4.0 / 8}}),
              table.loci()[0].frequencies());
    EXPECT_EQ(4u, table.typedCount(0));
    EXPECT_EQ(0.75, table.observedHeterozygosity(0));
}

} // namespace

namespace {

// The table of the specified 'samples' added as rows at once (each diploid
// pair in ascending order, as the table builder gives them).
MLGTable tableOfRows(const Settings& settings, const std::vector<Sample>& samples) {
    MLGTable table(tableSettings(settings));
    std::vector<std::string> names;
    std::vector<std::int32_t> alleles;
    for (const Sample& sample : samples) {
        names.push_back(sample.name);
        alleles.insert(alleles.end(), sample.alleles.begin(), sample.alleles.end());
    }
    table.addSampleRows(std::move(names), alleles);
    return table;
}

TEST(MLGTable, KnowsTheMLGOfEverySampleInTheOrderOfAdding) {
    // Names repeat across genotypes: only the order of adding tells which
    // "x" is which.
    const std::vector<Sample> samples = {
        {"x", {5, 5}}, {"y", {1, 2}}, {"x", {1, 2}}, {"z", {5, 5}}, {"x", {0, 9}}};
    const MLGTable single = filledTable({2, 1, true, false}, samples);
    EXPECT_EQ((std::vector<std::uint32_t>{3, 2, 2, 3, 1}), single.mlgNumbersOfSamples());
    EXPECT_EQ(single.mlgNumbersOfSamples(),
              tableOfRows({2, 1, true, false}, samples).mlgNumbersOfSamples());
    EXPECT_EQ((std::vector<std::uint32_t>{1, 2, 2}), single.mlgSizes());
}

TEST(MLGTable, AddsSampleRowsAsOneByOne) {
    std::mt19937 random(3);
    for (int round = 0; round < 40; ++round) {
        const Settings settings{1 + round % 2, 2, round % 3 != 0, false};
        std::vector<Sample> samples;
        for (int s = 0; s < 60; ++s) {
            Alleles alleles;
            for (std::int32_t i = 0; i < settings.locusCount * settings.ploidy; ++i) {
                alleles.push_back(std::uniform_int_distribution<int>(-1, 2)(random));
            }
            if (settings.ploidy == 2) {
                for (std::size_t l = 0; l < alleles.size(); l += 2) {
                    std::sort(alleles.begin() + l, alleles.begin() + l + 2);
                }
            }
            samples.push_back({numbered("s", s % 45), alleles}); // some names repeat
        }
        const MLGTable single = filledTable(settings, samples);
        const MLGTable rows = tableOfRows(settings, samples);
        ASSERT_EQ(single.mlgs().size(), rows.mlgs().size());
        for (std::size_t m = 0; m < single.mlgs().size(); ++m) {
            EXPECT_EQ(single.mlgs()[m].alleles(), rows.mlgs()[m].alleles());
            EXPECT_EQ(single.mlgs()[m].sampleNames(), rows.mlgs()[m].sampleNames());
            EXPECT_EQ(single.mlgs()[m].sampleNumbers(), rows.mlgs()[m].sampleNumbers());
        }
        EXPECT_EQ(single.sampleNames(), rows.sampleNames());
    }
}

} // namespace
