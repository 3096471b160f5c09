// resultfiles_test.cpp                                           -*-C++-*-
#include "resultfiles.h"

#include "messagesink.h"
#include "scratchfolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using psex::MessageSink;
using psex::refusalOf;
using psex::ResultFile;
using psex::writeResultFiles;
using psex::test::readFile;
using psex::test::ScratchFolder;
using psex::test::writeFile;

class InFolder {
    // Makes the specified folder the working folder while the object lives:
    // result names are relative to it, as in a run.
    std::filesystem::path d_previous;

  public:
    explicit InFolder(const std::filesystem::path& folder)
        : d_previous(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    InFolder(const InFolder&) = delete;
    InFolder& operator=(const InFolder&) = delete;
    ~InFolder() { std::filesystem::current_path(d_previous); }
};

ResultFile fileSaying(const std::string& name, const std::string& text) {
    return {name, [text](std::ostream& out) { out << text; }};
}

TEST(ResultFilesTest, refusesNamesThatComeToOneFileOrLeadOutOfTheFolder) {
    ScratchFolder scratch;
    std::filesystem::create_directory(scratch / "work");
    std::filesystem::create_directory(scratch / "work" / "x");
    const InFolder here(scratch / "work");

    // "x/.." cancels out: the second file would replace the first.
    EXPECT_EQ(refusalOf({fileSaying("r.csv", ""), fileSaying("x/../r.csv", "")}, "d.txt", false),
              std::optional<std::string>("error: result files of 'd.txt' would overwrite each "
                                         "other ('x/../r.csv')."));
    EXPECT_EQ(refusalOf({fileSaying("r.csv", ""), fileSaying("x/r.csv", "")}, "d.txt", true),
              std::nullopt);

    // Outside the working folder: refused only when the name came from a
    // TITLE; a path typed on the command line is the user's own choice.
    const std::vector<ResultFile> outside = {fileSaying("../r.csv", "")};
    EXPECT_EQ(refusalOf(outside, "d.txt", true),
              std::optional<std::string>("error: result files of 'd.txt' would be written "
                                         "outside the working folder ('../r.csv')."));
    EXPECT_EQ(refusalOf(outside, "d.txt", false), std::nullopt);

    // A folder that does not exist is left to the write, which fails.
    EXPECT_EQ(refusalOf({fileSaying("no/r.csv", ""), fileSaying("no/r.csv", "")}, "d.txt", true),
              std::nullopt);
}

TEST(ResultFilesTest, writesEveryFileWarnsOfOlderOnesAndNamesTheFirst) {
    ScratchFolder scratch;
    const InFolder here(scratch.path());
    writeFile(scratch / "b.csv", "old");
    std::ostringstream output;
    std::ostringstream error;
    MessageSink messages(output, error);

    EXPECT_TRUE(writeResultFiles({fileSaying("a.csv", "first\n"), fileSaying("b.csv", "second\n")},
                                 messages));
    EXPECT_EQ(readFile(scratch / "a.csv"), "first\n");
    EXPECT_EQ(readFile(scratch / "b.csv"), "second\n");
    EXPECT_EQ(output.str(), "Warning: overwriting output file 'b.csv'.\n"
                            "Results are written to 'a.csv'.\n");
    EXPECT_EQ(error.str(), "");
    EXPECT_EQ(scratch.names(), (std::set<std::string>{"a.csv", "b.csv"}));
}

TEST(ResultFilesTest, aFileThatCannotBeWrittenFailsTheSetButNotTheOthers) {
    ScratchFolder scratch;
    const InFolder here(scratch.path());
    std::ostringstream output;
    std::ostringstream error;
    MessageSink messages(output, error);

    EXPECT_FALSE(writeResultFiles({fileSaying("no/a.csv", "first\n"), fileSaying("b.csv", "b\n")},
                                  messages));
    EXPECT_EQ(readFile(scratch / "b.csv"), "b\n");
    EXPECT_EQ(output.str(), "");
    EXPECT_EQ(error.str(), "error: cannot write output file 'no/a.csv'.\n");
}

} // namespace
