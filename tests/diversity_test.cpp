// diversity_test.cpp                                             -*-C++-*-
#include "diversity.h"

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
        byName[figure.name] = figure.value;
    }
    return byName;
}

TEST(ClonalRichnessFigures, ListsTheBlockInItsOrder) {
    std::vector<std::string> names;
    for (const psex::Figure& figure : psex::clonalRichnessFigures({1, 2, 1})) {
        names.push_back(figure.name);
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

} // namespace
