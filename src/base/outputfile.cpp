// outputfile.cpp                                                 -*-C++-*-
#include "base/outputfile.h"

#include "base/contract.h"
#include "base/signals.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <new>
#include <streambuf>
#include <vector>

namespace psex {

namespace {

// ---- removing temporary files when a signal ends the process ----

// The names of the temporary files that exist now.  A signal handler reads
// them, so they are plain pointers behind lock-free atomics, in pages that
// are made as more files are open at once (a split into a hundred
// thousand populations writes as many) and never given back: the handler
// may read a page at any moment.
constexpr std::size_t k_pageSize = 1024;
constexpr std::size_t k_pageCount = 4096; // at most four million files at once
struct NamePage {
    std::atomic<const char*> slots[k_pageSize];
};
std::atomic<NamePage*> g_namePages[k_pageCount];
static_assert(std::atomic<const char*>::is_always_lock_free);
static_assert(std::atomic<NamePage*>::is_always_lock_free);

// The slots not in use, and how many were made; only outside the handler.
std::mutex g_slotMutex;
std::vector<std::size_t> g_freeSlots; // its capacity covers every slot made
std::size_t g_slotsMade = 0;

std::atomic<const char*>& slotAt(std::size_t slot) {
    return g_namePages[slot / k_pageSize].load()->slots[slot % k_pageSize];
}

// Remove every temporary file that exists now: the clean-up that a signal
// ending the process runs (see signals.h).  Only async-signal-safe calls.
void removeTemporaryFiles() {
    for (const auto& entry : g_namePages) {
        NamePage* page = entry.load();
        if (page == nullptr) {
            break; // pages are made in order
        }
        for (const auto& slot : page->slots) {
            if (const char* name = slot.load()) {
                ::unlink(name);
            }
        }
    }
}

// List the specified temporary file 'name' for removal when a signal ends
// the process, and return its slot, or -1 when it cannot be listed.
long registerTemporaryName(const char* name) {
    // The handlers run the removal once 'main' has installed them; a
    // process that has not keeps its own signal handling.
    static const bool cleanupAdded = addSignalCleanup(removeTemporaryFiles);
    if (!cleanupAdded) {
        return -1;
    }
    const std::lock_guard<std::mutex> lock(g_slotMutex);
    if (g_freeSlots.empty()) {
        if (g_slotsMade == k_pageSize * k_pageCount) {
            return -1; // not cleaned on a signal; everything else works as usual
        }
        if (g_slotsMade % k_pageSize == 0) {
            try {
                // Room for every slot to be free at once, so that giving one
                // back never allocates.
                g_freeSlots.reserve(g_slotsMade + k_pageSize);
                g_namePages[g_slotsMade / k_pageSize].store(new NamePage{});
            } catch (const std::bad_alloc&) {
                return -1;
            }
        }
        g_freeSlots.push_back(g_slotsMade++);
    }
    const std::size_t slot = g_freeSlots.back();
    g_freeSlots.pop_back();
    slotAt(slot).store(name);
    return static_cast<long>(slot);
}

void unregisterTemporaryName(long slot) {
    if (slot >= 0) {
        slotAt(static_cast<std::size_t>(slot)).store(nullptr);
        const std::lock_guard<std::mutex> lock(g_slotMutex);
        g_freeSlots.push_back(static_cast<std::size_t>(slot));
    }
}

// ---- naming and creating the temporary file ----

// Longest file name (without its folder) that common file systems accept.
constexpr std::size_t k_nameMax = 255;
constexpr char k_temporarySuffix[] = ".tmp";
constexpr std::size_t k_randomLength = 6;

// A value that differs between processes and between calls, for the random
// part of a temporary name.  The simulation's random stream must not be
// touched: the results depend on every number drawn from it.
std::uint64_t nameSeed() {
    static std::uint64_t counter = 0;
    std::uint64_t x = static_cast<std::uint64_t>(::getpid()) << 32;
    x ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    x += 0x9E3779B97F4A7C15ULL * ++counter;
    // splitmix64 finalizer: spreads every input bit over the whole word
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

// Return ".<base>.tmpXXXXXX" in the folder of the specified 'name', the base
// shortened when needed so that the whole stays a valid file name length.
std::string temporaryNameFor(const std::string& name, std::uint64_t seed) {
    static const char k_letters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const std::size_t slash = name.rfind('/');
    const std::size_t baseStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t room = k_nameMax - 1 - (sizeof k_temporarySuffix - 1) - k_randomLength;
    std::string temporary =
        name.substr(0, baseStart) + '.' + name.substr(baseStart, room) + k_temporarySuffix;
    for (std::size_t i = 0; i < k_randomLength; ++i) {
        temporary += k_letters[seed % (sizeof k_letters - 1)];
        seed /= sizeof k_letters - 1;
    }
    return temporary;
}

// The permission bits for the new file: those of an existing regular file of
// the specified 'name', so that replacing it keeps them.  A symbolic link
// there is replaced by the new file, and what it points to lends nothing.
bool existingPermissions(const std::string& name, mode_t* permissions) {
    struct stat status;
    if (::lstat(name.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return false;
    }
    *permissions = status.st_mode & 0777;
    return true;
}

// Create a new file for the result file of the specified 'name' under a
// temporary name with the specified 'permissions', load the specified
// 'temporaryName' with that name, and return the descriptor open for
// writing, or -1 when no file can be created there.
int createTemporaryFile(const std::string& name, mode_t permissions, std::string* temporaryName) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        *temporaryName = temporaryNameFor(name, nameSeed());
        const int descriptor =
            ::open(temporaryName->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                   permissions);
        if (descriptor >= 0 || errno != EEXIST) {
            return descriptor;
        }
    }
    return -1; // a hundred names taken: something else is going on
}

} // namespace

// ---- the stream buffer ----

class OutputFile::Buffer : public std::streambuf {
    // Collects the text and writes it to the temporary file in large pieces.
    // A flush (every 'std::endl') writes nothing: the file is not visible
    // under its result name before the commit, so writing line by line
    // would only cost a system call per line.

