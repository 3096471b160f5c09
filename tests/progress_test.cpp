// progress_test.cpp                                              -*-C++-*-
#include "base/progress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>
#include <string>

namespace psex {
namespace {

// A clock that shows what the test sets; every step in the tests is a
// binary fraction of a second, so the sums of time are exact.
struct FakeClock {
    double now = 100.0;
    int reads = 0;
    ProgressIndicator::Clock clock() {
        return [this] {
            ++reads;
            return now;
        };
    }
};

// What a terminal shows on the line after receiving the specified 'bytes':
// a carriage return moves to the start of the line, every other character
// is written over the one at the cursor.  Trailing blanks are dropped.
std::string visibleLine(const std::string& bytes) {
    std::string line;
    std::size_t cursor = 0;
    for (const char c : bytes) {
        if (c == '\r') {
            cursor = 0;
            continue;
        }
        if (cursor < line.size()) {
            line[cursor] = c;
        } else {
            line += c;
        }
        ++cursor;
    }
    line.erase(line.find_last_not_of(' ') + 1);
    return line;
}

std::size_t countOf(const std::string& text, char c) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), c));
}

// An indicator on a terminal, with a clock the test sets.
class OnATerminal : public ::testing::Test {
  protected:
    FakeClock time;
    std::ostringstream out;
    ProgressIndicator progress{out, true, time.clock()};
};

TEST(ProgressIndicator, WritesNothingAndReadsNoClockWhenNotATerminal) {
    FakeClock time;
    std::ostringstream out;
    {
        ProgressIndicator progress(out, false, time.clock());
        for (std::uint64_t done = 1; done <= 100; ++done) {
            time.now += 1.0; // a long run: 100 s
            progress.update(done, 100);
        }
        progress.finish();
    }
    EXPECT_EQ("", out.str());
    EXPECT_EQ(0, time.reads);
}

TEST_F(OnATerminal, StaysHiddenWhileLessThanHalfASecondHasPassed) {
    // 1000 data sets of 1/16 s each would take over a minute, but only the
    // first seven (0.4375 s) are reported here.
    for (std::uint64_t done = 1; done <= 7; ++done) {
        time.now += 0.0625;
        progress.update(done, 1000);
    }
    EXPECT_EQ("", out.str());
    EXPECT_FALSE(progress.isShown());
}

TEST(ProgressIndicator, StaysHiddenForARunOfLessThanASecond) {
    // Ten data sets of 3/32 s: 0.9375 s in all.  After six (0.5625 s) half a
    // second has passed, but the four left need 0.375 s: under a second.
    FakeClock time;
    std::ostringstream out;
    {
        ProgressIndicator progress(out, true, time.clock());
        for (std::uint64_t done = 1; done <= 10; ++done) {
            time.now += 0.09375;
            progress.update(done, 10);
        }
    }
    EXPECT_EQ("", out.str());
}

TEST_F(OnATerminal, AppearsOnceHalfASecondHasPassedOfALongerRun) {
    // 100 data sets of 1/8 s: after the fourth, 0.5 s have passed and the
    // 96 left need 96 / 8 = 12 s.
    for (std::uint64_t done = 1; done <= 3; ++done) {
        time.now += 0.125;
        progress.update(done, 100);
    }
    EXPECT_EQ("", out.str());

    time.now += 0.125;
    progress.update(4, 100);
    EXPECT_EQ("\rSimulating 4%, 12 s left\r", out.str());
    EXPECT_TRUE(progress.isShown());
}

TEST_F(OnATerminal, RedrawsAtMostTenTimesASecond) {
    // 1000 data sets of 1/32 s.  The line appears after the 16th (0.5 s);
    // after that 0.1 s have passed every fourth data set (4 / 32 = 0.125 s;
    // three make only 0.09375 s), so it is redrawn after data sets 16, 20,
    // ..., 996: (996 - 16) / 4 + 1 = 246 times.  The last data set erases
    // it.
    std::string lastDrawn;
    std::size_t draws = 0;
    for (std::uint64_t done = 1; done < 1000; ++done) {
        time.now += 0.03125;
        const std::size_t before = out.str().size();
        progress.update(done, 1000);
        if (out.str().size() != before) {
            ++draws;
            lastDrawn = out.str().substr(before);
            if (draws == 1) {
                EXPECT_EQ(16u, done);
            }
        }
    }
    EXPECT_EQ(246u, draws);
    // After data set 996 (31.125 s), 4 left at 1/32 s: 0.125 s, shown as 1 s.
    EXPECT_EQ("\rSimulating 99%, 1 s left\r", lastDrawn);

    time.now += 0.03125;
    progress.update(1000, 1000);
    EXPECT_FALSE(progress.isShown());
    EXPECT_EQ("", visibleLine(out.str()));
}

