// progress_cli_test.cpp                                          -*-C++-*-
//
// End-to-end test of the progress indicator: run the built program on a
// data file once with standard error on a pseudo-terminal and once with it
// in a file.  On the terminal the indicator must appear, be redrawn and be
// erased again; in the file nothing of it may appear; standard output and
// the result files must be the same byte for byte.
//
// Whether the indicator appears depends on time: it shows only when the
// simulations will take more than a second.  The program therefore runs on
// a clock that moves by a fixed step at each reading (steppingclock.cpp,
// loaded with LD_PRELOAD), which makes every simulated data set take the
// same time on every machine, in every build and under any load.

#include "runpsex.h"
#include "scratchfolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

// The environment of every run: the program reads the stepping clock, a
// quarter of a second per reading.  The indicator reads the clock once when
// the simulations start and once after each data set, so each data set
// seems to take a quarter of a second on any machine, or longer where
// something else reads the clock too (a sanitizer's runtime does).
void useSteppingClock() {
    ::setenv("LD_PRELOAD", PSEX_STEPPING_CLOCK, 1);
    ::setenv("PSEX_TEST_CLOCK_STEP", "0.25", 1);
}

// Run the program on "data.txt" in 'folder' with both output streams in
// files.
psex::test::RunResult runWithFiles(const fs::path& folder) {
    return psex::test::runProgram(PSEX_BINARY, folder, {"data.txt"},
                                  {{"data.txt"}, useSteppingClock, {}});
}

// Run the program on "data.txt" in 'folder' with standard error on a new
// pseudo-terminal and standard output in a file.  Return false when no
// pseudo-terminal can be had.
bool runOnTerminal(const fs::path& folder, psex::test::RunResult& run) {
    ScratchFolder console;
    const std::string outPath = (console / "stdout").string();
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
            useSteppingClock();
        });
    }
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got > 0) {
            run.err.append(buffer, static_cast<std::size_t>(got));
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            break; // EIO once the program has closed the terminal
        }
    }
    int raw = 0;
    ::waitpid(child, &raw, 0);
    ::close(master);
    run.status = psex::test::statusOf(raw);
    run.out = readFile(outPath);
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

// The same data file run twice, each in a folder of its own that keeps its
// result files: with standard error in a file, and on a pseudo-terminal
// ('onTerminal' false when the machine has none).
struct TwoRuns {
    ScratchFolder withFiles;
    ScratchFolder withTerminal;
    psex::test::RunResult plain;
    psex::test::RunResult terminal;
    bool onTerminal = false;

    explicit TwoRuns(const std::string& data) {
        std::ofstream(withFiles.path() / "data.txt") << data;
        plain = runWithFiles(withFiles.path());
        std::ofstream(withTerminal.path() / "data.txt") << data;
        onTerminal = runOnTerminal(withTerminal.path(), terminal);
    }
};

// The texts the indicator drew, in order: what stands between a carriage
// return and the next one, without the blanks that erase a longer text.
std::vector<std::string> drawnTexts(const std::string& bytes,
                                    const std::string& label = "Simulating") {
    const std::string start = "\r" + label + " ";
    std::vector<std::string> texts;
    std::size_t from = bytes.find(start);
    while (from != std::string::npos) {
        const std::size_t end = bytes.find('\r', from + 1);
        std::string text = bytes.substr(from + 1, end == std::string::npos ? end : end - from - 1);
        text.erase(text.find_last_not_of(' ') + 1);
        texts.push_back(text);
        from = bytes.find(start, from + 1);
    }
    return texts;
}

TEST(ProgressOnTerminal, AppearsIsErasedAndChangesNoOutput) {
    // 40 data sets of a quarter of a second each: the line appears after the
    // second (half a second has passed, 9.5 s are left), is redrawn after
    // each later one (a quarter second after the last redraw), and is erased
    // after the last.
    const std::string data = dataFile(300, 40);

    const TwoRuns runs(data);
    ASSERT_TRUE(runs.onTerminal)
        << "no pseudo-terminal: the indicator cannot be checked on this machine";
    const psex::test::RunResult& plain = runs.plain;
    const psex::test::RunResult& terminal = runs.terminal;
    const ScratchFolder& withTerminal = runs.withTerminal;

    // With standard error in a file, nothing of the indicator appears:
    // standard error holds only the warnings (few simulated data sets).
    EXPECT_EQ(0, plain.status) << plain.err;
    EXPECT_EQ("Reading file data.txt\nResults are written to 'simresults_progress.csv'.\n",
              plain.out);
    EXPECT_EQ(std::string::npos, plain.err.find('\r')) << plain.err;
    EXPECT_EQ(std::string::npos, plain.err.find("Simulating")) << plain.err;

    // On the terminal it appeared, was redrawn after every data set from the
    // second to the one before last (and after the first where the clock
    // moved further), and was erased: the screen shows what the program
    // wrote to standard error otherwise.
    std::vector<std::string> percents;
    for (const std::string& text : drawnTexts(terminal.err)) {
        // "Simulating P%, T left", T as "12 s", "3 min 05 s" or "1 h 05 min"
        const std::size_t percent = text.find("%, ");
        EXPECT_NE(std::string::npos, percent) << text;
        EXPECT_TRUE(text.ends_with(" left")) << text;
        percents.push_back(text.substr(11, percent == std::string::npos ? 0 : percent - 11));
    }
    if (!percents.empty() && percents.front() == "2") {
        percents.erase(percents.begin()); // drawn after the first data set
    }
    std::vector<std::string> expected;
    for (int done = 2; done < 40; ++done) {
        expected.push_back(std::to_string(done * 100 / 40));
    }
    EXPECT_EQ(expected, percents) << terminal.err;
    EXPECT_EQ(screen(plain.err), screen(terminal.err)) << terminal.err;

    // Standard output, status and result files are the same.
    EXPECT_EQ(plain.status, terminal.status);
    EXPECT_EQ(plain.out, terminal.out);
    for (const char* name : {"simresults_progress.csv", "fulltable_progress.csv",
                             "samples_progress.csv", "summary_progress.csv"}) {
        ASSERT_EQ(1u, plain.files.count(name)) << name;
        EXPECT_FALSE(plain.files.at(name).empty()) << name;
        EXPECT_EQ(plain.files.at(name), readFile(withTerminal.path() / name)) << name;
    }
}

