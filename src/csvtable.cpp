// csvtable.cpp                                                   -*-C++-*-
#include "csvtable.h"

#include "contract.h"
#include "importeddata.h"

#include <csv.h>

namespace psex {

namespace {

class RowCollector {
    // Receives libcsv's cells and row ends, and knows which line the text
    // handed to the parser belongs to.

    // DATA
    std::vector<CsvRow> d_rows;
    CsvRow d_current;
    bool d_betweenRows = true;

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
        d_current.cells.emplace_back(data == nullptr ? "" : std::string(data, size));
    }

    void endRow() {
        d_rows.push_back(std::move(d_current));
        d_current = CsvRow();
        d_betweenRows = true;
    }

    // ACCESSORS
    std::size_t cellsInRow() const { return d_current.cells.size(); }
    std::size_t rowLine() const { return d_current.line; }

    // MANIPULATORS
    std::vector<CsvRow> takeRows() { return std::move(d_rows); }
};

extern "C" void onCell(void* data, std::size_t size, void* collector) {
    static_cast<RowCollector*>(collector)->addCell(static_cast<const char*>(data), size);
}

extern "C" void onRowEnd(int, void* collector) {
    static_cast<RowCollector*>(collector)->endRow();
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

ImportRefusal quoteRefusal(std::size_t line, std::size_t column) {
    ImportRefusal refusal;
    refusal.line = line;
    refusal.column = columnLabel(column);
    refusal.text = "a double quote in this cell breaks the quoting rules (expected a cell either "
                   "without quotes, or wholly in double quotes with every quote inside it "
                   "written twice)";
    return refusal;
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

std::vector<CsvRow> readCsv(std::string_view text, char separator) {
    Parser parser(separator);
    RowCollector collector;
    std::size_t line = 1;
    for (std::size_t start = 0; start < text.size(); ++line) {
        const std::size_t length = lineLength(text, start);
        const std::string_view piece = text.substr(start, length);
        collector.beginLine(line, piece.find_first_not_of("\r\n") == std::string_view::npos);
        if (csv_parse(parser.get(), piece.data(), piece.size(), onCell, onRowEnd, &collector) !=
            piece.size()) {
            PSEX_ASSERT(csv_error(parser.get()) == CSV_EPARSE); // memory is not a data problem
            throw quoteRefusal(line, collector.cellsInRow() + 1);
        }
        start += length;
    }
    const std::size_t openCell = collector.cellsInRow() + 1;
    const std::size_t openLine = collector.rowLine();
    if (csv_fini(parser.get(), onCell, onRowEnd, &collector) != 0) {
        ImportRefusal refusal;
        refusal.line = openLine;
        refusal.column = columnLabel(openCell);
        refusal.text = "the quoted cell that begins here is still open at the end of the file "
                       "(expected a closing double quote)";
        throw refusal;
    }
    return collector.takeRows();
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
