// failingread.cpp                                                -*-C++-*-
//
// A stand-in for the C library's 'read', loaded before it (LD_PRELOAD) by
// tests that need a file whose reading fails part-way, as on a failing disk
// or a vanished network share.  When the environment names a file
// (PSEX_TEST_FAIL_PATH, a part of its path) and an offset
// (PSEX_TEST_FAIL_AFTER), reads of that file deliver its bytes up to the
// offset and then fail with EIO; every other read is passed through.

#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

extern "C" ssize_t read(int descriptor, void* buffer, size_t count) {
    using Read = ssize_t (*)(int, void*, size_t);
    static const Read real = reinterpret_cast<Read>(dlsym(RTLD_NEXT, "read"));
    const char* path = getenv("PSEX_TEST_FAIL_PATH");
    const char* after = getenv("PSEX_TEST_FAIL_AFTER");
    if (path != nullptr && after != nullptr) {
        char link[64];
        char target[4096];
        snprintf(link, sizeof link, "/proc/self/fd/%d", descriptor);
        const ssize_t length = readlink(link, target, sizeof target - 1);
        if (length > 0) {
            target[length] = '\0';
            if (strstr(target, path) != nullptr) {
                const off_t position = lseek(descriptor, 0, SEEK_CUR);
                const off_t limit = static_cast<off_t>(atol(after));
                if (position >= limit) {
                    errno = EIO;
                    return -1;
                }
                if (position + static_cast<off_t>(count) > limit) {
                    count = static_cast<size_t>(limit - position);
                }
            }
        }
    }
    return real(descriptor, buffer, count);
}
