// expectedrun.h                                                  -*-C++-*-
#ifndef PSEX_TESTS_EXPECTEDRUN_H
#define PSEX_TESTS_EXPECTEDRUN_H

// Purpose: compare a run of the program byte for byte with a folder of
// expected results, the form in which the end-to-end cases (tests/cases)
// and the shipped examples (tests/examples_expected) keep them:
//   stdout, stderr, status   the console output and the exit status
//   files/                   every file the run must leave besides its
//                            inputs, with its exact content (absent when
//                            the run leaves none)
// tests/tools/regenerate-expected writes folders of this form.

#include "runpsex.h"
#include "scratchfolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

namespace psex::test {

inline void expectRunAsExpected(const std::filesystem::path& expected, const RunResult& run) {
    // Check that the specified 'run' printed, returned and left exactly what
    // the folder 'expected' holds: no file more, none less, none different.
    EXPECT_EQ(readFile(expected / "stdout"), run.out);
    EXPECT_EQ(readFile(expected / "stderr"), run.err);
    EXPECT_EQ(std::stoi(readFile(expected / "status")), run.status);

    const std::filesystem::path files = expected / "files";
    const std::set<std::string> expectedNames =
        std::filesystem::exists(files) ? filesBelow(files) : std::set<std::string>{};
    const std::set<std::string> written = fileNamesOf(run);
    EXPECT_EQ(expectedNames, written);
    for (const std::string& name : expectedNames) {
        if (written.count(name) != 0) {
            EXPECT_EQ(readFile(files / name), run.files.at(name)) << "in result file " << name;
        }
    }
}

} // namespace psex::test

#endif
