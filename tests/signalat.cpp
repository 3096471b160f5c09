// signalat.cpp                                                   -*-C++-*-
//
// A stand-in for the C library's 'write', 'fsync', 'close', 'rename',
// 'renameat2', 'unlink' and 'flock', loaded before it (LD_PRELOAD) by the
// interruption tests, so that a signal reaches the program at one exact
// moment of its work (while a result file is written, once all are written,
// in the middle of putting them in place) however fast or busy the machine
// is.  The environment says when:
//
//   PSEX_TEST_SIGNAL        the signal to raise, by number; SIGSTOP stops the
//                           process there instead, so that the test can send
//                           a signal from outside while it stands still
//   PSEX_TEST_SIGNAL_CALL   the function at whose call it comes: "write",
//                           "fsync", "close", "rename", "renameat2",
//                           "unlink" or "flock"
//   PSEX_TEST_SIGNAL_PATH   a part of the path of the file the call concerns
//                           (the file open on the descriptor, or the first
//                           path); unset: every call of that function
//   PSEX_TEST_SIGNAL_COUNT  at the how-manieth such call (1, the first, when
//                           unset)
//   PSEX_TEST_SIGNAL_AFTER  "1": once the call has returned; otherwise just
//                           before it is made
//   PSEX_TEST_SIGNAL_LOG    a file to which the moment is written, as a line
//                           "signal S at CALL N of 'PATH'" just before the
//                           signal is raised and a line "went on" if the
//                           process goes on after it (it was held back, or it
//                           does not end the process), so that a test knows
//                           the signal came, and where
//
// Every other call, and every call when PSEX_TEST_SIGNAL_CALL is not set, is
// passed through unchanged.  The signal comes at most once.  A signal
// handler of the program may call these functions too (its clean-up removes
// files): the settings are read when the library is loaded, and a call that
// is not the chosen one touches nothing but the call counter.

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>

