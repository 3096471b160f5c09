// threadcount.cpp                                                -*-C++-*-
#include "base/threadcount.h"

#include <sched.h>

#include <cstdlib>
#include <thread>

namespace psex {

std::optional<unsigned> parseThreadCount(const std::string& text) {
    if (text.empty() || text.size() > 12) {
        return std::nullopt;
    }
    unsigned long long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0) {
        return std::nullopt;
    }
    return value > k_maxThreads ? k_maxThreads : static_cast<unsigned>(value);
}

unsigned availableCores() {
    cpu_set_t cores;
    CPU_ZERO(&cores);
    if (::sched_getaffinity(0, sizeof cores, &cores) == 0) {
        const int count = CPU_COUNT(&cores);
        if (count > 0) {
            return static_cast<unsigned>(count);
        }
    }
    const unsigned online = std::thread::hardware_concurrency();
    return online > 0 ? online : 1;
}

unsigned defaultThreadCount() {
    const unsigned cores = availableCores();
    return cores > k_maxThreads ? k_maxThreads : cores;
}

unsigned simulationThreads() {
    const char* text = std::getenv("PSEX_THREADS");
    if (text != nullptr) {
        if (const auto count = parseThreadCount(text)) {
            return *count;
        }
    }
    return defaultThreadCount();
}

} // namespace psex
