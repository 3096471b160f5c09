// importeddata.cpp                                               -*-C++-*-
#include "import/importeddata.h"

#include "base/contract.h"

#include <algorithm>
#include <functional>
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
    std::vector<ImportedSample>& samples = data->samples;
    for (ImportedSample& sample : samples) {
        std::string name = safeName(sample.name);
        PSEX_ASSERT(!name.empty());
        if (name != sample.name) {
            data->notes.push_back(atLine(sample.line) + "sample name " + quoted(sample.name) +
                                  " written as " + quoted(name));
            sample.name = std::move(name);
        }
    }
    // Names used more than once, found by sorting the samples by name (a
    // table of a million samples has no room for a map of their names).
    std::vector<std::uint32_t> order(samples.size());
    for (std::uint32_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        const int compared = samples[a].name.compare(samples[b].name);
        return compared < 0 || (compared == 0 && a < b);
    });
    std::vector<std::pair<std::uint32_t, std::string>> repeated; // first use, note
    for (std::size_t first = 0; first < order.size();) {
        std::size_t end = first + 1;
        while (end < order.size() && samples[order[end]].name == samples[order[first]].name) {
            ++end;
        }
        if (end - first > 1) {
            std::string where;
            for (std::size_t i = first; i < end; ++i) {
                where += (where.empty() ? "" : ", ") + std::to_string(samples[order[i]].line);
            }
            repeated.emplace_back(
                order[first], "sample name " + quoted(samples[order[first]].name) + " is used " +
                                  std::to_string(end - first) + " times (lines " + where + ")");
        }
        first = end;
    }
    std::sort(repeated.begin(), repeated.end());
    for (auto& [firstUse, note] : repeated) {
        data->notes.push_back(std::move(note));
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

void AlleleMatrix::reserve(std::size_t rows, std::size_t width) {
    d_values.reserve(rows * width);
    d_missing.reserve(rows * width);
}

void AlleleMatrix::addRow(const std::vector<AlleleCopy>& copies) {
    if (d_rows == 0) {
        d_width = copies.size();
    }
    PSEX_ASSERT(copies.size() == d_width);
    for (const AlleleCopy& copy : copies) {
        d_values.push_back(copy.value_or(0));
        d_missing.push_back(!copy.has_value());
    }
    ++d_rows;
}

std::vector<AlleleCopy> AlleleMatrix::row(std::size_t row) const {
    std::vector<AlleleCopy> copies;
    copies.reserve(d_width);
    for (std::size_t k = 0; k < d_width; ++k) {
        copies.push_back(at(row, k));
    }
    return copies;
}

std::uint32_t PopulationNames::numberOf(const std::string& name) {
    const std::size_t hash = std::hash<std::string>()(name);
    std::size_t mask = d_slots.size() - 1;
    std::size_t slot = hash & mask;
    for (; !d_slots.empty() && d_slots[slot] != 0; slot = (slot + 1) & mask) {
        const std::uint32_t number = d_slots[slot] - 1;
        if (d_hashes[number] == hash && d_names[number] == name) {
            return number;
        }
    }
    const std::uint32_t number = static_cast<std::uint32_t>(d_names.size());
    d_names.push_back(name);
    d_hashes.push_back(hash);
    if (2 * d_names.size() > d_slots.size()) {
        // At most half full: the runs of taken slots stay short.
        std::size_t size = 16;
        while (size < 4 * d_names.size()) {
            size *= 2; // a power of two, for the mask
        }
        d_slots.assign(size, 0);
        mask = d_slots.size() - 1;
        for (std::uint32_t n = 0; n < d_names.size(); ++n) {
            std::size_t at = d_hashes[n] & mask;
            while (d_slots[at] != 0) {
                at = (at + 1) & mask;
            }
            d_slots[at] = n + 1;
        }
        return number;
    }
    d_slots[slot] = number + 1;
    return number;
}

void ImportedData::reserve(std::size_t sampleCount, std::size_t copiesPerSample) {
    samples.reserve(sampleCount);
    alleles.reserve(sampleCount, copiesPerSample);
}

void ImportedData::addSample(std::string name, std::size_t line, const std::string& population,
                             const std::vector<AlleleCopy>& copies) {
    ImportedSample sample;
    sample.name = std::move(name);
    sample.line = line;
    sample.population = populations.numberOf(trimmed(population));
    samples.push_back(std::move(sample));
    alleles.addRow(copies);
}

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

namespace {

// Make the coordinate column names fit for the column-name line: safe
// names, "x" and "y" for empty ones, and "_2", "_3", ... appended to one
// that the sample or allele columns (or the other) already use.
void tidyCoordinateNames(ImportedData* data) {
    if (data->coordinateNames.empty()) {
        return;
    }
    PSEX_ASSERT(data->coordinateNames.size() == 2);
    std::vector<std::string> columns = columnNames(*data);
    std::set<std::string> taken(columns.begin(), columns.end() - 2);
    const char* fallback[] = {"x", "y"};
    for (std::size_t k = 0; k < 2; ++k) {
        std::string& name = data->coordinateNames[k];
        std::string tidy = safeName(name);
        if (tidy.empty()) {
            tidy = fallback[k];
        }
        std::string unique = tidy;
        for (int n = 2; taken.count(unique) != 0; ++n) {
            unique = tidy + "_" + std::to_string(n);
        }
        if (unique != name) {
            data->notes.push_back("coordinate column " + quoted(name) + " written as " +
                                  quoted(unique));
            name = unique;
        }
        taken.insert(name);
    }
}

} // namespace

void tidyNames(ImportedData* data) {
    tidyLocusNames(data);
    tidySampleNames(data);
    tidyCoordinateNames(data);
}

std::vector<std::string> columnNames(const ImportedData& data) {
    std::vector<std::string> names = {"Sample"};
    for (const ImportedLocus& locus : data.loci) {
        for (std::string& column : locusColumns(locus.name, data.ploidy)) {
            names.push_back(std::move(column));
        }
    }
    names.insert(names.end(), data.coordinateNames.begin(), data.coordinateNames.end());
    return names;
}

} // namespace psex
