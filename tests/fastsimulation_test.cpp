// fastsimulation_test.cpp                                        -*-C++-*-
#include "simulation/fastsimulation.h"

#include "collectedmessages.h"
#include "model/datareader.h"
#include "model/significance.h"
#include "support/referencesimulation.h"
#include "tablefromtext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <random>
#include <sstream>
#include <thread>

namespace {

using psex::LaggedFibonacci607;
using psex::MLGTable;
using psex::MLGTuple;
using psex::test::CollectedMessages;
using psex::test::ReferenceGenerator;
using psex::test::tableFromText;

// The table of a data file given as text, built and simulated with the
// specified generator on the specified number of threads.
MLGTable simulated(const std::string& text, LaggedFibonacci607& generator, unsigned threads = 1) {
    CollectedMessages messages;
    std::istringstream in(text);
    psex::DataReader reader(in, messages);
    return psex::buildAndSimulate(reader, generator, messages, {}, threads);
}

TEST(BuildAndSimulate, GivesAMonomorphicDataSetOneValueOfOnePerSimulation) {
    LaggedFibonacci607 generator;
    const MLGTable table =
        simulated("PLOIDY=2\nLOCUSCOUNT=2\nSIMULATIONS=7\n\nS,a,b,c,d\nx,4,4,9,9\ny,4,4,9,9\n"
                  "z,4,4,9,9\n",
                  generator);
    EXPECT_EQ(std::vector<double>(7, 1.0), table.psexValues().values());
    EXPECT_EQ(1.0, table.mlgs()[0].psex());
    EXPECT_EQ(0.0, table.mlgs()[0].pvalue()); // no simulated value below 1
}

TEST(BuildAndSimulate, FindsNoRepeatsInTooSmallDataSets) {
    LaggedFibonacci607 generator;
    const MLGTable one =
        simulated("PLOIDY=2\nLOCUSCOUNT=1\nSIMULATIONS=50\n\nS,a,b\nx,4,4\n", generator);
    EXPECT_TRUE(one.psexValues().empty());
    const MLGTable none = simulated("PLOIDY=2\nLOCUSCOUNT=1\nSIMULATIONS=50\n\nS,a,b\n", generator);
    EXPECT_TRUE(none.psexValues().empty());
    const MLGTable broken =
        simulated("PLOIDY=2\nLOCUSCOUNT=2\nSIMULATIONS=50\n\nS,a,b\nx,1,2\n", generator);
    EXPECT_TRUE(broken.psexValues().empty());
}

const char k_clonalMeadow[] = "PLOIDY=2\nLOCUSCOUNT=2\nSIMULATIONS=40\n\nS,a,b,c,d\n"
                              "r1,1,2,1,1\nr2,1,2,1,1\nr3,1,1,2,2\nr4,2,2,1,2\n"
                              "r5,1,2,2,1\nr6,1,1,1,1\nr7,2,2,2,2\nr8,1,2,1,2\n";

TEST(BuildAndSimulate, CollectsSortedPsexValuesOfChanceRepeats) {
    LaggedFibonacci607 generator;
    const MLGTable table = simulated(k_clonalMeadow, generator);
    const std::vector<double> values = table.psexValues().values();
    ASSERT_FALSE(values.empty()); // eight samples from nine genotypes repeat
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    for (const double value : values) {
        EXPECT_GE(value, 0.0);
        EXPECT_LE(value, 1.0);
    }
    // The clonal MLG's p-value is its share of the list strictly below it.
    const MLGTuple& clone = table.mlgs()[2]; // r1 and r2
    ASSERT_EQ(2u, clone.sampleCount());
    const double below = static_cast<double>(
        std::lower_bound(values.begin(), values.end(), clone.psex()) - values.begin());
    EXPECT_EQ(below / static_cast<double>(values.size()), clone.pvalue());
}

TEST(BuildAndSimulate, ContinuesTheRandomStreamFromOneDataFileToTheNext) {
    LaggedFibonacci607 first;
    const MLGTable alone = simulated(k_clonalMeadow, first);
    LaggedFibonacci607 second;
    simulated(k_clonalMeadow, second);
    const MLGTable afterAnother = simulated(k_clonalMeadow, second);
    EXPECT_NE(alone.psexValues(), afterAnother.psexValues());

    LaggedFibonacci607 again;
    EXPECT_EQ(alone.psexValues(), simulated(k_clonalMeadow, again).psexValues());
}

} // namespace

