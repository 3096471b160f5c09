// parallelrun_test.cpp                                           -*-C++-*-
#include "simulation/parallelrun.h"

#include "collectedmessages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <new>
#include <set>
#include <sstream>
#include <thread>

namespace {

using psex::LaggedFibonacci607;
using psex::test::CollectedMessages;

struct Outcome {
    std::string out;
    std::string err;
    std::vector<std::uint64_t> progress;
    LaggedFibonacci607 generator;
    std::set<unsigned> threads; // the thread numbers that made a task
};

// Run 'count' data sets of 'drawsEach' draws on 'threads' threads.  A data
// set's messages depend on its numbers: it writes one line for each of its
// first three numbers below 0.3 (numbers below 0.1 on the output channel),
// so they differ from one data set to the next and many write none.
Outcome run(std::uint64_t count, std::uint64_t drawsEach, unsigned threads) {
    Outcome outcome;
    CollectedMessages messages;
    const std::thread::id caller = std::this_thread::get_id();
    std::mutex mutex;
    psex::runDataSets(
        count, drawsEach, outcome.generator, threads,
        [&](unsigned thread) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                outcome.threads.insert(thread);
            }
            return psex::DataSetTask(
                [drawsEach](LaggedFibonacci607& draws, psex::MessageSink& sink) {
                    int written = 0;
                    for (std::uint64_t i = 0; i < drawsEach; ++i) {
                        const double u = draws();
                        if (u < 0.3 && written < 3) {
                            ++written;
                            std::ostringstream line;
                            line.precision(17);
                            line << "draw " << i << ": " << u;
                            if (u < 0.1) {
                                sink.output(line.str());
                            } else {
                                sink.error(line.str());
                            }
                        }
                    }
                });
        },
        messages,
        [&](std::uint64_t done, std::uint64_t total) {
            EXPECT_EQ(caller, std::this_thread::get_id());
            outcome.progress.push_back(done * 100000 + total);
        });
    outcome.out = messages.output();
    outcome.err = messages.error();
    return outcome;
}

TEST(RunDataSets, GivesTheMessagesProgressAndStateOfOneThread) {
    // Data sets of 1, 5, 2000 and 10^6 draws (chunks of one data set up to
    // hundreds of them), counts that do not divide into the chunks.
    for (const auto& [count, drawsEach] : std::vector<std::pair<std::uint64_t, std::uint64_t>>{
             {1, 5}, {37, 1}, {101, 5}, {250, 2000}, {13, 1000000}}) {
        const Outcome sequential = run(count, drawsEach, 1);
        LaggedFibonacci607 expected;
        expected.drawThrough(count * drawsEach);
        EXPECT_TRUE(expected == sequential.generator);
        ASSERT_EQ(count, sequential.progress.size());
        EXPECT_EQ(100000 + count, sequential.progress.front());
        EXPECT_EQ(count * 100000 + count, sequential.progress.back());
        if (count * drawsEach > 30) { // the comparisons below have messages to compare
            EXPECT_FALSE(sequential.out.empty());
            EXPECT_FALSE(sequential.err.empty());
        }
        EXPECT_EQ(std::set<unsigned>{0}, sequential.threads);
        for (const unsigned threads : {2u, 3u, 8u}) {
            const Outcome parallel = run(count, drawsEach, threads);
            const std::string what = std::to_string(count) + " x " + std::to_string(drawsEach) +
                                     " on " + std::to_string(threads);
            EXPECT_EQ(sequential.out, parallel.out) << what;
            EXPECT_EQ(sequential.err, parallel.err) << what;
            EXPECT_EQ(sequential.progress, parallel.progress) << what;
            EXPECT_TRUE(sequential.generator == parallel.generator) << what;
            EXPECT_LE(parallel.threads.size(), threads) << what;
        }
    }
    // Enough data sets to share: the other threads take part.
    EXPECT_EQ((std::set<unsigned>{0, 1, 2}), run(250, 2000, 3).threads);
}

TEST(RunDataSets, ThrowsAFailureOfAnyThreadOnTheCallingThread) {
    // An allocation that fails in a simulation thread must not end the
    // process (an exception that leaves a thread does): every thread stops,
    // and the caller gets the exception, whichever thread met it.
    for (const unsigned threads : {1u, 2u, 4u}) {
        for (const std::uint64_t failing : {0ull, 77ull, 249ull}) {
            LaggedFibonacci607 generator;
            CollectedMessages messages;
            std::atomic<std::uint64_t> started{0};
            const auto makeTask = [&](unsigned) {
                return psex::DataSetTask([&](LaggedFibonacci607& draws, psex::MessageSink&) {
                    const std::uint64_t seen = started++;
                    for (int i = 0; i < 2000; ++i) {
                        draws();
                    }
                    if (seen == failing) {
                        throw std::bad_alloc();
                    }
                });
            };
            EXPECT_THROW(psex::runDataSets(250, 2000, generator, threads, makeTask, messages),
                         std::bad_alloc)
                << threads << " threads, failing at " << failing;
            EXPECT_LT(started.load(), 250u + threads) << threads;
        }
    }
}

TEST(RunDataSets, RunsDataSetsWithoutDraws) {
    // No loci: every data set takes no number, and the stream stays put.
    const Outcome outcome = run(50, 0, 4);
    EXPECT_TRUE(LaggedFibonacci607() == outcome.generator);
    EXPECT_EQ(50u, outcome.progress.size());
    EXPECT_EQ("", outcome.out + outcome.err);
}

} // namespace
