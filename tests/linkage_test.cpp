// linkage_test.cpp                                               -*-C++-*-
#include "analysis/linkage.h"

#include "analysis/lineages.h"
#include "model/mlgtable.h"
#include "tablefromtext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using psex::LinkageInteger;
using psex::LinkageSamples;
using Orders = std::vector<std::vector<std::uint32_t>>;

// Four diploid samples at three loci, worked by hand below:
//   S1 11 11 11    S2 11 11 12    S3 12 22 11    S4 22 22 22
const std::vector<std::int32_t> k_four[] = {
    {1, 1, 1, 1, 1, 1}, {1, 1, 1, 1, 1, 2}, {1, 2, 2, 2, 1, 1}, {2, 2, 2, 2, 2, 2}};

LinkageSamples samplesOf(const std::vector<std::vector<std::int32_t>>& genotypes,
                         std::int32_t ploidy, std::uint32_t loci) {
    std::vector<const std::int32_t*> pointers;
    for (const std::vector<std::int32_t>& genotype : genotypes) {
        pointers.push_back(genotype.data());
    }
    return LinkageSamples(ploidy, loci, pointers);
}

LinkageSamples fourSamples() {
    return samplesOf({std::begin(k_four), std::end(k_four)}, 2, 3);
}

Orders identity(std::uint32_t loci, std::uint32_t samples) {
    Orders orders(loci);
    for (std::vector<std::uint32_t>& order : orders) {
        for (std::uint32_t s = 0; s < samples; ++s) {
            order.push_back(s);
        }
    }
    return orders;
}

// S2 by its definition, written apart from the unit: the copies in which
// two genotypes differ are counted by matching each copy of one with an
// unmatched equal copy of the other.
LinkageInteger plainSquareSum(const std::vector<std::vector<std::int32_t>>& genotypes,
                              std::uint32_t ploidy, const Orders& orders) {
    LinkageInteger total = 0;
    const std::size_t n = genotypes.size();
    for (std::size_t a = 0; a < n; ++a) {
        for (std::size_t b = a + 1; b < n; ++b) {
            std::int64_t distance = 0;
            for (std::size_t j = 0; j < orders.size(); ++j) {
                std::vector<std::int32_t> first(
                    genotypes[orders[j][a]].begin() + std::ptrdiff_t(j * ploidy),
                    genotypes[orders[j][a]].begin() + std::ptrdiff_t((j + 1) * ploidy));
                std::vector<std::int32_t> second(
                    genotypes[orders[j][b]].begin() + std::ptrdiff_t(j * ploidy),
                    genotypes[orders[j][b]].begin() + std::ptrdiff_t((j + 1) * ploidy));
                std::int64_t shared = 0;
                for (const std::int32_t allele : first) {
                    for (std::int32_t& other : second) {
                        if (other == allele) {
                            other = -1;
                            ++shared;
                            break;
                        }
                    }
                }
                distance += std::int64_t(ploidy) - shared;
            }
            total += distance * distance;
        }
    }
    return total;
}

TEST(Linkage, GivesTheSumsAndIndicesWorkedByHandOnFourSamples) {
    // Copies apart per pair (12, 13, 14, 23, 24, 34):
    //   locus 1: 0 1 2 1 2 1   S1 = 7, S2 = 11
    //   locus 2: 0 2 2 2 2 0   S1 = 8, S2 = 16
    //   locus 3: 1 0 2 1 1 2   S1 = 7, S2 = 11
    //   D:       1 3 6 4 5 3   S1 = 22, S2 = 96
    const LinkageSamples samples = fourSamples();
    const psex::AssociationSums& sums = samples.sums();
    EXPECT_EQ(6u, sums.pairs);
    EXPECT_EQ((std::vector<LinkageInteger>{7, 8, 7}), sums.locusSum);
    EXPECT_EQ((std::vector<LinkageInteger>{11, 16, 11}), sums.locusSquareSum);
    EXPECT_TRUE(sums.sum == 22);
    EXPECT_TRUE(sums.squareSum == 96);

    // Nj = 6 S2_j - S1_j^2 = 17, 32, 17 (sum 66); N_D = 6 96 - 22^2 = 92.
    // I_A = 92 / 66 - 1 = 13/33.  rbarD = (92 - 66) / 36 over 2 (sqrt(17 32)
    // + 17 + sqrt(32 17)) / 36 = 13 / (17 + 8 sqrt(34)).
    const psex::AssociationIndices indices = psex::associationIndices(sums);
    ASSERT_TRUE(indices.ia && indices.rbarD);
    EXPECT_DOUBLE_EQ(13.0 / 33.0, *indices.ia);
    EXPECT_DOUBLE_EQ(13.0 / (17.0 + 8.0 * std::sqrt(34.0)), *indices.rbarD);
}