// ---- the fast simulation against the plain one ----

namespace fast {

// A random data file: ploidy, loci, alleles (0 and negative values among
// them), planted clones, both FREQUENCY and MODEL settings.
std::string randomDataFile(std::mt19937& random, std::uint32_t maxSamples) {
    auto uniform = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    const int ploidy = uniform(1, 2);
    const int loci = uniform(1, 4);
    const int samples = uniform(0, static_cast<int>(maxSamples));
    std::vector<std::vector<int>> alleles(loci);
    for (auto& values : alleles) {
        const int count = uniform(1, 5);
        for (int a = 0; a < count; ++a) {
            values.push_back(uniform(-3, 12) * (uniform(0, 3) == 0 ? 0 : 1));
        }
    }
    std::ostringstream text;
    // Some files take one of the values (0 or a negative one) for missing.
    if (uniform(0, 2) == 0) {
        text << "MISSING=" << uniform(-3, 0) << '\n';
    }
    text << "PLOIDY=" << ploidy << "\nLOCUSCOUNT=" << loci << "\nSIMULATIONS=" << uniform(1, 25)
         << "\nFREQUENCY=" << (uniform(0, 1) ? "SAMPLE" : "MLG")
         << "\nMODEL=" << (uniform(0, 1) ? "HWE" : "FIS") << "\n\nSample";
    for (int c = 0; c < loci * ploidy; ++c) {
        text << ",c" << c;
    }
    text << '\n';
    std::vector<int> genotype;
    for (int s = 0; s < samples; ++s) {
        if (genotype.empty() || uniform(0, 3) != 0) { // else a clone of the last
            genotype.clear();
            for (int l = 0; l < loci; ++l) {
                for (int k = 0; k < ploidy; ++k) {
                    const auto& values = alleles[l];
                    genotype.push_back(values[uniform(0, static_cast<int>(values.size()) - 1)]);
                }
            }
        }
        text << 's' << s;
        for (const int allele : genotype) {
            text << ',' << allele;
        }
        text << '\n';
    }
    return text.str();
}

struct Outcome {
    std::vector<double> values;
    std::string out;
    std::string err;
    ReferenceGenerator generator; // the state left for the next data file
    std::vector<std::uint64_t> progress;
    // For every repeated genotype of the table, in table order: the number
    // of data sets whose smallest chance-repeat PSex is at most its PSex;
    // and the number of data sets.
    std::vector<std::uint64_t> atMost;
    std::uint64_t dataSets = 0;
};

// The plain simulation, drawing from Boost's generator itself.
Outcome plainRun(const MLGTable& table, ReferenceGenerator generator) {
    CollectedMessages messages;
    std::vector<std::uint64_t> progress;
    std::vector<std::optional<double>> smallest;
    std::vector<double> values = psex::test::simulatedPsexValues(
        table, generator, messages,
        [&](std::uint64_t done, std::uint64_t total) { progress.push_back(done * 1000 + total); },
        &smallest);
    // Counted by hand: every data set whose smallest value is at most x.
    std::vector<std::uint64_t> atMost;
    for (const double x : table.repeatedPsexValues()) {
        atMost.push_back(static_cast<std::uint64_t>(std::count_if(
            smallest.begin(), smallest.end(),
            [x](const std::optional<double>& value) { return value && *value <= x; })));
    }
    return {values, messages.output(), messages.error(), generator, progress,
            atMost, smallest.size()};
}

// The program's simulation on 'threads' threads, drawing from the program's
// generator started in the state of 'start'.
Outcome fastRun(const MLGTable& table, const ReferenceGenerator& start, unsigned threads = 1) {
    CollectedMessages messages;
    LaggedFibonacci607 generator(start);
    std::vector<std::uint64_t> progress;
    const std::thread::id caller = std::this_thread::get_id();
    psex::FamilywiseCounter smallest(table.repeatedPsexValues());
    std::vector<double> values = psex::simulatedPsexList(
                                     table, generator, messages,
                                     [&](std::uint64_t done, std::uint64_t total) {
                                         EXPECT_EQ(caller, std::this_thread::get_id());
                                         progress.push_back(done * 1000 + total);
                                     },
                                     threads, &smallest)
                                     .values();
    std::vector<std::uint64_t> atMost;
    for (const double x : table.repeatedPsexValues()) {
        atMost.push_back(smallest.countAtMost(x));
    }
    return {values, messages.output(),  messages.error(), generator.toBoost(), progress,
            atMost, smallest.dataSets()};
}

void expectSameOutcome(const MLGTable& table, const ReferenceGenerator& generator,
                       const std::string& what) {
    const Outcome plain = plainRun(table, generator);
    for (const unsigned threads : {1u, 2u, 3u}) {
        const Outcome quick = fastRun(table, generator, threads);
        EXPECT_EQ(plain.values, quick.values) << what << ", threads " << threads;
        EXPECT_EQ(plain.out, quick.out) << what << ", threads " << threads;
        EXPECT_EQ(plain.err, quick.err) << what << ", threads " << threads;
        EXPECT_TRUE(plain.generator == quick.generator) << what << ", threads " << threads;
        EXPECT_EQ(plain.atMost, quick.atMost) << what << ", threads " << threads;
        EXPECT_EQ(plain.dataSets, quick.dataSets) << what << ", threads " << threads;
        EXPECT_EQ(static_cast<std::uint64_t>(table.simulations()), quick.dataSets) << what;
        // Told after every data set, in order; a data set too small to
        // repeat a genotype is skipped in one step.
        if (table.sampleNames().size() >= 2) {
            EXPECT_EQ(plain.progress, quick.progress) << what << ", threads " << threads;
        } else if (!plain.progress.empty()) {
            EXPECT_EQ(std::vector<std::uint64_t>{plain.progress.back()}, quick.progress) << what;
        }
    }
}

} // namespace fast

