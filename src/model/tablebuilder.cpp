// tablebuilder.cpp                                               -*-C++-*-
#include "model/tablebuilder.h"

#include "base/contract.h"
#include "base/decimalnumber.h"
#include "base/messagesink.h"
#include "model/datareader.h"

#include <algorithm>
#include <optional>
#include <string_view>

namespace psex {

namespace {

// Call the specified 'take' with the index and the text of every piece of
// the specified LOCUSNAMES 'value' in order: the text between commas, empty
// pieces and spaces included; the value's end closes the last piece.  The
// pieces are not gathered: a value of a million commas is a million empty
// pieces, and a list of them would take many times the value's size.
template <class TAKE>
void forEachLocusName(const std::string& value, TAKE take) {
    std::size_t index = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = value.find(',', start);
        take(index++, std::string_view(value).substr(start, comma - start));
        if (comma == std::string::npos) {
            return;
        }
        start = comma + 1;
    }
}

// Put the two values of every diploid locus of the specified allele 'row'
// in ascending order: a genotype is a pair of alleles, not a sequence.
void orderAllelePairs(std::int32_t* row, std::int32_t ploidy, std::uint32_t locusCount) {
    if (ploidy != 2) {
        return;
    }
    for (std::uint32_t l = 0; l < locusCount; ++l) {
        if (row[2 * l + 1] < row[2 * l]) {
            std::swap(row[2 * l], row[2 * l + 1]);
        }
    }
}

// Return whether the specified allele 'cell' is a whole number: an optional
// sign and digits, with spaces around them.  An empty (or blank) cell is
// the spreadsheet's way of leaving a value out, not a number misread.
bool isWholeNumberOrBlank(const std::string& cell) {
    const std::size_t first = cell.find_first_not_of(' ');
    if (first == std::string::npos) {
        return true;
    }
    const std::size_t last = cell.find_last_not_of(' ');
    std::size_t i = first;
    if (cell[i] == '+' || cell[i] == '-') {
        ++i;
    }
    if (i > last) {
        return false; // a sign alone
    }
    for (; i <= last; ++i) {
        if (cell[i] < '0' || cell[i] > '9') {
            return false;
        }
    }
    return true;
}

// Reports the allele cells that are not whole numbers: the first few each,
// the rest as a count, so that a column of 'NA' does not bury the other
// messages.
class CellReport {
    static constexpr std::uint64_t k_shown = 5;
    MessageSink& d_messages;
    std::uint64_t d_count = 0;

  public:
    explicit CellReport(MessageSink& messages) : d_messages(messages) {}

    void notWhole(std::optional<std::uint32_t> line, const std::string& cell, std::int32_t value) {
        if (++d_count <= k_shown) {
            d_messages.error("warning: " + (line ? "line " + std::to_string(*line) + ": " : "") +
                             "allele '" + cell + "' is not a whole number; read as " +
                             std::to_string(value) + ".");
        }
    }

    void finish() {
        if (d_count > k_shown) {
            d_messages.error("warning: " + std::to_string(d_count - k_shown) +
                             " more allele cells are not whole numbers.");
        }
    }
};

// Reports the samples without usable coordinates: the first few each, the
// rest as a count.
class PlaceReport {
    static constexpr std::uint64_t k_shown = 5;
    MessageSink& d_messages;
    std::uint64_t d_count = 0;

  public:
    explicit PlaceReport(MessageSink& messages) : d_messages(messages) {}

    void unusable(std::optional<std::uint32_t> line, const std::string& sample) {
        if (++d_count <= k_shown) {
            d_messages.error("warning: " + (line ? "line " + std::to_string(*line) + ": " : "") +
                             "sample '" + sample + "' has no usable coordinates.");
        }
    }

    void finish() {
        if (d_count > k_shown) {
            d_messages.error("warning: " + std::to_string(d_count - k_shown) +
                             " more samples have no usable coordinates.");
        }
    }
};

// Return whether the coordinate columns that the specified 'settings' name
// stand right after the specified number of 'alleleColumns' in 'rows'.
bool coordinatesInPlace(const TableSettings& settings, const SampleRows& rows,
                        std::uint64_t alleleColumns) {
    if (!settings.coordinateColumns || !rows.columnPosition) {
        return false;
    }
    const std::optional<std::uint32_t> x = rows.columnPosition(settings.coordinateColumns->first);
    const std::optional<std::uint32_t> y = rows.columnPosition(settings.coordinateColumns->second);
    return x && y && *x == alleleColumns + 1 && *y == alleleColumns + 2;
}

// Report the specified numbers of 'missingCopies' of the loci of 'table',
// leaving out loci without any; nothing when no copy is missing.
void reportMissingCopies(const MLGTable& table, const std::vector<std::uint64_t>& missingCopies,
                         MessageSink& messages) {
    std::string list;
    for (std::size_t l = 0; l < missingCopies.size(); ++l) {
        if (missingCopies[l] != 0) {
            list += (list.empty() ? "" : ", ") + table.loci()[l].name() + ' ' +
                    std::to_string(missingCopies[l]);
        }
    }
    if (!list.empty()) {
        messages.error("note: missing allele copies: " + list);
    }
}

} // namespace

SampleRows sampleRowsOf(DataReader& reader) {
    SampleRows rows;
    rows.columnCount = reader.columnCount();
    rows.next = [&reader]() -> const std::vector<std::string>* {
        return reader.readDataLine() ? &reader.fields() : nullptr;
    };
    rows.lineNumber = [&reader] { return reader.lineOfFields(); };
    rows.columnPosition = [&reader](const std::string& name) {
        return reader.columnPosition(name);
    };
    return rows;
}

