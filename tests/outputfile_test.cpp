// outputfile_test.cpp                                            -*-C++-*-
#include "base/outputfile.h"

#include "base/signals.h"
#include "scratchfolder.h"
#include "signalhandlers.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

using psex::OutputFile;
using psex::test::readFile;
using psex::test::ScratchFolder;
using psex::test::writeFile;
using Names = std::set<std::string>;

bool isTemporaryNameOf(const std::string& entry, const std::string& name) {
    return std::regex_match(entry, std::regex("\\." + name + "\\.tmp[A-Za-z0-9]{6}"));
}

// Run the specified 'body' in a child process and return its wait status;
// the child's exit code is what 'body' returns.
template <class BODY>
int inChild(BODY body) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

TEST(OutputFile, WritesUnderATemporaryNameUntilCommitted) {
    ScratchFolder folder;
    const std::string name = (folder / "simresults_x.csv").string();
    OutputFile file(name);
    file.stream() << "Datafile,x" << std::endl << std::endl;
    ASSERT_TRUE(file.stream().good());

    const Names before = folder.names();
    ASSERT_EQ(1u, before.size());
    EXPECT_TRUE(isTemporaryNameOf(*before.begin(), "simresults_x\\.csv")) << *before.begin();
    EXPECT_EQ((folder / *before.begin()).string(), file.temporaryName());

    EXPECT_TRUE(file.commit());
    EXPECT_EQ(Names{"simresults_x.csv"}, folder.names());
    EXPECT_EQ("Datafile,x\n\n", readFile(name));
    EXPECT_EQ("", file.temporaryName());
    EXPECT_EQ(name, file.name());
}

TEST(OutputFile, WritesTextLargerThanItsBufferCompletely) {
    ScratchFolder folder;
    std::string text;
    for (int i = 0; text.size() < 3000000; ++i) {
        text += "MLG" + std::to_string(i) + ",1,\"-\"\n";
    }
    OutputFile file((folder / "big.csv").string());
    file.stream() << text;
    ASSERT_TRUE(file.commit());
    EXPECT_EQ(text, readFile(folder / "big.csv"));
}

TEST(OutputFile, ReplacesAnOlderFileOnlyWhenCommitted) {
    ScratchFolder folder;
    writeFile(folder / "r.csv", "older\n");
    OutputFile file((folder / "r.csv").string());
    file.stream() << "newer" << std::endl;
    EXPECT_EQ("older\n", readFile(folder / "r.csv"));
    EXPECT_TRUE(file.commit());
    EXPECT_EQ("newer\n", readFile(folder / "r.csv"));
    EXPECT_EQ(Names{"r.csv"}, folder.names());
}

TEST(OutputFile, LeavesNoTraceWhenNotCommitted) {
    ScratchFolder folder;
    writeFile(folder / "r.csv", "older\n");
    {
        OutputFile file((folder / "r.csv").string());
        file.stream() << "newer" << std::endl;
        EXPECT_EQ(2u, folder.names().size());
    }
    EXPECT_EQ(Names{"r.csv"}, folder.names());
    EXPECT_EQ("older\n", readFile(folder / "r.csv"));
}

TEST(OutputFile, KeepsThePermissionsOfTheFileItReplaces) {
    ScratchFolder folder;
    const std::string name = (folder / "r.csv").string();
    writeFile(name, "older\n");
    ::chmod(name.c_str(), 0640);
    OutputFile file(name);
    file.stream() << "newer\n";
    ASSERT_TRUE(file.commit());
    struct stat status;
    ASSERT_EQ(0, ::stat(name.c_str(), &status));
    EXPECT_EQ(0640u, status.st_mode & 07777);

    // A new file gets what any new file gets: read and write less the umask.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    OutputFile fresh((folder / "new.csv").string());
    ASSERT_TRUE(fresh.commit());
    ASSERT_EQ(0, ::stat((folder / "new.csv").c_str(), &status));
    EXPECT_EQ(0666u & ~mask, status.st_mode & 07777);
}

TEST(OutputFile, GivesTheResultNotThePermissionsOfASymlinkTarget) {
    // A symbolic link at the result name is replaced by the new file; the
    // file it points to is neither changed nor a model for the new file's
    // permissions, which are those of any new file.
    ScratchFolder folder;
    const mode_t mask = ::umask(022);
    ::umask(mask);
    const std::string target = (folder / "private.csv").string();
    writeFile(target, "private\n");
    ::chmod(target.c_str(), 0600);
    const std::string name = (folder / "r.csv").string();
    ASSERT_EQ(0, ::symlink("private.csv", name.c_str()));
    OutputFile file(name);
    file.stream() << "newer\n";
    ASSERT_TRUE(file.commit());
    struct stat status;
    ASSERT_EQ(0, ::lstat(name.c_str(), &status));
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(0666u & ~mask, status.st_mode & 07777);
    EXPECT_EQ("newer\n", readFile(name));
    EXPECT_EQ("private\n", readFile(target));
}

