// signals_test.cpp                                               -*-C++-*-
#include "base/signals.h"

#include "scratchfolder.h"
#include "signalhandlers.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

using psex::test::ScratchFolder;
using psex::test::writeFile;

// Run the specified 'body' in a child process and return its wait status;
// the child's exit code is what 'body' returns.  Whatever the body installs
// stays in the child.
template <class BODY>
int inChild(BODY body) {
    const pid_t child = ::fork();
    if (child == 0) {
        const struct rlimit noCore = {0, 0}; // the status tells how it ended
        ::setrlimit(RLIMIT_CORE, &noCore);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

// Files that the clean-up actions below remove, one each.
std::string g_paths[psex::k_maxSignalCleanups + 1];

template <int INDEX>
void removeFile() {
    ::unlink(g_paths[INDEX].c_str());
}

const psex::SignalCleanup k_removers[] = {removeFile<0>, removeFile<1>, removeFile<2>,
                                          removeFile<3>, removeFile<4>};
static_assert(std::size(k_removers) == psex::k_maxSignalCleanups + 1);

// Make the files of the specified 'count' first clean-up actions in the
// specified 'folder'.
void makeFiles(const ScratchFolder& folder, int count) {
    for (int i = 0; i < count; ++i) {
        std::string name(1, 'f');
        name += std::to_string(i);
        g_paths[i] = (folder / name).string();
        writeFile(g_paths[i], "x");
    }
}

using psex::test::signalHandlers;

void (*handlerOf(int signalNumber))(int) {
    struct sigaction current = {};
    ::sigaction(signalNumber, nullptr, &current);
    return current.sa_handler;
}

extern "C" void ownHandler(int) {}

TEST(SignalHandlers, RunTheCleanUpsThenEndTheProcessAsTheSignalWould) {
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, SIGPIPE,
                                   SIGXCPU, SIGRTMIN, SIGRTMAX}) {
        ScratchFolder folder;
        makeFiles(folder, 2);
        const int status = inChild([&] {
            if (!psex::addSignalCleanup(k_removers[0]) || !psex::addSignalCleanup(k_removers[1])) {
                return 3;
            }
            psex::installSignalHandlers();
            ::raise(signalNumber);
            return 4;
        });
        ASSERT_TRUE(WIFSIGNALED(status)) << "signal " << signalNumber << ", status " << status;
        EXPECT_EQ(signalNumber, WTERMSIG(status));
        EXPECT_TRUE(folder.names().empty()) << "signal " << signalNumber;
    }
}

