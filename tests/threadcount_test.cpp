// threadcount_test.cpp                                           -*-C++-*-
#include "base/threadcount.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <optional>
#include <string>

namespace {

TEST(ThreadCount, ReadsWholeNumbersFromOneUpAndIgnoresTheRest) {
    EXPECT_EQ(1u, psex::parseThreadCount("1"));
    EXPECT_EQ(3u, psex::parseThreadCount("3"));
    EXPECT_EQ(12u, psex::parseThreadCount("012"));
    EXPECT_EQ(psex::k_maxThreads, psex::parseThreadCount("256"));
    EXPECT_EQ(psex::k_maxThreads, psex::parseThreadCount("100000"));
    for (const std::string text :
         {"", "0", "-2", "+2", " 2", "2 ", "2x", "two", "1.5", "99999999999999999999"}) {
        EXPECT_EQ(std::nullopt, psex::parseThreadCount(text)) << '"' << text << '"';
    }
}

TEST(ThreadCount, TakesPsexThreadsOrElseTheCoresThisProcessMayUse) {
    const unsigned cores = psex::availableCores();
    EXPECT_GE(cores, 1u);
    ::setenv("PSEX_THREADS", "3", 1);
    EXPECT_EQ(3u, psex::simulationThreads());
    ::setenv("PSEX_THREADS", "none", 1);
    EXPECT_EQ(std::min(cores, psex::k_maxThreads), psex::simulationThreads());
    ::unsetenv("PSEX_THREADS");
    EXPECT_EQ(std::min(cores, psex::k_maxThreads), psex::simulationThreads());
}

} // namespace
