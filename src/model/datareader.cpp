// datareader.cpp                                                 -*-C++-*-
#include "model/datareader.h"

#include "base/contract.h"
#include "base/messagesink.h"

#include <algorithm>
#include <string>
#include <utility>

namespace psex {

namespace {

constexpr int k_eof = std::char_traits<char>::eof();

// Spreadsheets often save UTF-8 text with a byte-order mark in front; it is
// not part of the first header line.
constexpr char k_byteOrderMark[] = "\xEF\xBB\xBF";

bool isSeparator(int c) {
    return c == ',' || c == '\t';
}

// Return the number of cells of the specified 'line' of a table, with the
// separator that gives the most: a comma, a semicolon (spreadsheets where
// the comma is the decimal mark) or a TAB.
std::size_t cellsOfTableLine(const std::string& line) {
    std::size_t most = 0;
    for (const char separator : {',', ';', '\t'}) {
        most = std::max(most,
                        static_cast<std::size_t>(std::count(line.begin(), line.end(), separator)));
    }
    return most + 1;
}

} // namespace

DataReader::DataReader(std::istream& stream, MessageSink& messages)
    : d_stream(&stream), d_messages(&messages), d_buffer(stream.rdbuf()) {
    if (d_buffer && stream) {
        try {
            for (int i = 0; i < 3; ++i) {
                const int c = d_buffer->sgetc();
                if (c == k_eof || static_cast<char>(c) != k_byteOrderMark[i]) {
                    break;
                }
                d_pending += static_cast<char>(d_buffer->sbumpc());
            }
        } catch (...) {
            readFailed();
        }
        if (d_pending.size() == 3) {
            d_pending.clear();
        }
    } else {
        d_buffer = nullptr; // a stream that failed before reading holds nothing
    }
    if (readHeader()) {
        skipCommentLines();
        readColumnNames();
    }
}

int DataReader::getPending() {
    if (d_pendingPos < d_pending.size()) {
        return static_cast<unsigned char>(d_pending[d_pendingPos++]);
    }
    return k_eof; // no buffer: the data have ended
}

int DataReader::peek() {
    if (d_pendingPos < d_pending.size()) {
        return static_cast<unsigned char>(d_pending[d_pendingPos]);
    }
    if (!d_buffer) {
        return k_eof;
    }
    try {
        return d_buffer->sgetc();
    } catch (...) {
        return readFailed();
    }
}

int DataReader::readFailed() {
    // A file buffer throws when the system cannot read (a failing disk, a
    // vanished network share): the reading ends there, as at the end of the
    // file, and 'readError' tells the caller that the data are incomplete.
    d_buffer = nullptr;
    d_readError = true;
    return k_eof;
}

bool DataReader::skipLine() {
    for (int c = get(); c != k_eof; c = get()) {
        if (c == '\n') {
            ++d_line;
            return true;
        }
    }
    return false;
}

void DataReader::report(const char* prefix, const std::string& text) const {
    d_messages->output(prefix + std::to_string(d_line) + ": " + text);
}

void DataReader::reportEndOfFileInHeader() const {
    report("Error:", "end of file while parsing header variable.");
}

bool DataReader::readHeader() {
    for (;;) {
        int c = get();
        if (c == '#') {
            skipLine();
            continue;
        }
        if (c == '\r') {
            continue; // the character after a CR decides what the line is
        }
        if (c == '\n') {
            ++d_line;
            return true;
        }
        if (c == '\t' || c == ' ') {
            skipLine();
            return true;
        }
        if (c == k_eof) {
            reportEndOfFileInHeader();
            return false;
        }

        const bool firstLine = d_line == 1;
        std::string key;
        for (; c != '=' && c != '\n' && c != k_eof; c = get()) {
            key += static_cast<char>(c);
        }
        if (c == '=') {
            d_headerHasEquals = true;
        } else if (firstLine) {
            d_firstLineFields = cellsOfTableLine(key);
        }
        if (c == k_eof) {
            reportEndOfFileInHeader();
            return false;
        }
        if (c == '\n') {
            ++d_line;
            if (key.back() == '\r') {
                key.pop_back();
            }
            report("Error:", "header variable with no '=' (line = '" + key + "').");
            continue; // the line is ignored and the header goes on
        }

        std::string value;
        for (c = get(); c != '\n' && c != '\t' && c != k_eof; c = get()) {
            value += static_cast<char>(c);
        }
        if (c == '\n') {
            ++d_line;
            // A file saved with Windows line ends reads as it would there.
            if (!value.empty() && value.back() == '\r') {
                value.pop_back();
            }
        } else if (c == '\t') {
            // The value ends at a TAB: the rest of the line is taken for a
            // spreadsheet's leftover cells.
            skipLine();
        } else {
            reportEndOfFileInHeader();
            return false;
        }

        if (d_parameters.count(key) != 0) {
            report("error:", "duplicate key in header ('" + key + "').");
        }
        // Moved, not copied: a key or a value may be as large as the file.
        d_parameters.insert_or_assign(std::move(key), std::move(value));
    }
}

void DataReader::skipCommentLines() {
    while (peek() == '#') {
        skipLine();
    }
}

void DataReader::readColumnNames() {
    // Only while the line is read: a million column names take far more
    // memory than their text.
    std::map<std::string, std::int32_t> columnNames; // name -> position
    std::int32_t position = 0;
    std::string name;
    // Empty names at the ends of the line are a spreadsheet's habit and
    // take no position.  An empty name between two names cannot be taken
    // so: every column after it would move one place to the left, and each
    // allele would be read as the one before it.
    std::string left; // the last name before the current one, if any
    bool gap = false; // an empty name followed 'left'
    bool refused = false;
    for (int c = get(); c != k_eof; c = get()) {
        if (c == '\r') {
            continue;
        }
        if (isSeparator(c) || c == '\n') {
            if (name.empty()) {
                gap = !left.empty();
            } else {
                if (gap) {
                    report("error:",
                           "empty column name between '" + left + "' and '" + name + "'.");
                    refused = true;
                    gap = false;
                }
                d_columnNames += name;
                d_columnNames += '\n';
                auto entry = columnNames.find(name);
                if (entry != columnNames.end()) {
                    report("error:", "duplicate column name '" + name + "'.");
                    entry->second = position;
                } else {
                    columnNames.emplace(name, position);
                }
                ++position;
                left = std::move(name);
            }
            if (c == '\n') {
                ++d_line;
                break;
            }
            name.clear(); // also after the move above: a valid, empty name
            continue;
        }
        name += static_cast<char>(c);
    }
    if (refused) {
        columnNames.clear(); // no columns: the column check fails
        position = 0;
        d_columnNames.clear();
    }
    d_columnCount = static_cast<std::uint32_t>(columnNames.size());
    d_columnData.assign(static_cast<std::size_t>(position), std::string());
}

std::optional<std::uint32_t> DataReader::columnPosition(const std::string& name) const {
    // The names are kept as the text of the line, not as a map: a million
    // column names would take many times their text.
    std::optional<std::uint32_t> found;
    std::uint32_t position = 0;
    for (std::size_t start = 0; start < d_columnNames.size(); ++position) {
        const std::size_t end = d_columnNames.find('\n', start);
        if (d_columnNames.compare(start, end - start, name) == 0) {
            found = position;
        }
        start = end + 1;
    }
    return found;
}

bool DataReader::readDataLine() {
    if (readNextLine()) {
        return true;
    }
    std::vector<std::string>().swap(d_columnData);
    return false;
}

bool DataReader::readNextLine() {
    for (;;) {
        if (!*d_stream) {
            return false;
        }
        const std::uint32_t lineNumber = d_line;
        const int first = peek();
        if (first == k_eof) {
            return false;
        }
        if (first == '\t' || first == ' ') {
            skipLine();
            d_dataEndedEarly = reportDataEnd(lineNumber);
            return false;
        }

        const std::size_t n = d_columnData.size();
        bool extraFieldHasText = false;
        const std::size_t i = readFields(extraFieldHasText);
        if (i == 0 || d_readError) {
            return false; // a line cut by a read error is no line at all
        }
        if (i < n) {
            d_messages->output("error:" + std::to_string(lineNumber) +
                               ": data line has not enough entries (" + std::to_string(i) + " of " +
                               std::to_string(n) + ").");
            // A blank line at the end of the file loses nothing; a short
            // line with text loses its sample.
            const bool shortLineHasText = std::any_of(
                d_columnData.begin(), d_columnData.begin() + static_cast<std::ptrdiff_t>(i),
                [](const std::string& field) { return !field.empty(); });
            const bool laterLinesHaveText = reportDataEnd(lineNumber);
            d_dataEndedEarly = shortLineHasText || laterLinesHaveText;
            return false;
        }
        const bool allEmpty = !extraFieldHasText &&
                              std::all_of(d_columnData.begin(), d_columnData.end(),
                                          [](const std::string& field) { return field.empty(); });
        if (!allEmpty) {
            d_fieldsLine = lineNumber;
            return true;
        }
        // A row of empty cells, as spreadsheets save between blocks, is no
        // sample; the data go on after it.
        d_messages->error("warning: line " + std::to_string(lineNumber) + ": empty row skipped.");
    }
}

std::size_t DataReader::readFields(bool& extraFieldHasText) {
    const std::size_t n = d_columnData.size();
    std::size_t i = 0;
    if (n > 0) {
        d_columnData[0].clear();
    }
    for (;;) {
        const int c = get();
        if (c == '\r') {
            continue;
        }
        if (isSeparator(c) || c == '\n' || c == k_eof) {
            if (i < n) {
                ++i;
                if (i < n) {
                    d_columnData[i].clear();
                }
            } else if (extraFieldHasText) {
                report("error:", "data line has too many entries.");
                if (isSeparator(c)) {
                    skipLine(); // the next line starts afresh
                } else if (c == '\n') {
                    ++d_line;
                }
                return i;
            }
            if (c == '\n') {
                ++d_line;
                return i;
            }
            if (c == k_eof) {
                return i;
            }
            continue;
        }
        if (i < n) {
            d_columnData[i] += static_cast<char>(c);
        } else {
            extraFieldHasText = true;
        }
    }
}

bool DataReader::reportDataEnd(std::uint32_t lineNumber) {
    // The data end at a line that begins with a space or a TAB, or at a
    // short line.  At the end of a file that is harmless (a blank last line);
    // before more data it silently drops samples, so the lines that still
    // hold something are counted and reported.
    std::uint64_t laterLines = 0;
    bool lineHasText = false;
    for (int c = get();; c = get()) {
        if (c == '\n' || c == k_eof) {
            laterLines += lineHasText ? 1 : 0;
            lineHasText = false;
            if (c == k_eof) {
                break;
            }
        } else if (c != ' ' && c != '\t' && c != '\r') {
            lineHasText = true;
        }
    }
    if (laterLines > 0) {
        d_messages->error("warning: the data end at line " + std::to_string(lineNumber) + "; " +
                          std::to_string(laterLines) + " later lines were not read.");
    }
    return laterLines > 0;
}

bool DataReader::hasParameter(const std::string& name) const {
    return d_parameters.count(name) != 0;
}

std::string DataReader::getParameter(const std::string& name) const {
    PSEX_ASSERT(hasParameter(name));
    return d_parameters.find(name)->second;
}

std::uint32_t DataReader::columnCount() const {
    return d_columnCount;
}

const std::string& DataReader::getColumn(std::size_t columnIndex) const {
    PSEX_ASSERT(columnIndex < d_columnData.size());
    return d_columnData[columnIndex];
}

} // namespace psex
