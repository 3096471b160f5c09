// reports.cpp                                                    -*-C++-*-
#include "reports/reports.h"

#include "analysis/lineages.h"
#include "analysis/linkage.h"
#include "analysis/locuscurve.h"
#include "analysis/spatial.h"
#include "model/diversity.h"
#include "model/mlgtable.h"
#include "model/significance.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <locale>
#include <ostream>
#include <sstream>

namespace psex {

const char k_dashCell[] = "\"-\"";

namespace {

const char k_notAvailable[] = "NA";

// Write the specified 'value', or the dash cell when it is undefined (R of a
// single sample, Ho of an empty table, ...): a report never shows nan or
// inf.
void writeNumber(std::ostream& out, double value) {
    if (std::isfinite(value)) {
        out << value;
    } else {
        out << k_dashCell;
    }
}

// Locus names come from LOCUSNAMES, split at its commas: a name may still
// hold a double quote or a CR, which every cell naming it quotes.
void writeLocusColumnNames(const MLGTable& table, std::ostream& out) {
    for (const Locus& locus : table.loci()) {
        for (std::int32_t i = 0; i < table.ploidy(); ++i) {
            out << ',' << csvField(locus.name() + '_' + std::to_string(i));
        }
    }
}

// Return the allele cells of the specified 'mlg', each after a comma.  The
// integers are formatted by hand: a large study writes millions of them,
// and a stream formats each one with a locale look-up and a sentry.
std::string alleleCells(const MLGTuple& mlg) {
    std::string cells;
    cells.reserve(mlg.alleles().size() * 5);
    char text[16];
    for (const std::int32_t allele : mlg.alleles()) {
        cells += ',';
        cells.append(text, std::to_chars(text, text + sizeof text, allele).ptr);
    }
    return cells;
}

void writeAlleles(const MLGTuple& mlg, std::ostream& out) {
    out << alleleCells(mlg);
}

// One line of the per-locus block: a label, three empty cells, then each
// locus's value followed by an empty cell.
template <class VALUE_OF>
void writeLocusLine(const MLGTable& table, std::ostream& out, const char* label, VALUE_OF valueOf) {
    out << label << ",,,";
    for (std::uint32_t j = 0; j < table.loci().size(); ++j) {
        out << ',';
        valueOf(j);
        out << ',';
    }
    out << std::endl;
}

void writeClonalRichness(const MLGTable& table, std::ostream& out) {
    out << std::endl << std::endl;
    out << "Clonal Richness" << std::endl;
    for (const Figure& figure : clonalRichnessFigures(table.mlgSizes())) {
        out << figure.label << ',';
        if (figure.isCount) {
            out << static_cast<std::uint64_t>(figure.value);
        } else {
            writeNumber(out, figure.value);
        }
        out << std::endl;
    }
    out << std::endl;
}

void writeThresholds(const MLGTable& table, std::ostream& out) {
    for (const ReportedLevel& level : k_reportedLevels) {
        out << "PValue(" << level.text << "),"
            << significanceThreshold(table.psexValues(), level.level) << ",significance level,"
            << realizedSignificanceLevel(table.psexValues(), level.level) << std::endl;
    }
    out << std::endl;
}

// Return the specified header parameter 'value' as the cells of the echo:
// a value with commas (LOCUSNAMES) spreads over several cells, as it always
// has; a piece that holds a double quote, a CR or a LF is quoted, so that
// it cannot open a field that swallows the lines after it.
std::string parameterCells(const std::string& value) {
    std::string cells;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = value.find(',', start);
        cells += csvField(value.substr(start, comma - start));
        if (comma == std::string::npos) {
            return cells;
        }
        cells += ',';
        start = comma + 1;
    }
}

void writePsexValues(const MLGTable& table, std::ostream& out) {
    out << std::endl << std::endl;
    out << "PSex Values:" << std::endl;
    for (const auto& [value, count] : table.psexValues().runs()) {
        for (std::uint64_t i = 0; i < count; ++i) {
            out << value << ',' << std::endl;
        }
    }
    out << std::endl << std::endl;
}

} // namespace

