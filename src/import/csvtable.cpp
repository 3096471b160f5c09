// csvtable.cpp                                                   -*-C++-*-
#include "import/csvtable.h"

#include "base/contract.h"
#include "import/importeddata.h"

#include <csv.h>

#include <new>

namespace psex {

namespace {

class RowCollector {
    // Receives libcsv's cells and row ends, and knows which line the text
    // handed to the parser belongs to.  The rows that end within one piece
    // of text wait in 'd_done' until the parser has returned: a reader that
    // refuses a row throws, and an exception must not pass through libcsv's
    // C code.  Their storage is used again for the next rows.

    // DATA
    std::vector<CsvRow> d_done;
    std::size_t d_doneCount = 0;
    CsvRow d_current;
    bool d_betweenRows = true;
    bool d_outOfMemory = false; // an allocation failed within libcsv's call

  public:
    // MANIPULATORS
    void beginLine(std::size_t line, bool blank) {
        // A row begins with the first line that is not blank after the end
        // of the previous row; a line of a quoted cell that spans lines
        // does not begin one.
        if (d_betweenRows && !blank) {
            d_current.line = line;
            d_betweenRows = false;
        }
    }

    void addCell(const char* data, std::size_t size) {
        d_current.cells.emplace_back(data == nullptr ? std::string_view()
                                                     : std::string_view(data, size));
    }

    void endRow() {
        if (d_doneCount == d_done.size()) {
            d_done.emplace_back();
        }
        std::swap(d_done[d_doneCount], d_current);
        ++d_doneCount;
        d_current.cells.clear();
        d_current.line = 0;
        d_betweenRows = true;
    }

    bool visitDone(const std::function<bool(const CsvRow&)>& visit) {
        // Hand every row that has ended to the specified 'visit' and return
        // false as soon as it asks to stop.
        const std::size_t count = d_doneCount;
        d_doneCount = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (!visit(d_done[i])) {
                return false;
            }
        }
        return true;
    }

    void noteOutOfMemory() { d_outOfMemory = true; }

    void throwIfOutOfMemory() const {
        if (d_outOfMemory) {
            throw std::bad_alloc();
        }
    }

    // ACCESSORS
    std::size_t cellsInRow() const { return d_current.cells.size(); }
    std::size_t rowLine() const { return d_current.line; }
};

// libcsv's callbacks.  Nothing may be thrown through libcsv's C code: a
// failed allocation is noted and thrown again once the parser has returned.
extern "C" void onCell(void* data, std::size_t size, void* collector) {
    RowCollector* rows = static_cast<RowCollector*>(collector);
    try {
        rows->addCell(static_cast<const char*>(data), size);
    } catch (const std::bad_alloc&) {
        rows->noteOutOfMemory();
    }
}

extern "C" void onRowEnd(int, void* collector) {
    RowCollector* rows = static_cast<RowCollector*>(collector);
    try {
        rows->endRow();
    } catch (const std::bad_alloc&) {
        rows->noteOutOfMemory();
    }
}

// Cells keep their white space: trimming is the readers' business, which
// tell the user when a name changes.  (libcsv would otherwise drop spaces
// and TABs around unquoted cells, TABs even when they are the separator.)
extern "C" int isNeverSpace(unsigned char) {
    return 0;
}

class Parser {
    // A libcsv parser, freed on every path.

    // DATA
    csv_parser d_parser;

  public:
    // CREATORS
    explicit Parser(char separator) {
        const int status = csv_init(&d_parser, CSV_STRICT | CSV_STRICT_FINI);
        PSEX_ASSERT(status == 0);
        csv_set_delim(&d_parser, static_cast<unsigned char>(separator));
        csv_set_space_func(&d_parser, isNeverSpace);
    }
    Parser(const Parser&) = delete;
    Parser& operator=(const Parser&) = delete;
    ~Parser() { csv_free(&d_parser); }