    // DATA
    int d_descriptor;
    std::vector<char> d_data;
    bool d_failed = false;

  public:
    explicit Buffer(int descriptor) : d_descriptor(descriptor), d_data(1 << 16) {
        setp(d_data.data(), d_data.data() + d_data.size());
    }

    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    ~Buffer() override { closeDescriptor(); }

    bool writeOut() {
        const char* next = pbase();
        std::size_t left = static_cast<std::size_t>(pptr() - pbase());
        while (left > 0 && !d_failed) {
            const ssize_t written = ::write(d_descriptor, next, left);
            if (written < 0) {
                if (errno != EINTR) {
                    d_failed = true;
                }
                continue;
            }
            next += written;
            left -= static_cast<std::size_t>(written);
        }
        setp(d_data.data(), d_data.data() + d_data.size());
        return !d_failed;
    }

    bool syncToDisk() {
        // Some file systems cannot sync (EINVAL); their data are as safe as
        // they get once written.
        return ::fsync(d_descriptor) == 0 || errno == EINVAL;
    }

    bool closeDescriptor() {
        if (d_descriptor < 0) {
            return true;
        }
        const int descriptor = d_descriptor;
        d_descriptor = -1;
        // Network file systems report some write errors only here.  After
        // EINTR the descriptor is closed all the same on Linux.
        return ::close(descriptor) == 0 || errno == EINTR;
    }

  protected:
    int_type overflow(int_type c) override {
        if (!writeOut()) {
            return traits_type::eof();
        }
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }

    int sync() override { return d_failed ? -1 : 0; }
};

// ---- OutputFile ----

OutputFile::OutputFile(const std::string& name) : d_name(name), d_stream(nullptr) {
    // A name with a NUL byte, or one that ends in a folder, names no file.
    if (name.find('\0') != std::string::npos || name.empty() || name.back() == '/') {
        d_stream.setstate(std::ios::badbit);
        return;
    }
    mode_t permissions = 0666; // less the umask, as for any new file
    const bool keepPermissions = existingPermissions(name, &permissions);

    int descriptor;
    {
        // A signal between creating the file and listing its name for the
        // handler would leave the file behind: hold the signals back until
        // the name is listed.
        const HeldSignals held;
        descriptor = createTemporaryFile(name, permissions, &d_temporaryName);
        if (descriptor >= 0) {
            d_slot = registerTemporaryName(d_temporaryName.c_str());
        }
    }
    if (descriptor < 0) {
        d_temporaryName.clear();
        d_stream.setstate(std::ios::badbit);
        return;
    }
    if (keepPermissions) {
        ::fchmod(descriptor, permissions); // the umask does not apply here
    }
    d_buffer = std::make_unique<Buffer>(descriptor);
    d_stream.rdbuf(d_buffer.get());
}

OutputFile::~OutputFile() {
    d_stream.rdbuf(nullptr);
    d_buffer.reset();
    if (!d_temporaryName.empty()) {
        ::unlink(d_temporaryName.c_str());
    }
    unregisterTemporaryName(d_slot);
}

bool OutputFile::finish() {
    if (!d_buffer) {
        return false;
    }
    bool written = d_stream.good() && d_buffer->writeOut() && d_buffer->syncToDisk();
    written = d_buffer->closeDescriptor() && written;
    d_stream.rdbuf(nullptr); // the stream is done; nothing more may go in
    d_buffer.reset();        // nor does its buffer stay while others are written
    if (!written) {
        ::unlink(d_temporaryName.c_str());
        unregisterTemporaryName(d_slot);
        d_slot = -1;
        d_temporaryName.clear();
        return false;
    }
    d_finished = true;
    return true;
}

bool OutputFile::commit() {
    std::string failed;
    return finish() && replaceTogether({this}, {}, &failed);
}

namespace {

// How a file was put in place, so that it can be undone.
enum class Placing {
    e_created,   // no entry had the name
    e_exchanged, // the older entry now has the temporary name
    e_replaced,  // the older entry is gone (no exchange on this file system)
};

// Give the specified 'temporary' file the specified 'name', load 'placing'
// with how, and return whether that worked.  An older entry of that name is
// kept under the temporary name where the file system can exchange two
// names, so that it can be put back.
bool place(const char* temporary, const char* name, Placing* placing) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (::renameat2(AT_FDCWD, temporary, AT_FDCWD, name, RENAME_EXCHANGE) == 0) {
            struct stat older;
            if (::lstat(temporary, &older) == 0 && S_ISDIR(older.st_mode)) {
                // A folder appeared at the name since it was checked: it
                // stays where it was.
                ::renameat2(AT_FDCWD, temporary, AT_FDCWD, name, RENAME_EXCHANGE);
                errno = EISDIR;
                return false;
            }
            *placing = Placing::e_exchanged;
            return true;
        }
        if (errno == ENOENT) {
            if (::renameat2(AT_FDCWD, temporary, AT_FDCWD, name, RENAME_NOREPLACE) == 0) {
                *placing = Placing::e_created;
                return true;
            }
            if (errno == EEXIST) {
                continue; // made meanwhile by someone else: exchange it
            }
        }
        if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
            return false;
        }
        // A file system that cannot exchange names: a plain rename, which
        // cannot be undone.
        if (::rename(temporary, name) != 0) {
            return false;
        }
        *placing = Placing::e_replaced;
        return true;
    }
    return false;
}

