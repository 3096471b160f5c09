// messagesink_test.cpp                                           -*-C++-*-
#include "base/messagesink.h"

#include "groupinglocale.h"

#include <gtest/gtest.h>

#include <limits>
#include <locale>
#include <sstream>
#include <streambuf>

namespace {

using psex::MessageSink;

// A stream buffer that counts the flushes it sees.
class CountingBuffer : public std::stringbuf {
  public:
    int d_flushes = 0;

  protected:
    int sync() override {
        ++d_flushes;
        return std::stringbuf::sync();
    }
};

TEST(MessageSink, WritesWholeFlushedLinesToTheirChannel) {
    CountingBuffer outputBuffer;
    CountingBuffer errorBuffer;
    std::ostream output(&outputBuffer);
    std::ostream error(&errorBuffer);
    MessageSink messages(output, error);
    messages.output("Reading file a.txt");
    messages.error("error: PLOIDY is unspecified, assuming DIPLOID.");
    messages.output(std::string("nul\0byte", 8));
    EXPECT_EQ(std::string("Reading file a.txt\nnul\0byte\n", 28), outputBuffer.str());
    EXPECT_EQ("error: PLOIDY is unspecified, assuming DIPLOID.\n", errorBuffer.str());
    // A line reaches a terminal at once, not when the buffer fills.
    EXPECT_EQ(2, outputBuffer.d_flushes);
    EXPECT_EQ(1, errorBuffer.d_flushes);
    EXPECT_EQ(&error, &messages.errorStream());
}

TEST(MessageSink, TellsWhetherTheOutputChannelFailed) {
    std::ostringstream output;
    std::ostringstream error;
    MessageSink messages(output, error);
    messages.output("fine");
    EXPECT_FALSE(messages.outputFailed());
    output.setstate(std::ios::badbit); // as a write to a full disk leaves it
    EXPECT_TRUE(messages.outputFailed());
}

TEST(MessageSink, FormatsNumbersInTheClassicLocaleWhateverTheGlobalOne) {
    {
        const psex::test::GroupingLocale grouping;
        std::ostringstream grouped;
        grouped << 1234567 << ' ' << 0.5; // the trap: a stream made now groups
        ASSERT_EQ("1.234.567 0,5", grouped.str());
        EXPECT_EQ("1.0000002", psex::formatNumber(1.0000002, 12));
        EXPECT_EQ("1234567.5", psex::formatNumber(1234567.5, 12));
        EXPECT_EQ("1.23457e+06", psex::formatNumber(1234567.5, 6));
        EXPECT_EQ("0.1", psex::formatNumber(0.1, 6));
    }
    EXPECT_EQ("inf", psex::formatNumber(std::numeric_limits<double>::infinity(), 6));
}

} // namespace
