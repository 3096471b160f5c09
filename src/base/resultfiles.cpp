// resultfiles.cpp                                                -*-C++-*-
#include "base/resultfiles.h"

#include "base/contract.h"
#include "base/messagesink.h"
#include "base/outputfile.h"

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

// Return whether an entry other than a regular file stands at the specified
// 'name': a folder, a device, a FIFO, a socket, or a link to one of them.
// Replacing it would take a device or a pipe from whoever uses it, or put a
// file where a folder was; a link that leads nowhere is replaced.
bool isNoRegularFile(const std::string& name) {
    struct stat status;
    if (name.find('\0') != std::string::npos || ::lstat(name.c_str(), &status) != 0) {
        return false;
    }
    if (S_ISLNK(status.st_mode) && ::stat(name.c_str(), &status) != 0) {
        return false; // a link to nothing
    }
    return !S_ISREG(status.st_mode);
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

bool writeResultFiles(const std::vector<ResultFile>& files, MessageSink& messages,
                      WarningChannel warnings) {
    PSEX_ASSERT(!files.empty() && files.front().write);
    // Held from before the first temporary file to after the last rename;
    // the checks and the overwrite warnings, taken under it, see what this
    // run replaces.
    const FolderLock lock(files.front().name);
    bool refused = false;
    for (const ResultFile& file : files) {
        if (file.write && isNoRegularFile(file.name)) {
            messages.error("error: '" + file.name + "' exists and is not a regular file.");
            refused = true;
        }
    }
    if (refused) {
        return false;
    }

    // Every file is written and on disk before any is put in place.  A file
    // that fails is removed at once; the others wait under their temporary
    // names (and go when this function returns, unless put in place).
    std::vector<std::unique_ptr<OutputFile>> written;
    std::vector<std::string> obsolete;
    bool allWritten = true;
    for (const ResultFile& file : files) {
        if (!file.write) {
            // Only a file or a link goes; anything else was never a result.
            if (exists(file.name) && !isNoRegularFile(file.name)) {
                obsolete.push_back(file.name);
            }
            continue;
        }
        written.push_back(std::make_unique<OutputFile>(file.name));
        file.write(written.back()->stream());
        if (!written.back()->finish()) {
            messages.error("error: cannot write output file '" + file.name + "'.");
            allWritten = false;
        }
    }
    if (!allWritten) {
        return false;
    }

    const auto warn = [&](const std::string& line) {
        if (warnings == WarningChannel::e_output) {
            messages.output(line);
        } else {
            messages.error(line);
        }
    };
    for (const ResultFile& file : files) {
        if (file.write && exists(file.name)) {
            warn("Warning: overwriting output file '" + file.name + "'.");
        }
    }
    for (const std::string& name : obsolete) {
        warn("Warning: removing output file '" + name + "' of an earlier run.");
    }
    std::vector<OutputFile*> finished;
    for (const auto& file : written) {
        finished.push_back(file.get());
    }
    std::string failed;
    if (!replaceTogether(finished, obsolete, &failed)) {
        messages.error("error: cannot write output file '" + failed + "'.");
        return false;
    }
    return true;
}

} // namespace psex
