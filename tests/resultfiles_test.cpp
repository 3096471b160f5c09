// resultfiles_test.cpp                                           -*-C++-*-
#include "base/resultfiles.h"

#include "base/messagesink.h"
#include "scratchfolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

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

TEST(ResultFilesTest, writesEveryFileAndWarnsOfOlderOnes) {
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
    EXPECT_EQ(output.str(), "Warning: overwriting output file 'b.csv'.\n");
    EXPECT_EQ(error.str(), "");
    EXPECT_EQ(scratch.names(), (std::set<std::string>{"a.csv", "b.csv"}));

    // psex-import's warnings go to the error channel: its standard output
    // may be a data file.
    std::ostringstream importOutput;
    std::ostringstream importError;
    MessageSink importMessages(importOutput, importError);
    EXPECT_TRUE(writeResultFiles({fileSaying("a.csv", "third\n")}, importMessages,
                                 psex::WarningChannel::e_error));
    EXPECT_EQ(importOutput.str(), "");
    EXPECT_EQ(importError.str(), "Warning: overwriting output file 'a.csv'.\n");
}

TEST(ResultFilesTest, aFileThatCannotBeWrittenLeavesTheWholeOlderSet) {
    // The later file cannot be written: the earlier one, though complete,
    // must not replace its older file either, or the folder would hold a
    // new table beside an old one.  Every file that fails is named.
    ScratchFolder scratch;
    const InFolder here(scratch.path());
    writeFile(scratch / "a.csv", "older a\n");
    std::ostringstream output;
    std::ostringstream error;
    MessageSink messages(output, error);

    EXPECT_FALSE(writeResultFiles({fileSaying("a.csv", "first\n"), fileSaying("no/b.csv", "b\n"),
                                   fileSaying("c.csv", "c\n"), fileSaying("gone/d.csv", "d\n")},
                                  messages));
    EXPECT_EQ(readFile(scratch / "a.csv"), "older a\n");
    EXPECT_EQ(scratch.names(), (std::set<std::string>{"a.csv"}));
    EXPECT_EQ(output.str(), "");
    EXPECT_EQ(error.str(), "error: cannot write output file 'no/b.csv'.\n"
                           "error: cannot write output file 'gone/d.csv'.\n");
}

TEST(ResultFilesTest, refusesANameWhereSomethingOtherThanAFileStands) {
    // A folder, a FIFO, a link to a folder: replacing any of them with a
    // result file would take it from whoever uses it.  Nothing of the set
    // is written.  A link to a file, or to nothing, is replaced.
    ScratchFolder scratch;
    const InFolder here(scratch.path());
    std::filesystem::create_directory(scratch / "folder.csv");
    ASSERT_EQ(0, ::mkfifo("fifo.csv", 0600));
    std::filesystem::create_directory_symlink("folder.csv", scratch / "link.csv");
    writeFile(scratch / "a.csv", "older a\n");
    std::ostringstream output;
    std::ostringstream error;
    MessageSink messages(output, error);

    EXPECT_FALSE(writeResultFiles({fileSaying("a.csv", "a\n"), fileSaying("folder.csv", ""),
                                   fileSaying("fifo.csv", ""), fileSaying("link.csv", "")},
                                  messages));
    EXPECT_EQ(output.str(), "");
    EXPECT_EQ(error.str(), "error: 'folder.csv' exists and is not a regular file.\n"
                           "error: 'fifo.csv' exists and is not a regular file.\n"
                           "error: 'link.csv' exists and is not a regular file.\n");
    EXPECT_EQ(readFile(scratch / "a.csv"), "older a\n");
    EXPECT_EQ(scratch.names(),
              (std::set<std::string>{"a.csv", "fifo.csv", "folder.csv", "link.csv"}));
    EXPECT_TRUE(std::filesystem::is_empty(scratch / "folder.csv"));

    std::filesystem::create_symlink("a.csv", scratch / "to-a.csv");
    std::filesystem::create_symlink("nowhere.csv", scratch / "to-nothing.csv");
    EXPECT_TRUE(writeResultFiles(
        {fileSaying("to-a.csv", "new\n"), fileSaying("to-nothing.csv", "new\n")}, messages));
    EXPECT_FALSE(std::filesystem::is_symlink(scratch / "to-a.csv"));
    EXPECT_EQ(readFile(scratch / "to-nothing.csv"), "new\n");
    EXPECT_EQ(readFile(scratch / "a.csv"), "older a\n");
}

TEST(ResultFilesTest, removesAFileThatTheNewSetNoLongerHas) {
    // An entry without a writer names a result of an earlier run that this
    // one does not write (the distances file of a run without lineages):
    // it goes with the replacement, and is said to go.  Anything but a file
    // or a link stays.
    ScratchFolder scratch;
    const InFolder here(scratch.path());
    writeFile(scratch / "distances.csv", "earlier\n");
    std::filesystem::create_directory(scratch / "kept.csv");
    std::ostringstream output;
    std::ostringstream error;
    MessageSink messages(output, error);

    EXPECT_TRUE(writeResultFiles(
        {fileSaying("a.csv", "a\n"), {"distances.csv", {}}, {"kept.csv", {}}, {"absent.csv", {}}},
        messages));
    EXPECT_EQ(scratch.names(), (std::set<std::string>{"a.csv", "kept.csv"}));
    EXPECT_EQ(output.str(), "Warning: removing output file 'distances.csv' of an earlier run.\n");
    EXPECT_EQ(error.str(), "");
}

} // namespace
