// psexlist_test.cpp                                              -*-C++-*-
#include "model/psexlist.h"

#include <gtest/gtest.h>

namespace {

using psex::PsexList;
using Runs = std::vector<std::pair<double, std::uint64_t>>;

TEST(PsexList, KeepsRepeatedValuesAsRuns) {
    const PsexList list({0.1, 0.1, 0.2, 0.5, 0.5, 0.5});
    EXPECT_EQ(6u, list.size());
    EXPECT_FALSE(list.empty());
    EXPECT_EQ((Runs{{0.1, 2}, {0.2, 1}, {0.5, 3}}), list.runs());
    EXPECT_EQ((std::vector<double>{0.1, 0.1, 0.2, 0.5, 0.5, 0.5}), list.values());
    EXPECT_EQ(list, PsexList::fromRuns({{0.1, 2}, {0.2, 1}, {0.5, 3}}));
}

TEST(PsexList, FindsEntriesByRankAndCountsValuesBelow) {
    const PsexList list = PsexList::fromRuns({{0.0, 1}, {0.25, 2}, {1.0, 4000000000ull}});
    EXPECT_EQ(4000000003ull, list.size());
    EXPECT_EQ(0.0, list.at(0));
    EXPECT_EQ(0.25, list.at(1));
    EXPECT_EQ(0.25, list.at(2));
    EXPECT_EQ(1.0, list.at(3));
    EXPECT_EQ(1.0, list.at(4000000002ull));
    EXPECT_EQ(0u, list.countBelow(0.0));
    EXPECT_EQ(1u, list.countBelow(0.25));
    EXPECT_EQ(3u, list.countBelow(0.5));
    EXPECT_EQ(3u, list.countBelow(1.0));
    EXPECT_EQ(4000000003ull, list.countBelow(2.0));
}

TEST(PsexList, StartsEmpty) {
    const PsexList list;
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(0u, list.size());
    EXPECT_EQ(0u, list.countBelow(0.5));
    EXPECT_TRUE(list.values().empty());
    EXPECT_EQ(list, PsexList(std::vector<double>()));
}

TEST(PsexListDeathTest, ChecksItsPreconditions) {
    EXPECT_DEATH(PsexList({0.2, 0.1}), "is_sorted");
    EXPECT_DEATH(PsexList::fromRuns({{0.2, 1}, {0.1, 1}}), "back\\(\\) < run.first");
    EXPECT_DEATH(PsexList::fromRuns({{0.2, 0}}), "run.second > 0");
    EXPECT_DEATH(PsexList({0.1}).at(1), "index < size\\(\\)");
}

} // namespace
