// importcommandline_test.cpp                                     -*-C++-*-
#include "import/importcommandline.h"

#include "collectedmessages.h"
#include "import/allelecode.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using psex::AlleleKind;
using psex::ImportCommandLine;
using psex::ImportOptions;
using psex::parseImportCommandLine;
using Action = ImportCommandLine::Action;
using Words = std::vector<std::string>;

const char* const k_pointer = "Run with --help for more information.\n";

TEST(ImportCommandLine, TakesTheInputAndLeavesEverythingElseAsTheDefaults) {
    const ImportCommandLine line = parseImportCommandLine({"lab.csv"});
    ASSERT_EQ(Action::e_import, line.action);
    const ImportOptions& options = line.options;
    EXPECT_EQ("lab.csv", options.input);
    EXPECT_EQ("", options.output); // standard output
    EXPECT_EQ(nullptr, options.format);
    EXPECT_EQ(0, options.separator);
    EXPECT_FALSE(options.table.ploidy); // 2 unless a genepop file says otherwise
    EXPECT_EQ("", options.table.sampleColumn);
    EXPECT_EQ("", options.table.populationColumn);
    EXPECT_TRUE(options.table.ignoredColumns.empty());
    EXPECT_EQ(psex::AlleleReader(psex::defaultMissingCodes()).expectation(),
              options.table.alleles.expectation());
    EXPECT_FALSE(options.title);
    EXPECT_FALSE(options.frequency);
    EXPECT_FALSE(options.model);
    EXPECT_FALSE(options.lineageDistance);
    EXPECT_EQ(1000, options.simulations);
    EXPECT_FALSE(options.splitPrefix);
    EXPECT_EQ("-", parseImportCommandLine({"-"}).options.input); // standard input
    EXPECT_EQ("-x.csv", parseImportCommandLine({"--", "-x.csv"}).options.input);
}

TEST(ImportCommandLine, ReadsEveryOptionIntoTheImportOptions) {
    const ImportCommandLine line = parseImportCommandLine({"--format",
                                                           "GenAlEx",
                                                           "--separator",
                                                           "semicolon",
                                                           "--ploidy",
                                                           "1",
                                                           "--sample-column",
                                                           "Shoot",
                                                           "--population-column",
                                                           "3",
                                                           "--ignore-column",
                                                           "X",
                                                           "--ignore-column=Depth",
                                                           "--missing=-9,NA,",
                                                           "--title",
                                                           "Meadow 2019",
                                                           "--frequency",
                                                           "roundrobin",
                                                           "--model",
                                                           "fis",
                                                           "--mll-distance",
                                                           "2",
                                                           "--simulations",
                                                           "250",
                                                           "-o",
                                                           "out.txt",
                                                           "lab.csv"});
    ASSERT_EQ(Action::e_import, line.action) << line.text;
    const ImportOptions& options = line.options;
    EXPECT_EQ("lab.csv", options.input);
    EXPECT_EQ("out.txt", options.output);
    EXPECT_EQ(psex::findImportFormat("genalex"), options.format);
    EXPECT_EQ(';', options.separator);
    EXPECT_EQ(1, options.table.ploidy);
    EXPECT_EQ("Shoot", options.table.sampleColumn);
    EXPECT_EQ("3", options.table.populationColumn);
    EXPECT_EQ((Words{"X", "Depth"}), options.table.ignoredColumns);
    // -9, NA and the empty cell are missing; 0 is an allele now.
    EXPECT_EQ(AlleleKind::e_MISSING, options.table.alleles.read("-9").kind);
    EXPECT_EQ(AlleleKind::e_MISSING, options.table.alleles.read("na").kind);
    EXPECT_EQ(AlleleKind::e_MISSING, options.table.alleles.read("").kind);
    EXPECT_EQ(AlleleKind::e_NUMBER, options.table.alleles.read("0").kind);
    EXPECT_EQ(AlleleKind::e_INVALID, options.table.alleles.read("?").kind);
    EXPECT_EQ("Meadow 2019", options.title);
    EXPECT_EQ("ROUNDROBIN", options.frequency); // written in capitals
    EXPECT_EQ("FIS", options.model);
    EXPECT_EQ(2, options.lineageDistance);
    EXPECT_EQ(250, options.simulations);

    // The other spellings of a separator; one column per --ignore-column,
    // so that the input may follow it.
    EXPECT_EQ('\t', parseImportCommandLine({"--separator", "TAB", "a"}).options.separator);
    EXPECT_EQ(',', parseImportCommandLine({"--separator", ",", "a"}).options.separator);
    EXPECT_EQ(';', parseImportCommandLine({"--separator=;", "a"}).options.separator);
    const ImportCommandLine ignored = parseImportCommandLine({"--ignore-column", "Y", "lab.csv"});
    EXPECT_EQ("lab.csv", ignored.options.input);
    EXPECT_EQ(Words{"Y"}, ignored.options.table.ignoredColumns);

    const ImportCommandLine split =
        parseImportCommandLine({"--split-populations", "meadow-", "--ploidy", "2", "m.gen"});
    ASSERT_EQ(Action::e_import, split.action);
    EXPECT_EQ("meadow-", split.options.splitPrefix);
    EXPECT_EQ(2, split.options.table.ploidy);
    EXPECT_FALSE(split.options.title);
}

