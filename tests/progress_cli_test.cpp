// progress_cli_test.cpp                                          -*-C++-*-
//
// End-to-end test of the progress indicator: run the built program on a
// data file whose simulations take a couple of seconds, once with standard
// error on a pseudo-terminal and once with it in a file.  On the terminal
// the indicator must appear and be erased again; in the file nothing of it
// may appear; standard output and the result files must be the same byte
// for byte.
//
// How long the simulations take depends on the machine and the build (a
// sanitizer build is several times slower), so the number of simulated data
// sets is calibrated first: doubled until a run takes a quarter of a second,
// then scaled to about two seconds.

#include "runpsex.h"
#include "scratchfolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using psex::test::readFile;
using psex::test::ScratchFolder;

// A diploid data file of 'sampleCount' samples at six loci with twelve
// alleles each, drawn by a fixed linear congruential sequence; every tenth
// sample repeats the one before it, so there are clones to judge.
std::string dataFile(int sampleCount, long simulations) {
    std::ostringstream out;
    out << "PLOIDY=DIPLOID\nFREQUENCY=SAMPLE\nMODEL=HWE\nSIMULATIONS=" << simulations
        << "\nLOCUSCOUNT=6\nLOCUSNAMES=A,B,C,D,E,F\nTITLE=progress\n\nSample";
    for (const char* locus : {"A", "B", "C", "D", "E", "F"}) {
        out << ',' << locus << "_1," << locus << "_2";
    }
    out << '\n';
    std::uint32_t state = 12345;
    std::vector<int> alleles(12);
    for (int s = 0; s < sampleCount; ++s) {
        if (s % 10 != 9) {
            for (int& allele : alleles) {
                state = state * 1664525u + 1013904223u;
                allele = 100 + 2 * static_cast<int>((state >> 16) % 12);
            }
        }
        out << 'S' << s;
        for (const int allele : alleles) {
            out << ',' << allele;
        }
        out << '\n';
    }
    return out.str();
}

struct TimedRun {
    psex::test::RunResult run; // standard error as bytes, a terminal's included
    double seconds = 0.0;      // wall-clock time of the run
};

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Run the program on "data.txt" in 'folder' with both output streams in
// files.
TimedRun runWithFiles(const fs::path& folder) {
    const auto start = std::chrono::steady_clock::now();
    TimedRun timed;
    timed.run = psex::test::runProgram(PSEX_BINARY, folder, {"data.txt"}, {{"data.txt"}, {}, {}});
    timed.seconds = secondsSince(start);
    return timed;
}

// Run the program on "data.txt" in 'folder' with standard error on a new
// pseudo-terminal and standard output in a file.  Return false when no
// pseudo-terminal can be had.
bool runOnTerminal(const fs::path& folder, TimedRun& timed) {
    ScratchFolder console;
    const std::string outPath = (console / "stdout").string();
    const auto start = std::chrono::steady_clock::now();
    int master = -1;
    const pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        psex::test::execInFolder(PSEX_BINARY, folder, {"data.txt"}, [&] {
            const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out < 0 || ::dup2(out, STDOUT_FILENO) < 0) {
                ::_exit(126);
            }
            ::close(out);
        });
    }
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got > 0) {
            timed.run.err.append(buffer, static_cast<std::size_t>(got));
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            break; // EIO once the program has closed the terminal
        }
    }
    int raw = 0;
    ::waitpid(child, &raw, 0);
    ::close(master);
    timed.run.status = psex::test::statusOf(raw);
    timed.seconds = secondsSince(start);
    timed.run.out = readFile(outPath);
    return true;
}

