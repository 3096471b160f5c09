// steppingclock.cpp                                              -*-C++-*-
//
// A stand-in for the C library's 'clock_gettime', loaded before it
// (LD_PRELOAD) by the end-to-end test of the progress indicator, so that
// what the indicator shows depends on the work done and not on how fast the
// machine is or how busy it is.  When the environment sets
// PSEX_TEST_CLOCK_STEP (in seconds), every reading of the monotonic clock
// returns the time of the first reading plus that step for each reading
// since: time is counted in readings rather than measured.  Other clocks,
// and every clock when the variable is not set, are read as usual.

#include <dlfcn.h>
#include <stdlib.h>
#include <time.h>

#include <atomic>
#include <cmath>

namespace {

using ClockGetTime = int (*)(clockid_t, struct timespec*);

ClockGetTime realClock() {
    static const ClockGetTime real =
        reinterpret_cast<ClockGetTime>(dlsym(RTLD_NEXT, "clock_gettime"));
    return real;
}

// The step in nanoseconds; 0 when the variable is not set or not a
// positive number.
long long stepNanoseconds() {
    static const long long step = [] {
        const char* text = getenv("PSEX_TEST_CLOCK_STEP");
        const double seconds = text != nullptr ? strtod(text, nullptr) : 0.0;
        return seconds > 0.0 && seconds < 1e6 ? std::llround(seconds * 1e9) : 0LL;
    }();
    return step;
}

} // namespace

extern "C" int clock_gettime(clockid_t clock, struct timespec* time) {
    const long long step = stepNanoseconds();
    if (clock != CLOCK_MONOTONIC || step == 0) {
        return realClock()(clock, time);
    }
    static const long long origin = [] {
        struct timespec now {};
        realClock()(CLOCK_MONOTONIC, &now);
        return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
    }();
    static std::atomic<long long> readings{0};
    const long long at = origin + step * readings.fetch_add(1);
    time->tv_sec = static_cast<time_t>(at / 1000000000LL);
    time->tv_nsec = static_cast<long>(at % 1000000000LL);
    return 0;
}
