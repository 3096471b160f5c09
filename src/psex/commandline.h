// commandline.h                                                  -*-C++-*-
#ifndef PSEX_COMMANDLINE_H
#define PSEX_COMMANDLINE_H

// Purpose: tell the program's options from its data files.
//
// Every argument is a data file, as it always was, except '--help' (or
// '-h') and '--version', which answer at once, '--set KEY=VALUE' (before
// the data files), which sets a header key for every data file of the run
// over the file's own line, and '--', after which every argument is a data
// file whatever it looks like.  Any other argument that
// begins with '-' is an option the program does not know, and the run stops
// before any data file is analysed: a mistyped option must not become a
// data file that cannot be opened halfway through a batch.  A readable file
// that happens to be named like an option is still a data file, so that no
// existing command changes its meaning.

#include <string>
#include <utility>
#include <vector>

namespace psex {

struct CommandLine {
    // What the command line asks for.

    enum class Action {
        e_analyse,      // analyse 'dataFiles' in order (none: do nothing)
        e_help,         // print the usage text
        e_version,      // print the version
        e_unknown,      // stop: 'unknownOption' is no option and no data file
        e_wrongSetting, // stop: a '--set' that sets nothing; 'problem' says why
    };

    Action action = Action::e_analyse;
    std::vector<std::string> dataFiles;
    std::vector<std::pair<std::string, std::string>> settings; // key, value: each key
                                                               // once, the last value
    std::string unknownOption;
    std::string problem; // the message for e_wrongSetting
};

CommandLine parseCommandLine(const std::vector<std::string>& arguments);
// Return what the specified 'arguments' (without the program's name) ask
// for.  The first '--help', '-h' or '--version' before any '--' decides the
// action, whatever else is given; otherwise the first unknown option or
// '--set' that sets nothing (no KEY=VALUE, an empty key, a line end or a
// TAB in it, or after a data file) does.

bool isReadableFile(const std::string& path);
// Return whether the specified 'path' names something that can be read as
// a data file: it exists, is not a folder, and may be read.

std::string usageText();
// Return the text that '--help' prints.

std::string versionText();
// Return the text that '--version' prints: "psex <version>".

} // namespace psex

#endif
