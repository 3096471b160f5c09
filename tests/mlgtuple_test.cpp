// mlgtuple_test.cpp                                              -*-C++-*-
#include "model/mlgtuple.h"

#include <gtest/gtest.h>

namespace {

using psex::MLGTuple;

MLGTuple diploid(std::vector<std::int32_t> alleles) {
    MLGTuple tuple(2, static_cast<std::uint32_t>(alleles.size() / 2));
    for (std::size_t i = 0; i < alleles.size(); ++i) {
        tuple.alleleAt(i) = alleles[i];
    }
    return tuple;
}

TEST(MLGTuple, StartsWithZeroAllelesAndNoSamples) {
    MLGTuple tuple(2, 3);
    EXPECT_EQ(std::vector<std::int32_t>(6, 0), tuple.alleles());
    EXPECT_EQ(0u, tuple.sampleCount());
    EXPECT_EQ(0.0, tuple.psex());
    EXPECT_EQ(0.0, tuple.pgen());
    EXPECT_EQ(0.0, tuple.pvalue());
}

TEST(MLGTuple, StoresAllelesLocusMajor) {
    MLGTuple tuple(2, 2);
    tuple.setAllele(0, 0, 12);
    tuple.setAllele(0, 1, 14);
    tuple.setAllele(1, 1, 9);
    EXPECT_EQ((std::vector<std::int32_t>{12, 14, 0, 9}), tuple.alleles());
    EXPECT_EQ(9, tuple.allele(1, 1));
    EXPECT_EQ(14, tuple.allele(0, 1));
}

TEST(MLGTuple, ComparesAllelesInColumnOrderAsSignedValues) {
    EXPECT_TRUE(diploid({12, 14}) == diploid({12, 14}));
    EXPECT_FALSE(diploid({12, 14}) == diploid({14, 12})); // no sorting within a locus
    EXPECT_TRUE(diploid({12, 14}) < diploid({14, 12}));
    EXPECT_TRUE(diploid({-1, 5}) < diploid({0, 0}));
    EXPECT_FALSE(diploid({3, 3}) < diploid({3, 3}));
    EXPECT_TRUE(diploid({1, 2, 3, 4}) < diploid({1, 2, 3, 5}));

    MLGTuple named = diploid({1, 2});
    named.addSampleName("a");
    named.setPsex(0.5);
    EXPECT_TRUE(named == diploid({1, 2})); // names and probabilities play no part
}

TEST(MLGTuple, AppendsSampleNamesInOrder) {
    MLGTuple first = diploid({1, 2});
    first.addSampleName("a");
    MLGTuple second = diploid({1, 2});
    second.addSampleName("b");
    second.addSampleName("a");
    first.addSamples(second);
    EXPECT_EQ((std::vector<std::string>{"a", "b", "a"}), first.sampleNames());
    EXPECT_EQ(3u, first.sampleCount());
}

TEST(MLGTupleDeathTest, ChecksIndicesAndSizes) {
    MLGTuple tuple(2, 2);
    EXPECT_DEATH(tuple.alleleAt(4), "index < d_alleles.size\\(\\)");
    EXPECT_DEATH(tuple.allele(0, 2), "alleleIndex < d_ploidy");
    EXPECT_DEATH(tuple.allele(2, 0), "index < d_alleles.size\\(\\)");
    EXPECT_DEATH(tuple.setAllele(0, 2, 1), "alleleIndex < d_ploidy");
    EXPECT_DEATH((void)(tuple == MLGTuple(2, 1)),
                 "other.d_alleles.size\\(\\) == d_alleles.size\\(\\)");
    EXPECT_DEATH((void)(tuple < MLGTuple(1, 2)),
                 "other.d_alleles.size\\(\\) == d_alleles.size\\(\\)");
}

} // namespace