TEST(Linkage, IsUndefinedWithoutTwoSamplesOrTwoVaryingLoci) {
    EXPECT_FALSE(psex::associationIndices(samplesOf({k_four[0]}, 2, 3).sums()).ia);
    EXPECT_FALSE(psex::associationIndices(samplesOf({}, 2, 3).sums()).rbarD);
    // Only the first locus varies.
    const LinkageSamples oneVarying = samplesOf({{1, 1, 5, 5}, {1, 2, 5, 5}, {2, 2, 5, 5}}, 2, 2);
    EXPECT_FALSE(psex::associationIndices(oneVarying.sums()).ia);
    EXPECT_FALSE(psex::associationIndices(oneVarying.sums()).rbarD);
}

TEST(Linkage, CountsAShuffledTableByFeaturesAndByPairsAlike) {
    // Locus 3 reversed: the samples carry 22, 11, 12, 11 there; its copies
    // apart become 2 1 2 1 0 1, D = 2 4 6 4 4 2, S2 = 92.
    Orders orders = identity(3, 4);
    orders[2] = {3, 2, 1, 0};
    const LinkageSamples samples = fourSamples();
    EXPECT_TRUE(samples.squareSumByFeatures(orders) == 92);
    EXPECT_TRUE(samples.squareSumByPairs(orders) == 92);

    // Random tables, haploid and diploid, with few and many alleles (the
    // last beyond the feature table, counted by sorting).
    std::mt19937 random(7);
    struct Shape {
        std::int32_t ploidy;
        std::uint32_t loci, samples, alleles;
    };
    for (const Shape shape :
         {Shape{1, 4, 30, 3}, Shape{2, 5, 40, 4}, Shape{2, 3, 25, 60}, Shape{1, 2, 2100, 100000}}) {
        std::vector<std::vector<std::int32_t>> genotypes(shape.samples);
        for (std::vector<std::int32_t>& genotype : genotypes) {
            for (std::uint32_t j = 0; j < shape.loci; ++j) {
                std::int32_t a = std::int32_t(random() % shape.alleles);
                std::int32_t b = std::int32_t(random() % shape.alleles);
                genotype.push_back(shape.ploidy == 2 ? std::min(a, b) : a);
                if (shape.ploidy == 2) {
                    genotype.push_back(std::max(a, b));
                }
            }
        }
        const LinkageSamples data = samplesOf(genotypes, shape.ploidy, shape.loci);
        const Orders shuffled = psex::linkageShuffle(shape.loci, shape.samples, 17);
        const LinkageInteger plain =
            plainSquareSum(genotypes, std::uint32_t(shape.ploidy), shuffled);
        EXPECT_TRUE(data.squareSumByFeatures(shuffled) == plain) << shape.samples;
        EXPECT_TRUE(data.squareSumByPairs(shuffled) == plain) << shape.samples;
        EXPECT_TRUE(data.sums().squareSum == plainSquareSum(genotypes, std::uint32_t(shape.ploidy),
                                                            identity(shape.loci, shape.samples)));
    }
}

TEST(Linkage, ShufflesEachLocusByFisherYatesFromItsOwnStream) {
    // Draws from "psex ld " at position 5: state = seed + 5 gamma.
    std::uint64_t state = 0x70736578206C6420ull + 5 * 0x9E3779B97F4A7C15ull;
    EXPECT_EQ(psex::k_linkageSeed, 0x70736578206C6420ull); // the bytes of "psex ld "
    Orders expected = identity(2, 3);
    for (std::vector<std::uint32_t>& order : expected) {
        for (std::uint32_t i = 2; i >= 1; --i) {
            const std::uint64_t x = psex::splitmix64(state);
            __extension__ typedef unsigned __int128 Wide;
            const auto t = static_cast<std::uint32_t>((Wide(x) * (i + 1)) >> 64);
            std::swap(order[i], order[t]);
        }
    }
    EXPECT_EQ(expected, psex::linkageShuffle(2, 3, 5));
}

