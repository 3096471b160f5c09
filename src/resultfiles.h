// resultfiles.h                                                  -*-C++-*-
#ifndef PSEX_RESULTFILES_H
#define PSEX_RESULTFILES_H

// Purpose: write the result files of one data file as a set.
//
// A run lists its result files as 'ResultFile' entries: the file's name and
// the writer of its text.  'refusalOf' checks the names before anything is
// written; 'writeResultFiles' then writes them in order.  Each file is
// written through 'OutputFile' (a temporary name, renamed into place once
// complete), so a failed write leaves an older file of that name as it was.
// The whole set is replaced under an exclusive lock on its folder, so that
// runs writing result files of the same names into one folder take turns
// and the folder never holds the files of one data file beside those of
// another.

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

bool writeResultFiles(const std::vector<ResultFile>& files, MessageSink& messages);
// Write the specified result 'files' in order and return whether every one
// was written.  Each name that already exists is warned about first, on
// the output channel of the specified 'messages'; a file that cannot be
// written is reported as an error and the others are still written; when
// all are written the success line names the first.  The behaviour is
// undefined unless 'files' is not empty.

} // namespace psex

#endif