TEST(ImportCommandLine, TakesEveryFormatOfTheListAndListsThemInTheHelp) {
    EXPECT_EQ(nullptr, parseImportCommandLine({"--format", "AUTO", "a"}).options.format);
    const std::string help = parseImportCommandLine({"--help"}).text;
    std::string words = "auto";
    std::size_t previous = help.find("  --format ");
    ASSERT_NE(std::string::npos, previous);
    for (const psex::ImportFormat& format : psex::importFormats()) {
        const std::string name(format.name);
        SCOPED_TRACE(name);
        EXPECT_EQ(&format, parseImportCommandLine({"--format", name, "a"}).options.format);
        words += "|" + name;
        // Listed under --format in the order of recognition, on a line of
        // its own with its help.
        const std::size_t at = help.find("  " + name + " ", previous);
        ASSERT_NE(std::string::npos, at);
        const std::size_t text = help.find_first_not_of(' ', at + 2 + name.size());
        EXPECT_EQ(std::string(format.help) + "\n", help.substr(text, format.help.size() + 1));
        previous = at;
    }
    EXPECT_NE(std::string::npos, help.find("  --format " + words + "\n"));
}

TEST(ImportCommandLine, AnswersHelpAndVersion) {
    const ImportCommandLine version = parseImportCommandLine({"--version"});
    EXPECT_EQ(Action::e_version, version.action);
    EXPECT_EQ("psex-import " PSEX_EXPECTED_VERSION "\n", version.text);
    // The version answers whatever else is given, even a wrong value.
    for (const Words& words :
         {Words{"lab.csv", "--version"}, Words{"--help", "--version"},
          Words{"--ploidy", "3", "--version"}, Words{"--bogus", "--version"}}) {
        const ImportCommandLine line = parseImportCommandLine(words);
        EXPECT_EQ(Action::e_version, line.action) << words[0];
        EXPECT_EQ(version.text, line.text);
    }

    const ImportCommandLine help = parseImportCommandLine({"--help"});
    EXPECT_EQ(Action::e_help, help.action);
    EXPECT_EQ(0u, help.text.find("psex-import: convert a GenAlEx sheet saved as CSV, a plain "
                                 "table or a genepop file into a psex data file.\n"
                                 "Usage: psex-import [OPTIONS] INPUT\n"));
    for (const char* option :
         {"--output", "--format", "--separator", "--ploidy", "--sample-column",
          "--population-column", "--ignore-column", "--missing", "--title", "--frequency",
          "--model", "--mll-distance", "--simulations", "--split-populations", "--version"}) {
        EXPECT_NE(std::string::npos, help.text.find(std::string(option) + " ")) << option;
    }
    // Help answers over a missing input, an unknown option and options that
    // exclude each other.
    for (const Words& words : {Words{"-h"}, Words{"--bogus", "--help"}, Words{"a", "b", "-h"},
                               Words{"-o", "x", "--split-populations", "p", "--help"}}) {
        const ImportCommandLine line = parseImportCommandLine(words);
        EXPECT_EQ(Action::e_help, line.action) << words[0];
        EXPECT_EQ(help.text, line.text);
    }
}

