// spreadsheetreader.cpp                                          -*-C++-*-
#include "spreadsheetreader.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace psex {

namespace {

struct Layout {
    // Where the parts of a table are.

    std::size_t headerIndex = 0; // index of the header row in the rows
    std::size_t sampleColumn = 0;
    std::optional<std::size_t> populationColumn;
    std::size_t firstLocusColumn = 1;
    std::size_t locusCount = 0;
    std::int32_t ploidy = 2;
};

const std::string& cellOf(const CsvRow& row, std::size_t column) {
    static const std::string k_empty;
    return column < row.cells.size() ? row.cells[column] : k_empty;
}

bool isBlankRow(const CsvRow& row) {
    return std::all_of(row.cells.begin(), row.cells.end(),
                       [](const std::string& cell) { return trimmed(cell).empty(); });
}

// Return one past the last column of the specified 'row' that holds more
// than white space, or 0.
std::size_t usedWidth(const CsvRow& row) {
    for (std::size_t c = row.cells.size(); c > 0; --c) {
        if (!trimmed(row.cells[c - 1]).empty()) {
            return c;
        }
    }
    return 0;
}

ImportRefusal refusal(std::size_t line, std::optional<std::size_t> column, std::string text) {
    ImportRefusal result;
    result.line = line;
    result.column = column ? columnLabel(*column + 1) : std::string();
    result.text = std::move(text);
    return result;
}

std::string lowerCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string columnSpan(std::size_t first, std::size_t count) {
    // 0-based 'first' column and the number of columns
    return count == 1 ? "column " + columnLabel(first + 1)
                      : "columns " + columnLabel(first + 1) + " to " + columnLabel(first + count);
}

// ---- the header row ----

// Return the index of the column that the specified 'spec' (a 1-based
// number or a column name of the specified 'header') names for the option
// of the specified 'optionName'.
std::size_t resolveColumn(const std::string& spec, const CsvRow& header,
                          const std::string& optionName) {
    std::int64_t number = 0;
    if (parseWholeNumber(trimmed(spec), &number)) {
        if (number < 1 || static_cast<std::size_t>(number) > header.cells.size()) {
            throw refusal(header.line, std::nullopt,
                          "the header row has " + std::to_string(header.cells.size()) +
                              " columns, so there is no column " + std::to_string(number) +
                              " (expected a column number from 1 to " +
                              std::to_string(header.cells.size()) + " for " + optionName + ")");
        }
        return static_cast<std::size_t>(number - 1);
    }
    for (const bool exact : {true, false}) {
        for (std::size_t c = 0; c < header.cells.size(); ++c) {
            const std::string name = trimmed(header.cells[c]);
            if (exact ? name == trimmed(spec) : lowerCase(name) == lowerCase(trimmed(spec))) {
                return c;
            }
        }
    }
    throw refusal(header.line, std::nullopt,
                  "no column of the header row is named " + quoted(spec) +
                      " (expected a column name or number for " + optionName + ")");
}

// Return whether the specified 'ending' of the name of the column of copy
// 'k' (from 0) of a locus, after the stem it shares with the other columns
// of its locus, marks that copy: it is empty, or (after one of " _.-/") the
// copy's letter or its number counted from 1 or from 0, as in "CnA3",
// "CnA3_a", "CnA3.2", "CnA3B" or "CnA3_0".  Two different loci named
// "Pi02" and "Pi04" share the stem "Pi0" but not such endings.
bool isCopyEnding(std::string ending, std::size_t k) {
    if (!ending.empty() && std::string(" _.-/").find(ending[0]) != std::string::npos) {
        ending.erase(0, 1);
    }
    const char letter = static_cast<char>('a' + k);
    return ending.empty() || ending == std::to_string(k) || ending == std::to_string(k + 1) ||
           (ending.size() == 1 && std::tolower(static_cast<unsigned char>(ending[0])) == letter);
}

// Return the locus name that the header cells over the allele columns of
// the locus that begins at the specified 'first' column give, with the
// specified 'ploidy'.  Copies are named alike, or one and the others left
// empty, or with a common stem and endings such as "_a" and "_b".
std::string locusName(const CsvRow& header, std::size_t first, std::int32_t ploidy) {
    std::vector<std::pair<std::size_t, std::string>> named; // column, name
    for (std::size_t k = 0; k < static_cast<std::size_t>(ploidy); ++k) {
        const std::string name = trimmed(cellOf(header, first + k));
        if (!name.empty()) {
            named.emplace_back(first + k, name);
        }
    }
    if (named.empty()) {
        return std::string();
    }
    std::string stem = named.front().second;
    for (const auto& [column, name] : named) {
        std::size_t common = 0;
        while (common < stem.size() && common < name.size() && stem[common] == name[common]) {
            ++common;
        }
        stem.resize(common);
    }
    const std::string separators = " _.-/";
    bool endingsMarkCopies = true;
    for (const auto& [column, name] : named) {
        endingsMarkCopies =
            endingsMarkCopies && isCopyEnding(name.substr(stem.size()), column - first);
    }
    if (named.size() > 1 && stem != named.front().second) {
        // The endings that tell the copies apart, and what joins them to
        // the stem, are not part of the locus name.
        while (!stem.empty() && separators.find(stem.back()) != std::string::npos) {
            stem.pop_back();
        }
    }
    if (stem.empty() || !endingsMarkCopies) {
        throw refusal(header.line, named[1].first,
                      "columns " + columnLabel(named[0].first + 1) + " and " +
                          columnLabel(named[1].first + 1) +
                          " hold the allele copies of one locus but name different loci, " +
                          quoted(named[0].second) + " and " + quoted(named[1].second) +
                          " (expected one locus name over the " + std::to_string(ploidy) +
                          " columns of a locus, or names with one stem such as CnA3_a and "
                          "CnA3_b; a table of haploid data needs --ploidy 1)");
    }
    return stem;
}

void readLoci(const CsvRow& header, const Layout& layout, ImportedData* data) {
    for (std::size_t l = 0; l < layout.locusCount; ++l) {
        ImportedLocus locus;
        locus.name =
            locusName(header, layout.firstLocusColumn + l * static_cast<std::size_t>(layout.ploidy),
                      layout.ploidy);
        data->loci.push_back(locus);
    }
}

// ---- the sample rows ----

struct FirstAllele {
    // Where a locus's first allele was, and of which kind.

