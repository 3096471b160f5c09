// spreadsheetreader.h                                            -*-C++-*-
#ifndef PSEX_SPREADSHEETREADER_H
#define PSEX_SPREADSHEETREADER_H

// Purpose: read the genotype tables that labs keep in spreadsheets: a
// GenAlEx sheet saved as CSV, or a plain table of one row per sample.
//
// A GenAlEx sheet begins with two rows that GenAlEx itself needs: the
// counts (loci, samples, populations, then the size of each population)
// and the titles (the data set's title, then the name of each population).
// The third row names the columns: the sample, the population, and each
// locus once over its two allele columns (the second cell often empty).
// One row per sample follows; columns after the loci (coordinates, notes)
// are not genotypes.
//
// A plain table has a header row, one row per sample, the sample name in
// one column (the first, unless told otherwise), optionally a population
// column, and then 'ploidy' allele columns per locus.  A column headed
// "Pop" or "Population" right after the sample column is taken as the
// population column.
//
// In both, the allele columns of a locus are named once, over its first
// column, or with a common stem ("CnA3", "" or "CnA3_a", "CnA3_b"); names
// that differ in a number of their own ("SNP1", "SNP2") are two loci.
// Every row is as wide as the heading row: a row with a cell too many or
// too few would move alleles into the wrong locus, and is refused (empty
// cells at the end of a row aside).  Rows that hold nothing are padding,
// and a row with a name but no allele cell filled (a note under the table)
// is no sample: both are skipped, the second with a warning.  Columns that
// hold no alleles are left out when the user names them.  Coordinates are
// carried into the data file from the two columns the user names, or from
// a GenAlEx sheet's X and Y after an empty column without being asked
// (in a plain table those are left out unless named); a decimal comma
// becomes a point, and a cell that is no decimal number is left empty.

#include "import/allelecode.h"
#include "import/csvtable.h"
#include "import/importeddata.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace psex {

struct TableOptions {
    // What the user said about the table.

    std::optional<std::int32_t> ploidy;      // 1 or 2; 2 when not given
    std::string sampleColumn;                // a column name or 1-based number; empty: the first
    std::string populationColumn;            // a column name or number; empty: detected or none
    std::vector<std::string> ignoredColumns; // names or numbers of columns to leave out
    std::string coordinateColumns; // "X,Y": the coordinate columns; empty: GenAlEx's own or none
    AlleleReader alleles{defaultMissingCodes()};
};

bool looksLikeGenAlEx(const CsvText& table);
// Return whether the specified 'table' begins as a GenAlEx sheet: at least
// three rows, the first with whole numbers of at least 0 in its first
// three cells.

ImportedData readGenAlEx(const CsvText& table, const TableOptions& options);
// Return the samples of the GenAlEx sheet of the specified 'table' as the
// specified 'options' ask ('sampleColumn' and 'populationColumn' are not
// used: GenAlEx fixes them).  Throw an 'ImportRefusal' when the sheet
// cannot be read.

ImportedData readPlainTable(const CsvText& table, const TableOptions& options);
// Return the samples of the plain table of the specified 'table' as the
// specified 'options' ask.  Throw an 'ImportRefusal' when it cannot be
// read.

} // namespace psex

#endif
