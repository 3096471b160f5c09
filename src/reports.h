// reports.h                                                      -*-C++-*-
#ifndef PSEX_REPORTS_H
#define PSEX_REPORTS_H

// Purpose: write the bodies of the two result files of a run.
//
// Both are comma-separated text: cells joined by a single comma, text written
// as it is, numbers in the stream's default format (doubles with 6
// significant digits, as printf's %g), and the dash cell "-" (with its
// double quotes) where a value is not given or not defined.

#include <iosfwd>

namespace psex {

class MLGTable;

extern const char k_dashCell[];
// The cell that stands where there is no value: a double quote, a hyphen and
// a double quote.

void writeSimulationResults(const MLGTable& table, std::ostream& out);
// Write the body of the simulation results file: the MLG table with the
// per-locus statistics, clonal richness, significance thresholds, counts,
// allele frequencies and the simulated PSex values, ending with two empty
// lines.

void writeMLGSummary(const MLGTable& table, std::ostream& out);
// Write the MLG table and the per-locus statistics (locus names, number of
// alleles, He, Ho, Fis) that open the simulation results file.

void writeAlleleFrequencies(const MLGTable& table, std::ostream& out);
// Write the allele frequency block: per locus a "Locus" line, then one line
// per allele in ascending order with its frequency.

void writeFullTable(const MLGTable& table, std::ostream& out);
// Write the body of the full table file: one line per sample, grouped by MLG
// in table order, with the MLG number, PSex, p-value and alleles.

} // namespace psex

#endif
