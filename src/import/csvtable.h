// csvtable.h                                                     -*-C++-*-
#ifndef PSEX_CSVTABLE_H
#define PSEX_CSVTABLE_H

// Purpose: cut the text of a spreadsheet export into rows of cells, with
// the line on which each row begins.
//
// Spreadsheets save tables as comma-, semicolon- (where the comma is the
// decimal mark) or TAB-separated text, with CR LF line ends on Windows, and
// put a cell in double quotes when it holds the separator, a quote (written
// twice) or a line end.  The quoting rules are those of RFC 4180 as
// libcsv implements them, in its strict mode: a stray quote is refused
// rather than read one way or another.  Cells are delivered exactly as
// they stand, without trimming; rows without any character (blank lines)
// are not delivered.
//
// A table of a million rows is read row by row ('CsvText'), as often as
// a reader needs, and never held as cells: a cell kept as a string of its
// own takes ten times the bytes of its text.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace psex {

struct CsvRow {
    // One row of a table.

    std::size_t line = 0;           // 1-based line on which the row begins
    std::vector<std::string> cells; // at least one
};

class CsvText {
    // The text of a table and its separator, read row by row.  It borrows
    // the text, which must outlive it.

    // DATA
    std::string_view d_text;
    char d_separator;

  public:
    // CREATORS
    CsvText(std::string_view text, char separator);
    // Create a table of the specified 'text', cut at the specified
    // 'separator' (',', ';' or TAB).  Lines end at LF, CR LF or a lone CR.

    // ACCESSORS
    void forEachRow(const std::function<bool(const CsvRow&)>& visit) const;
    // Call the specified 'visit' with every row in order (the row is valid
    // during the call only) until it returns false or the rows end.  Throw
    // an 'ImportRefusal' naming the line and column of a quote that does
    // not follow the rules, or of a quoted cell that the end of the text
    // leaves open, when the reading comes to it.

    char separator() const { return d_separator; }
    // Return the separator of the cells.
};

std::vector<CsvRow> readCsv(std::string_view text, char separator);
// Return the rows of the specified 'text', cut at the specified
// 'separator', as 'CsvText::forEachRow' reads them: for short texts.

char detectSeparator(std::string_view text);
// Return the separator of the table in the specified 'text': of TAB,
// semicolon and comma the one found most often outside quotes in its first
// ten non-blank lines, TAB before semicolon before comma on a tie, and the
// comma when none is found.

std::string separatorName(char separator);
// Return "comma", "semicolon" or "TAB" for the specified 'separator'.

} // namespace psex

#endif