TEST(FastSimulation, GivesExactlyThePlainValuesOnRandomData) {
    std::mt19937 random(20261208);
    ReferenceGenerator generator;
    std::size_t compared = 0;
    for (int round = 0; round < 300; ++round) {
        const std::string text = fast::randomDataFile(random, 40);
        const MLGTable table = psex::test::tableFromText(text);
        fast::expectSameOutcome(table, generator, text);
        compared += fast::plainRun(table, generator).values.size();
        generator.discard(round); // start each round elsewhere in the stream
    }
    EXPECT_GT(compared, 1000u); // the rounds do meet repeated genotypes
}

TEST(FastSimulation, GivesExactlyThePlainValuesForLargeClonalSamples) {
    // Around N = 1100 the binomial coefficients overflow: PSex of the large
    // simulated clones comes from the log-space sum, partly cached.
    std::mt19937 random(7);
    ReferenceGenerator generator;
    for (int round = 0; round < 4; ++round) {
        std::ostringstream text;
        text << "PLOIDY=2\nLOCUSCOUNT=1\nSIMULATIONS=2\nMODEL=" << (round % 2 ? "FIS" : "HWE")
             << "\n\nS,a,b\n";
        for (int s = 0; s < 1100 + 40 * round; ++s) {
            text << 's' << s << ',' << (s % 3 == 0 ? 1 : 2) << ',' << (s % (2 + round) ? 2 : 5)
                 << '\n';
        }
        fast::expectSameOutcome(psex::test::tableFromText(text.str()), generator,
                                "round " + std::to_string(round));
    }
}

TEST(FastSimulation, GivesExactlyThePlainValuesWithWideGenotypeCodes) {
    // Genotype codes are a byte up to 15 alleles per locus, then 16, 32
    // and 64 bits: loci of 20 and of 300 alleles (from sample names pasted
    // into an allele column, say) take the wider codes and the bucket table.
    for (const int alleles : {20, 300}) {
        std::ostringstream text;
        text << "PLOIDY=2\nLOCUSCOUNT=2\nSIMULATIONS=6\n\nS,a,b,c,d\n";
        for (int s = 0; s < 1200; ++s) {
            // Every allele occurs, but the last two are common, so that
            // genotypes with the highest codes repeat.
            const int first = s % 4 == 0 ? (s / 4) % alleles : alleles - 1 - s % 2;
            const int second = s % 4 == 1 ? (s / 4 * 7) % alleles : alleles - 1 - (s / 2) % 2;
            text << 's' << s << ',' << first << ',' << second << ',' << s % 3 << ',' << (s / 3) % 2
                 << '\n';
        }
        const MLGTable table = psex::test::tableFromText(text.str());
        ASSERT_EQ(static_cast<std::size_t>(alleles), table.loci()[0].alleleCount());
        EXPECT_FALSE(fast::plainRun(table, ReferenceGenerator()).values.empty());
        fast::expectSameOutcome(table, ReferenceGenerator(), std::to_string(alleles) + " alleles");
    }
}

