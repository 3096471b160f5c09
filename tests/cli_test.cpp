// cli_test.cpp                                                   -*-C++-*-
//
// End-to-end tests: run the built program in a fresh folder and compare its
// standard output, standard error, exit status and result files byte for
// byte with expected files.
//
// Every folder under tests/cases is one case:
//   args              the command-line arguments, as one shell line
//   <input files>     copied into the fresh folder before the run
//   expected/stdout, expected/stderr, expected/status
//   expected/files/   every file the run must leave besides the inputs,
//                     with its exact content; no other file may appear.

#include "scratchfolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
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

using RunResult = psex::test::ProgramRun;

// Run the program with the specified shell 'arguments' in 'folder'.
RunResult runPsex(const fs::path& folder, const std::string& arguments) {
    return psex::test::runInFolder(folder, PSEX_BINARY, arguments);
}

std::vector<std::string> caseNames() {
    std::vector<std::string> names;
    if (!fs::is_directory(PSEX_CASES_DIR)) {
        return names;
    }
    for (const auto& entry : fs::directory_iterator(PSEX_CASES_DIR)) {
        if (entry.is_directory()) {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

class CaseTest : public ::testing::TestWithParam<std::string> {};

TEST_P(CaseTest, MatchesExpectedOutputByteForByte) {
    const fs::path caseDir = fs::path(PSEX_CASES_DIR) / GetParam();
    ScratchFolder scratch;
    std::set<std::string> inputs;
    for (const auto& entry : fs::directory_iterator(caseDir)) {
        const std::string name = entry.path().filename().string();
        if (name == "args" || name == "expected") {
            continue;
        }
        fs::copy(entry.path(), scratch.path() / name, fs::copy_options::recursive);
    }
    inputs = filesBelow(scratch.path());

    std::string arguments = readFile(caseDir / "args");
    arguments.erase(arguments.find_last_not_of("\n") + 1);
    const RunResult result = runPsex(scratch.path(), arguments);

    EXPECT_EQ(readFile(caseDir / "expected" / "stdout"), result.out);
    EXPECT_EQ(readFile(caseDir / "expected" / "stderr"), result.err);
    EXPECT_EQ(std::stoi(readFile(caseDir / "expected" / "status")), result.status);

    const fs::path expectedFiles = caseDir / "expected" / "files";
    std::set<std::string> expectedNames;
    if (fs::exists(expectedFiles)) {
        expectedNames = filesBelow(expectedFiles);
    }
    std::set<std::string> written;
    for (const std::string& name : filesBelow(scratch.path())) {
        if (inputs.count(name) == 0) {
            written.insert(name);
        }
    }
    EXPECT_EQ(expectedNames, written);
    for (const std::string& name : expectedNames) {
        if (written.count(name) != 0) {
            EXPECT_EQ(readFile(expectedFiles / name), readFile(scratch.path() / name))
                << "in result file " << name;
        }
    }
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CaseTest);
INSTANTIATE_TEST_SUITE_P(Cases, CaseTest, ::testing::ValuesIn(caseNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return psex::test::testNameOf(info.param);
                         });

} // namespace
