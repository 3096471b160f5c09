// importeddata.cpp                                               -*-C++-*-
#include "importeddata.h"

#include "contract.h"

#include <map>
#include <set>

namespace psex {

namespace {

const char k_whiteSpace[] = " \t\r\n\v\f";

// Return the specified 'text' with surrounding white space removed and every
// comma and control character (TAB, line ends, ...) replaced by '_': what a
// name in a comma-separated data file can hold.
std::string safeName(const std::string& text) {
    std::string result = trimmed(text);
    for (char& c : result) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == ',' || byte < 0x20 || byte == 0x7f) {
            c = '_';
        }
    }
    return result;
}

std::string atLine(std::size_t line) {
    return line == 0 ? std::string() : "line " + std::to_string(line) + ": ";
}

void tidySampleNames(ImportedData* data) {
    std::map<std::string, std::vector<std::size_t>> lines; // name -> lines, first use first
    std::vector<std::string> order;
    for (ImportedSample& sample : data->samples) {
        const std::string name = safeName(sample.name);
        PSEX_ASSERT(!name.empty());
        if (name != sample.name) {
            data->notes.push_back(atLine(sample.line) + "sample name " + quoted(sample.name) +
                                  " written as " + quoted(name));
            sample.name = name;
        }
        std::vector<std::size_t>& uses = lines[name];
        if (uses.empty()) {
            order.push_back(name);
        }
        uses.push_back(sample.line);
    }
    for (const std::string& name : order) {
        const std::vector<std::size_t>& uses = lines[name];
        if (uses.size() > 1) {
            std::string where;
            for (const std::size_t line : uses) {
                where += (where.empty() ? "" : ", ") + std::to_string(line);
            }
            data->notes.push_back("sample name " + quoted(name) + " is used " +
                                  std::to_string(uses.size()) + " times (lines " + where + ")");
        }
    }
}

// Return the column names that the specified locus 'name' gives at the
// specified 'ploidy'.
std::vector<std::string> locusColumns(const std::string& name, std::int32_t ploidy) {
    if (ploidy == 1) {
        return {name};
    }
    return {name + "_a", name + "_b"};
}

void tidyLocusNames(ImportedData* data) {
    std::set<std::string> taken = {"Sample"};
    for (std::size_t l = 0; l < data->loci.size(); ++l) {
        ImportedLocus& locus = data->loci[l];
        std::string name = safeName(locus.name);
        if (name.empty()) {
            name = "Locus" + std::to_string(l + 1);
            data->notes.push_back("locus " + std::to_string(l + 1) + " has no name: written as " +
                                  quoted(name));
        } else if (name != locus.name) {
            data->notes.push_back("locus name " + quoted(locus.name) + " written as " +
                                  quoted(name));
        }
        const auto clashes = [&](const std::string& candidate) {
            for (const std::string& column : locusColumns(candidate, data->ploidy)) {
                if (taken.count(column) != 0) {
                    return true;
                }
            }
            return false;
        };
        if (clashes(name)) {
            std::string unique;
            for (int k = 2; unique.empty() || clashes(unique); ++k) {
                unique = name + "_" + std::to_string(k);
            }
            data->notes.push_back("locus name " + quoted(name) + " is used before: written as " +
                                  quoted(unique));
            name = unique;
        }
        for (const std::string& column : locusColumns(name, data->ploidy)) {
            taken.insert(column);
        }
        locus.name = name;
    }
}

} // namespace

std::string columnLabel(std::size_t column) {
    PSEX_ASSERT(column >= 1);
    std::string letters;
    for (std::size_t n = column; n > 0; n = (n - 1) / 26) {
        letters.insert(letters.begin(), static_cast<char>('A' + (n - 1) % 26));
    }
    return std::to_string(column) + " (" + letters + ")";
}

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(k_whiteSpace);
    if (first == std::string::npos) {
        return std::string();
    }
    return text.substr(first, text.find_last_not_of(k_whiteSpace) - first + 1);
}

std::string quoted(const std::string& text) {
    return "'" + text + "'";
}

std::string counted(std::size_t count, const std::string& one, const std::string& many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

void tidyNames(ImportedData* data) {
    tidyLocusNames(data);
    tidySampleNames(data);
}

std::vector<std::string> columnNames(const ImportedData& data) {
    std::vector<std::string> names = {"Sample"};
    for (const ImportedLocus& locus : data.loci) {
        for (std::string& column : locusColumns(locus.name, data.ploidy)) {
            names.push_back(std::move(column));
        }
    }
    return names;
}

} // namespace psex
