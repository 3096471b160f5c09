// importformats.h                                                -*-C++-*-
#ifndef PSEX_IMPORTFORMATS_H
#define PSEX_IMPORTFORMATS_H

// Purpose: list the input formats that psex-import reads, each with its
// name, how it is recognised, its reader and a line of help.
//
// Everything that deals with formats reads this one list: the command line
// (the choices of '--format' and their help), the recognition of an input
// whose format the user does not name, the fuzz target (every format on
// every input) and the test that the manual page describes every format.
// A new format is one entry here and a reader unit that fills
// 'ImportedData' (see doc/DESIGN.md, "Where a change goes").
//
// The order is the order in which an input is recognised: the first format
// whose 'looksLike' holds is taken.  Put a format before those that its
// files could be mistaken for: a genepop file whose title row happens to
// begin with three numbers also looks like the count row of a GenAlEx
// sheet, so genepop comes first.  The plain table, which takes any text,
// is last.

#include "import/importeddata.h"
#include "import/spreadsheetreader.h"

#include <span>
#include <string_view>

namespace psex {

struct ImportFormat {
    // One input format.  'separator' is the cell separator the user names
    // (',', ';' or TAB), or 0 to find it from the text; a format that has
    // no cells ignores it.

    std::string_view name; // the word of '--format': lower case, no space
    std::string_view help; // one line for '--help' and the manual page

    bool (*looksLike)(std::string_view text, char separator);
    // Return whether the specified 'text' looks like this format.  May
    // throw an 'ImportRefusal' when the text cannot be read far enough to
    // tell (broken quoting at the top of a table).

    ImportedData (*read)(std::string_view text, char separator, const TableOptions& options);
    // Return the samples of the specified 'text' read as this format, as
    // the specified 'options' ask, with 'formatName' set for the summary
    // (names not yet tidied).  Throw an 'ImportRefusal' when the text
    // cannot be read as this format.
};

std::span<const ImportFormat> importFormats();
// Return every format, in the order in which an input is recognised.

const ImportFormat* findImportFormat(std::string_view name);
// Return the format of the specified 'name' (as 'ImportFormat::name'
// spells it), or a null pointer when there is none.

const ImportFormat& recognizeImportFormat(std::string_view text, char separator);
// Return the first format that the specified 'text' looks like, its cells
// separated by the specified 'separator' (0: found from the text).  Throw
// an 'ImportRefusal' when the text cannot be read far enough to tell.

} // namespace psex

#endif