TEST(OutputFile, GivesALongNameAShortenedTemporaryName) {
    // The temporary name adds 11 characters; a result name near the 255
    // byte limit of a file name must still be writable.
    ScratchFolder folder;
    const std::string base = "simresults_" + std::string(240, 'n') + ".csv";
    OutputFile file((folder / base).string());
    file.stream() << "text\n";
    const Names names = folder.names();
    ASSERT_EQ(1u, names.size());
    EXPECT_EQ(255u, names.begin()->size());
    EXPECT_EQ(0u, names.begin()->find(".simresults_nnn"));
    ASSERT_TRUE(file.commit());
    EXPECT_EQ(Names{base}, folder.names());
}

TEST(OutputFile, FailsWithoutATraceWhereNoFileCanBeMade) {
    ScratchFolder folder;
    std::filesystem::create_directory(folder / "taken.csv");
    const struct {
        const char* what;
        std::string name;
    } k_cases[] = {
        {"missing folder", (folder / "missing" / "r.csv").string()},
        {"name of a folder", (folder / "taken.csv").string()},
        {"NUL byte", (folder / std::string("a\0b.csv", 7)).string()},
        {"name too long", (folder / (std::string(300, 'n') + ".csv")).string()},
        {"empty name", ""},
    };
    for (const auto& c : k_cases) {
        OutputFile file(c.name);
        file.stream() << "text" << std::endl;
        EXPECT_FALSE(file.commit()) << c.what;
        EXPECT_EQ("", file.temporaryName()) << c.what;
        EXPECT_EQ(Names{"taken.csv"}, folder.names()) << c.what;
    }
    EXPECT_TRUE(std::filesystem::is_directory(folder / "taken.csv"));
    EXPECT_TRUE(std::filesystem::is_empty(folder / "taken.csv"));
}

