// capture.h                                                      -*-C++-*-
#ifndef PSEX_TESTS_CAPTURE_H
#define PSEX_TESTS_CAPTURE_H

// Purpose: collect what the code under test writes to standard output and
// standard error, for tests that check its messages.

#include <iostream>
#include <sstream>
#include <string>

namespace psex::test {

class CapturedOutput {
    // Redirects 'std::cout' and 'std::cerr' while it lives.

    // DATA
    std::ostringstream d_out;
    std::ostringstream d_err;
    std::streambuf* d_savedOut;
    std::streambuf* d_savedErr;

  public:
    // CREATORS
    CapturedOutput()
        : d_savedOut(std::cout.rdbuf(d_out.rdbuf())), d_savedErr(std::cerr.rdbuf(d_err.rdbuf())) {}
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;
    ~CapturedOutput() {
        std::cout.rdbuf(d_savedOut);
        std::cerr.rdbuf(d_savedErr);
    }

    // ACCESSORS
    std::string out() const { return d_out.str(); }
    std::string err() const { return d_err.str(); }
};

} // namespace psex::test

#endif
