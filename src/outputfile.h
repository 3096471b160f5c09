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
// The first 'OutputFile' prepares the process once: every signal whose
// default action ends the process (SIGINT, SIGTERM, SIGHUP, SIGPIPE,
// SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, the
// faults and the real-time signals), unless the process already ignores or
// handles it, first removes the temporary files that exist at that moment
// and then ends the process as the signal would have (the same status, a
// core dump where it would dump); SIGXFSZ is ignored, so that exceeding a
// file size limit is a write error like a full disk instead of ending the
// process.  A process killed outright (SIGKILL, a power cut) can still leave
// a temporary file behind, recognisable by its name.

#include <memory>
#include <ostream>
#include <string>

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
    int d_slot = -1; // entry in the signal handler's list

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
};

} // namespace psex

#endif
