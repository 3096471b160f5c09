// reports.h                                                      -*-C++-*-
#ifndef PSEX_REPORTS_H
#define PSEX_REPORTS_H

// Purpose: write the result files of a run (the summary's in summary.h).
//
// The simulation results file and the full table are the original reports:
// comma-separated text in blocks, cells joined by a single comma, text
// written as it is (but for a cell that CSV must quote: a sample name, a
// locus name or the data file path that holds a double quote, a comma, a
// CR or a LF), numbers in
// the stream's default format (doubles with 6 significant digits, as
// printf's %g), and the dash cell "-" (with its double quotes) where a value
// is not given or not defined.  Scripts read them as they are, so their
// layout does not change.
//
// The tidy files (one header row, one record per row, "NA" for what is not
// defined, numbers that read back exactly) are for R, pandas and
// spreadsheets.  Every writer formats in the classic locale, whatever the
// global one: a decimal comma or digit grouping would break the files.

#include "model/settings.h"

#include <cstdint>
#include <locale>
#include <ostream>
#include <string>
#include <vector>

namespace psex {

class MLGTable;
struct Lineages;
struct Linkage;
struct CurvePoint;
struct ReferenceDistances;
struct SpatialAnalysis;

extern const char k_dashCell[];
// The cell that stands where there is no value: a double quote, a hyphen and
// a double quote.

class ClassicLocale {
    // Makes a stream format in the classic locale while it lives: a global
    // locale with a decimal comma or digit grouping would write
    // "R,0,00166806" or "N,1.200" into a comma-separated file.

    // DATA
    std::ostream& d_out;
    std::locale d_previous;

  public:
    // CREATORS
    explicit ClassicLocale(std::ostream& out)
        : d_out(out), d_previous(out.imbue(std::locale::classic())) {}
    ClassicLocale(const ClassicLocale&) = delete;
    ClassicLocale& operator=(const ClassicLocale&) = delete;
    ~ClassicLocale() { d_out.imbue(d_previous); }
};

void writeSimulationResultsFile(const std::string& dataFile, const MLGTable& table,
                                const Parameters& parameters, std::ostream& out);
// Write the whole simulation results file of the data file at the specified
// 'dataFile' path (as given): the line "Datafile," with the path and an
// empty line, the body ('writeSimulationResults') of the specified finished
// 'table', then two empty lines, "Specified parameters:" and the echo of
// the specified header 'parameters' (the values used, command-line
// settings included): one line per key in key order, a value with commas
// (LOCUSNAMES) spread over several cells, and an empty line to end the
// file.

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

void writeSamples(const MLGTable& table, const std::vector<std::uint32_t>& lineageOfMlg,
                  std::ostream& out);
// Write the tidy per-sample table: one header row
// "sample,mlg,n,pgen,psex,p_value,level,mll,p_familywise,level_familywise"
// and one row per sample in the order of the data file, with its MLG's
// number, size, PGen, PSex, p-value and significance code ("NA" for the
// last three of a genotype seen once, for the p-value and the code when no
// genotype repeated by chance, and for any number that is not defined), the
// number of its lineage from the specified 'lineageOfMlg' (one per MLG, in
// table order), and its MLG's family-wise p-value and level ("NA" for a
// genotype seen once).  Doubles are written in the
// shortest form that reads back to the same double; a name that holds a double quote, a comma or a
// line end is quoted as CSV quotes it.  R's read.csv and pandas read it as it is.

void writeDistances(const Lineages& lineages, const ReferenceDistances& reference,
                    std::ostream& out);
// Write the tidy distance histogram: a header row
// "distance,observed_pairs,sibling_pairs,unrelated_pairs" and one row per
// distance from 0 to the largest seen in any of the three columns.

void writeLinkage(const Linkage& linkage, std::ostream& out);
// Write the tidy linkage file: a header row
// "data,samples,loci,left_out,ia,p_ia,rbarD,p_rbarD,permutations", then the
// rows "all" and "clone_corrected" of the specified 'linkage' ("NA" where
// a value is not defined).

void writeLocusCurve(const std::vector<CurvePoint>& curve, std::ostream& out);
// Write the tidy accumulation curve: a header row
// "loci,subsets,mlg_min,mlg_q25,mlg_median,mlg_q75,mlg_max,mlg_mean", then
// one row per point of the specified 'curve'.

void writeSpatial(const SpatialAnalysis& spatial, std::ostream& out);
// Write the tidy table of where the units are: a header row
// "unit,id,n,located,subrange" and one row per MLG (unit "mlg", id its
// number), then one per MLL (unit "mll") when lineages were formed: its
// samples, its located samples and its clonal subrange ("NA" with fewer
// than two located).

void writeKinship(const SpatialAnalysis& spatial, std::ostream& out);
// Write the tidy table of kinship by distance: a header row
// "level,class,max_distance,mean_distance,pairs,kinship" and one row per
// distance class of the ramets, then of the genets ("NA" where a class has
// no pair, or no pair with a defined kinship).  Without the pairs analysed
// (too many located samples) only the header row.

std::string shortestNumber(double value);
// Return the shortest decimal text that reads back to the specified
// 'value', or "NA" when it is not finite.

std::string csvField(const std::string& text);
// Return the specified 'text' as a CSV field: unchanged unless it holds a
// double quote, a comma, a CR or a LF, in which case it is enclosed in
// double quotes with every double quote doubled.

void writeFullTableFile(const std::string& dataFile, const MLGTable& table, std::ostream& out);
// Write the whole full table file of the data file at the specified
// 'dataFile' path (as given): the line "Datafile," with the path and an
// empty line, the body ('writeFullTable') of the specified finished
// 'table', and two empty lines.

void writeFullTable(const MLGTable& table, std::ostream& out);
// Write the body of the full table file: one line per sample, grouped by MLG
// in table order, with the MLG number, PSex, p-value and alleles.  A sample
// name that holds a double quote (or a comma or a line end, which no data
// file gives) is quoted as CSV quotes it; every other name is written as it
// is.

} // namespace psex

#endif