TEST_F(OnATerminal, TimesOnlyTheSimulationsOnceTwoReportsAreIn) {
    // Reading the data file and the first data set take 2 s together, every
    // further data set 1/4 s.  After the first report the estimate can only
    // be 2 s per data set (9 left: 18 s); after the second it is 1/4 s per
    // data set (8 left: 2 s).
    time.now += 2.0;
    progress.update(1, 10);
    EXPECT_EQ("Simulating 10%, 18 s left", visibleLine(out.str()));
    time.now += 0.25;
    progress.update(2, 10);
    EXPECT_EQ("Simulating 20%, 2 s left", visibleLine(out.str()));
}

TEST_F(OnATerminal, AShorterTextBlanksTheRestOfTheLongerOne) {
    // 3 data sets: the first takes 64 s (left: 2 x 64 = 128 s, "2 min 08
    // s"), the second 1 s (left: 1 s).  The terminal must then show the new
    // text alone.
    time.now += 64.0;
    progress.update(1, 3);
    EXPECT_EQ("Simulating 33%, 2 min 08 s left", visibleLine(out.str()));
    time.now += 1.0;
    progress.update(2, 3);
    EXPECT_EQ("Simulating 66%, 1 s left", visibleLine(out.str()));
}

TEST_F(OnATerminal, ErasesItsLineAndLeavesTheCursorAtItsStart) {
    time.now += 8.0;
    progress.update(1, 4); // 3 left at 8 s: 24 s
    const std::string drawn = "Simulating 25%, 24 s left";
    ASSERT_EQ("\r" + drawn + "\r", out.str());

    progress.finish();
    EXPECT_EQ("\r" + drawn + "\r\r" + std::string(drawn.size(), ' ') + "\r", out.str());
    EXPECT_FALSE(progress.isShown());

    // Erasing twice writes nothing more.
    const std::string afterFinish = out.str();
    progress.finish();
    EXPECT_EQ(afterFinish, out.str());
}

TEST_F(OnATerminal, ErasesItsLineWhenTheLastDataSetIsDone) {
    time.now += 8.0;
    progress.update(1, 2);
    ASSERT_TRUE(progress.isShown());
    time.now += 8.0;
    progress.update(2, 2);
    EXPECT_FALSE(progress.isShown());
    EXPECT_EQ("", visibleLine(out.str()));
    EXPECT_EQ(4u, countOf(out.str(), '\r')); // one drawing, one erasing
}

TEST(ProgressIndicator, ErasesItsLineWhenDestroyed) {
    FakeClock time;
    std::ostringstream out;
    {
        ProgressIndicator progress(out, true, time.clock());
        time.now += 8.0;
        progress.update(1, 4);
        ASSERT_TRUE(progress.isShown());
    }
    EXPECT_EQ("", visibleLine(out.str()));
}

TEST_F(OnATerminal, FinishWithoutDrawingWritesNothing) {
    progress.finish();
    EXPECT_EQ("", out.str());
}

TEST_F(OnATerminal, CallbackReportsToTheIndicator) {
    const SimulationProgress report = progress.callback();
    time.now += 8.0;
    report(1, 4);
    EXPECT_EQ("Simulating 25%, 24 s left", visibleLine(out.str()));
}

TEST(ProgressIndicator, FormatsDurationsRoundedUp) {
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {0.0, "0 s"},
        {0.2, "1 s"},
        {59.0, "59 s"},
        {59.5, "1 min 00 s"},
        {65.0, "1 min 05 s"},
        {3599.0, "59 min 59 s"},
        {3599.5, "1 h 00 min"},
        {3601.0, "1 h 01 min"},
        {7500.0, "2 h 05 min"},
        {-3.0, "0 s"},
        {std::numeric_limits<double>::quiet_NaN(), "0 s"},
        // capped at 1e12 s: 16666666667 min (rounded up) = 277777777 h 47 min
        {std::numeric_limits<double>::infinity(), "277777777 h 47 min"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.text, formatDuration(c.seconds)) << c.seconds;
    }
}

TEST(ProgressIndicator, FormatsTheShareDoneRoundedDown) {
    EXPECT_EQ("Simulating 0%, 12 s left", formatProgress(0, 1000, 12.0));
    EXPECT_EQ("Simulating 33%, 3 s left", formatProgress(1, 3, 3.0));
    EXPECT_EQ("Simulating 99%, 1 s left", formatProgress(999, 1000, 0.5));
    EXPECT_EQ("Simulating 100%, 0 s left", formatProgress(1000, 1000, 0.0));
    // The pairs of billions of genotypes: done * 100 does not fit 64 bits.
    const std::uint64_t pairs = std::uint64_t(1) << 62;
    EXPECT_EQ("Forming lineages 50%, 2 s left",
              formatProgress(pairs / 2, pairs, 2.0, "Forming lineages"));
    EXPECT_EQ("Forming lineages 99%, 1 s left",
              formatProgress(pairs - 1, pairs, 1.0, "Forming lineages"));
}

TEST(ProgressIndicator, NamesItsPhase) {
    FakeClock time;
    std::ostringstream out;
    ProgressIndicator progress(out, true, time.clock(), "Forming lineages");
    time.now += 0.625;
    progress.update(10, 100);
    EXPECT_EQ("\rForming lineages 10%, 6 s left\r", out.str());
}

} // namespace
} // namespace psex
