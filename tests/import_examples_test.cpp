// import_examples_test.cpp                                       -*-C++-*-
//
// End-to-end tests of psex-import on the example inputs of
// examples/import/, and of what it leaves when it refuses or cannot write.
//
// Every folder tests/import_examples/<case>/ is one conversion:
//   args        the arguments; the first word is an input file of
//               examples/import/, copied alone into a fresh folder
//   expected/   stdout, stderr and status as for the end-to-end cases
//   handmade/   for every data file the conversion writes, one typed by
//               hand from the input (other column names, key order and
//               comments, the lab's own order of the two copies)
// Each conversion must write the data files of the names in handmade/ and
// no other file, each byte for byte as the expected data file of that name
// beside the inputs in examples/import/ (derived by hand), and psex
// must read each data file it writes exactly as it reads the hand-made one:
// the same console output, without any warning, and the same result files.

#include "runpsex.h"
#include "scratchfolder.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using psex::test::filesBelow;
using psex::test::readFile;
using psex::test::RunOptions;
using psex::test::runProgram;
using psex::test::RunResult;
using psex::test::ScratchFolder;
using psex::test::writeFile;

const fs::path k_cases = PSEX_IMPORT_EXAMPLES_DIR;
const fs::path k_inputs = PSEX_EXAMPLES_DIR "/import";

// Run psex-import with the specified 'arguments' (and standard 'input',
// if any) in the specified 'scratch' folder, whose files are its inputs.
RunResult import(const ScratchFolder& scratch, const std::vector<std::string>& arguments,
                 const std::optional<std::string>& input = std::nullopt) {
    RunOptions options;
    options.inputs = filesBelow(scratch.path());
    options.input = input;
    return runProgram(PSEX_IMPORT_BINARY, scratch.path(), arguments, options);
}

// Run psex-import as the case of the specified 'name' says, in the
// specified 'scratch' folder.
RunResult convert(const std::string& name, const ScratchFolder& scratch) {
    const auto arguments = psex::test::splitWords(readFile(k_cases / name / "args"));
    fs::copy_file(k_inputs / arguments.at(0), scratch / arguments.at(0));
    return import(scratch, arguments);
}

// Run psex on the specified data file 'text' under the specified 'name',
// alone in a fresh folder.
RunResult analyse(const std::string& name, const std::string& text) {
    ScratchFolder scratch;
    writeFile(scratch / name, text);
    RunOptions options;
    options.inputs = {name};
    return runProgram(PSEX_BINARY, scratch.path(), {name}, options);
}

class ImportExample : public ::testing::TestWithParam<std::string> {};

TEST_P(ImportExample, ConvertsByteForByte) {
    ScratchFolder scratch;
    const RunResult run = convert(GetParam(), scratch);
    const fs::path expected = k_cases / GetParam() / "expected";
    EXPECT_EQ(readFile(expected / "stdout"), run.out);
    EXPECT_EQ(readFile(expected / "stderr"), run.err);
    EXPECT_EQ(std::stoi(readFile(expected / "status")), run.status);
    const std::set<std::string> names = filesBelow(k_cases / GetParam() / "handmade");
    EXPECT_EQ(names, psex::test::fileNamesOf(run));
    for (const std::string& name : names) {
        if (run.files.count(name) != 0) {
            EXPECT_EQ(readFile(k_inputs / name), run.files.at(name)) << "in data file " << name;
        }
    }
}

TEST_P(ImportExample, PsexReadsEveryDataFileLikeTheHandMadeOne) {
    ScratchFolder scratch;
    const RunResult conversion = convert(GetParam(), scratch);
    ASSERT_EQ(0, conversion.status) << conversion.err;
    const fs::path handmade = k_cases / GetParam() / "handmade";
    EXPECT_EQ(filesBelow(handmade), psex::test::fileNamesOf(conversion));
    for (const std::string& name : filesBelow(handmade)) {
        SCOPED_TRACE(name);
        const RunResult imported = analyse(name, conversion.files.at(name));
        const RunResult typed = analyse(name, readFile(handmade / name));
        EXPECT_EQ(0, imported.status);
        EXPECT_EQ(typed.out, imported.out);
        EXPECT_EQ(typed.err, imported.err);
        EXPECT_EQ(typed.files, imported.files);
        EXPECT_FALSE(imported.files.empty());
        // Nothing about the file itself: no reader message on standard
        // output, and on standard error only the note on missing copies and
        // the advice to simulate more, which is about the results.
        EXPECT_EQ(2, std::count(imported.out.begin(), imported.out.end(), '\n')) << imported.out;
        std::istringstream lines(imported.err);
        for (std::string line; std::getline(lines, line);) {
            const bool note = line.rfind("note: missing allele copies: ", 0) == 0;
            const bool advice = line.rfind("warning: only ", 0) == 0 &&
                                line.find(" simulated repeats;") != std::string::npos;
            EXPECT_TRUE(note || advice) << "psex says: " << line;
        }
    }
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ImportExample);
INSTANTIATE_TEST_SUITE_P(Examples, ImportExample,
                         ::testing::ValuesIn(psex::test::subfolderNames(k_cases)),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return psex::test::testNameOf(info.param);
                         });

