// importformats.cpp                                              -*-C++-*-
#include "import/importformats.h"

#include "base/contract.h"
#include "import/csvtable.h"
#include "import/genepopreader.h"

#include <array>
#include <string>

namespace psex {

namespace {

// Return the specified 'separator' when the user named one, else the one
// found in the specified 'text'.
char separatorOf(std::string_view text, char separator) {
    return separator != 0 ? separator : detectSeparator(text);
}

// Return the name of a table format, the specified 'kind' ("GenAlEx", "a
// table"), with the specified 'separator', as the summary says it.
std::string tableFormatName(const char* kind, char separator) {
    return std::string(kind) + ", " + separatorName(separator) + "-separated";
}

const std::array<ImportFormat, 3> k_formats = {{
    {"genepop",
     "a genepop file: a title line, the locus names, then a Pop line before each population",
     [](std::string_view text, char) { return looksLikeGenepop(text); },
     [](std::string_view text, char, const TableOptions& options) {
         return readGenepop(text, options.ploidy, options.alleles);
     }},
    {"genalex", "a GenAlEx sheet saved as CSV: a count row, a title row, then a header row",
     [](std::string_view text, char separator) {
         return looksLikeGenAlEx(CsvText(text, separatorOf(text, separator)));
     },
     [](std::string_view text, char separator, const TableOptions& options) {
         const CsvText table(text, separatorOf(text, separator));
         ImportedData data = readGenAlEx(table, options);
         data.formatName = tableFormatName("GenAlEx", table.separator());
         return data;
     }},
    {"table", "a plain table: a header row, then one row per sample",
     [](std::string_view, char) { return true; },
     [](std::string_view text, char separator, const TableOptions& options) {
         const CsvText table(text, separatorOf(text, separator));
         ImportedData data = readPlainTable(table, options);
         data.formatName = tableFormatName("a table", table.separator());
         return data;
     }},
}};

} // namespace

std::span<const ImportFormat> importFormats() {
    return k_formats;
}

const ImportFormat* findImportFormat(std::string_view name) {
    for (const ImportFormat& format : k_formats) {
        if (format.name == name) {
            return &format;
        }
    }
    return nullptr;
}

const ImportFormat& recognizeImportFormat(std::string_view text, char separator) {
    for (const ImportFormat& format : k_formats) {
        if (format.looksLike(text, separator)) {
            return format;
        }
    }
    PSEX_ASSERT(!"the last format takes any text");
    return k_formats.back();
}

} // namespace psex
