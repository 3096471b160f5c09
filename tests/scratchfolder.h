// scratchfolder.h                                                -*-C++-*-
#ifndef PSEX_TESTS_SCRATCHFOLDER_H
#define PSEX_TESTS_SCRATCHFOLDER_H

// Purpose: give a test a fresh, empty folder of its own and small helpers to
// put files into it and look at what is there.

#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace psex::test {

class ScratchFolder {
    // A new folder under the system's temporary folder, removed with all its
    // content when the object dies.

    // DATA
    std::filesystem::path d_path;

  public:
    // CREATORS
    ScratchFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "psex-test-XXXXXX").string();
        d_path = ::mkdtemp(pattern.data());
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder() {
        std::error_code ignored;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(d_path, ignored)) {
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        }
        std::filesystem::permissions(d_path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(d_path, ignored);
    }

    // ACCESSORS
    const std::filesystem::path& path() const { return d_path; }
    std::filesystem::path operator/(const std::string& name) const { return d_path / name; }

    std::set<std::string> names() const {
        // Return the names of the entries directly in the folder.
        std::set<std::string> result;
        for (const auto& entry : std::filesystem::directory_iterator(d_path)) {
            result.insert(entry.path().filename().string());
        }
        return result;
    }
};

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

inline void writeFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

inline std::set<std::string> filesBelow(const std::filesystem::path& folder) {
    // Return the paths, relative to 'folder', of every file below it.
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            names.insert(std::filesystem::relative(entry.path(), folder).string());
        }
    }
    return names;
}

inline std::vector<std::string> subfolderNames(const std::filesystem::path& folder) {
    // Return the names of the folders directly in 'folder', sorted, or
    // nothing when 'folder' does not exist.
    std::vector<std::string> names;
    if (std::filesystem::is_directory(folder)) {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (entry.is_directory()) {
                names.push_back(entry.path().filename().string());
            }
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

inline std::string testNameOf(std::string text) {
    // Return 'text' with every character but letters and digits replaced
    // by '_', as the name of a parameterized test (a case folder's name).
    for (char& c : text) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            c = '_';
        }
    }
    return text;
}

} // namespace psex::test

#endif