    AlleleKind kind = AlleleKind::e_MISSING; // e_MISSING: none yet
    std::size_t line = 0;
    std::size_t column = 0;
};

void checkKind(const AlleleCell& cell, std::size_t line, std::size_t column,
               const std::string& locus, FirstAllele* first) {
    if (first->kind == AlleleKind::e_MISSING) {
        *first = FirstAllele{cell.kind, line, column};
        return;
    }
    if (first->kind == cell.kind) {
        return;
    }
    const bool letter = cell.kind == AlleleKind::e_NUCLEOTIDE;
    throw refusal(
        line, column,
        "locus " + quoted(locus) + " holds " + (letter ? "numbers" : "nucleotide letters") +
            " (first on line " + std::to_string(first->line) + ", column " +
            columnLabel(first->column + 1) + ") and here " +
            (letter ? "a nucleotide letter" : "a number") +
            " (expected one kind of allele per locus: the letters A, C, G and T are written as "
            "1, 2, 3 and 4 and would be taken for those numbers)");
}

void readSamples(const std::vector<CsvRow>& rows, const Layout& layout, const AlleleReader& alleles,
                 ImportedData* data) {
    const std::size_t copies = static_cast<std::size_t>(layout.ploidy);
    std::vector<FirstAllele> firstAlleles(layout.locusCount);
    std::string skipped;
    for (std::size_t r = layout.headerIndex + 1; r < rows.size(); ++r) {
        const CsvRow& row = rows[r];
        if (isBlankRow(row)) {
            skipped += (skipped.empty() ? "" : ", ") + std::to_string(row.line);
            continue;
        }
        ImportedSample sample;
        sample.line = row.line;
        sample.name = cellOf(row, layout.sampleColumn);
        if (trimmed(sample.name).empty()) {
            throw refusal(row.line, layout.sampleColumn,
                          "the sample name is empty (expected a name in column " +
                              columnLabel(layout.sampleColumn + 1) +
                              " of every row that holds alleles)");
        }
        if (layout.populationColumn) {
            sample.population = cellOf(row, *layout.populationColumn);
        }
        for (std::size_t l = 0; l < layout.locusCount; ++l) {
            for (std::size_t k = 0; k < copies; ++k) {
                const std::size_t column = layout.firstLocusColumn + l * copies + k;
                const AlleleCell cell = alleles.read(cellOf(row, column));
                if (cell.kind == AlleleKind::e_INVALID) {
                    throw refusal(row.line, column,
                                  "sample " + quoted(trimmed(sample.name)) + ", locus " +
                                      quoted(data->loci[l].name) + ": " + cell.problem);
                }
                if (cell.kind == AlleleKind::e_MISSING) {
                    sample.alleles.push_back(std::nullopt);
                    continue;
                }
                checkKind(cell, row.line, column, data->loci[l].name, &firstAlleles[l]);
                data->loci[l].nucleotides = cell.kind == AlleleKind::e_NUCLEOTIDE;
                sample.alleles.push_back(cell.value);
            }
        }
        data->samples.push_back(std::move(sample));
    }
    const CsvRow& header = rows[layout.headerIndex];
    if (data->samples.empty()) {
        throw refusal(header.line, std::nullopt,
                      "no sample rows follow the header row (expected one row per sample)");
    }
    for (std::size_t l = 0; l < layout.locusCount; ++l) {
        if (firstAlleles[l].kind == AlleleKind::e_MISSING) {
            const std::size_t first = layout.firstLocusColumn + l * copies;
            throw refusal(header.line, first,
                          "locus " + quoted(data->loci[l].name) + " in " +
                              columnSpan(first, copies) +
                              " has no allele in any sample (expected at least one allele per "
                              "locus" +
                              (copies == 2 ? "; a table of haploid data needs --ploidy 1)" : ")"));
        }
    }
    if (!skipped.empty()) {
        data->notes.push_back("empty rows skipped: line" +
                              std::string(skipped.find(',') == std::string::npos ? " " : "s ") +
                              skipped);
    }
}

// Note the columns before or after the loci that hold something but are
// neither the sample nor the population column.
void noteUnusedColumns(const std::vector<CsvRow>& rows, const Layout& layout, ImportedData* data) {
    const std::size_t locusEnd =
        layout.firstLocusColumn + layout.locusCount * static_cast<std::size_t>(layout.ploidy);
    std::size_t width = 0;
    for (std::size_t r = layout.headerIndex; r < rows.size(); ++r) {
        width = std::max(width, usedWidth(rows[r]));
    }
    std::string unused;
    for (std::size_t c = 0; c < width; ++c) {
        if (c == layout.sampleColumn || c == layout.populationColumn ||
            (c >= layout.firstLocusColumn && c < locusEnd)) {
            continue;
        }
        bool used = false;
        for (std::size_t r = layout.headerIndex; r < rows.size() && !used; ++r) {
            used = !trimmed(cellOf(rows[r], c)).empty();
        }
        if (used) {
            unused += (unused.empty() ? "" : ", ") + columnLabel(c + 1) + " " +
                      quoted(trimmed(cellOf(rows[layout.headerIndex], c)));
        }
    }
    if (!unused.empty()) {
        data->notes.push_back("columns not read (neither sample, population nor allele): " +
                              unused);
    }
}

void setPopulationSource(const CsvRow& header, const Layout& layout, ImportedData* data) {
    if (layout.populationColumn) {
        data->hasPopulations = true;
        data->populationColumn = columnLabel(*layout.populationColumn + 1);
        data->populationSource = "population column " + data->populationColumn + " " +
                                 quoted(trimmed(cellOf(header, *layout.populationColumn)));
    }
}

ImportedData readWithLayout(const std::vector<CsvRow>& rows, const Layout& layout,
                            const TableOptions& options, std::string formatName) {
    ImportedData data;
    data.formatName = std::move(formatName);
    data.ploidy = layout.ploidy;
    readLoci(rows[layout.headerIndex], layout, &data);
    setPopulationSource(rows[layout.headerIndex], layout, &data);
    readSamples(rows, layout, options.alleles, &data);
    noteUnusedColumns(rows, layout, &data);
    return data;
}

std::int32_t ploidyOf(const TableOptions& options) {
    return options.ploidy.value_or(2);
}

// Load the specified 'value' with the whole number in the specified 'cell'
// and return whether there is one, at least 0.
bool countIn(const std::string& cell, std::int64_t* value) {
    return parseWholeNumber(trimmed(cell), value) && *value >= 0;
}

// Note where the counts of the GenAlEx count row disagree with the sheet:
// GenAlEx itself relies on them, psex does not.
void noteCountsOfGenAlEx(const CsvRow& counts, const ImportedData& data,
                         std::vector<std::string>* notes) {
    std::int64_t samples = 0;
    std::int64_t populations = 0;
    countIn(cellOf(counts, 1), &samples);
    countIn(cellOf(counts, 2), &populations);
    if (static_cast<std::size_t>(samples) != data.samples.size()) {
        notes->push_back("line " + std::to_string(counts.line) + ": the count row gives " +
                         std::to_string(samples) + " samples, the sheet holds " +
                         std::to_string(data.samples.size()));
    }
    std::vector<std::string> names;
    for (const ImportedSample& sample : data.samples) {
        if (std::find(names.begin(), names.end(), trimmed(sample.population)) == names.end()) {
            names.push_back(trimmed(sample.population));
        }
    }
    if (static_cast<std::size_t>(populations) != names.size()) {
        notes->push_back("line " + std::to_string(counts.line) + ": the count row gives " +
                         std::to_string(populations) + " populations, the sheet holds " +
                         std::to_string(names.size()));
    }
}

} // namespace