MLGTable buildTable(const Parameters& parameters, const SampleRows& rows, MessageSink& messages) {
    TableSettings settings = interpretHeader(parameters, messages);
    const std::uint32_t locusCount = static_cast<std::uint32_t>(settings.locusCount);
    const std::uint64_t alleleColumns =
        static_cast<std::uint64_t>(locusCount) * static_cast<std::uint64_t>(settings.ploidy);
    // Coordinates whose columns are not in place are not read at all: the
    // table is read as without the key.
    std::optional<std::pair<std::string, std::string>> misplacedCoordinates;
    if (settings.coordinateColumns && !coordinatesInPlace(settings, rows, alleleColumns)) {
        misplacedCoordinates = std::move(settings.coordinateColumns);
        settings.coordinateColumns.reset();
    }
    const bool located = settings.coordinateColumns.has_value();
    const std::uint64_t expectedColumns = alleleColumns + 1 + (located ? 2 : 0);
    const bool columnsFit = rows.columnCount == expectedColumns;

    // A table whose columns do not fit holds no samples; its loci are only
    // listed in the reports.  A locus count far beyond anything the file
    // holds (2000000000, say) must not size it, nor a LOCUSNAMES of a
    // million commas: it lists no more loci than the column-name line has
    // names (one at least), so that its memory and its reports stay in
    // proportion to the file.
    std::uint32_t lociHeld = locusCount;
    if (!columnsFit) {
        lociHeld = std::min(locusCount, std::max(std::uint32_t{1}, rows.columnCount));
    }

    settings.locusCount = static_cast<std::int32_t>(lociHeld);
    MLGTable table(settings);
    if (settings.locusNames) {
        // Names for loci that the header counts but the table does not hold
        // are dropped without a word: they are not too many.
        forEachLocusName(*settings.locusNames, [&](std::size_t i, std::string_view name) {
            if (i < lociHeld) {
                table.locus(static_cast<std::uint32_t>(i)).setName(std::string(name));
            } else if (i >= locusCount) {
                messages.error("error: too many locus names given in LOCUSNAMES.");
            }
        });
    }

    if (misplacedCoordinates) {
        messages.error("error: COORDINATES names '" + misplacedCoordinates->first + "' and '" +
                       misplacedCoordinates->second +
                       "', which are not the two columns after the alleles.");
    }

    if (!columnsFit) {
        messages.error(
            "error: not enough columns in table according to ploidy and locus count (should be: " +
            std::to_string(expectedColumns) + " has: " + std::to_string(rows.columnCount) + ").");
        return table;
    }

    // The samples as plain rows of allele values: a tuple per sample would
    // take several times the memory of the file.
    const std::size_t alleleFields = static_cast<std::size_t>(alleleColumns);
    std::vector<std::string> names;
    std::vector<SamplePoint> points;
    PlaceReport places(messages);
    std::vector<std::int32_t> alleles;
    std::vector<std::uint64_t> missingCopies(locusCount, 0);
    CellReport cells(messages);
    while (const std::vector<std::string>* fields = rows.next()) {
        PSEX_ASSERT(fields->size() > alleleFields + (located ? 2 : 0));
        names.push_back((*fields)[0]);
        const std::size_t start = alleles.size();
        for (std::size_t i = 0; i < alleleFields; ++i) {
            const std::string& cell = (*fields)[i + 1];
            alleles.push_back(decimalValue(cell));
            if (!isWholeNumberOrBlank(cell)) {
                cells.notWhole(rows.lineNumber ? std::optional(rows.lineNumber()) : std::nullopt,
                               cell, alleles.back());
            }
            missingCopies[i / static_cast<std::size_t>(settings.ploidy)] +=
                settings.isMissing(alleles.back()) ? 1 : 0;
        }
        if (located) {
            const std::optional<double> x = decimalNumber((*fields)[alleleFields + 1]);
            const std::optional<double> y = decimalNumber((*fields)[alleleFields + 2]);
            points.push_back(x && y ? SamplePoint{*x, *y, true} : SamplePoint{});
            if (!points.back().located) {
                places.unusable(rows.lineNumber ? std::optional(rows.lineNumber()) : std::nullopt,
                                names.back());
            }
        }
        orderAllelePairs(alleles.data() + start, settings.ploidy, locusCount);
    }
    cells.finish();
    places.finish();
    const std::uint64_t copiesPerLocus =
        static_cast<std::uint64_t>(names.size()) * static_cast<std::uint64_t>(settings.ploidy);
    // The room the lists grew into is given back before the genotypes are
    // built beside them.
    names.shrink_to_fit();
    alleles.shrink_to_fit();
    table.addSampleRows(std::move(names), alleles);
    if (located) {
        points.shrink_to_fit();
        table.setSamplePoints(std::move(points));
    }
    if (settings.missingCode) {
        reportMissingCopies(table, missingCopies, messages);
    }
    // A locus that failed in every sample (common after splitting a study
    // by population) has no frequencies; it is no error, but the user must
    // know that it tells nothing.
    for (std::uint32_t l = 0; l < locusCount && copiesPerLocus > 0; ++l) {
        if (missingCopies[l] == copiesPerLocus) {
            messages.error("warning: locus '" + table.loci()[l].name() +
                           "' has no typed allele copy; it adds nothing to PGen.");
        }
    }
    table.computeProbabilities(static_cast<std::uint32_t>(table.sampleNames().size()), messages);
    return table;
}

MLGTable buildTable(DataReader& reader, MessageSink& messages) {
    return buildTable(reader.parameters(), sampleRowsOf(reader), messages);
}

} // namespace psex
