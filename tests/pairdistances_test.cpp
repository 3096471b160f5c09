// pairdistances_test.cpp                                         -*-C++-*-
#include "analysis/pairdistances.h"

#include "analysis/lineages.h"
#include "model/mlgtable.h"
#include "tablefromtext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using psex::MLGTable;
using psex::PairDistances;
using psex::VectorPath;
using psex::test::tableFromText;
using Counts = std::vector<std::uint64_t>;

std::vector<VectorPath> supportedPaths() {
    std::vector<VectorPath> paths;
    for (const VectorPath path : {VectorPath::e_portable, VectorPath::e_avx2}) {
        if (PairDistances::isSupported(path)) {
            paths.push_back(path);
        }
    }
    return paths;
}

const char* nameOf(VectorPath path) {
    return path == VectorPath::e_avx2 ? "avx2" : "portable";
}

// A random table: 'mlgs' samples (nearly all distinct MLGs) at 'loci' loci,
// alleles 100 .. 100 + 'spread' (at the first 'wideLoci' loci 100 .. 2100:
// more alleles than fit a byte), each copy missing (0) with probability
// 'missing'.
struct Shape {
    int ploidy = 2;
    int loci = 6;
    int mlgs = 100;
    int spread = 4;
    double missing = 0.0;
    int wideLoci = 0;
};

MLGTable randomTable(const Shape& shape, unsigned seed) {
    std::mt19937 random(seed);
    std::string text = "PLOIDY=" + std::to_string(shape.ploidy) +
                       "\nLOCUSCOUNT=" + std::to_string(shape.loci) +
                       "\nSIMULATIONS=1\nMISSING=0\n\nS";
    for (int j = 0; j < shape.loci; ++j) {
        for (int k = 0; k < shape.ploidy; ++k) {
            text += ",L" + std::to_string(j) + '_' + std::to_string(k);
        }
    }
    text += '\n';
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int s = 0; s < shape.mlgs; ++s) {
        text += 's' + std::to_string(s);
        for (int j = 0; j < shape.loci; ++j) {
            const int spread = j < shape.wideLoci ? 2000 : shape.spread;
            for (int k = 0; k < shape.ploidy; ++k) {
                const bool missing = unit(random) < shape.missing;
                text += ',' + (missing ? std::string("0")
                                       : std::to_string(100 + random() % (spread + 1)));
            }
        }
        text += '\n';
    }
    return tableFromText(text);
}

// Return the number of allele values at the specified locus of the
// specified 'table' (missing copies included: at most one more).
std::size_t alleleValues(const MLGTable& table, std::uint32_t locus) {
    std::set<std::int32_t> values;
    for (const psex::MLGTuple& mlg : table.mlgs()) {
        for (std::int32_t k = 0; k < table.ploidy(); ++k) {
            values.insert(mlg.allele(locus, k));
        }
    }
    return values.size();
}

// Compare every pair of the specified 'table' on the specified 'path', the
// rows taken 'group' at a time, and expect each pair reported once with
// the plain distance and the histogram of the plain distances.
void expectThePlainDistances(const MLGTable& table, VectorPath path, std::size_t group) {
    const PairDistances pairs(table, path);
    const std::size_t g = table.mlgs().size();
    ASSERT_EQ(g, pairs.size());
    Counts histogram(pairs.largestDistance() + 1, 0);
    std::vector<std::int64_t> reported(g * g, -1);
    std::uint64_t twice = 0;
    for (std::size_t a = 0; a < g; a += group) {
        pairs.compareRows(a, std::min(a + group, g), histogram, pairs.largestDistance(),
                          [&](std::uint32_t x, std::uint32_t y, std::uint32_t d) {
                              ASSERT_LT(x, y);
                              ASSERT_LT(y, g);
                              twice += reported[x * g + y] >= 0 ? 1 : 0;
                              reported[x * g + y] = d;
                          });
    }
    EXPECT_EQ(0u, twice);
    Counts expected(pairs.largestDistance() + 1, 0);
    std::uint64_t wrong = 0;
    for (std::size_t x = 0; x < g; ++x) {
        for (std::size_t y = x + 1; y < g; ++y) {
            const std::uint32_t plain =
                psex::genotypeDistance(table, table.mlgs()[x], table.mlgs()[y]);
            ++expected[plain];
            if (reported[x * g + y] != plain) {
                if (wrong++ == 0) {
                    ADD_FAILURE() << "MLGs " << x << " and " << y << ": " << reported[x * g + y]
                                  << " instead of " << plain;
                }
            }
        }
    }
    EXPECT_EQ(0u, wrong);
    EXPECT_EQ(expected, histogram);
}

