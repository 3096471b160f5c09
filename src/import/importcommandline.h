// importcommandline.h                                            -*-C++-*-
#ifndef PSEX_IMPORTCOMMANDLINE_H
#define PSEX_IMPORTCOMMANDLINE_H

// Purpose: read psex-import's command line, and run the program it asks
// for.
//
// The command line names one input and says how to read it and what header
// lines to write (see 'psex-import --help' and doc/psex-import.1.in).  It
// asks either for a conversion, for the help or the version (printed on
// standard output, exit status 0), or it is wrong: a missing input, an
// unknown option, a value out of its range, two options that exclude each
// other.  A wrong command line is reported on standard error in the words
// of the option parser (CLI11), with a pointer to '--help', and ends the
// program with status 2 before any file is read.  The choices of '--format'
// and their help come from the list of input formats ('importFormats').

#include "import/importrun.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace psex {

class MessageSink;

struct ImportCommandLine {
    // What psex-import's command line asks for.

    enum class Action {
        e_import,    // convert as 'options' say
        e_help,      // print 'text' on standard output
        e_version,   // print 'text' on standard output
        e_usageError // print 'text' on standard error and stop
    };

    Action action = Action::e_import;
    ImportOptions options; // for e_import
    std::string text;      // the whole answer (lines with their line ends), for the others
};

ImportCommandLine parseImportCommandLine(const std::vector<std::string>& arguments);
// Return what the specified 'arguments' (without the program's name) ask
// for.  '--version' answers whatever else is given; then a value that its
// option does not take is wrong; then '--help' (or '-h') answers; then
// anything else wrong (a missing input, an unknown option or a second
// input, options that exclude each other) is.

int runImportProgram(const std::vector<std::string>& arguments, std::istream& standardInput,
                     std::ostream& standardOutput, MessageSink& messages);
// Do what the specified 'arguments' (without the program's name) ask for
// and return the exit status: 0 for the help and the version, written to
// the output channel of 'messages'; 2 for a wrong command line, reported
// on its error channel; otherwise that of 'runImport', with the specified
// 'standardInput' and 'standardOutput'.

} // namespace psex

#endif