TEST(OutputFile, FailsWithoutATraceWhenTheFileSizeLimitIsReached) {
    // The limit stands in for a full disk: the write fails half-way.  The
    // process must get the failure, not die of SIGXFSZ.
    ScratchFolder folder;
    const std::string name = (folder / "r.csv").string();
    writeFile(name, "older\n");
    const int status = inChild([&] {
        psex::installSignalHandlers(); // as the programs' 'main' does
        const struct rlimit limit = {100000, 100000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        OutputFile file(name);
        for (int i = 0; i < 100000; ++i) {
            file.stream() << "MLG" << i << ",1,\"-\"" << std::endl;
        }
        return file.commit() ? 0 : 3;
    });
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(3, WEXITSTATUS(status));
    EXPECT_EQ(Names{"r.csv"}, folder.names());
    EXPECT_EQ("older\n", readFile(name));
}

TEST(OutputFile, PutsFinishedFilesInPlaceTogetherOrNotAtAll) {
    ScratchFolder folder;
    writeFile(folder / "a.csv", "older a\n");
    writeFile(folder / "b.csv", "older b\n");
    writeFile(folder / "gone.csv", "earlier\n");
    {
        OutputFile a((folder / "a.csv").string());
        OutputFile b((folder / "b.csv").string());
        a.stream() << "new a\n";
        b.stream() << "new b\n";
        ASSERT_TRUE(a.finish());
        ASSERT_TRUE(b.finish());
        EXPECT_TRUE(a.isFinished());
        // Finished, the files wait under their temporary names.
        EXPECT_EQ("older a\n", readFile(folder / "a.csv"));
        EXPECT_EQ(5u, folder.names().size());
        std::string failed;
        EXPECT_TRUE(psex::replaceTogether({&a, &b}, {(folder / "gone.csv").string()}, &failed));
        EXPECT_EQ("", a.temporaryName());
    }
    EXPECT_EQ((Names{"a.csv", "b.csv"}), folder.names());
    EXPECT_EQ("new a\n", readFile(folder / "a.csv"));
    EXPECT_EQ("new b\n", readFile(folder / "b.csv"));

    // A folder that takes the place of a result name after the files were
    // written cannot be replaced: the first file, already in place, goes
    // back to its older content, and the obsolete file comes back.
    writeFile(folder / "gone.csv", "earlier\n");
    {
        OutputFile a((folder / "a.csv").string());
        OutputFile c((folder / "c.csv").string());
        OutputFile d((folder / "d.csv").string());
        a.stream() << "newest a\n";
        ASSERT_TRUE(a.finish());
        ASSERT_TRUE(c.finish());
        ASSERT_TRUE(d.finish());
        std::filesystem::create_directories(folder / "d.csv" / "inside");
        std::string failed;
        EXPECT_FALSE(
            psex::replaceTogether({&a, &c, &d}, {(folder / "gone.csv").string()}, &failed));
        EXPECT_EQ((folder / "d.csv").string(), failed);
        EXPECT_FALSE(a.isFinished());
    }
    EXPECT_EQ((Names{"a.csv", "b.csv", "d.csv", "gone.csv"}), folder.names());
    EXPECT_EQ("new a\n", readFile(folder / "a.csv"));
    EXPECT_EQ("earlier\n", readFile(folder / "gone.csv"));
    EXPECT_TRUE(std::filesystem::is_directory(folder / "d.csv" / "inside"));
}

TEST(OutputFile, RemovesTheTemporaryFilesOfThousandsOfFilesWhenASignalEndsTheProcess) {
    // A split into many populations holds a finished file per population
    // until all are written.
    ScratchFolder folder;
    const int status = inChild([&] {
        psex::installSignalHandlers();
        std::vector<std::unique_ptr<OutputFile>> files;
        for (int i = 0; i < 3000; ++i) {
            const std::string name = (folder / "p").string() + std::to_string(i);
            files.push_back(std::make_unique<OutputFile>(name));
            files.back()->stream() << i << '\n';
            if (!files.back()->finish()) {
                return 4;
            }
        }
        if (folder.names().size() != 3000) {
            return 5;
        }
        ::raise(SIGTERM);
        return 6;
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(SIGTERM, WTERMSIG(status));
    EXPECT_EQ(Names{}, folder.names());
}

// The signals whose action was the default one when the process started:
// a sanitizer handles some of the fault signals itself, and those keep its
// handler.
const std::set<int> k_defaultAtStart = [] {
    std::set<int> signals;
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
        struct sigaction current = {};
        if (::sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            signals.insert(signalNumber);
        }
    }
    return signals;
}();

using psex::test::signalHandlers;

TEST(OutputFile, InstallsNoSignalHandlerOfItsOwn) {
    // Only the programs' 'main' installs the handlers: a process that uses
    // result files without asking for them keeps its own signal handling,
    // and a signal then ends it without any clean-up.
    ScratchFolder folder;
    const int status = inChild([&] {
        const struct rlimit noCore = {0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        const std::vector<void (*)(int)> before = signalHandlers();
        OutputFile committed((folder / "c.csv").string());
        committed.stream() << "c\n";
        OutputFile first((folder / "a.csv").string());
        OutputFile second((folder / "b.csv").string());
        first.stream() << "a\n";
        std::string failed;
        if (!committed.commit() || !first.finish() || !second.finish() ||
            !psex::replaceTogether({&first, &second}, {}, &failed)) {
            return 4;
        }
        OutputFile open((folder / "d.csv").string());
        if (signalHandlers() != before) {
            return 5;
        }
        ::raise(SIGTERM);
        return 6;
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(SIGTERM, WTERMSIG(status));
    const Names left = folder.names();
    ASSERT_EQ(4u, left.size());
    EXPECT_TRUE(isTemporaryNameOf(*left.begin(), "d\\.csv")) << *left.begin();
    EXPECT_EQ((Names{*left.begin(), "a.csv", "b.csv", "c.csv"}), left);
}

TEST(OutputFile, RemovesItsTemporaryFileWhenASignalEndsTheProcess) {
    // Every signal whose default action ends the process: the ones a user
    // or a batch system sends (SIGQUIT from the keyboard, SIGUSR1 and
    // SIGALRM from job schedulers, SIGXCPU at a CPU time limit), the faults
    // and the real-time signals.  SIGKILL and SIGSTOP cannot be caught, and
    // SIGXFSZ is ignored.
    std::vector<int> signals = {SIGHUP,  SIGINT,    SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
                                SIGFPE,  SIGUSR1,   SIGSEGV, SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,
                                SIGXCPU, SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR,  SIGSYS};
#ifdef SIGSTKFLT
    signals.push_back(SIGSTKFLT);
#endif
    for (int signalNumber = SIGRTMIN; signalNumber <= SIGRTMAX; ++signalNumber) {
        signals.push_back(signalNumber);
    }
    for (const int signalNumber : signals) {
        if (k_defaultAtStart.count(signalNumber) == 0) {
            continue;
        }
        ScratchFolder folder;
        const std::string name = (folder / "r.csv").string();
        writeFile(name, "older\n");
        const int status = inChild([&] {
            // No core file: the status tells how the process ended.
            const struct rlimit noCore = {0, 0};
            ::setrlimit(RLIMIT_CORE, &noCore);
            psex::installSignalHandlers();
            // Two files at once, as the program writes them.
            OutputFile first(name);
            OutputFile second((folder / "s.csv").string());
            first.stream() << "newer" << std::endl;
            if (folder.names().size() != 3) {
                return 4;
            }
            ::raise(signalNumber);
            return 5;
        });
        ASSERT_TRUE(WIFSIGNALED(status)) << "signal " << signalNumber << ", status " << status;
        EXPECT_EQ(signalNumber, WTERMSIG(status));
        EXPECT_EQ(Names{"r.csv"}, folder.names()) << "signal " << signalNumber;
        EXPECT_EQ("older\n", readFile(name));
    }
}

} // namespace