TEST(ProgressOnTerminal, ShowsThePermutationsOfTheLinkageTest) {
    // 40 permutations of all samples and 40 of one per MLG, on one thread,
    // a quarter of a second each: the line appears after the second and is
    // redrawn after each later one but the last, then erased.  One
    // simulated data set draws no line of its own.
    ::setenv("PSEX_THREADS", "1", 1);
    const std::string data = "LINKAGE=40\n" + dataFile(300, 1);

    const TwoRuns runs(data);
    ASSERT_TRUE(runs.onTerminal)
        << "no pseudo-terminal: the indicator cannot be checked on this machine";
    const psex::test::RunResult& plain = runs.plain;
    const psex::test::RunResult& terminal = runs.terminal;
    const ScratchFolder& withTerminal = runs.withTerminal;

    EXPECT_EQ(0, plain.status) << plain.err;
    EXPECT_EQ(std::string::npos, plain.err.find("Testing linkage")) << plain.err;
    std::vector<std::string> percents;
    for (const std::string& text : drawnTexts(terminal.err, "Testing linkage")) {
        const std::size_t percent = text.find("%, ");
        ASSERT_NE(std::string::npos, percent) << text;
        EXPECT_TRUE(text.ends_with(" left")) << text;
        percents.push_back(text.substr(16, percent - 16));
    }
    if (!percents.empty() && percents.front() == "1") {
        percents.erase(percents.begin()); // drawn after the first permutation
    }
    std::vector<std::string> expected;
    for (int done = 2; done < 80; ++done) {
        expected.push_back(std::to_string(done * 100 / 80));
    }
    EXPECT_EQ(expected, percents) << terminal.err;
    EXPECT_EQ(screen(plain.err), screen(terminal.err)) << terminal.err;
    EXPECT_EQ(plain.out, terminal.out);
    EXPECT_EQ(plain.files.at("linkage_progress.csv"),
              readFile(withTerminal.path() / "linkage_progress.csv"));
}

TEST(ProgressOnTerminal, ShowsThePassesOfTheKinshipByDistance) {
    // 300 located samples on one thread: every block of rows of every pass
    // over the pairs (ramets, then genets) reports, a quarter of a second
    // each; the line shows rising percentages, then is erased, and nothing
    // else changes.
    ::setenv("PSEX_THREADS", "1", 1);
    std::istringstream lines("COORDINATES=x,y\n" + dataFile(300, 1));
    std::string data;
    std::string line;
    bool header = true;
    int sample = 0;
    while (std::getline(lines, line)) {
        if (line.starts_with("Sample,")) {
            header = false;
            line += ",x,y";
        } else if (!header && !line.empty()) {
            line += ',' + std::to_string(sample % 17) + ',' + std::to_string(sample / 17);
            ++sample;
        }
        data += line + '\n';
    }
    ASSERT_EQ(300, sample);

    const TwoRuns runs(data);
    ASSERT_TRUE(runs.onTerminal)
        << "no pseudo-terminal: the indicator cannot be checked on this machine";
    const psex::test::RunResult& plain = runs.plain;
    const psex::test::RunResult& terminal = runs.terminal;
    const ScratchFolder& withTerminal = runs.withTerminal;

    EXPECT_EQ(0, plain.status) << plain.err;
    EXPECT_EQ(std::string::npos, plain.err.find("Kinship by distance")) << plain.err;
    const std::vector<std::string> texts = drawnTexts(terminal.err, "Kinship by distance");
    ASSERT_GE(texts.size(), 20u) << terminal.err;
    int last = -1;
    for (const std::string& text : texts) {
        const std::size_t percent = text.find("%, ");
        ASSERT_NE(std::string::npos, percent) << text;
        EXPECT_TRUE(text.ends_with(" left")) << text;
        const int shown = std::stoi(text.substr(20, percent - 20));
        EXPECT_LE(last, shown) << text;
        EXPECT_LT(shown, 100) << text;
        last = shown;
    }
    EXPECT_GE(last, 90);
    EXPECT_EQ(screen(plain.err), screen(terminal.err)) << terminal.err;
    EXPECT_EQ(plain.out, terminal.out);
    for (const char* name : {"kinship_progress.csv", "summary_progress.csv"}) {
        ASSERT_EQ(1u, plain.files.count(name)) << name;
        EXPECT_EQ(plain.files.at(name), readFile(withTerminal.path() / name)) << name;
    }
}

} // namespace