// What a terminal shows after receiving the specified 'bytes', line by
// line: a carriage return moves to the start of the line, a line feed to
// the next line, any other character is written over the one at the
// cursor.  Trailing blanks of each line and a last empty line are dropped.
std::vector<std::string> screen(const std::string& bytes) {
    std::vector<std::string> lines(1);
    std::size_t cursor = 0;
    for (const char c : bytes) {
        if (c == '\r') {
            cursor = 0;
        } else if (c == '\n') {
            lines.emplace_back();
            cursor = 0;
        } else {
            std::string& line = lines.back();
            if (cursor < line.size()) {
                line[cursor] = c;
            } else {
                line.append(cursor - line.size(), ' ');
                line += c;
            }
            ++cursor;
        }
    }
    for (std::string& line : lines) {
        line.erase(line.find_last_not_of(' ') + 1);
    }
    if (lines.back().empty()) {
        lines.pop_back();
    }
    return lines;
}

TEST(ProgressOnTerminal, AppearsIsErasedAndChangesNoOutput) {
    const int sampleCount = 1500;

    // Calibrate: the number of simulated data sets that takes about 2 s.
    ScratchFolder calibration;
    long simulations = 2;
    double seconds = 0.0;
    for (;;) {
        std::ofstream(calibration.path() / "data.txt") << dataFile(sampleCount, simulations);
        const TimedRun timed = runWithFiles(calibration.path());
        ASSERT_EQ(0, timed.run.status) << timed.run.err;
        seconds = timed.seconds;
        if (seconds >= 0.25 || simulations >= (1L << 24)) {
            break;
        }
        simulations *= 2;
    }

    // A run that ends up shorter than planned (the machine was busier while
    // calibrating) is repeated with twice as many data sets.
    for (int attempt = 0; attempt < 3; ++attempt) {
        simulations = std::max(2L, std::lround(static_cast<double>(simulations) * 2.0 / seconds));
        SCOPED_TRACE("SIMULATIONS=" + std::to_string(simulations));
        const std::string data = dataFile(sampleCount, simulations);

        ScratchFolder withFiles;
        std::ofstream(withFiles.path() / "data.txt") << data;
        const psex::test::RunResult plain = runWithFiles(withFiles.path()).run;

        ScratchFolder withTerminal;
        std::ofstream(withTerminal.path() / "data.txt") << data;
        TimedRun timed;
        if (!runOnTerminal(withTerminal.path(), timed)) {
            GTEST_SKIP() << "no pseudo-terminal available";
        }
        if (timed.seconds < 1.5) {
            seconds = timed.seconds;
            continue;
        }
        const psex::test::RunResult& terminal = timed.run;

        // With standard error in a file, nothing of the indicator appears:
        // standard error holds at most the one line that says how many chance
        // repeats the simulations found (few, with six loci of twelve alleles).
        EXPECT_EQ(0, plain.status);
        EXPECT_EQ("Reading file data.txt\nResults are written to 'simresults_progress.csv'.\n",
                  plain.out);
        EXPECT_TRUE(plain.err.empty() ||
                    ((plain.err.rfind("warning: only ", 0) == 0 ||
                      plain.err.rfind("warning: no simulated repeats", 0) == 0) &&
                     plain.err.find('\n') == plain.err.size() - 1))
            << plain.err;
        EXPECT_EQ(std::string::npos, plain.err.find('\r'));

        // On the terminal it appeared, and was erased: the screen shows what
        // the program wrote to standard error otherwise.
        EXPECT_NE(std::string::npos, terminal.err.find("\rSimulating "));
        EXPECT_NE(std::string::npos, terminal.err.find(" left\r"));
        EXPECT_EQ(screen(plain.err), screen(terminal.err)) << terminal.err;

        // Standard output, status and result files are the same.
        EXPECT_EQ(plain.status, terminal.status);
        EXPECT_EQ(plain.out, terminal.out);
        for (const char* name : {"simresults_progress.csv", "fulltable_progress.csv",
                                 "samples_progress.csv", "summary_progress.csv"}) {
            const std::string expected = readFile(withFiles.path() / name);
            EXPECT_FALSE(expected.empty()) << name;
            EXPECT_EQ(expected, readFile(withTerminal.path() / name)) << name;
        }
        return;
    }
    FAIL() << "the runs never took a second and a half; last: " << seconds << " s";
}

} // namespace