void writeMLGSummary(const MLGTable& table, std::ostream& out) {
    const ClassicLocale classic(out);
    out << "MLG,n,PSex,Significance,Level,PGen";
    writeLocusColumnNames(table, out);
    out << std::endl;

    std::size_t number = 0;
    for (const MLGTuple& mlg : table.mlgs()) {
        const std::uint32_t n = mlg.sampleCount();
        out << "MLG" << ++number << ',' << n;
        if (n <= 1) {
            out << ',' << k_dashCell << ',' << k_dashCell << ',' << k_dashCell << ',';
        } else if (table.psexValues().empty()) {
            // Without a single chance repeat there is nothing to judge by.
            out << ',' << mlg.psex() << ',' << k_dashCell << ',' << k_dashCell << ',';
        } else {
            out << ',' << mlg.psex() << ',' << psexSignificance(table.psexValues(), mlg.psex())
                << ',' << significanceCode(table.psexValues(), mlg.psex()) << ',';
        }
        writeNumber(out, mlg.pgen());
        writeAlleles(mlg, out);
        out << std::endl;
    }
    out << std::endl;

    const std::vector<Locus>& loci = table.loci();
    writeLocusLine(table, out, "", [&](std::uint32_t j) { out << csvField(loci[j].name()); });
    writeLocusLine(table, out, "Number of alleles",
                   [&](std::uint32_t j) { out << loci[j].alleleCount(); });
    writeLocusLine(table, out, "He",
                   [&](std::uint32_t j) { writeNumber(out, loci[j].expectedHeterozygosity()); });
    writeLocusLine(table, out, "Ho",
                   [&](std::uint32_t j) { writeNumber(out, table.observedHeterozygosity(j)); });
    writeLocusLine(table, out, "Fis", [&](std::uint32_t j) { writeNumber(out, table.fis(j)); });
}

void writeAlleleFrequencies(const MLGTable& table, std::ostream& out) {
    const ClassicLocale classic(out);
    out << std::endl;
    out << "Allele frequencies:" << std::endl;
    for (const Locus& locus : table.loci()) {
        out << csvField("Locus " + locus.name()) << std::endl;
        for (const auto& entry : locus.frequencies()) {
            out << ',' << entry.first << ',' << entry.second << std::endl;
        }
    }
}

void writeSimulationResultsFile(const std::string& dataFile, const MLGTable& table,
                                const Parameters& parameters, std::ostream& out) {
    const ClassicLocale classic(out);
    out << "Datafile," << csvField(dataFile) << std::endl << std::endl;
    writeSimulationResults(table, out);
    out << std::endl << std::endl;
    out << "Specified parameters:" << std::endl;
    for (const auto& parameter : parameters) {
        out << csvField(parameter.first) << ',' << parameterCells(parameter.second) << std::endl;
    }
    out << std::endl;
}

void writeSimulationResults(const MLGTable& table, std::ostream& out) {
    const ClassicLocale classic(out);
    writeMLGSummary(table, out);
    writeClonalRichness(table, out);
    writeThresholds(table, out);
    out << "Samplesize," << table.sampleNames().size() << std::endl;
    out << "PValues," << table.psexValues().size() << std::endl;
    out << std::endl;
    writeAlleleFrequencies(table, out);
    writePsexValues(table, out);
}

void writeFullTableFile(const std::string& dataFile, const MLGTable& table, std::ostream& out) {
    const ClassicLocale classic(out);
    out << "Datafile," << csvField(dataFile) << std::endl << std::endl;
    writeFullTable(table, out);
    out << std::endl << std::endl;
}

void writeFullTable(const MLGTable& table, std::ostream& out) {
    const ClassicLocale classic(out);
    out << "Sample,MLG,PSex,PValue";
    writeLocusColumnNames(table, out);
    out << std::endl;

    std::size_t number = 0;
    for (const MLGTuple& mlg : table.mlgs()) {
        // Every sample of an MLG has the same cells after its name: they are
        // formatted once.
        std::ostringstream cells;
        cells.imbue(std::locale::classic());
        cells << ",MLG_" << ++number << ',';
        if (mlg.sampleCount() <= 1) {
            cells << k_dashCell << ',' << k_dashCell;
        } else if (table.psexValues().empty()) {
            cells << mlg.psex() << ',' << k_dashCell;
        } else {
            cells << mlg.psex() << ',' << mlg.pvalue();
        }
        cells << alleleCells(mlg) << '\n';
        const std::string line = cells.str();
        for (const std::string& name : mlg.sampleNames()) {
            // A name from a spreadsheet's quoted export ('"x') would open a
            // quoted field that swallows the lines after it.
            out << csvField(name) << line;
        }
    }
    out.flush();
}

std::string shortestNumber(double value) {
    if (!std::isfinite(value)) {
        return k_notAvailable;
    }
    char text[32];
    const std::to_chars_result end = std::to_chars(text, text + sizeof text, value);
    return std::string(text, end.ptr);
}