// An example data file that no conversion writes would go unchecked.
TEST(ImportExamples, EveryExpectedDataFileBelongsToAConversion) {
    std::set<std::string> shipped;
    for (const auto& entry : fs::directory_iterator(k_inputs)) {
        if (entry.path().extension() == ".txt") {
            shipped.insert(entry.path().filename().string());
        }
    }
    std::set<std::string> converted;
    for (const std::string& name : psex::test::subfolderNames(k_cases)) {
        const std::set<std::string> files = filesBelow(k_cases / name / "handmade");
        converted.insert(files.begin(), files.end());
    }
    EXPECT_FALSE(shipped.empty());
    EXPECT_EQ(shipped, converted);
}

// ---- what a refused or failed run leaves ----

const std::string k_table = "Sample,A,A\nx,151,153\ny,151,abc\n";

TEST(ImportRun, LeavesAnExistingOutputAsItWasWhenItRefuses) {
    ScratchFolder scratch;
    writeFile(scratch / "lab.csv", k_table);
    writeFile(scratch / "lab.txt", "the previous data file\n");
    const RunResult run = import(scratch, {"lab.csv", "-o", "lab.txt"});
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("", run.out);
    EXPECT_EQ("error: lab.csv, line 3, column 3 (C): sample 'y', locus 'A': allele 'abc' is not "
              "an allele (expected a whole number, a nucleotide letter A, C, G or T, or a "
              "missing-data code (0, -9, NA, ?, . or an empty cell)).\n",
              run.err);
    EXPECT_TRUE(run.files.empty()); // no temporary file either
    EXPECT_EQ("the previous data file\n", readFile(scratch / "lab.txt"));

    // Split into populations: no file of any population.
    writeFile(scratch / "pops.csv", "Sample,Pop,A,A\nx,North,1,2\ny,South,1,152.5\n");
    const RunResult split = import(scratch, {"pops.csv", "--split-populations", "p-"});
    EXPECT_EQ(1, split.status);
    EXPECT_TRUE(split.files.empty());
}

TEST(ImportRun, ReplacesAnOlderOutputAndReadsStandardInput) {
    ScratchFolder scratch;
    writeFile(scratch / "lab.txt", "the previous data file\n");
    const RunResult run = import(scratch, {"-", "--ploidy", "1", "-o", "lab.txt"},
                                 "Sample\tL1\tL2\nf1\t12\t?\nf2\t14\t7\n");
    EXPECT_EQ(0, run.status);
    EXPECT_EQ("PLOIDY=HAPLOID\nLOCUSCOUNT=2\nLOCUSNAMES=L1,L2\nMISSING=0\nTITLE=stdin\n"
              "SIMULATIONS=1000\n\nSample,L1,L2\nf1,12,0\nf2,14,7\n",
              readFile(scratch / "lab.txt"));
    EXPECT_EQ("Warning: overwriting output file 'lab.txt'.\n"
              "Read standard input as a table, TAB-separated.\n"
              "Samples: 2\n"
              "Loci: 2 (haploid)\n"
              "Populations: none in the input\n"
              "Missing allele copies: 1 of 4 (25.0%), by locus:\n"
              "  L2: 1 of 2 (50.0%)\n"
              "  none at the other locus\n"
              "Changes and notes:\n"
              "  - 1 missing allele copy written as 0 (MISSING=0)\n"
              "Written: lab.txt\n",
              run.err);
    EXPECT_TRUE(run.files.empty());
}

TEST(ImportRun, SaysSoWhenTheOutputCannotBeWritten) {
    ScratchFolder scratch;
    writeFile(scratch / "lab.csv", "Sample,A,A\nx,151,153\n");
    const RunResult run = import(scratch, {"lab.csv", "-o", "no/such/folder/lab.txt"});
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("error: cannot write output file 'no/such/folder/lab.txt'.\n"
              "error: no data file was written for lab.csv; older files of those names are as "
              "they were.\n",
              run.err);
    EXPECT_TRUE(run.files.empty());
}

