// runpsex.h                                                      -*-C++-*-
#ifndef PSEX_TESTS_RUNPSEX_H
#define PSEX_TESTS_RUNPSEX_H

// Purpose: run the built program the one way every end-to-end test runs it:
// in a given folder, with an argument vector (no shell in between), with its
// standard output and standard error caught in files and its standard input
// given or empty, and report what it printed, how it ended and which files
// it left.
//
// A test that must act while the program runs (send it a signal, watch its
// folder) starts a 'ProgramRun' and waits for it later; a test that needs
// the program's standard error on a terminal forks for itself and lets the
// child end in 'execInFolder'.  'splitWords' turns the one-line argument
// files of the end-to-end cases into an argument vector.

#include "scratchfolder.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace psex::test {

// Whether the program under test carries AddressSanitizer: it is built as
// the tests are, and the sanitizer's runtime changes what limits on memory
// and stand-ins for library functions can do.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool k_addressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool k_addressSanitizer = true;
#else
constexpr bool k_addressSanitizer = false;
#endif
#else
constexpr bool k_addressSanitizer = false;
#endif

struct RunResult {
    // What one run of the program gave.

    // DATA
    std::string out;                          // standard output
    std::string err;                          // standard error
    int status = -1;                          // exit status, or 128 + signal
    std::map<std::string, std::string> files; // what the run left, by path
                                              // relative to its folder
};

struct RunOptions {
    // How to run the program, beyond its folder and arguments.

    // DATA
    std::set<std::string> inputs;     // files below the folder (paths
                                      // relative to it) not to report
    std::function<void()> prepare;    // run in the child just before the
                                      // program starts (limits, signals)
    std::optional<std::string> input; // standard input; none: /dev/null
};

inline int statusOf(int waitStatus) {
    // Return the exit status in the specified 'waitStatus' (as 'waitpid'
    // gives it), or 128 plus the number of the signal that ended the
    // process, as a shell reports it.
    return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
}

[[noreturn]] inline void execInFolder(const std::filesystem::path& binary,
                                      const std::filesystem::path& folder,
                                      const std::vector<std::string>& arguments,
                                      const std::function<void()>& prepare = {}) {
    // In a child process: change into the specified 'folder', call 'prepare'
    // if given, and replace the process with 'binary' started with the
    // specified 'arguments'.  End the process with status 126 when the
    // folder cannot be entered and 127 when the program cannot be started.
    if (::chdir(folder.c_str()) != 0) {
        ::_exit(126);
    }
    if (prepare) {
        prepare();
    }
    std::vector<char*> argv{const_cast<char*>(binary.c_str())};
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    ::execv(binary.c_str(), argv.data());
    ::_exit(127);
}

inline std::map<std::string, std::string> filesLeft(const std::filesystem::path& folder,
                                                    const std::set<std::string>& inputs) {
    // Return the content of every regular file below the specified 'folder'
    // by its path relative to 'folder', except those listed in 'inputs'.
    std::map<std::string, std::string> files;
    for (const std::string& name : filesBelow(folder)) {
        if (inputs.count(name) == 0) {
            files[name] = readFile(folder / name);
        }
    }
    return files;
}

inline std::set<std::string> fileNamesOf(const RunResult& run) {
    // Return the paths of the files that the specified 'run' left.
    std::set<std::string> names;
    for (const auto& entry : run.files) {
        names.insert(entry.first);
    }
    return names;
}

class ProgramRun {
    // One run of the program in a child process, started on construction.
    // Its console output goes to files of a folder of its own until 'wait'
    // collects it.  A run never waited for is killed when the object dies.

    // DATA
    ScratchFolder d_console; // stdin, stdout and stderr of the run
    std::filesystem::path d_folder;
    std::set<std::string> d_inputs;
    pid_t d_pid = -1;