TEST(PairDistances, CountsTheCopiesTheGenotypesDoNotShare) {
    // Worked by hand (the last locus is missing in d):
    //   a 12/12 14/16 9/9      b 12/14 16/14 9/11
    //   c 14/12 16/18 9/9      d 13/13 14/16 0/0
    // a-b: 1 + 0 + 1 = 2    a-c: 1 + 1 + 0 = 2    a-d: 2 + 0 = 2
    // b-c: 0 + 1 + 1 = 2    b-d: 2 + 0 = 2        c-d: 2 + 1 = 3
    // 12/14 and 14/12 are the same alleles in another order, and so are
    // 16/14 and 14/16; 14/16 and 16/18 share 16 in different places.
    const MLGTable table = tableFromText("PLOIDY=2\nLOCUSCOUNT=3\nSIMULATIONS=1\nMISSING=0\n\n"
                                         "S,a1,a2,b1,b2,c1,c2\n"
                                         "a,12,12,14,16,9,9\nb,12,14,16,14,9,11\n"
                                         "c,14,12,16,18,9,9\nd,13,13,14,16,0,0\n");
    ASSERT_EQ(4u, table.mlgs().size());
    for (const VectorPath path : supportedPaths()) {
        const PairDistances pairs(table, path);
        EXPECT_EQ(6u, pairs.largestDistance());
        Counts histogram(7, 0);
        pairs.compareRows(0, 4, histogram, -1, [](std::uint32_t, std::uint32_t, std::uint32_t) {
            ADD_FAILURE() << "a pair reported with reportWithin < 0";
        });
        EXPECT_EQ((Counts{0, 0, 5, 1, 0, 0, 0}), histogram) << nameOf(path);
        expectThePlainDistances(table, path, 1);
    }
}

TEST(PairDistances, GivesThePlainDistanceOfEveryPairOnEveryPath) {
    // Numbers of MLGs that fill no vector evenly, rows taken in groups that
    // start anywhere, haploid and diploid, missing copies, loci of many
    // alleles (compared allele by allele) and more loci than a byte lane
    // adds up.
    struct Case {
        const char* what;
        Shape shape;
    };
    const std::vector<Case> cases = {
        {"one MLG", {2, 6, 1, 4, 0.0, 0}},
        {"two MLGs", {2, 6, 2, 4, 0.0, 0}},
        {"diploid", {2, 20, 137, 9, 0.0, 0}},
        {"diploid, close genotypes", {2, 20, 97, 1, 0.0, 0}},
        {"haploid", {1, 12, 81, 3, 0.0, 0}},
        {"diploid, missing copies", {2, 15, 150, 5, 0.1, 0}},
        {"haploid, missing copies", {1, 15, 67, 2, 0.2, 0}},
        {"many alleles", {2, 6, 200, 6, 0.05, 2}},
        {"many alleles, haploid", {1, 5, 300, 6, 0.05, 2}},
        {"only many alleles", {2, 2, 150, 6, 0.0, 2}},
        {"300 loci", {2, 300, 140, 1, 0.02, 3}},
        {"300 haploid loci", {1, 300, 45, 1, 0.0, 0}},
        {"a SNP panel", {2, 400, 90, 1, 0.0, 0}},
        {"6,000 loci: fewer rows at a time", {2, 6000, 70, 1, 0.01, 0}},
    };
    unsigned seed = 1;
    for (const Case& c : cases) {
        const MLGTable table = randomTable(c.shape, seed++);
        if (c.shape.wideLoci > 0) {
            // More than 250 alleles: compared allele by allele.
            ASSERT_GT(alleleValues(table, 0), 252u) << c.what;
        }
        for (const VectorPath path : supportedPaths()) {
            for (const std::size_t group : {std::size_t{64}, std::size_t{7}}) {
                SCOPED_TRACE(std::string(c.what) + ", " + nameOf(path) + ", groups of " +
                             std::to_string(group));
                expectThePlainDistances(table, path, group);
            }
        }
    }
}

TEST(PairDistances, ReportsThePairsWithinTheDistanceOnly) {
    Shape shape;
    shape.loci = 4;
    shape.mlgs = 120;
    shape.spread = 2;
    shape.missing = 0.05;
    for (const Shape& each : {shape, Shape{2, 200, 40, 1, 0.0, 0}}) {
        const MLGTable table = randomTable(each, 11);
        const std::size_t g = table.mlgs().size();
        for (const VectorPath path : supportedPaths()) {
            const PairDistances pairs(table, path);
            for (const std::int64_t within : {std::int64_t{-1}, std::int64_t{0}, std::int64_t{2},
                                              std::int64_t{pairs.largestDistance() / 2 + 1}}) {
                Counts histogram(pairs.largestDistance() + 1, 0);
                std::uint64_t reported = 0;
                std::uint64_t beyond = 0;
                pairs.compareRows(0, g, histogram, within,
                                  [&](std::uint32_t, std::uint32_t, std::uint32_t d) {
                                      ++reported;
                                      beyond += d > within ? 1 : 0;
                                  });
                std::uint64_t expected = 0;
                for (std::int64_t d = 0; d <= within; ++d) {
                    expected += histogram[static_cast<std::size_t>(d)];
                }
                EXPECT_EQ(expected, reported) << nameOf(path) << " within " << within;
                EXPECT_EQ(0u, beyond) << nameOf(path) << " within " << within;
            }
        }
    }
}

TEST(PairDistances, RunsThePortablePathAndCanBeToldWhichToUse) {
    EXPECT_TRUE(PairDistances::isSupported(VectorPath::e_portable));
    EXPECT_TRUE(PairDistances::isSupported(PairDistances::fastestPath()));
    const VectorPath previous = PairDistances::setDefaultPath(VectorPath::e_portable);
    EXPECT_EQ(PairDistances::fastestPath(), previous);
    const MLGTable table = randomTable(Shape{}, 3);
    EXPECT_EQ(VectorPath::e_portable, PairDistances(table).path());
    PairDistances::setDefaultPath(previous);
    EXPECT_EQ(previous, PairDistances(table).path());
}

} // namespace
