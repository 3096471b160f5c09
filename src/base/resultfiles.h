// resultfiles.h                                                  -*-C++-*-
#ifndef PSEX_RESULTFILES_H
#define PSEX_RESULTFILES_H

// Purpose: write the result files of one data file as a set.
//
// A run lists its result files as 'ResultFile' entries: the file's name and
// the writer of its text.  'refusalOf' checks the names before anything is
// written; 'writeResultFiles' then writes them.  The set is replaced as a
// whole: every file is written under a temporary name and checked on disk
// first, and only when all are complete are they renamed into place
// together, with the terminating signals held back (see 'replaceTogether').
// A full disk, a missing folder or an interruption therefore leaves either
// every older file or every new one, never a new table beside an old one.
// The set is replaced under an exclusive lock on its folder, so that runs
// writing result files of the same names into one folder take turns and the
// folder never holds the files of one data file beside those of another.
// psex-import writes its data files the same way.

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace psex {

class MessageSink;

struct ResultFile {
    // One result file of a run: its name and the writer of its text.

    std::string name;
    std::function<void(std::ostream&)> write;
    // Empty for a name that the set no longer has (the distances file of a
    // run without lineages): an older file of that name is removed with
    // the replacement, so that it is not taken for part of the new set.
};

enum class WarningChannel {
    // Where the overwrite warnings go: psex writes them on standard output;
    // psex-import, whose standard output may carry a data file, on standard
    // error.
    e_output,
    e_error
};

std::optional<std::string> refusalOf(const std::vector<ResultFile>& files, const std::string& path,
                                     bool nameFromTitle);
// Return the message that forbids writing the specified result 'files' of
// the data file at the specified 'path', or nothing when they may be
// written.  Two names that come to one file once written (the folder parts
// "x/.." of TITLE=x/../same cancel the prefixes) would have the later file
// replace the earlier one; and when 'nameFromTitle' (the run name comes
// from the TITLE, which the data file chooses) no file may lie outside the
// working folder.  A name whose folder does not exist is left to fail when
// it is written.

bool writeResultFiles(const std::vector<ResultFile>& files, MessageSink& messages,
                      WarningChannel warnings = WarningChannel::e_output);
// Write the specified result 'files' as one set and return whether every
// one was put in place; when not, none was, and older files of those names
// are as they were.  A name at which something other than a regular file
// (or a symbolic link that leads to one or nowhere) exists is refused
// before anything is written: "error: '<name>' exists and is not a regular
// file." on the error channel of the specified 'messages'.  Each file that
// cannot be written is reported ("error: cannot write output file
// '<name>'."), and the others are still tried, so that every failing name
// is named.  When all are written, every name that already exists is
// warned about on the specified 'warnings' channel ("Warning: overwriting
// output file '<name>'.", or for a name that the set no longer has,
// "Warning: removing output file '<name>' of an earlier run.") just before
// the set is put in place.  The caller says what failure means for its
// run.  The behaviour is undefined unless 'files' holds at least one file
// with a writer, first.

} // namespace psex

#endif
