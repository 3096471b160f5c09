// threads.cpp                                                    -*-C++-*-
#include "base/threads.h"

#include "base/threadcount.h"

#include <exception>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace psex {

unsigned threadCountOrDefault(unsigned threads) {
    if (threads == 0) {
        return defaultThreadCount();
    }
    return threads > k_maxThreads ? k_maxThreads : threads;
}

unsigned runOnThreads(unsigned threads, const ThreadWork& work,
                      const std::function<void()>& stopOthers,
                      const std::function<void(unsigned thread)>& starting) {
    threads = threadCountOrDefault(threads);
    std::mutex failureMutex;
    std::exception_ptr failure;
    // Run the work of one thread; nothing may leave it.
    const auto guarded = [&](unsigned thread) noexcept {
        try {
            work(thread);
        } catch (...) {
            bool first = false;
            {
                const std::lock_guard<std::mutex> lock(failureMutex);
                if (!failure) {
                    failure = std::current_exception();
                    first = true;
                }
            }
            if (first && stopOthers) {
                stopOthers();
            }
        }
    };

    std::vector<std::thread> started;
    try {
        started.reserve(threads - 1); // starting a thread then never moves the others
    } catch (const std::bad_alloc&) {
        threads = 1; // no room even to keep track of threads: the caller alone
    }
    for (unsigned t = 1; t < threads; ++t) {
        try {
            if (starting) {
                starting(t);
            }
            started.emplace_back(guarded, t);
        } catch (...) {
            break; // std::system_error or std::bad_alloc: the others take its share
        }
    }
    guarded(0);
    for (std::thread& thread : started) {
        thread.join();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    return static_cast<unsigned>(started.size()) + 1;
}

} // namespace psex
