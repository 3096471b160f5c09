// stoppingrename.cpp                                             -*-C++-*-
//
// A stand-in for the C library's 'renameat2', loaded before it (LD_PRELOAD)
// by the test that interrupts a run while its result files are put in
// place.  That moment lasts a few renames: a test that watched for it from
// outside caught it or not as the machine's load allowed.  When the
// environment names a file (PSEX_TEST_STOP_AFTER_RENAME, the end of its
// path), the first rename that puts something at that name stops the
// process (SIGSTOP, which no signal mask holds back) right after it, so the
// test finds the run exactly there.  Every rename is done as usual.

#include <dlfcn.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

extern "C" int renameat2(int oldDirectory, const char* oldPath, int newDirectory,
                         const char* newPath, unsigned int flags) {
    using Renameat2 = int (*)(int, const char*, int, const char*, unsigned int);
    static const Renameat2 real = reinterpret_cast<Renameat2>(dlsym(RTLD_NEXT, "renameat2"));
    static std::atomic<bool> stopped{false};
    const int result = real(oldDirectory, oldPath, newDirectory, newPath, flags);
    const char* name = getenv("PSEX_TEST_STOP_AFTER_RENAME");
    if (result == 0 && name != nullptr && newPath != nullptr) {
        const size_t length = strlen(newPath);
        const size_t nameLength = strlen(name);
        if (length >= nameLength && strcmp(newPath + length - nameLength, name) == 0 &&
            !stopped.exchange(true)) {
            raise(SIGSTOP);
        }
    }
    return result;
}
