// contract.cpp                                                   -*-C++-*-
#include "base/contract.h"

#include <cstdio>
#include <cstdlib>

namespace psex {

void assertionFailed(const char* condition, const char* file, int line) {
    // stdio rather than iostreams: the check may fire while a stream is in
    // an odd state, and the message must get out before the abort.
    std::fprintf(stderr, "Assertion failed: %s (%s:%d)\n", condition, file, line);
    std::fflush(stderr);
    std::abort();
}

} // namespace psex