  public:
    // CREATORS
    ProgramRun(const std::filesystem::path& binary, const std::filesystem::path& folder,
               const std::vector<std::string>& arguments, const RunOptions& options = {})
        : d_folder(folder), d_inputs(options.inputs) {
        // Start 'binary' with the specified 'arguments' in 'folder' as the
        // specified 'options' say.
        const std::string inPath =
            options.input ? (d_console / "stdin").string() : std::string("/dev/null");
        if (options.input) {
            writeFile(inPath, *options.input);
        }
        const std::string outPath = (d_console / "stdout").string();
        const std::string errPath = (d_console / "stderr").string();
        d_pid = ::fork();
        if (d_pid < 0) {
            throw std::runtime_error("cannot start a process for " + binary.string());
        }
        if (d_pid == 0) {
            const int in = ::open(inPath.c_str(), O_RDONLY);
            const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            // Opened in this order, each gets the lowest free descriptor, so
            // none is overwritten before it is copied into place, even when
            // the test itself runs without standard streams.
            if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 ||
                ::dup2(err, 2) < 0) {
                ::_exit(126);
            }
            for (const int descriptor : {in, out, err}) {
                if (descriptor > 2) {
                    ::close(descriptor);
                }
            }
            execInFolder(binary, folder, arguments, options.prepare);
        }
    }
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;
    ~ProgramRun() {
        if (d_pid > 0) {
            ::kill(d_pid, SIGKILL);
            ::waitpid(d_pid, nullptr, 0);
        }
    }

    // MANIPULATORS
    RunResult wait() {
        // Wait until the run ends and return what it gave.  Call it once.
        int raw = 0;
        ::waitpid(d_pid, &raw, 0);
        d_pid = -1;
        RunResult result;
        result.status = statusOf(raw);
        result.out = readFile(d_console / "stdout");
        result.err = readFile(d_console / "stderr");
        result.files = filesLeft(d_folder, d_inputs);
        return result;
    }

    // ACCESSORS
    pid_t pid() const { return d_pid; }
    // Return the process id of the run, or -1 once it has been waited for.

    bool hasEnded() const {
        // Return whether the run has ended, without collecting it (so that
        // 'wait' still can).
        siginfo_t info = {};
        return d_pid < 0 || ::waitid(P_PID, d_pid, &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
               info.si_pid != 0;
    }
};

inline RunResult runProgram(const std::filesystem::path& binary,
                            const std::filesystem::path& folder,
                            const std::vector<std::string>& arguments,
                            const RunOptions& options = {}) {
    // Run 'binary' with the specified 'arguments' in the specified 'folder'
    // as 'options' say, wait for it and return what it gave.
    return ProgramRun(binary, folder, arguments, options).wait();
}

inline std::vector<std::string> splitWords(const std::string& line) {
    // Return the words of the specified 'line' as a POSIX shell (and
    // Python's 'shlex.split', which the result checker uses) splits them,
    // without any expansion: blanks separate words; inside single quotes
    // every character stands for itself; inside double quotes a backslash
    // escapes only '"' and '\'; elsewhere it escapes any character.  Throw
    // 'std::invalid_argument' when a quote is not closed or the line ends
    // in a lone backslash.
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (inWord) {
                words.push_back(word);
                word.clear();
                inWord = false;
            }
            continue;
        }
        inWord = true;
        if (c == '\'' || c == '"') {
            for (++i; i < line.size() && line[i] != c; ++i) {
                if (c == '"' && line[i] == '\\' && i + 1 < line.size() &&
                    (line[i + 1] == '"' || line[i + 1] == '\\')) {
                    ++i;
                }
                word += line[i];
            }
            if (i == line.size()) {
                throw std::invalid_argument("unclosed quote in: " + line);
            }
        } else if (c == '\\') {
            if (++i == line.size()) {
                throw std::invalid_argument("lone backslash at the end of: " + line);
            }
            word += line[i];
        } else {
            word += c;
        }
    }
    if (inWord) {
        words.push_back(word);
    }
    return words;
}

} // namespace psex::test

#endif