TEST(Linkage, CountsThePermutationsByHandAndAlikeOnAnyNumberOfThreads) {
    const std::vector<std::vector<std::int32_t>> genotypes(std::begin(k_four), std::end(k_four));
    const LinkageSamples samples = fourSamples();
    // Permutation r takes L (n - 1) = 9 draws, from 4 + 9 r.
    std::uint64_t count = 0;
    const std::uint32_t permutations = 200;
    for (std::uint32_t r = 0; r < permutations; ++r) {
        const Orders orders = psex::linkageShuffle(3, 4, 4 + 9 * std::uint64_t(r));
        count += plainSquareSum(genotypes, 2, orders) >= 96 ? 1 : 0;
    }
    // The observed table is the most associated of few: some but not all
    // shuffles reach it.
    EXPECT_LT(0u, count);
    EXPECT_GT(permutations, count);
    for (const unsigned threads : {1u, 2u, 3u}) {
        EXPECT_EQ(count, samples.countAtLeastObserved(permutations, 4, threads)) << threads;
    }
    EXPECT_EQ(0u, samples.countAtLeastObserved(0, 4, 2));
}

TEST(Linkage, AnalysesTypedSamplesAndTheFirstOfEachMLGWithStreamsInTurn) {
    // Five samples, one with a missing copy (left out), S1 and S4 one MLG.
    const psex::MLGTable table = psex::test::tableFromText(
        "PLOIDY=2\nLOCUSCOUNT=3\nSIMULATIONS=1\nMISSING=0\n\nS,a1,a2,b1,b2,c1,c2\n"
        "S1,1,1,1,1,1,1\nS2,1,1,1,1,1,2\nS3,1,2,2,2,1,1\nS4,1,1,1,1,1,1\nS5,0,2,2,2,2,2\n"
        "S6,2,2,2,2,2,2\n");
    const psex::Linkage linkage = psex::linkageAnalysis(table, 50, 2);
    EXPECT_EQ(3u, linkage.loci);
    EXPECT_EQ(50u, linkage.permutations);
    EXPECT_EQ(5u, linkage.all.samples);
    EXPECT_EQ(1u, linkage.all.leftOut);
    EXPECT_EQ(4u, linkage.cloneCorrected.samples);
    EXPECT_EQ(1u, linkage.cloneCorrected.leftOut);

    // The clone-corrected set is the four samples worked by hand, its
    // permutations after the 50 of the five: from 50 3 4 = 600.
    EXPECT_DOUBLE_EQ(13.0 / 33.0, *linkage.cloneCorrected.indices.ia);
    const LinkageSamples four = fourSamples();
    EXPECT_EQ(double(1 + four.countAtLeastObserved(50, 600, 1)) / 51.0,
              *linkage.cloneCorrected.pValue);
    ASSERT_TRUE(linkage.all.pValue);
    const std::vector<std::vector<std::int32_t>> all = {k_four[0], k_four[1], k_four[2], k_four[0],
                                                        k_four[3]};
    EXPECT_EQ(double(1 + samplesOf(all, 2, 3).countAtLeastObserved(50, 0, 1)) / 51.0,
              *linkage.all.pValue);

    // No permutations: no p-values.
    EXPECT_FALSE(psex::linkageAnalysis(table, 0, 1).all.pValue);

    // The progress counts the permutations of both sets, last all 100, and
    // does not change the result.
    std::vector<std::uint64_t> done;
    const psex::Linkage told =
        psex::linkageAnalysis(table, 50, 1, [&](std::uint64_t finished, std::uint64_t total) {
            EXPECT_EQ(100u, total);
            done.push_back(finished);
        });
    ASSERT_FALSE(done.empty());
    EXPECT_EQ(100u, done.back());
    EXPECT_TRUE(std::is_sorted(done.begin(), done.end()));
    EXPECT_EQ(linkage.all.pValue, told.all.pValue);
    EXPECT_EQ(linkage.cloneCorrected.pValue, told.cloneCorrected.pValue);
}

} // namespace