TEST(ImportRun, WritesOnlyToRegularFiles) {
    // A FIFO, a folder or a link to a device at the output path is refused:
    // '-o /dev/null' as root once replaced the system's null device with a
    // regular file.
    ScratchFolder scratch;
    writeFile(scratch / "lab.csv", "Sample,A,A\nx,151,153\n");
    ASSERT_EQ(0, ::mkfifo((scratch / "fifo.txt").c_str(), 0600));
    std::filesystem::create_directory(scratch / "folder.txt");
    std::filesystem::create_symlink("/dev/null", scratch / "null.txt");
    const std::set<std::string> inputs = {"fifo.txt", "folder.txt", "lab.csv", "null.txt"};
    for (const std::string name : {"fifo.txt", "folder.txt", "null.txt"}) {
        SCOPED_TRACE(name);
        const RunResult run = import(scratch, {"lab.csv", "-o", name});
        EXPECT_EQ(1, run.status);
        EXPECT_EQ("", run.out);
        EXPECT_EQ("error: '" + name +
                      "' exists and is not a regular file.\n"
                      "error: no data file was written for lab.csv; older files of those names "
                      "are as they were.\n",
                  run.err);
        EXPECT_EQ(inputs, scratch.names());
    }
    EXPECT_TRUE(std::filesystem::is_fifo(scratch / "fifo.txt"));
    EXPECT_TRUE(std::filesystem::is_symlink(scratch / "null.txt"));
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
}

TEST(ImportRun, ReplacesNoFileOfASplitThatFailsHalfWay) {
    // The second population's file does not fit under the file size limit:
    // the first, complete, must not replace its older file either.
    ScratchFolder scratch;
    std::string table = "Sample,Pop,A,A\nn1,North,151,153\n";
    for (int i = 0; i < 400; ++i) {
        table += 's';
        table += std::to_string(i) + ",South,151," + std::to_string(153 + i % 7) + "\n";
    }
    writeFile(scratch / "pops.csv", table);
    writeFile(scratch / "p-North.txt", "older North\n");
    RunOptions options;
    options.prepare = [] {
        const struct rlimit limit = {2000, 2000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    };
    const RunResult run = runProgram(PSEX_IMPORT_BINARY, scratch.path(),
                                     {"pops.csv", "--split-populations", "p-"}, options);
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("error: cannot write output file 'p-South.txt'.\n"
              "error: no data file was written for pops.csv; older files of those names are as "
              "they were.\n",
              run.err);
    EXPECT_EQ((std::set<std::string>{"p-North.txt", "pops.csv"}), scratch.names());
    EXPECT_EQ("older North\n", readFile(scratch / "p-North.txt"));
}

TEST(ImportRun, SaysSoWhenItRunsOutOfMemory) {
    if (psex::test::k_addressSanitizer) {
        GTEST_SKIP() << "the address sanitizer's shadow memory needs an unlimited address space";
    }
    // A table of 18 MB under address-space limits from far too little to
    // plenty: whatever the limit, the run converts the whole table or says
    // that it ran out of memory and writes nothing -- never an abort, never
    // a part of the table.
    ScratchFolder scratch;
    // (Built piece by piece: GCC 12 misreads "S" + std::to_string(i) as an
    // overlapping copy.)
    std::string table = "Sample,Pop";
    for (int l = 0; l < 10; ++l) {
        for (int copy = 0; copy < 2; ++copy) {
            table += ",L";
            table += std::to_string(l);
        }
    }
    table += '\n';
    for (int i = 0; i < 200000; ++i) {
        table += 'S';
        table += std::to_string(i);
        table += ",P";
        table += std::to_string(i % 1000);
        for (int c = 0; c < 20; ++c) {
            table += ',';
            table += std::to_string(100 + (i * 7 + c * 13) % 20);
        }
        table += '\n';
    }
    writeFile(scratch / "big.csv", table);
    bool converted = false;
    bool refused = false;
    for (const std::size_t megabytes : {16, 32, 48, 64, 96, 192}) {
        SCOPED_TRACE(megabytes);
        RunOptions options;
        options.inputs = {"big.csv"};
        options.prepare = [megabytes] {
            const struct rlimit limit = {megabytes << 20, megabytes << 20};
            ::setrlimit(RLIMIT_AS, &limit);
        };
        const RunResult run =
            runProgram(PSEX_IMPORT_BINARY, scratch.path(), {"big.csv", "-o", "big.txt"}, options);
        if (run.status == 1) {
            EXPECT_EQ("error: out of memory while reading 'big.csv'.\n", run.err);
            EXPECT_TRUE(run.files.empty());
            refused = true;
        } else {
            ASSERT_EQ(0, run.status) << run.err;
            EXPECT_EQ(200007u, // seven lines of header and column names
                      static_cast<std::size_t>(std::count(run.files.at("big.txt").begin(),
                                                          run.files.at("big.txt").end(), '\n')));
            converted = true;
            std::filesystem::remove(scratch / "big.txt");
        }
    }
    EXPECT_TRUE(refused);   // 16 MB cannot hold the table's text
    EXPECT_TRUE(converted); // 192 MB is ten times the text
}

} // namespace