// Undo the specified 'placing' of the file now at the specified 'name',
// whose temporary name was 'temporary', and remove what is under that.
void undoPlacing(const char* temporary, const char* name, Placing placing) {
    switch (placing) {
    case Placing::e_exchanged:
        ::renameat2(AT_FDCWD, temporary, AT_FDCWD, name, RENAME_EXCHANGE);
        ::unlink(temporary);
        break;
    case Placing::e_created:
        ::unlink(name);
        break;
    case Placing::e_replaced:
        break; // the older file is gone; the new one stays
    }
}

} // namespace

bool replaceTogether(const std::vector<OutputFile*>& files,
                     const std::vector<std::string>& obsoleteNames, std::string* failedName) {
    // Set aside before the signals are held: nothing below allocates.
    std::vector<Placing> placings(files.size(), Placing::e_created);
    std::vector<std::string> setAside(obsoleteNames.size());
    std::vector<bool> wasSetAside(obsoleteNames.size(), false);
    for (std::size_t i = 0; i < obsoleteNames.size(); ++i) {
        setAside[i] = temporaryNameFor(obsoleteNames[i], nameSeed());
    }

    const HeldSignals held;
    bool done = true;
    std::size_t placed = 0;
    std::size_t obsoleteDone = 0;
    // An obsolete entry is first moved to a temporary name, from where it
    // can come back.
    for (; obsoleteDone < obsoleteNames.size(); ++obsoleteDone) {
        const std::string& name = obsoleteNames[obsoleteDone];
        if (::renameat2(AT_FDCWD, name.c_str(), AT_FDCWD, setAside[obsoleteDone].c_str(),
                        RENAME_NOREPLACE) == 0) {
            wasSetAside[obsoleteDone] = true;
        } else if (errno != ENOENT) {
            *failedName = name;
            done = false;
            break;
        }
    }
    for (; done && placed < files.size(); ++placed) {
        OutputFile& file = *files[placed];
        PSEX_ASSERT(file.d_finished);
        if (!place(file.d_temporaryName.c_str(), file.d_name.c_str(), &placings[placed])) {
            *failedName = file.d_name;
            done = false;
        }
    }
    if (done) {
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (placings[i] == Placing::e_exchanged) {
                ::unlink(files[i]->d_temporaryName.c_str()); // the older file
            }
        }
        for (std::size_t i = 0; i < obsoleteNames.size(); ++i) {
            if (wasSetAside[i]) {
                ::unlink(setAside[i].c_str());
            }
        }
    } else {
        // 'placed' counts the one that failed, which is still where it was.
        for (std::size_t i = placed - (placed > 0 ? 1 : 0); i-- > 0;) {
            undoPlacing(files[i]->d_temporaryName.c_str(), files[i]->d_name.c_str(), placings[i]);
        }
        for (std::size_t i = 0; i < obsoleteDone; ++i) {
            if (wasSetAside[i]) {
                ::rename(setAside[i].c_str(), obsoleteNames[i].c_str());
            }
        }
        for (OutputFile* file : files) {
            ::unlink(file->d_temporaryName.c_str());
        }
    }
    for (OutputFile* file : files) {
        unregisterTemporaryName(file->d_slot);
        file->d_slot = -1;
        file->d_temporaryName.clear();
        file->d_finished = false;
    }
    return done;
}

} // namespace psex
