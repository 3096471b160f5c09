// commandline_test.cpp                                           -*-C++-*-
#include "psex/commandline.h"

#include "scratchfolder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using psex::CommandLine;
using psex::parseCommandLine;
using Action = CommandLine::Action;
using Words = std::vector<std::string>;

TEST(CommandLine, TakesEveryPlainArgumentForADataFile) {
    const CommandLine line = parseCommandLine({"a.txt", "data/b.txt", "c"});
    EXPECT_EQ(Action::e_analyse, line.action);
    EXPECT_EQ((Words{"a.txt", "data/b.txt", "c"}), line.dataFiles);
    EXPECT_EQ(Action::e_analyse, parseCommandLine({}).action);
    EXPECT_TRUE(parseCommandLine({}).dataFiles.empty());
    // An empty argument is no option: it stays a data file (that cannot be
    // opened), as before.
    EXPECT_EQ((Words{""}), parseCommandLine({""}).dataFiles);
}

TEST(CommandLine, AnswersHelpAndVersionWhateverElseIsGiven) {
    EXPECT_EQ(Action::e_help, parseCommandLine({"--help"}).action);
    EXPECT_EQ(Action::e_help, parseCommandLine({"a.txt", "-h", "b.txt"}).action);
    EXPECT_EQ(Action::e_help, parseCommandLine({"-q", "--help"}).action);
    EXPECT_EQ(Action::e_version, parseCommandLine({"--version", "--help"}).action);
    EXPECT_EQ("psex " PSEX_EXPECTED_VERSION "\n", psex::versionText());
    const std::string usage = psex::usageText();
    for (const char* needle : {"DATAFILE", "simresults_<run>.csv", "fulltable_<run>.csv",
                               "samples_<run>.csv", "Exit status", "man psex", "--version"}) {
        EXPECT_NE(std::string::npos, usage.find(needle)) << needle;
    }
}

TEST(CommandLine, RefusesUnknownOptionsButReadsFilesNamedLikeThem) {
    psex::test::ScratchFolder folder;
    const std::string readable = (folder / "-meadow.txt").string();
    psex::test::writeFile(readable, "PLOIDY=1\n");

    const CommandLine unknown = parseCommandLine({"a.txt", "--simulations=5", "-x"});
    EXPECT_EQ(Action::e_unknown, unknown.action);
    EXPECT_EQ("--simulations=5", unknown.unknownOption); // the first one is named

    // A relative name that begins with '-' is an option unless such a file
    // is there to read.
    EXPECT_EQ(Action::e_unknown, parseCommandLine({"-"}).action);
    const CommandLine file = parseCommandLine({readable, "b.txt"});
    EXPECT_EQ(Action::e_analyse, file.action);
    EXPECT_EQ((Words{readable, "b.txt"}), file.dataFiles);
    EXPECT_TRUE(psex::isReadableFile(readable));
    EXPECT_FALSE(psex::isReadableFile(folder.path().string()));
    EXPECT_FALSE(psex::isReadableFile((folder / "none").string()));

    // After '--' nothing is an option.
    const CommandLine ended = parseCommandLine({"--", "-x", "--help", "--"});
    EXPECT_EQ(Action::e_analyse, ended.action);
    EXPECT_EQ((Words{"-x", "--help", "--"}), ended.dataFiles);
}

TEST(CommandLine, TakesSettingsBeforeTheDataFiles) {
    using Settings = std::vector<std::pair<std::string, std::string>>;
    // Both spellings; a key given again keeps its place and takes the later
    // value; a value may hold '=' or be empty.
    const CommandLine line =
        parseCommandLine({"--set", "FREQUENCY=MLG", "--set=TITLE=a=b", "--set", "MODEL=", "--set",
                          "FREQUENCY=ROUNDROBIN", "--", "--set", "x.txt"});
    EXPECT_EQ(Action::e_analyse, line.action);
    EXPECT_EQ((Settings{{"FREQUENCY", "ROUNDROBIN"}, {"TITLE", "a=b"}, {"MODEL", ""}}),
              line.settings);
    EXPECT_EQ((Words{"--set", "x.txt"}), line.dataFiles); // after '--' it is a file name
    // Settings that set nothing stop the run, as an unknown option does;
    // the first problem is named, and help still answers.
    const std::vector<std::pair<Words, std::string>> wrong = {
        {{"--set", "MODEL"}, "error: --set needs KEY=VALUE, not 'MODEL' (try --help)"},
        {{"--set=", "a.txt"}, "error: --set needs KEY=VALUE, not '' (try --help)"},
        {{"--set", "=FIS"}, "error: --set needs KEY=VALUE, not '=FIS' (try --help)"},
        {{"--set", "TITLE=a\tb"}, "error: --set needs KEY=VALUE, not 'TITLE=a\tb' (try --help)"},
        {{"--set", "TITLE=a\nb"}, "error: --set needs KEY=VALUE, not 'TITLE=a\nb' (try --help)"},
        {{"a.txt", "--set"}, "error: --set needs KEY=VALUE (try --help)"},
        {{"a.txt", "--set", "MODEL=FIS", "--set", "x"},
         "error: --set MODEL=FIS comes after a data file; settings come before the data files "
         "(try --help)"},
    };
    for (const auto& [words, problem] : wrong) {
        const CommandLine refused = parseCommandLine(words);
        EXPECT_EQ(Action::e_wrongSetting, refused.action) << words[0];
        EXPECT_EQ(problem, refused.problem);
    }
    EXPECT_EQ(Action::e_unknown, parseCommandLine({"-x", "--set", "MODEL"}).action);
    EXPECT_EQ(Action::e_help, parseCommandLine({"--set", "MODEL", "--help"}).action);
    EXPECT_NE(std::string::npos, psex::usageText().find("--set KEY=VALUE"));
}

} // namespace
