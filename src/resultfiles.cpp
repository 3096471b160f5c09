// resultfiles.cpp                                                -*-C++-*-
#include "resultfiles.h"

#include "contract.h"
#include "messagesink.h"
#include "outputfile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

namespace psex {

namespace {

bool exists(const std::string& name) {
    // A name with a NUL byte (from a TITLE, say) names no file; the system
    // call would see only the part before the NUL.  A symbolic link is an
    // entry of its own, replaced like a file, even when it points nowhere.
    struct stat status;
    return name.find('\0') == std::string::npos && ::lstat(name.c_str(), &status) == 0;
}

void warnIfExists(const std::string& name, MessageSink& messages) {
    if (exists(name)) {
        messages.output("Warning: overwriting output file '" + name + "'.");
    }
}

// Put the result file behind the specified 'out' in place and return whether
// that worked; report it on standard error when not.  A failed file leaves
// no trace: an older file of that name stays as it was.
bool commitAndCheck(OutputFile& out, MessageSink& messages) {
    if (!out.commit()) {
        messages.error("error: cannot write output file '" + out.name() + "'.");
        return false;
    }
    return true;
}

// Return the specified 'path' with every link, "." and ".." resolved, or
// nothing when it does not exist.
std::optional<std::string> realPath(const std::string& path) {
    const std::unique_ptr<char, void (*)(void*)> real(::realpath(path.c_str(), nullptr), std::free);
    if (!real) {
        return std::nullopt;
    }
    return std::string(real.get());
}

// Return the folder part of the specified file 'name': its part before the
// last '/', or "." (the working folder) when it has none.
std::string folderOf(const std::string& name) {
    const std::size_t slash = name.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
}

// Return the real path of the folder of the specified result file 'name',
// or nothing when that folder does not exist.
std::optional<std::string> realFolderOf(const std::string& name) {
    if (name.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    return realPath(folderOf(name));
}

class FolderLock {
    // An exclusive advisory lock (flock) on the folder of a file, held while
    // the object lives.  Runs that write result files of the same names
    // into one folder take turns so: each replaces its whole set before the
    // next begins, and the folder never ends with the simulation results of
    // one data file beside the full table of another.  Where the folder
    // cannot be opened or locked (a file system without flock), the files
    // are written without the lock: it never fails a run.

    // DATA
    int d_descriptor = -1;

  public:
    // CREATORS
    explicit FolderLock(const std::string& fileName) {
        // Wait until this process holds the lock on the folder of the
        // specified 'fileName', or until locking has failed.
        const std::string folder = folderOf(fileName);
        if (folder.find('\0') != std::string::npos) {
            return;
        }
        d_descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (d_descriptor < 0) {
            return;
        }
        int result = ::flock(d_descriptor, LOCK_EX);
        while (result != 0 && errno == EINTR) {
            result = ::flock(d_descriptor, LOCK_EX);
        }
        if (result != 0) {
            ::close(d_descriptor);
            d_descriptor = -1;
        }
    }

    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    ~FolderLock() {
        if (d_descriptor >= 0) {
            ::close(d_descriptor); // releases the lock
        }
    }
};

} // namespace

std::optional<std::string> refusalOf(const std::vector<ResultFile>& files, const std::string& path,
                                     bool nameFromTitle) {
    const std::optional<std::string> here = realPath(".");
    std::vector<std::string> resolved;
    for (const ResultFile& file : files) {
        const std::optional<std::string> folder = realFolderOf(file.name);
        if (!folder) {
            continue;
        }
        const bool inside =
            here && (*here == "/" || *folder == *here || folder->rfind(*here + '/', 0) == 0);
        if (nameFromTitle && !inside) {
            return "error: result files of '" + path +
                   "' would be written outside the working folder ('" + file.name + "').";
        }
        const std::string real = *folder + '/' + file.name.substr(file.name.rfind('/') + 1);
        if (std::find(resolved.begin(), resolved.end(), real) != resolved.end()) {
            return "error: result files of '" + path + "' would overwrite each other ('" +
                   file.name + "').";
        }
        resolved.push_back(real);
    }
    return std::nullopt;
}

bool writeResultFiles(const std::vector<ResultFile>& files, MessageSink& messages) {
    PSEX_ASSERT(!files.empty());
    // Held from before the first temporary file to after the last rename;
    // the overwrite warnings, taken under it, see what this run replaces.
    const FolderLock lock(files.front().name);
    for (const ResultFile& file : files) {
        warnIfExists(file.name, messages);
    }
    // Each file is written under a temporary name and renamed into place
    // once complete, so a failed write never leaves half a file.  One is put
    // in place before the next is written: on a nearly full disk the later
    // files must not take the room that the first needs.
    bool allWritten = true;
    for (const ResultFile& file : files) {
        OutputFile out(file.name);
        file.write(out.stream());
        allWritten = commitAndCheck(out, messages) && allWritten;
    }
    if (allWritten) {
        messages.output("Results are written to '" + files.front().name + "'.");
    }
    return allWritten;
}

} // namespace psex