namespace {

// ---- the C library's own functions ----

using Write = ssize_t (*)(int, const void*, size_t);
using OnDescriptor = int (*)(int); // fsync, close
using Rename = int (*)(const char*, const char*);
using Renameat2 = int (*)(int, const char*, int, const char*, unsigned int);
using Unlink = int (*)(const char*);
using Flock = int (*)(int, int);

// Found when the library is loaded, so that a signal handler that calls one
// of them never looks a function up; a call before that (from another
// library's start-up) looks it up itself.
Write g_write = nullptr;
OnDescriptor g_fsync = nullptr;
OnDescriptor g_close = nullptr;
Rename g_rename = nullptr;
Renameat2 g_renameat2 = nullptr;
Unlink g_unlink = nullptr;
Flock g_flock = nullptr;

template <class FUNCTION>
FUNCTION real(FUNCTION& function, const char* name) {
    if (function == nullptr) {
        function = reinterpret_cast<FUNCTION>(dlsym(RTLD_NEXT, name));
    }
    return function;
}

// ---- the settings, read once when the library is loaded ----

int g_signal = 0;                     // 0: no signal is asked for
char g_call[16] = "";                 // the function
const char* g_path = nullptr;         // part of the path, or none
long g_count = 1;                     // the how-manieth matching call
bool g_after = false;                 // after the call rather than before
const char* g_log = nullptr;          // where the moment is written
std::atomic<long> g_calls{0};         // matching calls so far
std::atomic<bool> g_signalled{false}; // the signal has come

__attribute__((constructor)) void setUp() {
    real(g_write, "write");
    real(g_fsync, "fsync");
    real(g_close, "close");
    real(g_rename, "rename");
    real(g_renameat2, "renameat2");
    real(g_unlink, "unlink");
    real(g_flock, "flock");

    const char* signalText = getenv("PSEX_TEST_SIGNAL");
    const char* call = getenv("PSEX_TEST_SIGNAL_CALL");
    if (signalText == nullptr || call == nullptr || strlen(call) >= sizeof g_call) {
        return;
    }
    strcpy(g_call, call);
    g_path = getenv("PSEX_TEST_SIGNAL_PATH");
    if (const char* count = getenv("PSEX_TEST_SIGNAL_COUNT")) {
        g_count = atol(count);
    }
    const char* after = getenv("PSEX_TEST_SIGNAL_AFTER");
    g_after = after != nullptr && strcmp(after, "1") == 0;
    g_log = getenv("PSEX_TEST_SIGNAL_LOG");
    g_signal = atoi(signalText);
}

// ---- the moment ----

// Load the specified 'path' with the name of the file open on the specified
// 'descriptor' (empty when there is none) and return it.
const char* pathOf(int descriptor, char (&path)[4096]) {
    char link[32] = "/proc/self/fd/";
    char digits[16];
    int length = 0;
    unsigned value = static_cast<unsigned>(descriptor);
    do {
        digits[length++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    size_t at = strlen(link);
    while (length > 0) {
        link[at++] = digits[--length];
    }
    link[at] = '\0';
    const ssize_t size = readlink(link, path, sizeof path - 1);
    path[size > 0 ? size : 0] = '\0';
    return path;
}

// Return whether calls of the specified function 'call' are watched at all:
// the others do not even look up the name of their file.
bool watches(const char* call) {
    return g_signal != 0 && strcmp(call, g_call) == 0 && !g_signalled.load();
}

// Return whether this call of the specified function 'call', on the file of
// the specified 'path', is the chosen one.
bool isTheMoment(const char* call, const char* path) {
    if (!watches(call) || (g_path != nullptr && strstr(path, g_path) == nullptr)) {
        return false;
    }
    return g_calls.fetch_add(1) + 1 == g_count && !g_signalled.exchange(true);
}

void logLine(const char* text) {
    if (g_log == nullptr) {
        return;
    }
    const int descriptor = open(g_log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (descriptor >= 0) {
        real(g_write, "write")(descriptor, text, strlen(text));
        real(g_close, "close")(descriptor);
    }
}

// Write the moment to the log, raise the signal, and write "went on" when
// the process is still there afterwards.
void signalNow(const char* call, const char* path) {
    const int savedErrno = errno;
    char line[4200];
    snprintf(line, sizeof line, "signal %d at %s %ld of '%s'\n", g_signal, call, g_count, path);
    logLine(line);
    raise(g_signal);
    logLine("went on\n");
    errno = savedErrno;
}

// Make the real call with the specified 'function' and return what it
// returned, with the signal just before or just after it when this call of
// the specified function 'call' on the specified 'path' is the chosen one.
template <class FUNCTION>
auto around(const char* call, const char* path, FUNCTION function) {
    const bool now = isTheMoment(call, path);
    if (now && !g_after) {
        signalNow(call, path);
    }
    const auto result = function();
    if (now && g_after) {
        signalNow(call, path);
    }
    return result;
}

} // namespace

extern "C" ssize_t write(int descriptor, const void* data, size_t size) {
    const Write function = real(g_write, "write");
    if (!watches("write")) {
        return function(descriptor, data, size);
    }
    char path[4096];
    return around("write", pathOf(descriptor, path),
                  [&] { return function(descriptor, data, size); });
}

extern "C" int fsync(int descriptor) {
    const OnDescriptor function = real(g_fsync, "fsync");
    if (!watches("fsync")) {
        return function(descriptor);
    }
    char path[4096];
    return around("fsync", pathOf(descriptor, path), [&] { return function(descriptor); });
}

extern "C" int close(int descriptor) {
    const OnDescriptor function = real(g_close, "close");
    if (!watches("close")) {
        return function(descriptor);
    }
    char path[4096]; // looked up while the descriptor is still open
    return around("close", pathOf(descriptor, path), [&] { return function(descriptor); });
}

extern "C" int rename(const char* from, const char* to) {
    const Rename function = real(g_rename, "rename");
    return around("rename", from, [&] { return function(from, to); });
}

extern "C" int renameat2(int fromFolder, const char* from, int toFolder, const char* to,
                         unsigned int flags) {
    const Renameat2 function = real(g_renameat2, "renameat2");
    return around("renameat2", from,
                  [&] { return function(fromFolder, from, toFolder, to, flags); });
}

extern "C" int unlink(const char* path) {
    const Unlink function = real(g_unlink, "unlink");
    return around("unlink", path, [&] { return function(path); });
}

extern "C" int flock(int descriptor, int operation) {
    const Flock function = real(g_flock, "flock");
    if (!watches("flock")) {
        return function(descriptor, operation);
    }
    char path[4096];
    return around("flock", pathOf(descriptor, path),
                  [&] { return function(descriptor, operation); });
}
