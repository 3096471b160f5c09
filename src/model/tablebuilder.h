// tablebuilder.h                                                 -*-C++-*-
#ifndef PSEX_TABLEBUILDER_H
#define PSEX_TABLEBUILDER_H

// Purpose: turn a data file's header and sample rows into the genotype
// table of the run.
//
// The header is interpreted in settings.h; here the loci are named from
// LOCUSNAMES, the columns are checked against the loci and the ploidy, and
// every sample row becomes a sample of the table.
//
// Allele values are integers, read like C's 'atoi'.  A cell that is not a
// whole number (an optional sign and digits, spaces around them allowed) is
// read all the same, but the run says so for the first few: '12O' with a
// letter O is read as 12, 'NA' as 0.  A diploid locus's two values are stored in
// ascending order whatever order the data file gives them in (116,114 and
// 114,116 are the same genotype), as the simulation stores them.  With a
// MISSING code, a value equal to it marks a copy that could not be typed.  A sample row is a list
// of text fields: the sample's name, then the allele values locus after locus, each locus's allele
// columns in order.  Rows may come from a parsed data file or from any other source of the same
// shape, so another input format can feed the table without pretending to be a data file.
//
// With COORDINATES=<x>,<y> the two named columns follow the allele columns,
// and every row gives the sample's place as two decimal numbers; a row
// without two usable numbers keeps its genotype and is said to have no
// place (the first few by name, the rest as a count).
//
// Problems never stop the run: every one is reported on the error channel
// and a default is taken, or, when the columns do not fit the loci and the
// ploidy, the table comes back without samples.

#include "model/mlgtable.h"
#include "model/settings.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace psex {

class DataReader;
class MessageSink;

struct SampleRows {
    // A source of sample rows.

    std::uint32_t columnCount = 0;
    // The number of distinct column names the rows come with; the table
    // is filled only when it is one more than the number of allele columns.

    std::function<const std::vector<std::string>*()> next;
    // Return the fields of the next row (valid until the next call), or a
    // null pointer once the rows have ended.  Called until it returns null.

    std::function<std::uint32_t()> lineNumber;
    // Return the number of the line the last row came from, for messages;
    // none when the rows have no lines.

    std::function<std::optional<std::uint32_t>(const std::string&)> columnPosition;
    // Return the position (from 0) of the column of the specified name (its
    // last when repeated), or nothing; none when the rows have no names.
    // With COORDINATES, the two named columns must follow the alleles.
};

SampleRows sampleRowsOf(DataReader& reader);
// Return the data lines of the specified 'reader' as sample rows.  The
// reader must outlive the result.

MLGTable buildTable(const Parameters& parameters, const SampleRows& rows, MessageSink& messages);
// Return the genotype table that the specified header 'parameters' and
// sample 'rows' describe: header interpreted, columns checked, every row
// added as a sample, frequencies, PGen and PSex computed; messages go to
// 'messages'.  When the columns do not fit the loci and the ploidy, no row
// is read and the table comes back without samples, holding no more loci
// than the rows have column names (one at least).

MLGTable buildTable(DataReader& reader, MessageSink& messages);
// Return the genotype table of the data file behind the specified 'reader'
// (its header and its data lines), as the form above.

} // namespace psex

#endif
