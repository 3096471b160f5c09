// threads_test.cpp                                               -*-C++-*-
#include "base/threads.h"

#include "base/threadcount.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

namespace {

using psex::runOnThreads;

// What the threads of one run did: the thread each index ran on.
class Seen {
    std::mutex d_mutex;
    std::map<unsigned, std::thread::id> d_threadOfIndex;
    unsigned d_repeated = 0; // indices that ran more than once

  public:
    void ran(unsigned index) {
        const std::lock_guard<std::mutex> lock(d_mutex);
        d_repeated += d_threadOfIndex.count(index);
        d_threadOfIndex[index] = std::this_thread::get_id();
    }

    std::set<unsigned> indices() const {
        std::set<unsigned> indices;
        for (const auto& [index, id] : d_threadOfIndex) {
            indices.insert(index);
        }
        return indices;
    }

    std::size_t distinctThreads() const {
        std::set<std::thread::id> ids;
        for (const auto& [index, id] : d_threadOfIndex) {
            ids.insert(id);
        }
        return ids.size();
    }

    std::thread::id threadOf(unsigned index) const { return d_threadOfIndex.at(index); }
    unsigned repeated() const { return d_repeated; }
};

// Work that is taken piece by piece, as the simulations and the lineages
// take theirs: every piece must be done once, whoever does it.
struct Pieces {
    static constexpr unsigned k_count = 1000;
    std::atomic<unsigned> next{0};
    std::atomic<unsigned> done{0};

    void takeUntilNoneIsLeft() {
        while (next++ < k_count) {
            ++done;
        }
    }
};

TEST(RunOnThreads, RunsEveryIndexOnceTheCallersAsZero) {
    for (const unsigned threads : {1u, 2u, 4u, 7u}) {
        Seen seen;
        Pieces pieces;
        unsigned starts = 0; // on the calling thread only
        const unsigned ran = runOnThreads(
            threads,
            [&](unsigned thread) {
                seen.ran(thread);
                pieces.takeUntilNoneIsLeft();
            },
            {}, [&](unsigned) { ++starts; });
        EXPECT_EQ(threads, ran);
        EXPECT_EQ(threads - 1, starts);
        std::set<unsigned> expected;
        for (unsigned t = 0; t < threads; ++t) {
            expected.insert(t);
        }
        EXPECT_EQ(expected, seen.indices()) << threads;
        EXPECT_EQ(0u, seen.repeated()) << threads;
        EXPECT_EQ(threads, seen.distinctThreads()) << threads;
        EXPECT_EQ(std::this_thread::get_id(), seen.threadOf(0)) << threads;
        EXPECT_EQ(Pieces::k_count, pieces.done.load()) << threads;
    }
}

TEST(RunOnThreads, TakesTheCoresTheProcessMayUseWhenNoNumberIsAskedFor) {
    const unsigned cores = std::min(psex::availableCores(), psex::k_maxThreads);
    EXPECT_EQ(cores, psex::defaultThreadCount());
    EXPECT_EQ(cores, psex::threadCountOrDefault(0));
    EXPECT_EQ(3u, psex::threadCountOrDefault(3));
    EXPECT_EQ(psex::k_maxThreads, psex::threadCountOrDefault(psex::k_maxThreads + 1));

    Seen seen;
    EXPECT_EQ(cores, runOnThreads(0, [&](unsigned thread) { seen.ran(thread); }));
    EXPECT_EQ(cores, seen.indices().size());
}

TEST(RunOnThreads, GoesOnWithFewerThreadsWhenOneCannotBeStarted) {
    // The system's refusals: no thread to be had, no memory for one.  The
    // threads started before the refusal do all the work; none is started
    // after it (the system has just said it has no more).
    const struct {
        const char* what;
        unsigned refused;
        std::function<void()> refuse;
    } k_refusals[] = {
        {"no thread", 2, [] { throw std::system_error(EAGAIN, std::generic_category()); }},
        {"no memory", 1, [] { throw std::bad_alloc(); }},
    };
    for (const auto& refusal : k_refusals) {
        Seen seen;
        Pieces pieces;
        const unsigned ran = runOnThreads(
            4,
            [&](unsigned thread) {
                seen.ran(thread);
                pieces.takeUntilNoneIsLeft();
            },
            {},
            [&](unsigned thread) {
                if (thread == refusal.refused) { // a later one would start
                    refusal.refuse();
                }
            });
        EXPECT_EQ(refusal.refused, ran) << refusal.what;
        EXPECT_EQ(refusal.refused, seen.indices().size()) << refusal.what;
        EXPECT_EQ(Pieces::k_count, pieces.done.load()) << refusal.what;
    }
}

TEST(RunOnThreads, StopsEveryThreadAndThrowsTheFailureOnTheCallingThread) {
    // Whichever thread fails (the calling one too), the others are told to
    // stop, every one has ended when the caller gets the exception, and the
    // process goes on.  The others wait for the stop: without it they
    // would never end.
    for (const unsigned failing : {0u, 1u, 3u}) {
        std::atomic<bool> stopped{false};
        std::atomic<unsigned> stops{0};
        std::atomic<unsigned> ended{0};
        try {
            runOnThreads(
                4,
                [&](unsigned thread) {
                    if (thread == failing) {
                        throw std::runtime_error("thread " + std::to_string(thread));
                    }
                    while (!stopped) {
                        std::this_thread::yield();
                    }
                    ++ended;
                },
                [&] {
                    ++stops;
                    stopped = true;
                });
            ADD_FAILURE() << "nothing thrown, thread " << failing;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ("thread " + std::to_string(failing), e.what());
        }
        EXPECT_EQ(1u, stops.load()) << failing;
        EXPECT_EQ(3u, ended.load()) << failing;
    }
}

TEST(RunOnThreads, ThrowsTheFirstOfSeveralFailures) {
    // Thread 1 fails first; the others fail only once told to stop.
    std::atomic<bool> stopped{false};
    std::atomic<unsigned> stops{0};
    try {
        runOnThreads(
            3,
            [&](unsigned thread) {
                if (thread != 1) {
                    while (!stopped) {
                        std::this_thread::yield();
                    }
                }
                throw std::runtime_error("thread " + std::to_string(thread));
            },
            [&] {
                ++stops;
                stopped = true;
            });
        ADD_FAILURE() << "nothing thrown";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string("thread 1"), e.what());
    }
    EXPECT_EQ(1u, stops.load());
}

} // namespace
