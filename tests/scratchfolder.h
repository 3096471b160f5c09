// scratchfolder.h                                                -*-C++-*-
#ifndef PSEX_TESTS_SCRATCHFOLDER_H
#define PSEX_TESTS_SCRATCHFOLDER_H

// Purpose: give a test a fresh, empty folder of its own and small helpers to
// put files into it and look at what is there.

#include <stdlib.h>
#include <sys/wait.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <system_error>

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

struct ProgramRun {
    // What a run of a program gave.
    std::string out;
    std::string err;
    int status = -1;
};

inline ProgramRun runInFolder(const std::filesystem::path& folder, const std::string& program,
                              const std::string& arguments, const std::string& environment = "") {
    // Run the specified 'program' with the specified shell 'arguments' in
    // 'folder', with the shell assignments of 'environment' before it, and
    // return its standard output, standard error and exit status (128 plus
    // the signal's number when a signal ended it).
    const std::filesystem::path outPath =
        folder.parent_path() / (folder.filename().string() + ".stdout");
    const std::filesystem::path errPath =
        folder.parent_path() / (folder.filename().string() + ".stderr");
    const std::string command = "cd '" + folder.string() + "' && " + environment + " exec '" +
                                program + "' " + arguments + " >'" + outPath.string() + "' 2>'" +
                                errPath.string() + "'";
    const int raw = std::system(command.c_str());
    ProgramRun result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    std::filesystem::remove(outPath);
    std::filesystem::remove(errPath);
    return result;
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
