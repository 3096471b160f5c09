// importrun.h                                                    -*-C++-*-
#ifndef PSEX_IMPORTRUN_H
#define PSEX_IMPORTRUN_H

// Purpose: turn one input file of psex-import into one psex data file (or
// one per population), from reading the bytes to the summary.
//
// The input's format is found from its content unless the user names it
// (see 'importFormats': a genepop file has a line "Pop" after its title
// and locus lines; a GenAlEx sheet begins with a row of counts; anything
// else is a plain table).  A UTF-8 byte-order mark is skipped; UTF-16 text
// and NUL bytes (a workbook rather than its CSV export) are refused.
//
// All reading and checking is done before anything is written, so a
// refused input leaves no file and changes none; the files are written as
// one set (see 'writeResultFiles'): each under a temporary name, all
// renamed into place only when every one is complete, so that a split that
// fails half-way replaces none.  A path where something other than a
// regular file stands (a device, a FIFO, a folder) is refused.  On
// success a summary goes to the error channel: what was read, the counts,
// the missing copies per locus, and every change made.

#include "import/datafilewriter.h"
#include "import/importeddata.h"
#include "import/importformats.h"
#include "import/spreadsheetreader.h"

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace psex {

class MessageSink;

struct ImportOptions {
    // Everything the command line says.

    std::string input;                    // a path, or "-" for standard input
    std::string output;                   // a path; empty for standard output
    const ImportFormat* format = nullptr; // one of 'importFormats()'; null to recognise
    char separator = 0;                   // ',', ';' or TAB; 0 to detect
    TableOptions table;                   // ploidy, sample and population columns, missing codes
    std::optional<std::string> title;
    std::optional<std::string> frequency;        // SAMPLE, MLG or ROUNDROBIN
    std::optional<std::string> model;            // HWE or FIS
    std::optional<std::int32_t> lineageDistance; // MLLDISTANCE
    std::int32_t simulations = 1000;
    std::optional<std::string> splitPrefix; // one file per population: prefix + name + ".txt"
};

ImportedData importText(std::string_view text, const ImportOptions& options);
// Return the genotypes of the specified input 'text' read as the specified
// 'options' ask, names tidied.  Throw an 'ImportRefusal' when the text
// cannot be converted.

std::string refusalMessage(const std::string& inputName, const ImportRefusal& refusal);
// Return the one-line message for the specified 'refusal' of the input of
// the specified 'inputName': "error: <name>, line <l>, column <c>: <text>."
// (without line or column when the refusal has none), or "error: " and
// the refusal's own message when it has one.

int runImport(const ImportOptions& options, std::istream& standardInput,
              std::ostream& standardOutput, MessageSink& messages);
// Convert the input that the specified 'options' name, reading
// 'standardInput' for "-" and writing the data file to 'standardOutput'
// when no output is named, and return the exit status: 0 on success, 1 when
// the input cannot be read or converted (also for want of memory) or an
// output cannot be written.  The warnings and the summary, or the refusal,
// go to the error channel of 'messages'.

} // namespace psex

#endif