TEST(ImportCommandLine, ReportsAWrongCommandLineInTheWordsOfTheParser) {
    // A word of --format that names no format gets the words it takes:
    // auto, then every format in the order of recognition.
    std::string formats = "{auto";
    for (const psex::ImportFormat& format : psex::importFormats()) {
        formats.push_back(',');
        formats += format.name;
    }
    formats.push_back('}');
    const std::vector<std::pair<Words, std::string>> wrong = {
        {{}, "INPUT is required"},
        {{"--title", "t"}, "INPUT is required"},
        {{"lab.csv", "extra"}, "The following argument was not expected: extra"},
        {{"--bogus", "lab.csv"}, "The following argument was not expected: --bogus"},
        {{"-o", "x", "--split-populations", "p", "lab.csv"},
         "--output excludes --split-populations"},
        {{"--title", "t", "--split-populations", "p", "lab.csv"},
         "--title excludes --split-populations"},
        {{"--format", "xyz", "lab.csv"}, "--format: xyz not in " + formats},
        {{"--separator", "x", "lab.csv"},
         "--separator: Check x value in {,->,,;->;,comma->,,semicolon->;,tab->\t} OR "
         "{,,;,,,;,\t} FAILED"},
        {{"--ploidy", "3", "lab.csv"}, "--ploidy: 3 not in {1,2}"},
        {{"--ploidy", "abc", "lab.csv"}, "--ploidy: abc"},
        {{"lab.csv", "--ploidy"}, "--ploidy: 1 required INT:{1,2} missing"},
        {{"--frequency", "foo", "lab.csv"}, "--frequency: foo not in {SAMPLE,MLG,ROUNDROBIN}"},
        {{"--model", "x", "lab.csv"}, "--model: x not in {HWE,FIS}"},
        {{"--mll-distance", "-1", "lab.csv"},
         "--mll-distance: Value -1 not in range 0 to 2147483647"},
        {{"--simulations", "0", "lab.csv"}, "--simulations: Value 0 not in range 1 to 2147483647"},
        // A wrong value is reported even when help is asked for.
        {{"--ploidy", "3", "--help"}, "--ploidy: 3 not in {1,2}"},
    };
    for (const auto& [words, message] : wrong) {
        const ImportCommandLine line = parseImportCommandLine(words);
        EXPECT_EQ(Action::e_usageError, line.action) << message;
        EXPECT_EQ(message + "\n" + k_pointer, line.text);
    }
}

TEST(RunImportProgram, AnswersOnTheRightChannelWithTheRightStatus) {
    std::istringstream noInput;
    {
        psex::test::CollectedMessages messages;
        std::ostringstream data;
        EXPECT_EQ(0, psex::runImportProgram({"--help"}, noInput, data, messages));
        EXPECT_EQ(parseImportCommandLine({"--help"}).text, messages.output());
        EXPECT_EQ("", messages.error());
        EXPECT_EQ("", data.str());
    }
    {
        psex::test::CollectedMessages messages;
        std::ostringstream data;
        EXPECT_EQ(0, psex::runImportProgram({"--version"}, noInput, data, messages));
        EXPECT_EQ("psex-import " PSEX_EXPECTED_VERSION "\n", messages.output());
        EXPECT_EQ("", messages.error());
    }
    {
        // A wrong command line reads no input.
        psex::test::CollectedMessages messages;
        std::ostringstream data;
        std::istringstream input("Sample,A,A\nx,1,2\n");
        EXPECT_EQ(2, psex::runImportProgram({"-", "extra"}, input, data, messages));
        EXPECT_EQ("", messages.output());
        EXPECT_EQ(std::string("The following argument was not expected: extra\n") + k_pointer,
                  messages.error());
        EXPECT_EQ("", data.str());
        EXPECT_EQ(0, input.tellg());
    }
}

TEST(RunImportProgram, ConvertsAsTheCommandLineSays) {
    {
        psex::test::CollectedMessages messages;
        std::ostringstream data;
        std::istringstream input("Sample;A;A\nx;1;0\n");
        EXPECT_EQ(0, psex::runImportProgram({"--title", "t", "--model", "hwe", "-"}, input, data,
                                            messages));
        EXPECT_EQ("PLOIDY=DIPLOID\nLOCUSCOUNT=1\nLOCUSNAMES=A\nMISSING=0\nTITLE=t\nMODEL=HWE\n"
                  "SIMULATIONS=1000\n\nSample,A_a,A_b\nx,0,1\n",
                  data.str());
        EXPECT_EQ("", messages.output());
        EXPECT_EQ(0u,
                  messages.error().find("Read standard input as a table, semicolon-separated."));
    }
    {
        // Read as the format named: a table is no genepop file.
        psex::test::CollectedMessages messages;
        std::ostringstream data;
        std::istringstream input("Sample,A,A\nx,1,2\n");
        EXPECT_EQ(1, psex::runImportProgram({"--format", "genepop", "-"}, input, data, messages));
        EXPECT_EQ("", data.str());
        EXPECT_EQ(0u, messages.error().find("error: standard input: there is no line 'Pop'"));
    }
}

} // namespace
