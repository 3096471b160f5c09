// diversity_test.cpp                                             -*-C++-*-
#include "model/diversity.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

namespace {

using Sizes = std::vector<std::uint32_t>;

// The figures by name, each as its value; a count must be whole.
std::map<std::string, double> figuresOf(const Sizes& sizes) {
    std::map<std::string, double> byName;
    for (const psex::Figure& figure : psex::clonalRichnessFigures(sizes)) {
        if (figure.isCount) {
            EXPECT_EQ(std::floor(figure.value), figure.value) << figure.name;
        }
        byName[figure.label] = figure.value;
    }
    return byName;
}

TEST(ClonalRichnessFigures, ListsTheBlockInItsOrder) {
    std::vector<std::string> names;
    for (const psex::Figure& figure : psex::clonalRichnessFigures({1, 2, 1})) {
        names.push_back(figure.label);
    }
    EXPECT_EQ((std::vector<std::string>{"G", "N", "R", "Pd", "Single MLGs", "Clonal MLGs"}), names);
}

TEST(ClonalRichnessFigures, GivesTheWorkedExampleFigures) {
    // Four samples in three genotypes, one of them carried twice.
    const auto figures = figuresOf({1, 2, 1});
    EXPECT_EQ(3.0, figures.at("G"));
    EXPECT_EQ(4.0, figures.at("N"));
    EXPECT_EQ(2.0 / 3.0, figures.at("R"));
    EXPECT_EQ(0.75, figures.at("Pd"));
    EXPECT_EQ(2.0, figures.at("Single MLGs"));
    EXPECT_EQ(1.0, figures.at("Clonal MLGs"));
}

TEST(ClonalRichnessFigures, CoversTheExtremesOfClonality) {
    const auto distinct = figuresOf({1, 1, 1, 1, 1});
    EXPECT_EQ(1.0, distinct.at("R"));
    EXPECT_EQ(1.0, distinct.at("Pd"));
    EXPECT_EQ(5.0, distinct.at("Single MLGs"));
    EXPECT_EQ(0.0, distinct.at("Clonal MLGs"));

    const auto oneClone = figuresOf({8});
    EXPECT_EQ(0.0, oneClone.at("R"));
    EXPECT_EQ(0.125, oneClone.at("Pd"));
    EXPECT_EQ(0.0, oneClone.at("Single MLGs"));
    EXPECT_EQ(1.0, oneClone.at("Clonal MLGs"));

    // R needs two samples, Pd one; undefined is NaN, never 0/0 wrapped.
    const auto single = figuresOf({1});
    EXPECT_TRUE(std::isnan(single.at("R")));
    EXPECT_EQ(1.0, single.at("Pd"));
    const auto none = figuresOf({});
    EXPECT_TRUE(std::isnan(none.at("R")));
    EXPECT_TRUE(std::isnan(none.at("Pd")));
    EXPECT_EQ(0.0, none.at("G"));
    EXPECT_EQ(0.0, none.at("N"));
}

// The diversity indices by name.
std::map<std::string, double> indicesOf(const Sizes& sizes) {
    std::map<std::string, double> byName;
    for (const psex::Figure& figure : psex::diversityFigures(sizes)) {
        EXPECT_FALSE(figure.isCount) << figure.name;
        byName[figure.name] = figure.value;
    }
    return byName;
}

TEST(DiversityFigures, GivesHandWorkedIndices) {
    // Eight samples in five genotypes of sizes 3, 1, 1, 2, 1 (in any order):
    // sum n(n - 1) = 8 of 56 pairs, so Simpson = 6/7; p = 3/8, 1/8 (three
    // times) and 2/8: H = 1.494175, lambda = 1/4, E5 = 3 / (e^H - 1) =
    // 0.868141, J = H / ln 5 = 0.928383.  Distinct sizes 1, 2, 3: units of
    // at least these sizes hold 8, 5 and 3 samples, so the points (0,
    // log 8), (log 2, log 5), (log 3, log 3) fall with slope -0.869668.
    const auto indices = indicesOf({3, 1, 1, 2, 1});
    EXPECT_NEAR(6.0 / 7.0, indices.at("simpson"), 1e-15);
    EXPECT_NEAR(1.4941751382893085, indices.at("shannon"), 1e-14);
    EXPECT_NEAR(0.8681410298897236, indices.at("evenness_E5"), 1e-14);
    EXPECT_NEAR(0.9283832117695865, indices.at("pielou_J"), 1e-14);
    EXPECT_NEAR(0.869668058685821, indices.at("pareto_beta"), 1e-14);
    EXPECT_EQ(indices, indicesOf({1, 2, 1, 3, 1})); // the order of units plays no part

    // Perfectly even: every index at its maximum.
    const auto even = indicesOf({2, 2, 2, 2});
    EXPECT_NEAR(1.0 - 8.0 / 56.0, even.at("simpson"), 1e-15);
    EXPECT_NEAR(std::log(4.0), even.at("shannon"), 1e-15);
    EXPECT_EQ(1.0, even.at("evenness_E5"));
    EXPECT_EQ(1.0, even.at("pielou_J"));
    EXPECT_TRUE(std::isnan(even.at("pareto_beta"))); // one distinct size
}

TEST(DiversityFigures, GivesThePublishedParetoBetaOfAMeadow) {
    // A seagrass meadow of 40 ramets: 23 genets of one ramet, one of 2, two
    // of 3, one of 4 and one of 5.  Units of at least 1, 2, 3, 4 and 5
    // ramets hold 40, 17, 15, 9 and 5 of them; the slope of log N(x) on
    // log x is the published -1.1807559416085485.  (Counting the genets
    // instead, 28, 5, 4, 2, 1, gave 1.933.)
    Sizes meadow(23, 1);
    meadow.insert(meadow.end(), {2, 3, 3, 4, 5});
    EXPECT_NEAR(1.1807559416085485, indicesOf(meadow).at("pareto_beta"), 1e-12);
    // Two sizes: the slope through two points, log(7/4) / log 2.
    EXPECT_NEAR(std::log10(7.0 / 4.0) / std::log10(2.0),
                indicesOf({2, 1, 1, 1, 2}).at("pareto_beta"), 1e-15);
}

TEST(DiversityFigures, KeepsTheEvennessIndicesWithinZeroAndOne) {
    // All samples distinct: exactly 1, however the sums round (for many N
    // lambda and H round so that the quotients come out just above 1).
    for (std::uint32_t samples = 2; samples <= 400; ++samples) {
        const auto distinct = indicesOf(Sizes(samples, 1));
        EXPECT_EQ(1.0, distinct.at("evenness_E5")) << samples;
        EXPECT_EQ(1.0, distinct.at("pielou_J")) << samples;
    }
    // Nearly even and very uneven: within the bounds.
    for (const Sizes& sizes :
         {Sizes{2, 2, 2, 3}, Sizes{1000, 1}, Sizes{1, 1, 1, 1, 2}, Sizes{100000, 1, 1}}) {
        const auto indices = indicesOf(sizes);
        for (const char* name : {"evenness_E5", "pielou_J"}) {
            EXPECT_GE(indices.at(name), 0.0) << name;
            EXPECT_LT(indices.at(name), 1.0) << name;
        }
    }
}

TEST(DiversityFigures, LeavesUndefinedIndicesUndefined) {
    // One clone: no evenness, no J, no slope; Simpson and H are 0.
    const auto clone = indicesOf({5});
    EXPECT_EQ(0.0, clone.at("simpson"));
    EXPECT_EQ(0.0, clone.at("shannon"));
    EXPECT_TRUE(std::isnan(clone.at("evenness_E5")));
    EXPECT_TRUE(std::isnan(clone.at("pielou_J")));
    EXPECT_TRUE(std::isnan(clone.at("pareto_beta")));
    // One sample, or none: nothing is defined.
    for (const Sizes& tiny : {Sizes{1}, Sizes{}}) {
        for (const auto& [name, value] : indicesOf(tiny)) {
            EXPECT_TRUE(std::isnan(value)) << name;
        }
    }
    std::vector<std::string> names;
    for (const psex::Figure& figure : psex::diversityFigures({2, 1})) {
        names.push_back(figure.name);
    }
    EXPECT_EQ(
        (std::vector<std::string>{"simpson", "shannon", "evenness_E5", "pielou_J", "pareto_beta"}),
        names);
}

} // namespace
