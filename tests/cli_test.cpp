// cli_test.cpp                                                   -*-C++-*-
//
// End-to-end tests: run the built program in a fresh folder and compare its
// standard output, standard error, exit status and result files byte for
// byte with expected files.
//
// Every folder under tests/cases is one case:
//   args              the command-line arguments, as one line of words
//                     split as a shell splits them (no expansion)
//   <input files>     copied into the fresh folder before the run
//   expected/stdout, expected/stderr, expected/status
//   expected/files/   every file the run must leave besides the inputs,
//                     with its exact content; no other file may appear.
// tests/tools/regenerate-expected runs the cases in the same way.

#include "expectedrun.h"
#include "runpsex.h"
#include "scratchfolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using psex::test::filesBelow;
using psex::test::readFile;
using psex::test::RunOptions;
using psex::test::ScratchFolder;

class CaseTest : public ::testing::TestWithParam<std::string> {};

TEST_P(CaseTest, MatchesExpectedOutputByteForByte) {
    const fs::path caseDir = fs::path(PSEX_CASES_DIR) / GetParam();
    ScratchFolder scratch;
    for (const auto& entry : fs::directory_iterator(caseDir)) {
        const std::string name = entry.path().filename().string();
        if (name != "args" && name != "expected") {
            fs::copy(entry.path(), scratch / name, fs::copy_options::recursive);
        }
    }
    RunOptions options;
    options.inputs = filesBelow(scratch.path());
    const auto arguments = psex::test::splitWords(readFile(caseDir / "args"));
    psex::test::expectRunAsExpected(
        caseDir / "expected",
        psex::test::runProgram(PSEX_BINARY, scratch.path(), arguments, options));
}

// The args files are split as the result checker splits them (Python's
// shlex.split): the rows below are what shlex.split gives.
TEST(CaseArguments, SplitAsTheResultCheckerSplitsThem) {
    using Words = std::vector<std::string>;
    const struct {
        std::string line;
        Words words;
    } rows[] = {
        {"a.txt b.txt\n", {"a.txt", "b.txt"}},
        {"", {}},
        {"  x  \t y\n", {"x", "y"}},
        {"'a b' c", {"a b", "c"}},
        {"\"a b\"c", {"a bc"}},
        {R"("a\"b\\c\d")", {R"(a"b\c\d)"}},
        {R"(a\ b)", {"a b"}},
        {R"('a\b')", {R"(a\b)"}},
        {"''", {""}},
        {"a\"\"b", {"ab"}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.words, psex::test::splitWords(row.line)) << row.line;
    }
    for (const std::string line : {"'open", "\"open", "a\\"}) {
        EXPECT_THROW(psex::test::splitWords(line), std::invalid_argument) << line;
    }
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CaseTest);
INSTANTIATE_TEST_SUITE_P(Cases, CaseTest,
                         ::testing::ValuesIn(psex::test::subfolderNames(PSEX_CASES_DIR)),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return psex::test::testNameOf(info.param);
                         });

} // namespace