TEST(FastSimulation, ReportsNoFrequenciesAgainForEveryChanceRepeat) {
    // Frequencies that do not add up to one (a quarter of the mass): most
    // copies get no allele, so simulated samples repeat; the real table
    // reported its frequencies once, and the chance repeats do not again.
    MLGTable table =
        psex::test::tableFromText("PLOIDY=2\nLOCUSCOUNT=2\nSIMULATIONS=3\n\nS,a,b,c,d\n"
                                  "x,1,2,3,4\ny,1,2,3,4\nz,2,2,3,3\n");
    psex::Locus quarter;
    quarter.assignFrequencies({{1, 0.25}});
    table.setFrequencies({quarter, quarter});
    const fast::Outcome quick = fast::fastRun(table, ReferenceGenerator());
    EXPECT_FALSE(quick.values.empty());
    EXPECT_EQ("", quick.err);
    fast::expectSameOutcome(table, ReferenceGenerator(), "a quarter of the frequency mass");
}

TEST(FastSimulation, DrawsForDataSetsTooSmallToRepeat) {
    // One sample cannot repeat, but its draws still advance the stream.
    const MLGTable one =
        psex::test::tableFromText("PLOIDY=2\nLOCUSCOUNT=3\nSIMULATIONS=9\n\nS,a,b,c,d,e,f\n"
                                  "x,1,2,3,4,5,6\n");
    fast::expectSameOutcome(one, ReferenceGenerator(), "one sample");
    LaggedFibonacci607 generator;
    CollectedMessages messages;
    psex::simulatedPsexList(one, generator, messages);
    ReferenceGenerator expected;
    expected.discard(9 * 3 * 2);
    EXPECT_TRUE(generator == expected);
}

TEST(FastSimulation, GivesExactlyThePlainValuesWhenALocusIsNeverTyped) {
    // The second locus has no typed copy: no allele to draw, the code is
    // stored, the locus adds nothing to PGen, and no frequency sum is
    // reported.
    const MLGTable table =
        psex::test::tableFromText("PLOIDY=2\nLOCUSCOUNT=2\nSIMULATIONS=4\nMISSING=-1\n\n"
                                  "S,a,b,c,d\nx,1,2,-1,-1\ny,1,1,-1,-1\nz,2,2,-1,-1\n");
    const fast::Outcome quick = fast::fastRun(table, ReferenceGenerator());
    ASSERT_FALSE(quick.values.empty());
    EXPECT_EQ("", quick.err);
    fast::expectSameOutcome(table, ReferenceGenerator(), "a locus never typed");
}

TEST(BuildAndSimulate, CallsAnUnremarkableGenotypeOfAnInbredLocusNotSignificant) {
    // 3 AA, 4 AB, 3 BB at one locus (Fis 0.2): the AB genotype seen 4 times
    // among 10 (PSex 0.618) is nothing unusual.  A null from the repeats'
    // own Fis put every heterozygous repeat at PSex 1 and called it '*'.
    LaggedFibonacci607 generator;
    const MLGTable table = simulated("PLOIDY=2\nMODEL=FIS\nLOCUSCOUNT=1\nSIMULATIONS=200\n\nS,a,b\n"
                                     "s1,1,1\ns2,1,1\ns3,1,1\ns4,1,2\ns5,1,2\ns6,1,2\ns7,1,2\n"
                                     "s8,2,2\ns9,2,2\ns10,2,2\n",
                                     generator);
    const MLGTuple& heterozygote = table.mlgs()[1];
    ASSERT_EQ(4u, heterozygote.sampleCount());
    EXPECT_EQ("ns", psex::significanceCode(table.psexValues(), heterozygote.psex()));
    EXPECT_GT(heterozygote.pvalue(), 0.3);
}
