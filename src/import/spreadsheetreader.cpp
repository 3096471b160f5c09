// spreadsheetreader.cpp                                          -*-C++-*-
#include "import/spreadsheetreader.h"

#include "base/decimalnumber.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace psex {

namespace {

const std::string_view k_byteOrderMark = "\xEF\xBB\xBF";
const std::string_view k_whiteSpace = " \t\r\n\v\f";

struct Layout {
    // Where the parts of a table are.

    std::size_t sampleColumn = 0;
    std::optional<std::size_t> populationColumn;
    std::vector<std::size_t> alleleColumns;  // copy k of locus l at ploidy * l + k
    std::vector<std::size_t> ignoredColumns; // left out on purpose, ascending
    std::optional<std::pair<std::size_t, std::size_t>> coordinateColumns; // x and y, carried
    std::int32_t ploidy = 2;
    std::size_t width = 0;    // the cells of a row, empty ones at its end aside
    std::size_t rowCells = 0; // the cells a row must have, empty ones at its end counted

    std::size_t copies() const { return static_cast<std::size_t>(ploidy); }
    std::size_t locusCount() const { return alleleColumns.size() / copies(); }
};

struct Shape {
    // What one pass over the rows from the header row on shows.

    std::vector<bool> usedColumns; // holds more than white space in some row
    std::size_t widestRow = 0;     // the most cells of a row below the header that holds something
    std::size_t filledRows = 0;    // rows below the header that hold something
};

const std::string& cellOf(const CsvRow& row, std::size_t column) {
    static const std::string k_empty;
    return column < row.cells.size() ? row.cells[column] : k_empty;
}

// Return whether the specified 'cell' holds nothing but white space and
// byte-order marks (which a file pasted into another leaves behind).
bool holdsNothing(const std::string& cell) {
    for (std::size_t i = 0; i < cell.size(); ++i) {
        if (std::string_view(cell).substr(i, 3) == k_byteOrderMark) {
            i += 2;
        } else if (k_whiteSpace.find(cell[i]) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

bool isBlankRow(const CsvRow& row) {
    return std::all_of(row.cells.begin(), row.cells.end(), holdsNothing);
}

// Return the warning for the specified blank 'row' when it is a line that
// holds only white space or a byte-order mark rather than a row of empty
// cells (which spreadsheets write as padding), or an empty string.
std::string skippedLineWarning(const CsvRow& row) {
    if (row.cells.size() != 1 || row.cells[0].empty()) {
        return std::string();
    }
    const bool mark = row.cells[0].find(k_byteOrderMark) != std::string::npos;
    return "line " + std::to_string(row.line) + ": the line holds only " +
           (mark ? "a byte-order mark" : "white space") + "; it is skipped.";
}

// Return one past the last column of the specified 'row' that holds more
// than white space, or 0.
std::size_t usedWidth(const CsvRow& row) {
    for (std::size_t c = row.cells.size(); c > 0; --c) {
        if (!holdsNothing(row.cells[c - 1])) {
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

// Return a refusal whose message stands alone: the specified 'line' and
// the specified 'text' after it, its full stop or question mark included.
ImportRefusal lineRefusal(std::size_t line, const std::string& text) {
    ImportRefusal result;
    result.line = line;
    result.message = "line " + std::to_string(line) + text;
    return result;
}

std::string lowerCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string columnSpan(std::size_t first, std::size_t last) {
    // 0-based columns
    return first == last ? "column " + columnLabel(first + 1)
                         : "columns " + columnLabel(first + 1) + " to " + columnLabel(last + 1);
}

// Return whether the specified column 'name' is one that labs give a
// population column.
bool isPopulationLike(const std::string& name) {
    const std::string lower = lowerCase(trimmed(name));
    return lower == "pop" || lower == "population" || lower == "site" || lower == "locality";
}

// Return what to do about a column of the specified 'name' that is not
// part of a locus, for the end of a refusal.
std::string notALocusHint(const std::string& name) {
    const std::string ignore =
        "a column that holds no alleles, such as a coordinate, is left out with --ignore-column "
        "NAME";
    if (isPopulationLike(name)) {
        return "a population column is read as one with --population-column " + trimmed(name) +
               ", and " + ignore;
    }
    return ignore;
}

// ---- the rows ----

// Return the rows of the specified 'table' up to and including the first
// for which the specified 'isHeader' (given the row and the number of rows
// before it) returns true, or all rows when none does.
template <class PREDICATE>
std::vector<CsvRow> rowsToHeader(const CsvText& table, PREDICATE isHeader) {
    std::vector<CsvRow> rows;
    table.forEachRow([&](const CsvRow& row) {
        rows.push_back(row);
        return !isHeader(row, rows.size() - 1);
    });
    return rows;
}

// Return the shape of the rows of the specified 'table' from the one of the
// specified 'headerIndex' on.
Shape shapeFrom(const CsvText& table, std::size_t headerIndex) {
    Shape shape;
    std::size_t index = 0;
    table.forEachRow([&](const CsvRow& row) {
        if (index++ < headerIndex) {
            return true;
        }
        const std::size_t used = usedWidth(row);
        if (index > headerIndex + 1 && used > 0) {
            shape.widestRow = std::max(shape.widestRow, row.cells.size());
            ++shape.filledRows;
        }
        if (shape.usedColumns.size() < used) {
            shape.usedColumns.resize(used, false);
        }
        for (std::size_t c = 0; c < used; ++c) {
            if (!shape.usedColumns[c] && !holdsNothing(row.cells[c])) {
                shape.usedColumns[c] = true;
            }
        }
        return true;
    });
    return shape;
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

// Return the columns that the specified 'options' leave out, ascending,
// after refusing the sample and the population column of 'layout'.
std::vector<std::size_t> ignoredColumns(const TableOptions& options, const CsvRow& header,
                                        const Layout& layout) {
    std::vector<std::size_t> columns;
    for (const std::string& spec : options.ignoredColumns) {
        const std::size_t column = resolveColumn(spec, header, "--ignore-column");
        if (column == layout.sampleColumn || column == layout.populationColumn) {
            throw refusal(header.line, column,
                          "--ignore-column " + spec + " names the " +
                              (column == layout.sampleColumn ? "sample" : "population") +
                              " column (expected a column that is neither the sample nor the "
                              "population column)");
        }
        columns.push_back(column);
    }
    std::sort(columns.begin(), columns.end());
    columns.erase(std::unique(columns.begin(), columns.end()), columns.end());
    return columns;
}

// Add the specified 'column' to the ascending ignored columns of 'layout'.
void leaveOut(std::size_t column, Layout* layout) {
    std::vector<std::size_t>& ignored = layout->ignoredColumns;
    if (!std::binary_search(ignored.begin(), ignored.end(), column)) {
        ignored.insert(std::upper_bound(ignored.begin(), ignored.end(), column), column);
    }
}

// Set the coordinate columns of 'layout' from the specified 'options'
// ("X,Y": two column names or numbers), which no allele column then uses;
// nothing when the options name none.
void takeNamedCoordinates(const TableOptions& options, const CsvRow& header, Layout* layout) {
    if (options.coordinateColumns.empty()) {
        return;
    }
    const std::string& spec = options.coordinateColumns;
    const std::size_t comma = spec.find(',');
    if (comma == std::string::npos || spec.find(',', comma + 1) != std::string::npos ||
        trimmed(spec.substr(0, comma)).empty() || trimmed(spec.substr(comma + 1)).empty()) {
        throw refusal(header.line, std::nullopt,
                      "--coordinates " + quoted(spec) +
                          " does not name two columns (expected the x and the y column, "
                          "separated by a comma, e.g. --coordinates X,Y)");
    }
    const std::size_t x = resolveColumn(spec.substr(0, comma), header, "--coordinates");
    const std::size_t y = resolveColumn(spec.substr(comma + 1), header, "--coordinates");
    for (const std::size_t column : {x, y}) {
        if (column == layout->sampleColumn || column == layout->populationColumn) {
            throw refusal(
                header.line, column,
                "--coordinates names the " +
                    std::string(column == layout->sampleColumn ? "sample" : "population") +
                    " column (expected two columns that hold no sample names, "
                    "populations or alleles)");
        }
    }
    if (x == y) {
        throw refusal(header.line, x,
                      "--coordinates names one column twice (expected an x and a y column)");
    }
    layout->coordinateColumns.emplace(x, y);
    leaveOut(x, layout);
    leaveOut(y, layout);
}

// Return the empty column before the coordinate columns X and Y that end
// the specified 'header' row, as GenAlEx places them, when it holds nothing
// in any row of the specified 'shape' and comes after the specified
// 'firstFree' column; otherwise nothing.
std::optional<std::size_t> coordinateGap(const CsvRow& header, const Shape& shape,
                                         std::size_t firstFree) {
    const std::size_t width = usedWidth(header);
    if (width < firstFree + 3) {
        return std::nullopt;
    }
    const std::size_t gap = width - 3;
    const bool named = lowerCase(trimmed(header.cells[gap + 1])) == "x" &&
                       lowerCase(trimmed(header.cells[gap + 2])) == "y";
    if (!named || (gap < shape.usedColumns.size() && shape.usedColumns[gap])) {
        return std::nullopt;
    }
    return gap;
}

// Refuse the specified 'header' row when its cells over the allele columns
// of 'layout' are all numbers (or missing-data codes) as the specified
// 'alleles' reader reads them: it is the first sample, and the table has
// no header row.
void checkHeaderIsNoSample(const CsvRow& header, const Layout& layout,
                           const AlleleReader& alleles) {
    bool number = false;
    for (const std::size_t column : layout.alleleColumns) {
        const std::string& cell = cellOf(header, column);
        if (holdsNothing(cell)) {
            continue;
        }
        const AlleleKind kind = alleles.read(cell).kind;
        if (kind != AlleleKind::e_NUMBER && kind != AlleleKind::e_MISSING) {
            return;
        }
        number = number || kind == AlleleKind::e_NUMBER;
    }
    if (number) {
        throw lineRefusal(header.line,
                          ": the heading row holds only numbers; is the heading missing?");
    }
}

// Return whether the specified 'ending' of the name of the column of copy
// 'k' (from 0) of a locus, after the specified 'stem' it shares with the
// other columns of its locus, marks that copy: it is empty, the copy's
// letter (after one of " _.-/" or not), or its number counted from 1 or
// from 0 after one of them, as in "CnA3", "CnA3_a", "CnA3.2", "CnA3B" or
// "CnA3_0".  A number right after the stem is part of the locus name:
// "SNP1" and "SNP2" are two loci, and so are "Pi02" and "Pi04".
bool isCopyEnding(const std::string& stem, std::string ending, std::size_t k) {
    const std::string separators = " _.-/";
    bool separated = !stem.empty() && separators.find(stem.back()) != std::string::npos;
    if (!ending.empty() && separators.find(ending[0]) != std::string::npos) {
        ending.erase(0, 1);
        separated = true;
    }
    const char letter = static_cast<char>('a' + k);
    return ending.empty() ||
           (separated && (ending == std::to_string(k) || ending == std::to_string(k + 1))) ||
           (ending.size() == 1 && std::tolower(static_cast<unsigned char>(ending[0])) == letter);
}

// Return whether the specified names 'a' and 'b' are one name with two
// different numbers at its end, as loci of a haploid panel are named.
bool differInTheirNumber(const std::string& a, const std::string& b) {
    const std::size_t aDigits = a.find_last_not_of("0123456789") + 1;
    const std::size_t bDigits = b.find_last_not_of("0123456789") + 1;
    return aDigits < a.size() && bDigits < b.size() && a.substr(0, aDigits) == b.substr(0, bDigits);
}

// Return the locus name that the header cells over the specified allele
// 'columns' of one locus give, with the specified 'ploidy'.  Copies are
// named alike, or the first one and the others left empty, or with a common
// stem and endings such as "_a" and "_b".  The specified 'lastAfterLoci'
// says that this is the last locus of the table and follows others, where
// a refused pair of names is more likely two columns of other data.
std::string locusName(const CsvRow& header, const std::size_t* columns, std::int32_t ploidy,
                      bool lastAfterLoci) {
    std::vector<std::pair<std::size_t, std::string>> named; // column, name
    for (std::size_t k = 0; k < static_cast<std::size_t>(ploidy); ++k) {
        const std::string name = trimmed(cellOf(header, columns[k]));
        if (!name.empty()) {
            named.emplace_back(k, name);
        }
    }
    if (named.empty()) {
        return std::string();
    }
    if (named.front().first != 0) {
        const std::size_t column = columns[named.front().first];
        throw refusal(header.line, column,
                      quoted(named.front().second) + " names column " + columnLabel(column + 1) +
                          ", allele column " + std::to_string(named.front().first + 1) +
                          " of a locus whose first column " + columnLabel(columns[0] + 1) +
                          " has no name (expected each locus name over the first of its " +
                          std::to_string(ploidy) +
                          " allele columns: a column before it is missing or one too many, or "
                          "the data are not " +
                          (ploidy == 2 ? "diploid" : "haploid") + ")");
    }
    std::string stem = named.front().second;
    for (const auto& [k, name] : named) {
        std::size_t common = 0;
        while (common < stem.size() && common < name.size() && stem[common] == name[common]) {
            ++common;
        }
        stem.resize(common);
    }
    const std::string separators = " _.-/";
    bool endingsMarkCopies = true;
    for (const auto& [k, name] : named) {
        endingsMarkCopies = endingsMarkCopies && isCopyEnding(stem, name.substr(stem.size()), k);
    }
    if (named.size() > 1 && stem != named.front().second) {
        // The endings that tell the copies apart, and what joins them to
        // the stem, are not part of the locus name.
        while (!stem.empty() && separators.find(stem.back()) != std::string::npos) {
            stem.pop_back();
        }
    }
    if (stem.empty() || !endingsMarkCopies) {
        const std::string& first = named[0].second;
        const std::string& second = named[1].second;
        std::string hint = "a table of haploid data needs --ploidy 1";
        if (isPopulationLike(first) || isPopulationLike(second)) {
            hint = notALocusHint(isPopulationLike(first) ? first : second);
        } else if (lastAfterLoci && !differInTheirNumber(first, second)) {
            hint = notALocusHint(second);
        }
        throw refusal(header.line, columns[named[1].first],
                      "columns " + columnLabel(columns[named[0].first] + 1) + " and " +
                          columnLabel(columns[named[1].first] + 1) +
                          " hold the allele copies of one locus but name different loci, " +
                          quoted(first) + " and " + quoted(second) +
                          " (expected one locus name over the " + std::to_string(ploidy) +
                          " columns of a locus, or names with one stem such as CnA3_a and "
                          "CnA3_b; " +
                          hint + ")");
    }
    return stem;
}

void readLoci(const CsvRow& header, const Layout& layout, ImportedData* data) {
    const std::size_t loci = layout.locusCount();
    for (std::size_t l = 0; l < loci; ++l) {
        ImportedLocus locus;
        locus.name = locusName(header, &layout.alleleColumns[l * layout.copies()], layout.ploidy,
                               l > 0 && l + 1 == loci);
        data->loci.push_back(locus);
    }
}

// Complete the allele columns of the specified 'layout' of a plain table
// whose header row ends within a locus: the rest of that locus is the
// columns after it when the rows of the specified 'shape' fill them, when
// the table names its loci over their first column only, or when it has no
// other locus; otherwise the last column is no locus, and is refused.
void completeLastLocus(const CsvRow& header, const Shape& shape, Layout* layout) {
    std::vector<std::size_t>& columns = layout->alleleColumns;
    const std::size_t copies = layout->copies();
    const std::size_t rest = columns.size() % copies;
    if (rest == 0) {
        return;
    }
    bool namedOnce = columns.size() < copies;
    for (std::size_t first = 0; first + copies <= columns.size() - rest; first += copies) {
        bool othersEmpty = !trimmed(cellOf(header, columns[first])).empty();
        for (std::size_t k = 1; k < copies; ++k) {
            othersEmpty = othersEmpty && trimmed(cellOf(header, columns[first + k])).empty();
        }
        namedOnce = namedOnce || othersEmpty;
    }
    for (std::size_t c = columns.back() + 1; c < shape.usedColumns.size(); ++c) {
        namedOnce = namedOnce || shape.usedColumns[c];
    }
    const std::size_t last = columns.back();
    if (!namedOnce) {
        // A locus before it whose names disagree tells more.
        for (std::size_t first = 0; first + copies <= columns.size() - rest; first += copies) {
            locusName(header, &columns[first], layout->ploidy, false);
        }
        const std::string name = trimmed(cellOf(header, last));
        throw refusal(header.line, last,
                      "column " + columnLabel(last + 1) + " " + quoted(name) +
                          " after the loci would be a locus of " +
                          counted(rest, "allele column", "allele columns") + " (expected " +
                          std::to_string(copies) + " allele columns per locus; " +
                          notALocusHint(name) + ")");
    }
    for (std::size_t c = last + 1; columns.size() % copies != 0; ++c) {
        if (!std::binary_search(layout->ignoredColumns.begin(), layout->ignoredColumns.end(), c)) {
            columns.push_back(c);
        }
    }
}

// Set the row widths of the specified 'layout' from its 'header' row and
// the 'shape' of the table: every row must reach the last column that the
// header row or the allele columns use, and may have empty cells after it.
// Where the sheet pads every row with empty cells, as spreadsheets export
// them, a row must have as many cells as the others.
void setRowWidths(const CsvRow& header, const Shape& shape, Layout* layout) {
    layout->width = std::max(usedWidth(header), layout->alleleColumns.back() + 1);
    layout->rowCells = std::max(layout->width, std::min(header.cells.size(), shape.widestRow));
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

// Refuse the specified 'row' when it has a cell more or fewer than the
// header row of 'layout' gives it: every allele after the place would be
// read into the wrong locus.
void checkRowWidth(const CsvRow& row, const Layout& layout) {
    const std::size_t used = usedWidth(row);
    const bool tooWide = used > layout.width;
    if (tooWide || row.cells.size() < layout.rowCells) {
        throw lineRefusal(row.line,
                          " (sample " + quoted(trimmed(cellOf(row, layout.sampleColumn))) +
                              "): " + std::to_string(tooWide ? used : row.cells.size()) +
                              " cells where the heading has " +
                              std::to_string(tooWide ? layout.width : layout.rowCells) + ".");
    }
}

class SampleReader {
    // Reads the rows below the header row into samples.

    // DATA
    const Layout& d_layout;
    const AlleleReader& d_alleles;
    ImportedData* d_data;
    std::vector<FirstAllele> d_firstAlleles;
    std::vector<AlleleCopy> d_copies;
    std::string d_padding;           // lines of rows of empty cells
    std::size_t d_decimalCommas = 0; // coordinates written with a point for a comma
    std::string d_notNumbers;        // "line L 'cell'" of coordinates left empty
    std::size_t d_notNumberCount = 0;

  public:
    // CREATORS
    SampleReader(const Layout& layout, const AlleleReader& alleles, ImportedData* data)
        : d_layout(layout), d_alleles(alleles), d_data(data), d_firstAlleles(layout.locusCount()),
          d_copies(layout.alleleColumns.size()) {}

    // MANIPULATORS
    void read(const CsvRow& row) {
        if (isBlankRow(row)) {
            const std::string warning = skippedLineWarning(row);
            if (!warning.empty()) {
                d_data->warnings.push_back(warning);
            } else {
                d_padding += (d_padding.empty() ? "" : ", ") + std::to_string(row.line);
            }
            return;
        }
        const std::string& name = cellOf(row, d_layout.sampleColumn);
        if (std::all_of(d_layout.alleleColumns.begin(), d_layout.alleleColumns.end(),
                        [&](std::size_t c) { return holdsNothing(cellOf(row, c)); })) {
            d_data->warnings.push_back("line " + std::to_string(row.line) + ": row " +
                                       quoted(trimmed(name)) +
                                       " has no allele cell filled; it is not a sample.");
            return;
        }
        checkRowWidth(row, d_layout);
        if (trimmed(name).empty()) {
            throw refusal(row.line, d_layout.sampleColumn,
                          "the sample name is empty (expected a name in column " +
                              columnLabel(d_layout.sampleColumn + 1) +
                              " of every row that holds alleles)");
        }
        for (std::size_t i = 0; i < d_copies.size(); ++i) {
            d_copies[i] = readAllele(row, i, name);
        }
        if (d_layout.coordinateColumns) {
            for (const std::size_t column :
                 {d_layout.coordinateColumns->first, d_layout.coordinateColumns->second}) {
                d_data->coordinates.push_back(coordinateText(row, column));
            }
        }
        d_data->addSample(name, row.line,
                          d_layout.populationColumn ? cellOf(row, *d_layout.populationColumn)
                                                    : std::string(),
                          d_copies);
    }

    void finish(const CsvRow& header) {
        if (d_data->samples.empty()) {
            throw refusal(header.line, std::nullopt,
                          "no sample rows follow the header row (expected one row per sample)");
        }
        const std::size_t copies = d_layout.copies();
        for (std::size_t l = 0; l < d_firstAlleles.size(); ++l) {
            if (d_firstAlleles[l].kind == AlleleKind::e_MISSING) {
                const std::size_t first = d_layout.alleleColumns[l * copies];
                throw refusal(
                    header.line, first,
                    "locus " + quoted(d_data->loci[l].name) + " in " +
                        columnSpan(first, d_layout.alleleColumns[l * copies + copies - 1]) +
                        " has no allele in any sample (expected at least one allele per "
                        "locus" +
                        (copies == 2 ? "; a table of haploid data needs --ploidy 1)" : ")"));
            }
        }
        if (d_layout.coordinateColumns) {
            const auto [x, y] = *d_layout.coordinateColumns;
            d_data->coordinateNames = {trimmed(cellOf(header, x)), trimmed(cellOf(header, y))};
            d_data->notes.push_back("coordinates from columns " + columnLabel(x + 1) + " " +
                                    quoted(trimmed(cellOf(header, x))) + " and " +
                                    columnLabel(y + 1) + " " + quoted(trimmed(cellOf(header, y))));
            if (d_decimalCommas > 0) {
                d_data->notes.push_back("decimal commas written as points: " +
                                        counted(d_decimalCommas, "coordinate", "coordinates"));
            }
            if (!d_notNumbers.empty()) {
                d_data->notes.push_back("coordinates that are not decimal numbers, left empty: " +
                                        d_notNumbers);
            }
        }
        if (!d_padding.empty()) {
            d_data->notes.push_back(
                "empty rows skipped: line" +
                std::string(d_padding.find(',') == std::string::npos ? " " : "s ") + d_padding);
        }
    }

  private:
    // Return the coordinate in the specified 'column' of 'row' as a data
    // file writes it: a decimal number with a point (a decimal comma
    // becomes one), or empty when the cell is empty or holds no such number
    // (noted, the first few with their line).
    std::string coordinateText(const CsvRow& row, std::size_t column) {
        std::string text = trimmed(cellOf(row, column));
        const std::size_t comma = text.find(',');
        const bool decimalComma = comma != std::string::npos &&
                                  text.find_first_of(".,", comma + 1) == std::string::npos &&
                                  text.find('.') == std::string::npos;
        if (decimalComma) {
            text[comma] = '.';
        }
        if (text.empty() || hasDecimalForm(text)) {
            d_decimalCommas += decimalComma && !text.empty() ? 1 : 0;
            return text;
        }
        constexpr std::size_t k_listed = 5;
        if (++d_notNumberCount <= k_listed) {
            d_notNumbers += (d_notNumbers.empty() ? "" : ", ") + std::string("line ") +
                            std::to_string(row.line) + " " + quoted(trimmed(cellOf(row, column)));
        } else if (d_notNumberCount == k_listed + 1) {
            d_notNumbers += ", ...";
        }
        return std::string();
    }

    AlleleCopy readAllele(const CsvRow& row, std::size_t i, const std::string& name) {
        const std::size_t column = d_layout.alleleColumns[i];
        const std::size_t l = i / d_layout.copies();
        const AlleleCell cell = d_alleles.read(cellOf(row, column));
        if (cell.kind == AlleleKind::e_INVALID) {
            throw refusal(row.line, column,
                          "sample " + quoted(trimmed(name)) + ", locus " +
                              quoted(d_data->loci[l].name) + ": " + cell.problem);
        }
        if (cell.kind == AlleleKind::e_MISSING) {
            return std::nullopt;
        }
        checkKind(cell, row.line, column, d_data->loci[l].name, &d_firstAlleles[l]);
        d_data->loci[l].nucleotides = cell.kind == AlleleKind::e_NUCLEOTIDE;
        return cell.value;
    }
};

// Note the columns that hold something but are neither the sample, the
// population nor an allele column, and those left out on purpose.
void noteOtherColumns(const CsvRow& header, const Shape& shape, const Layout& layout,
                      ImportedData* data) {
    std::vector<bool> known(std::max(shape.usedColumns.size(), layout.width), false);
    for (const std::size_t c : layout.alleleColumns) {
        if (c < known.size()) {
            known[c] = true;
        }
    }
    for (const std::size_t c : layout.ignoredColumns) {
        known[c] = true;
    }
    std::string unused;
    for (std::size_t c = 0; c < shape.usedColumns.size(); ++c) {
        if (shape.usedColumns[c] && !known[c] && c != layout.sampleColumn &&
            c != layout.populationColumn) {
            unused += (unused.empty() ? "" : ", ") + columnLabel(c + 1) + " " +
                      quoted(trimmed(cellOf(header, c)));
        }
    }
    if (!unused.empty()) {
        data->notes.push_back("columns not read (neither sample, population nor allele): " +
                              unused);
    }
    std::string ignored;
    for (const std::size_t c : layout.ignoredColumns) {
        if (layout.coordinateColumns &&
            (c == layout.coordinateColumns->first || c == layout.coordinateColumns->second)) {
            continue;
        }
        const std::string name = trimmed(cellOf(header, c));
        ignored += (ignored.empty() ? "" : ", ") + (name.empty() ? columnLabel(c + 1) : name);
    }
    if (!ignored.empty()) {
        data->notes.push_back("columns ignored: " + ignored);
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

// Return the samples of the specified 'table', whose header row is row
// 'headerIndex' (from 0) as the specified 'layout' reads it.
ImportedData readWithLayout(const CsvText& table, const CsvRow& header, std::size_t headerIndex,
                            const Shape& shape, const Layout& layout, const TableOptions& options) {
    ImportedData data;
    data.ploidy = layout.ploidy;
    data.reserve(shape.filledRows, layout.alleleColumns.size());
    readLoci(header, layout, &data);
    setPopulationSource(header, layout, &data);
    SampleReader reader(layout, options.alleles, &data);
    std::size_t index = 0;
    table.forEachRow([&](const CsvRow& row) {
        if (index++ > headerIndex) {
            reader.read(row);
        }
        return true;
    });
    reader.finish(header);
    noteOtherColumns(header, shape, layout, &data);
    return data;
}

// Return the allele columns of 'loci' loci of the specified 'copies' each
// from the specified 'first' column on, passing over the specified
// ascending 'ignored' columns and stopping at the specified 'end' column
// (for as many as there are before it, when 'loci' is 0).
std::vector<std::size_t> alleleColumnsFrom(std::size_t first, std::size_t loci, std::size_t copies,
                                           std::size_t end,
                                           const std::vector<std::size_t>& ignored) {
    std::vector<std::size_t> columns;
    for (std::size_t c = first; loci == 0 ? c < end : columns.size() < loci * copies; ++c) {
        if (!std::binary_search(ignored.begin(), ignored.end(), c)) {
            columns.push_back(c);
        }
    }
    return columns;
}

// Leave out the coordinate columns X and Y after an empty column at the end
// of the specified 'header' row, when the specified 'layout' has them after
// the specified 'firstFree' column, and 'carry' them as the coordinates
// when no others are named; return the empty column, or nothing.
std::optional<std::size_t> leaveOutCoordinates(const CsvRow& header, const Shape& shape,
                                               std::size_t firstFree, Layout* layout, bool carry) {
    const std::optional<std::size_t> gap = coordinateGap(header, shape, firstFree);
    if (gap) {
        leaveOut(*gap + 1, layout);
        leaveOut(*gap + 2, layout);
        if (carry && !layout->coordinateColumns) {
            layout->coordinateColumns.emplace(*gap + 1, *gap + 2);
        }
    }
    return gap;
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
    if (static_cast<std::size_t>(populations) != data.populations.size()) {
        notes->push_back("line " + std::to_string(counts.line) + ": the count row gives " +
                         std::to_string(populations) + " populations, the sheet holds " +
                         std::to_string(data.populations.size()));
    }
}

} // namespace

bool looksLikeGenAlEx(const CsvText& table) {
    const std::vector<CsvRow> rows =
        rowsToHeader(table, [](const CsvRow&, std::size_t index) { return index == 2; });
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

ImportedData readGenAlEx(const CsvText& table, const TableOptions& options) {
    const std::vector<CsvRow> rows =
        rowsToHeader(table, [](const CsvRow&, std::size_t index) { return index == 2; });
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
    const CsvRow& header = rows[2];
    const Shape shape = shapeFrom(table, 2);
    Layout layout;
    layout.sampleColumn = 0;
    layout.populationColumn = 1;
    layout.ploidy = ploidyOf(options);
    layout.ignoredColumns = ignoredColumns(options, header, layout);
    takeNamedCoordinates(options, header, &layout);
    layout.alleleColumns = alleleColumnsFrom(2, static_cast<std::size_t>(loci), layout.copies(), 0,
                                             layout.ignoredColumns);
    leaveOutCoordinates(header, shape, layout.alleleColumns.back() + 1, &layout, true);
    checkHeaderIsNoSample(header, layout, options.alleles);
    setRowWidths(header, shape, &layout);
    ImportedData data = readWithLayout(table, header, 2, shape, layout, options);
    std::vector<std::string> notes;
    noteCountsOfGenAlEx(rows[0], data, &notes);
    data.notes.insert(data.notes.begin(), notes.begin(), notes.end());
    return data;
}

ImportedData readPlainTable(const CsvText& table, const TableOptions& options) {
    std::vector<std::string> warnings;
    const std::vector<CsvRow> rows = rowsToHeader(table, [&](const CsvRow& row, std::size_t) {
        if (!isBlankRow(row)) {
            return true;
        }
        const std::string warning = skippedLineWarning(row);
        if (!warning.empty()) {
            warnings.push_back(warning);
        }
        return false;
    });
    if (rows.empty() || isBlankRow(rows.back())) {
        throw refusal(0, std::nullopt,
                      "the file holds no table (expected a header row, then one row per "
                      "sample)");
    }
    const std::size_t headerIndex = rows.size() - 1;
    const CsvRow& header = rows.back();
    Layout layout;
    layout.ploidy = ploidyOf(options);
    layout.sampleColumn = options.sampleColumn.empty()
                              ? 0
                              : resolveColumn(options.sampleColumn, header, "--sample-column");
    std::string populationNote;
    if (!options.populationColumn.empty()) {
        layout.populationColumn =
            resolveColumn(options.populationColumn, header, "--population-column");
        if (layout.populationColumn == layout.sampleColumn) {
            throw refusal(header.line, layout.sampleColumn,
                          "the sample and the population column are the same column "
                          "(expected two different columns)");
        }
    } else {
        const std::string next = lowerCase(trimmed(cellOf(header, layout.sampleColumn + 1)));
        if (next == "pop" || next == "population") {
            layout.populationColumn = layout.sampleColumn + 1;
            populationNote = "column " + columnLabel(layout.sampleColumn + 2) + " " +
                             quoted(trimmed(cellOf(header, layout.sampleColumn + 1))) +
                             " read as the population column";
        }
    }
    const std::size_t firstLocusColumn =
        std::max(layout.sampleColumn, layout.populationColumn.value_or(0)) + 1;
    layout.ignoredColumns = ignoredColumns(options, header, layout);
    takeNamedCoordinates(options, header, &layout);
    const Shape shape = shapeFrom(table, headerIndex);
    const std::size_t end = leaveOutCoordinates(header, shape, firstLocusColumn, &layout, false)
                                .value_or(usedWidth(header));
    layout.alleleColumns =
        alleleColumnsFrom(firstLocusColumn, 0, layout.copies(), end, layout.ignoredColumns);
    if (layout.alleleColumns.empty()) {
        throw refusal(header.line, std::nullopt,
                      "no allele columns follow column " + columnLabel(firstLocusColumn) +
                          " (expected " + std::to_string(layout.ploidy) +
                          " allele columns per locus after the sample column)");
    }
    checkHeaderIsNoSample(header, layout, options.alleles);
    completeLastLocus(header, shape, &layout);
    setRowWidths(header, shape, &layout);
    ImportedData data = readWithLayout(table, header, headerIndex, shape, layout, options);
    if (!populationNote.empty()) {
        data.notes.insert(data.notes.begin(), populationNote);
    }
    data.warnings.insert(data.warnings.begin(), warnings.begin(), warnings.end());
    return data;
}

} // namespace psex
