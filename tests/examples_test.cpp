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

#include "scratchfolder.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using psex::test::filesBelow;
using psex::test::readFile;
using psex::test::ScratchFolder;

std::vector<std::string> exampleNames() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(PSEX_EXAMPLES_EXPECTED_DIR)) {
        if (entry.is_directory()) {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

class ExampleTest : public ::testing::TestWithParam<std::string> {};

TEST_P(ExampleTest, MatchesExpectedOutputByteForByte) {
    const std::string dataFile = GetParam() + ".txt";
    const fs::path source = fs::path(PSEX_EXAMPLES_DIR) / dataFile;
    const fs::path expected = fs::path(PSEX_EXAMPLES_EXPECTED_DIR) / GetParam();
    ASSERT_TRUE(fs::is_regular_file(source)) << source << " is missing";

    ScratchFolder scratch;
    fs::copy_file(source, scratch.path() / dataFile);
    const fs::path outPath = scratch.path().string() + ".stdout";
    const fs::path errPath = scratch.path().string() + ".stderr";
    const std::string command = "cd '" + scratch.path().string() + "' && exec '" PSEX_BINARY "' '" +
                                dataFile + "' >'" + outPath.string() + "' 2>'" + errPath.string() +
                                "'";
    const int raw = std::system(command.c_str());
    const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    const std::string out = readFile(outPath);
    const std::string err = readFile(errPath);
    fs::remove(outPath);
    fs::remove(errPath);

    EXPECT_EQ(readFile(expected / "stdout"), out);
    EXPECT_EQ(readFile(expected / "stderr"), err);
    EXPECT_EQ(std::stoi(readFile(expected / "status")), status);

    std::set<std::string> written = filesBelow(scratch.path());
    written.erase(dataFile);
    const std::set<std::string> expectedNames = filesBelow(expected / "files");
    EXPECT_EQ(expectedNames, written);
    for (const std::string& name : expectedNames) {
        if (written.count(name) != 0) {
            EXPECT_EQ(readFile(expected / "files" / name), readFile(scratch.path() / name))
                << "in result file " << name;
        }
    }
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
    EXPECT_EQ(examples, exampleNames());
}

INSTANTIATE_TEST_SUITE_P(Examples, ExampleTest, ::testing::ValuesIn(exampleNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return psex::test::testNameOf(info.param);
                         });

} // namespace
