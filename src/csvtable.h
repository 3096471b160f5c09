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

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace psex {

struct CsvRow {
    // One row of a table.

    std::size_t line = 0;           // 1-based line on which the row begins
    std::vector<std::string> cells; // at least one
};

std::vector<CsvRow> readCsv(std::string_view text, char separator);
// Return the rows of the specified 'text', cut at the specified
// 'separator' (',', ';' or TAB).  Lines end at LF, CR LF or a lone CR.
// Throw an 'ImportRefusal' naming the line and column of a quote that does
// not follow the rules, or of a quoted cell that the end of the text
// leaves open.

char detectSeparator(std::string_view text);
// Return the separator of the table in the specified 'text': of TAB,
// semicolon and comma the one found most often outside quotes in its first
// ten non-blank lines, TAB before semicolon before comma on a tie, and the
// comma when none is found.

std::string separatorName(char separator);
// Return "comma", "semicolon" or "TAB" for the specified 'separator'.

} // namespace psex

#endif
