// floor.cpp                                                      -*-C++-*-
//
// psex-floor: time the random stream alone, from Boost's generator and from
// the program's own.
//
// Every allele copy of every simulated sample costs psex one draw from a
// default-seeded lagged Fibonacci generator, and those draws form one
// sequential stream that no faster implementation may skip, reorder or
// split.  Drawing the same number of values and doing nothing else with them
// is therefore a floor: a run of psex with SIMULATIONS x N x L x ploidy
// draws cannot take less time than this program needs for that count.
//
// The program draws the very same stream from a generator of its own that
// refills its block without branches (src/laggedfibonacci.h); its floor is
// timed the same way, and the two sums must be equal to the last bit.
//
// The own generator can also jump: the time of one jump over 2^40 and over
// 2^63 - 1 numbers (best of REPEATS, each from a fresh generator) is
// printed in milliseconds.
//
// Usage: psex-floor DRAWS [REPEATS]
// Prints one line: draws=... repeats=... best_seconds=... cpu_seconds=...
// own_best_seconds=... own_cpu_seconds=... same_stream=yes|NO
// jump_ms_2_40=... jump_ms_2_63=... sum=...
// Each repetition starts from a freshly constructed generator (the stream
// psex starts with); the repetition with the best wall time is reported,
// with the processor time it took (the two differ when other programs
// compete for the processor).  The values are summed
// and the sum printed, so the compiler cannot drop the draws; the sum runs
// in four independent lanes, so that the latency of one long chain of
// additions does not slow the loop down beyond the generator itself.

#include "simulation/laggedfibonacci.h"

#include <boost/random/lagged_fibonacci.hpp>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

// Store the number in the specified 'text' in 'count' and return true, or
// return false when 'text' is not a positive decimal count.
bool parseCount(const char* text, std::uint64_t& count) {
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0' || text[0] == '-' || value == 0) {
        return false;
    }
    count = value;
    return true;
}

struct Measurement {
    double seconds;
    double cpuSeconds;
    double sum;
};

template <class GENERATOR>
Measurement drawAll(std::uint64_t draws) {
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    GENERATOR generator; // default seed, as in psex
    double lanes[4] = {0.0, 0.0, 0.0, 0.0};
    std::uint64_t i = 0;
    for (; i + 4 <= draws; i += 4) {
        lanes[0] += generator();
        lanes[1] += generator();
        lanes[2] += generator();
        lanes[3] += generator();
    }
    for (; i < draws; ++i) {
        lanes[0] += generator();
    }
    const std::clock_t cpuStop = std::clock();
    const auto stop = std::chrono::steady_clock::now();
    return {std::chrono::duration<double>(stop - start).count(),
            static_cast<double>(cpuStop - cpuStart) / CLOCKS_PER_SEC,
            (lanes[0] + lanes[1]) + (lanes[2] + lanes[3])};
}

// The best time of 'repeats' jumps over 'count' numbers, in milliseconds.
double jumpMilliseconds(std::uint64_t count, std::uint64_t repeats) {
    double best = 0.0;
    for (std::uint64_t r = 0; r < repeats; ++r) {
        psex::LaggedFibonacci607 generator;
        const auto start = std::chrono::steady_clock::now();
        generator.discard(count - r); // another distance each time
        const auto stop = std::chrono::steady_clock::now();
        const double milliseconds = std::chrono::duration<double, std::milli>(stop - start).count();
        if (r == 0 || milliseconds < best) {
            best = milliseconds;
        }
    }
    return best;
}

} // namespace

int main(int argc, char* argv[]) {
    std::uint64_t draws = 0;
    std::uint64_t repeats = 1;
    if (argc < 2 || argc > 3 || !parseCount(argv[1], draws) ||
        (argc == 3 && !parseCount(argv[2], repeats))) {
        std::fprintf(stderr, "usage: psex-floor DRAWS [REPEATS]  (positive counts)\n");
        return 2;
    }
    Measurement best = drawAll<boost::random::lagged_fibonacci607>(draws);
    Measurement own = drawAll<psex::LaggedFibonacci607>(draws);
    for (std::uint64_t r = 1; r < repeats; ++r) {
        const Measurement next = drawAll<boost::random::lagged_fibonacci607>(draws);
        if (next.seconds < best.seconds) {
            best = next;
        }
        const Measurement nextOwn = drawAll<psex::LaggedFibonacci607>(draws);
        if (nextOwn.seconds < own.seconds) {
            own = nextOwn;
        }
    }
    const double jump40 = jumpMilliseconds(std::uint64_t(1) << 40, repeats);
    const double jump63 = jumpMilliseconds(~std::uint64_t(0) >> 1, repeats);
    std::printf("draws=%llu repeats=%llu best_seconds=%.6f cpu_seconds=%.6f own_best_seconds=%.6f "
                "own_cpu_seconds=%.6f same_stream=%s jump_ms_2_40=%.3f jump_ms_2_63=%.3f "
                "sum=%.17g\n",
                static_cast<unsigned long long>(draws), static_cast<unsigned long long>(repeats),
                best.seconds, best.cpuSeconds, own.seconds, own.cpuSeconds,
                best.sum == own.sum ? "yes" : "NO", jump40, jump63, best.sum);
    return best.sum == own.sum ? 0 : 1;
}
