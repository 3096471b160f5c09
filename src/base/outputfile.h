// outputfile.h                                                   -*-C++-*-
#ifndef PSEX_OUTPUTFILE_H
#define PSEX_OUTPUTFILE_H

// Purpose: write a result file so that it is either complete or not changed
// at all.
//
// The text goes to a temporary file in the folder of the result file, named
// ".<result file name>.tmpXXXXXX" (six letters or digits).  Only when the
// whole text is written and on disk does 'commit' rename it to the result
// file's name, replacing an older file of that name in one step.  A full
// disk, a file size limit, a read-only or missing folder or an interrupted
// run therefore never leaves a truncated result file, and never destroys the
// previous one: on failure the temporary file is removed and the older file
// stays as it was.
//
// Files that belong together (the result files of one data file, the data
// files of one split) are each 'finish'ed, and then put in place together
// by 'replaceTogether': with the terminating signals held back, so that an
// interruption leaves either every older file or every new one, and undone
// when one of them cannot be put in place.
//
// Every temporary file is listed, while it exists, for removal when a
// signal ends the process: a program whose 'main' has called
// 'installSignalHandlers' (signals.h) leaves no temporary file behind when
// it is interrupted, and ends as the signal would have ended it; that call
// also makes a file size limit fail the write (SIGXFSZ ignored) instead of
// ending the process.  Creating an 'OutputFile' installs nothing: without
// that call the process keeps its own signal handling.  A process killed outright (SIGKILL, a power
// cut) can still leave a temporary file behind, recognisable by its name.

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace psex {

class OutputFile {
    // One result file being written.  Neither copyable nor movable: a signal
    // handler may read the temporary file's name at any moment.

    class Buffer; // the stream buffer over the temporary file

    // DATA
    std::string d_name;          // the result file's name
    std::string d_temporaryName; // empty when no temporary file exists
    std::unique_ptr<Buffer> d_buffer;
    std::ostream d_stream;
    long d_slot = -1;        // entry in the signal handler's list
    bool d_finished = false; // written and on disk, not yet in place

  public:
    // CREATORS
    explicit OutputFile(const std::string& name);
    // Create a temporary file for the result file of the specified 'name' in
    // that file's folder, with the permissions that an existing regular file
    // of that name has (or else, also in place of a symbolic link, the usual
    // ones for a new file).  When it cannot be created the stream is in a
    // failed state from the start, writing to it does nothing, and 'commit'
    // returns false.

    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    ~OutputFile();
    // Remove the temporary file if 'commit' has not put it in place.

    // MANIPULATORS
    std::ostream& stream() { return d_stream; }
    // Return the stream that writes the result file's text.  Line ends need
    // not flush: nothing is visible before 'commit'.

    bool finish();
    // Write out the rest of the text and wait until it is on disk, leaving
    // it under the temporary name for 'replaceTogether'.  Return true on
    // success.  On any failure remove the temporary file and return false.
    // Call it at most once, and not after 'commit'.

    bool commit();
    // Write out the rest of the text, wait until it is on disk and rename
    // the temporary file to the result file's name.  Return true on success.
    // On any failure remove the temporary file, leave an older result file
    // unchanged and return false.  Call it at most once.

    // ACCESSORS
    const std::string& name() const { return d_name; }
    // Return the result file's name.

    const std::string& temporaryName() const { return d_temporaryName; }
    // Return the temporary file's name, or the empty string when there is
    // no temporary file (not created, committed, or removed).

    bool isFinished() const { return d_finished; }
    // Return whether 'finish' succeeded and the file waits under its
    // temporary name to be put in place.

    friend bool replaceTogether(const std::vector<OutputFile*>& files,
                                const std::vector<std::string>& obsoleteNames,
                                std::string* failedName);
};

bool replaceTogether(const std::vector<OutputFile*>& files,
                     const std::vector<std::string>& obsoleteNames, std::string* failedName);
// Rename every one of the specified finished 'files' to its result name and
// remove every existing entry named in the specified 'obsoleteNames' (a
// result file that the new set no longer has), with the signals that end
// the process held back until all is done, and return true.  When one of
// them cannot be done, undo the others (an older file is put back where
// the file system can exchange two names, which Linux's usual ones can),
// remove every temporary file, load the specified 'failedName' with the name
// that failed, and return false.  The behaviour is undefined unless every
// file of 'files' 'isFinished'.

} // namespace psex

#endif