std::string csvField(const std::string& text) {
    if (text.find_first_of("\",\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted(1, '"');
    for (const char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    quoted += '"';
    return quoted;
}

void writeSamples(const MLGTable& table, const std::vector<std::uint32_t>& lineageOfMlg,
                  std::ostream& out) {
    const ClassicLocale classic(out);
    out << "sample,mlg,n,pgen,psex,p_value,level,mll,p_familywise,level_familywise\n";
    const std::vector<std::uint32_t> mlgOf = table.mlgNumbersOfSamples();
    const std::vector<std::string>& names = table.sampleNames();
    for (std::size_t s = 0; s < names.size(); ++s) {
        const MLGTuple& mlg = table.mlgs()[mlgOf[s] - 1];
        out << csvField(names[s]) << ',' << mlgOf[s] << ',' << mlg.sampleCount() << ','
            << shortestNumber(mlg.pgen()) << ',';
        const bool repeated = mlg.sampleCount() > 1;
        if (!repeated) {
            out << k_notAvailable << ',' << k_notAvailable << ',' << k_notAvailable;
        } else if (table.psexValues().empty()) {
            out << shortestNumber(mlg.psex()) << ',' << k_notAvailable << ',' << k_notAvailable;
        } else {
            out << shortestNumber(mlg.psex()) << ',' << shortestNumber(mlg.pvalue()) << ','
                << significanceCode(table.psexValues(), mlg.psex());
        }
        out << ',' << lineageOfMlg[mlgOf[s] - 1] << ',';
        if (repeated) {
            out << shortestNumber(mlg.familywisePvalue()) << ','
                << familywiseLevel(mlg.familywisePvalue()) << '\n';
        } else {
            out << k_notAvailable << ',' << k_notAvailable << '\n';
        }
    }
    out.flush();
}

void writeDistances(const Lineages& lineages, const ReferenceDistances& reference,
                    std::ostream& out) {
    const ClassicLocale classic(out);
    out << "distance,observed_pairs,sibling_pairs,unrelated_pairs\n";
    const std::size_t rows = std::max({lineages.observedPairs.size(), reference.siblingPairs.size(),
                                       reference.unrelatedPairs.size()});
    auto at = [](const std::vector<std::uint64_t>& counts, std::size_t d) {
        return d < counts.size() ? counts[d] : 0;
    };
    for (std::size_t d = 0; d < rows; ++d) {
        out << d << ',' << at(lineages.observedPairs, d) << ',' << at(reference.siblingPairs, d)
            << ',' << at(reference.unrelatedPairs, d) << '\n';
    }
    out.flush();
}

namespace {

std::string numberOrNA(const std::optional<double>& value) {
    return value ? shortestNumber(*value) : std::string(k_notAvailable);
}

void writeUnitPlaces(const UnitSpatial& units, const char* unit, std::ostream& out) {
    for (std::size_t u = 0; u < units.units.size(); ++u) {
        const UnitPlaces& places = units.units[u];
        out << unit << ',' << u + 1 << ',' << places.samples << ',' << places.located << ','
            << numberOrNA(places.subrange) << '\n';
    }
}

} // namespace

void writeLinkage(const Linkage& linkage, std::ostream& out) {
    const ClassicLocale classic(out);
    out << "data,samples,loci,left_out,ia,p_ia,rbarD,p_rbarD,permutations\n";
    for (const auto& [name, row] :
         {std::pair<const char*, const LinkageRow&>("all", linkage.all),
          std::pair<const char*, const LinkageRow&>("clone_corrected", linkage.cloneCorrected)}) {
        out << name << ',' << row.samples << ',' << linkage.loci << ',' << row.leftOut << ','
            << numberOrNA(row.indices.ia) << ',' << numberOrNA(row.pValue) << ','
            << numberOrNA(row.indices.rbarD) << ',' << numberOrNA(row.pValue) << ','
            << linkage.permutations << '\n';
    }
    out.flush();
}

void writeLocusCurve(const std::vector<CurvePoint>& curve, std::ostream& out) {
    const ClassicLocale classic(out);
    out << "loci,subsets,mlg_min,mlg_q25,mlg_median,mlg_q75,mlg_max,mlg_mean\n";
    for (const CurvePoint& point : curve) {
        out << point.loci << ',' << point.subsets << ',' << point.least << ','
            << shortestNumber(point.lowerQuartile) << ',' << shortestNumber(point.median) << ','
            << shortestNumber(point.upperQuartile) << ',' << point.most << ','
            << shortestNumber(point.mean) << '\n';
    }
    out.flush();
}

void writeSpatial(const SpatialAnalysis& spatial, std::ostream& out) {
    const ClassicLocale classic(out);
    out << "unit,id,n,located,subrange\n";
    writeUnitPlaces(spatial.mlg, "mlg", out);
    if (spatial.mll) {
        writeUnitPlaces(*spatial.mll, "mll", out);
    }
    out.flush();
}

void writeKinship(const SpatialAnalysis& spatial, std::ostream& out) {
    const ClassicLocale classic(out);
    out << "level,class,max_distance,mean_distance,pairs,kinship\n";
    for (const KinshipLevel& level : spatial.kinship) {
        for (std::size_t c = 0; c < level.classes.size(); ++c) {
            const KinshipClass& row = level.classes[c];
            out << level.level << ',' << c + 1 << ',' << numberOrNA(row.maxDistance) << ','
                << numberOrNA(row.meanDistance) << ',' << row.pairs << ','
                << numberOrNA(row.kinship) << '\n';
        }
    }
    out.flush();
}

} // namespace psex
