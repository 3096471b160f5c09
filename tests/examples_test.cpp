// examples_test.cpp                                              -*-C++-*-
//
// End-to-end tests of the shipped example data files: every folder
// tests/examples_expected/<name>/ belongs to examples/<name>.txt.  The
// example is copied into a fresh folder and the program is run there with
// the file name as its only argument, so the "Datafile," lines name the file
// without a path.  The folder holds what the run must give:
//   stdout, stderr, status   the console output and the exit status
//   files/                   every file the run must leave besides the
//                            example, with its exact content
//   README                   how the expected files were checked (not read)
//
// The examples live in one place only; their expected results are kept here
// so that a change to an example shows up as a failing test.
// tests/tools/regenerate-expected runs the examples in the same way.

#include "expectedrun.h"
#include "runpsex.h"
#include "scratchfolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using psex::test::ScratchFolder;

class ExampleTest : public ::testing::TestWithParam<std::string> {};

TEST_P(ExampleTest, MatchesExpectedOutputByteForByte) {
    const std::string dataFile = GetParam() + ".txt";
    const fs::path source = fs::path(PSEX_EXAMPLES_DIR) / dataFile;
    ASSERT_TRUE(fs::is_regular_file(source)) << source << " is missing";

    ScratchFolder scratch;
    fs::copy_file(source, scratch / dataFile);
    psex::test::RunOptions options;
    options.inputs = {dataFile};
    psex::test::expectRunAsExpected(
        fs::path(PSEX_EXAMPLES_EXPECTED_DIR) / GetParam(),
        psex::test::runProgram(PSEX_BINARY, scratch.path(), {dataFile}, options));
}

// A shipped example without expected results would go untested.
TEST(Examples, EveryExampleHasExpectedResults) {
    std::vector<std::string> examples;
    for (const auto& entry : fs::directory_iterator(PSEX_EXAMPLES_DIR)) {
        if (entry.path().extension() == ".txt") {
            examples.push_back(entry.path().stem().string());
        }
    }
    std::sort(examples.begin(), examples.end());
    EXPECT_FALSE(examples.empty());
    EXPECT_EQ(examples, psex::test::subfolderNames(PSEX_EXAMPLES_EXPECTED_DIR));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ExampleTest,
    ::testing::ValuesIn(psex::test::subfolderNames(PSEX_EXAMPLES_EXPECTED_DIR)),
    [](const ::testing::TestParamInfo<std::string>& info) {
        return psex::test::testNameOf(info.param);
    });

} // namespace
