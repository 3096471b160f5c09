// messagesink.h                                                  -*-C++-*-
#ifndef PSEX_MESSAGESINK_H
#define PSEX_MESSAGESINK_H

// Purpose: carry the console messages of a run to where they belong.
//
// A run speaks on two channels.  Standard output gets the progress lines,
// the overwrite warnings and the reader's line-numbered format messages;
// standard error gets the messages about header values, columns, frequency
// sums, the rounding of PSex sums and failed result files.  The units that
// report (reader, table builder, frequency check, PSex arithmetic,
// simulation, driver) are handed a sink and never touch the process's
// streams themselves: the program binds a sink to standard output and
// standard error, a test binds one to two strings.
//
// Every message is one line, written whole and flushed at once, so that the
// two channels interleave on a terminal as they are written.  Numbers are
// formatted by the caller (see 'formatNumber'), never by the sink's streams,
// whose state no unit changes.

#include <iosfwd>
#include <string>

namespace psex {

class MessageSink {
    // Borrows two streams; copying a sink gives a second handle on them.

    // DATA
    std::ostream* d_output; // standard output in the program
    std::ostream* d_error;  // standard error in the program

  public:
    // CREATORS
    MessageSink(std::ostream& output, std::ostream& error);
    // Create a sink that writes to the specified 'output' and 'error'
    // streams, which must outlive it.

    // MANIPULATORS
    void output(const std::string& line);
    // Write the specified 'line' and a line end to the output channel and
    // flush it.

    void error(const std::string& line);
    // Write the specified 'line' and a line end to the error channel and
    // flush it.

    void write(const std::string& text);
    // Write the specified 'text' (whole lines, with their line ends) to the
    // output channel as it is, and flush it: the answer of '--help'.

    std::ostream& errorStream() { return *d_error; }
    // Return the error channel's stream, for a terminal display that draws
    // in place (the progress indicator).

    // ACCESSORS
    bool outputFailed() const;
    // Return whether a write to the output channel has failed (a full disk
    // behind a redirection, a closed pipe).
};

MessageSink standardStreams();
// Return a sink on the process's standard output and standard error.

std::string formatNumber(double value, int precision);
// Return the specified 'value' as a stream with the specified 'precision'
// and default flags writes it (general notation, as printf's %g), in the
// classic locale whatever the global one is.

} // namespace psex

#endif