    // MANIPULATORS
    csv_parser* get() { return &d_parser; }
};

// Throw what the specified 'parser' failed at: memory, or the quoting rules
// at the cell of the specified 'column' (1-based) on the specified 'line'.
[[noreturn]] void throwParseFailure(csv_parser* parser, std::size_t line, std::size_t column) {
    if (csv_error(parser) == CSV_ENOMEM) {
        throw std::bad_alloc();
    }
    ImportRefusal refusal;
    refusal.line = line;
    refusal.column = columnLabel(column);
    refusal.text = "a double quote in this cell breaks the quoting rules (expected a cell either "
                   "without quotes, or wholly in double quotes with every quote inside it "
                   "written twice)";
    throw refusal;
}

// Return the length of the line that begins at the specified 'start' of
// the specified 'text', its line end included.
std::size_t lineLength(std::string_view text, std::size_t start) {
    const std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
        return text.size() - start;
    }
    const bool crlf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
    return end - start + (crlf ? 2 : 1);
}

} // namespace

CsvText::CsvText(std::string_view text, char separator) : d_text(text), d_separator(separator) {}

void CsvText::forEachRow(const std::function<bool(const CsvRow&)>& visit) const {
    Parser parser(d_separator);
    RowCollector collector;
    std::size_t line = 1;
    for (std::size_t start = 0; start < d_text.size(); ++line) {
        const std::size_t length = lineLength(d_text, start);
        const std::string_view piece = d_text.substr(start, length);
        collector.beginLine(line, piece.find_first_not_of("\r\n") == std::string_view::npos);
        const std::size_t parsed =
            csv_parse(parser.get(), piece.data(), piece.size(), onCell, onRowEnd, &collector);
        collector.throwIfOutOfMemory();
        if (parsed != piece.size()) {
            throwParseFailure(parser.get(), line, collector.cellsInRow() + 1);
        }
        if (!collector.visitDone(visit)) {
            return;
        }
        start += length;
    }
    const std::size_t openCell = collector.cellsInRow() + 1;
    const std::size_t openLine = collector.rowLine();
    const int finished = csv_fini(parser.get(), onCell, onRowEnd, &collector);
    collector.throwIfOutOfMemory();
    if (finished != 0) {
        if (csv_error(parser.get()) == CSV_ENOMEM) {
            throw std::bad_alloc();
        }
        ImportRefusal refusal;
        refusal.line = openLine;
        refusal.column = columnLabel(openCell);
        refusal.text = "the quoted cell that begins here is still open at the end of the file "
                       "(expected a closing double quote)";
        throw refusal;
    }
    collector.visitDone(visit);
}

std::vector<CsvRow> readCsv(std::string_view text, char separator) {
    std::vector<CsvRow> rows;
    CsvText(text, separator).forEachRow([&](const CsvRow& row) {
        rows.push_back(row);
        return true;
    });
    return rows;
}

char detectSeparator(std::string_view text) {
    const char candidates[] = {'\t', ';', ','};
    std::size_t counts[3] = {0, 0, 0};
    bool inQuotes = false;
    bool lineHasText = false;
    int lines = 0;
    for (const char c : text) {
        if (c == '"') {
            inQuotes = !inQuotes;
        } else if ((c == '\n' || c == '\r') && !inQuotes) {
            lines += lineHasText ? 1 : 0;
            lineHasText = false;
            if (lines == 10) {
                break;
            }
            continue;
        }
        lineHasText = true;
        for (int i = 0; i < 3; ++i) {
            counts[i] += (!inQuotes && c == candidates[i]) ? 1 : 0;
        }
    }
    int best = 2;
    for (int i = 1; i >= 0; --i) {
        if (counts[i] >= counts[best] && counts[i] > 0) {
            best = i;
        }
    }
    return candidates[best];
}

std::string separatorName(char separator) {
    switch (separator) {
    case '\t':
        return "TAB";
    case ';':
        return "semicolon";
    default:
        return "comma";
    }
}

} // namespace psex
