// datareader.h                                                   -*-C++-*-
#ifndef PSEX_DATAREADER_H
#define PSEX_DATAREADER_H

// Purpose: parse a data file into its header parameters, its column names
// and, one at a time, its data lines, all kept as text.
//
// A data file has four sections: a header of 'KEY=value' and '#' comment
// lines, one line that ends the header (empty, or beginning with a space or
// a TAB), optional comment lines and the column-name line, and then one data
// line per sample.  Fields are separated by commas or TABs.  The reader
// neither trims nor converts anything; what the keys and columns mean is the
// business of the table builder.  Format problems are reported on the output
// channel with the number of the line concerned, and never stop the run.
// Samples lost without a format message (data that end before the end of
// the file, blank spreadsheet rows) are reported on the error channel.

#include <cstddef>
#include <cstdint>
#include <istream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace psex {

class MessageSink;

class DataReader {
    // The parsed data file.  It borrows the input stream, which must outlive
    // it.  Not copyable: it owns a position in the stream.

    // DATA
    std::istream* d_stream;                          // borrowed
    MessageSink* d_messages;                         // borrowed
    std::streambuf* d_buffer;                        // the stream's buffer
    std::string d_pending;                           // bytes read ahead at the start
    std::size_t d_pendingPos = 0;                    // next byte of 'd_pending'
    std::map<std::string, std::string> d_parameters; // key -> value, byte-wise order
    std::uint32_t d_columnCount = 0;                 // distinct column names
    std::string d_columnNames;                       // the names in order, each ended by LF
    std::vector<std::string> d_columnData;           // fields of the current line
    std::uint32_t d_line = 1;                        // number of the current line
    bool d_readError = false;                        // the system could not read
    bool d_dataEndedEarly = false;                   // text left unread after the data
    bool d_headerHasEquals = false;                  // some header line held '='
    std::size_t d_firstLineFields = 0;               // cells of a first line without '='
    std::uint32_t d_fieldsLine = 0;                  // line of the fields delivered last

  public:
    // CREATORS
    DataReader(std::istream& stream, MessageSink& messages);
    // Read the header and the column-name line from the specified 'stream',
    // reporting format problems to the specified 'messages' as they arise,
    // and leave the stream at the first character of the first data line.
    // Both must outlive the reader.

    DataReader(const DataReader&) = delete;
    DataReader& operator=(const DataReader&) = delete;

    // MANIPULATORS
    bool readDataLine();
    // Read the next data line into the column fields.  Return true if a line
    // with all its fields was delivered, and false once the data have ended
    // (end of file, a line beginning with a space or a TAB, or a line with
    // too few fields).  A line whose fields are all empty is skipped with a
    // warning.  When the data end before the end of the file, the rest of
    // the file is read to warn about the lines that still hold text.  Call
    // it until it returns false, and not after: the fields' memory is then
    // given back (a line of a million columns holds tens of megabytes).

    // ACCESSORS
    bool hasParameter(const std::string& name) const;
    // Return whether the header defines the specified key 'name' (exact,
    // case-sensitive match).

    std::string getParameter(const std::string& name) const;
    // Return the value text of the specified key 'name'.  The behaviour is
    // undefined unless 'hasParameter(name)'.

    const std::map<std::string, std::string>& parameters() const { return d_parameters; }
    // Return the header parameters in byte-wise ascending key order.

    bool readError() const { return d_readError; }
    // Return whether reading stopped at an error of the system rather than
    // at the end of the file: the data read are then incomplete.

    bool looksLikeTable() const { return !d_headerHasEquals && d_firstLineFields >= 3; }
    // Return whether the file looks like a spreadsheet table rather than a
    // data file: no header line holds '=', and the first line holds three
    // or more cells separated by commas, semicolons or TABs.

    std::uint32_t lineOfFields() const { return d_fieldsLine; }
    // Return the number of the line whose fields were delivered last.

    bool dataEndedEarly() const { return d_dataEndedEarly; }
    // Return whether the data ended before the end of the file with text
    // left unread: a short line that holds text, or lines with text after
    // the line that ended the data.  Samples were then most likely lost.

    std::uint32_t columnCount() const;
    // Return the number of distinct column names.

    std::optional<std::uint32_t> columnPosition(const std::string& name) const;
    // Return the position (from 0, the sample names' column) of the column
    // of the specified 'name' (its last position when the name is
    // repeated), or nothing when the column-name line has no such name or
    // was refused.

    const std::vector<std::string>& fields() const { return d_columnData; }
    // Return the fields of the line delivered last, one per position of the
    // column-name line; valid until the next 'readDataLine'.

    const std::string& getColumn(std::size_t columnIndex) const;
    // Return field 'columnIndex' of the line delivered last; valid until the
    // next 'readDataLine'.  The behaviour is undefined unless 'columnIndex'
    // is below the number of positions of the column-name line.

  private:
    int get() {
        // Return the next character of the file, or the end of the file.
        // Called for every character: the common case stays inline.
        if (d_pendingPos < d_pending.size() || d_buffer == nullptr) {
            return getPending();
        }
        try {
            return d_buffer->sbumpc();
        } catch (...) {
            return readFailed();
        }
    }
    int getPending();
    int peek();
    int readFailed();
    bool skipLine();
    bool readNextLine();
    bool readHeader();
    void skipCommentLines();
    void readColumnNames();
    std::size_t readFields(bool& extraFieldHasText);
    bool reportDataEnd(std::uint32_t lineNumber);
    void report(const char* prefix, const std::string& text) const;
    void reportEndOfFileInHeader() const;
};

} // namespace psex

#endif