TEST(SignalHandlers, TakeAsManyCleanUpsAsThereIsRoomFor) {
    ScratchFolder folder;
    makeFiles(folder, psex::k_maxSignalCleanups);
    const int status = inChild([&] {
        psex::installSignalHandlers(); // clean-ups may come after the handlers
        for (int i = 0; i < psex::k_maxSignalCleanups; ++i) {
            if (!psex::addSignalCleanup(k_removers[i])) {
                return 3;
            }
        }
        if (psex::addSignalCleanup(k_removers[psex::k_maxSignalCleanups])) {
            return 4;
        }
        ::raise(SIGTERM);
        return 5;
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(SIGTERM, WTERMSIG(status));
    EXPECT_TRUE(folder.names().empty());
}

TEST(SignalHandlers, LeaveSignalsThatTheProcessIgnoresOrHandlesAsTheyAre) {
    // nohup ignores SIGHUP; a caller may handle SIGUSR2 or SIGXFSZ itself.
    const int status = inChild([] {
        ::signal(SIGHUP, SIG_IGN);
        ::signal(SIGUSR2, ownHandler);
        ::signal(SIGXFSZ, ownHandler);
        psex::installSignalHandlers();
        if (handlerOf(SIGHUP) != SIG_IGN || handlerOf(SIGUSR2) != ownHandler ||
            handlerOf(SIGXFSZ) != ownHandler) {
            return 3;
        }
        return handlerOf(SIGTERM) == SIG_DFL || handlerOf(SIGTERM) == SIG_IGN ? 4 : 0;
    });
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(0, WEXITSTATUS(status));
}

TEST(SignalHandlers, IgnoreTheFileSizeSignalSoThatAWriteFailsInstead) {
    const int status = inChild([] {
        psex::installSignalHandlers();
        const std::vector<void (*)(int)> installed = signalHandlers();
        psex::installSignalHandlers(); // a second call changes nothing
        if (signalHandlers() != installed) {
            return 3;
        }
        return handlerOf(SIGXFSZ) == SIG_IGN ? 0 : 4;
    });
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(0, WEXITSTATUS(status));
}

TEST(SignalHandlers, AreInstalledByNothingButTheirCall) {
    // A clean-up action alone, and holding the signals back, leave every
    // signal as it was, and a signal then ends the process without clean-up.
    ScratchFolder folder;
    makeFiles(folder, 1);
    const int status = inChild([&] {
        const std::vector<void (*)(int)> before = signalHandlers();
        if (!psex::addSignalCleanup(k_removers[0])) {
            return 3;
        }
        { const psex::HeldSignals held; }
        if (signalHandlers() != before) {
            return 4;
        }
        ::raise(SIGTERM);
        return 5;
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(SIGTERM, WTERMSIG(status));
    EXPECT_EQ(1u, folder.names().size());
}

TEST(HeldSignals, DelayATerminatingSignalUntilTheyAreReleased) {
    ScratchFolder folder;
    makeFiles(folder, 1);
    const std::string marker = (folder / "held").string();
    const int status = inChild([&] {
        psex::addSignalCleanup(k_removers[0]);
        psex::installSignalHandlers();
        {
            const psex::HeldSignals held;
            ::raise(SIGTERM);
            sigset_t pending;
            ::sigpending(&pending);
            // Still alive, the signal pending, nothing cleaned up yet.
            if (sigismember(&pending, SIGTERM) == 1 && ::access(g_paths[0].c_str(), F_OK) == 0) {
                writeFile(marker, "");
            }
        }
        return 3; // the signal is delivered when 'held' ends
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(SIGTERM, WTERMSIG(status));
    EXPECT_EQ(std::set<std::string>{"held"}, folder.names());

    // The signal mask is the one before, whatever it held.
    sigset_t before;
    ::pthread_sigmask(SIG_SETMASK, nullptr, &before);
    {
        const psex::HeldSignals held;
        sigset_t during;
        ::pthread_sigmask(SIG_SETMASK, nullptr, &during);
        for (const int signalNumber : {SIGINT, SIGTERM, SIGQUIT, SIGSEGV, SIGRTMAX}) {
            EXPECT_EQ(1, sigismember(&during, signalNumber)) << signalNumber;
        }
        EXPECT_EQ(0, sigismember(&during, SIGCHLD)); // does not end the process
    }
    sigset_t after;
    ::pthread_sigmask(SIG_SETMASK, nullptr, &after);
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
        EXPECT_EQ(sigismember(&before, signalNumber), sigismember(&after, signalNumber))
            << signalNumber;
    }
}

TEST(TerminatingSignals, AreThoseWhoseDefaultActionEndsTheProcess) {
    const sigset_t& signals = psex::terminatingSignals();
    for (const int signalNumber :
         {SIGHUP,  SIGINT,  SIGQUIT, SIGILL,  SIGTRAP,  SIGABRT, SIGBUS,  SIGFPE,
          SIGUSR1, SIGSEGV, SIGUSR2, SIGPIPE, SIGALRM,  SIGTERM, SIGXCPU, SIGVTALRM,
          SIGPROF, SIGPOLL, SIGPWR,  SIGSYS,  SIGRTMIN, SIGRTMAX}) {
        EXPECT_EQ(1, sigismember(&signals, signalNumber)) << signalNumber;
    }
    // Those that cannot be caught, the one that is ignored instead, and
    // those whose default action does not end the process.
    for (const int signalNumber :
         {SIGKILL, SIGSTOP, SIGXFSZ, SIGCHLD, SIGCONT, SIGTSTP, SIGWINCH, SIGURG}) {
        EXPECT_EQ(0, sigismember(&signals, signalNumber)) << signalNumber;
    }
}

} // namespace