bool looksLikeGenAlEx(const std::vector<CsvRow>& rows) {
    if (rows.size() < 3) {
        return false;
    }
    std::int64_t value = 0;
    for (std::size_t c = 0; c < 3; ++c) {
        if (!countIn(cellOf(rows[0], c), &value)) {
            return false;
        }
    }
    return true;
}

ImportedData readGenAlEx(const std::vector<CsvRow>& rows, const TableOptions& options) {
    if (rows.size() < 3) {
        throw refusal(rows.empty() ? 0 : rows.back().line, std::nullopt,
                      "the sheet ends before its header row (expected a GenAlEx sheet: a count "
                      "row, a title row, then a row naming the sample, population and locus "
                      "columns)");
    }
    std::int64_t loci = 0;
    if (!countIn(cellOf(rows[0], 0), &loci) || loci < 1 || loci > 100000) {
        throw refusal(rows[0].line, 0,
                      "the number of loci " + quoted(trimmed(cellOf(rows[0], 0))) +
                          " is not usable (expected a whole number of loci from 1 to 100000 "
                          "in the first cell of a GenAlEx sheet)");
    }
    Layout layout;
    layout.headerIndex = 2;
    layout.sampleColumn = 0;
    layout.populationColumn = 1;
    layout.firstLocusColumn = 2;
    layout.locusCount = static_cast<std::size_t>(loci);
    layout.ploidy = ploidyOf(options);
    ImportedData data = readWithLayout(rows, layout, options, "");
    std::vector<std::string> notes;
    noteCountsOfGenAlEx(rows[0], data, &notes);
    data.notes.insert(data.notes.begin(), notes.begin(), notes.end());
    return data;
}

ImportedData readPlainTable(const std::vector<CsvRow>& rows, const TableOptions& options) {
    const auto header =
        std::find_if(rows.begin(), rows.end(), [](const CsvRow& row) { return !isBlankRow(row); });
    if (header == rows.end()) {
        throw refusal(0, std::nullopt,
                      "the file holds no table (expected a header row, then one row per "
                      "sample)");
    }
    Layout layout;
    layout.headerIndex = static_cast<std::size_t>(header - rows.begin());
    layout.ploidy = ploidyOf(options);
    layout.sampleColumn = options.sampleColumn.empty()
                              ? 0
                              : resolveColumn(options.sampleColumn, *header, "--sample-column");
    std::string populationNote;
    if (!options.populationColumn.empty()) {
        layout.populationColumn =
            resolveColumn(options.populationColumn, *header, "--population-column");
        if (layout.populationColumn == layout.sampleColumn) {
            throw refusal(header->line, layout.sampleColumn,
                          "the sample and the population column are the same column "
                          "(expected two different columns)");
        }
    } else {
        const std::string next = lowerCase(trimmed(cellOf(*header, layout.sampleColumn + 1)));
        if (next == "pop" || next == "population") {
            layout.populationColumn = layout.sampleColumn + 1;
            populationNote = "column " + columnLabel(layout.sampleColumn + 2) + " " +
                             quoted(trimmed(cellOf(*header, layout.sampleColumn + 1))) +
                             " read as the population column";
        }
    }
    layout.firstLocusColumn =
        std::max(layout.sampleColumn, layout.populationColumn.value_or(0)) + 1;
    std::size_t width = 0;
    for (auto row = header; row != rows.end(); ++row) {
        width = std::max(width, usedWidth(*row));
    }
    if (width <= layout.firstLocusColumn) {
        throw refusal(header->line, std::nullopt,
                      "no allele columns follow column " + columnLabel(layout.firstLocusColumn) +
                          " (expected " + std::to_string(layout.ploidy) +
                          " allele columns per locus after the sample column)");
    }
    const std::size_t copies = static_cast<std::size_t>(layout.ploidy);
    layout.locusCount = (width - layout.firstLocusColumn + copies - 1) / copies;
    ImportedData data = readWithLayout(rows, layout, options, "");
    if (!populationNote.empty()) {
        data.notes.insert(data.notes.begin(), populationNote);
    }
    return data;
}

} // namespace psex
