// datafilewriter.cpp                                             -*-C++-*-
#include "import/datafilewriter.h"

#include "base/contract.h"

#include <algorithm>
#include <set>

namespace psex {

namespace {

// Load the specified 'values' with what sample 'i' of the specified 'data'
// writes for its alleles, a missing copy as the specified 'missingCode',
// each diploid locus smaller first, and count the changes in the specified
// 'counts'.
void writtenAlleles(const ImportedData& data, std::size_t i, std::int32_t missingCode,
                    std::vector<std::int32_t>* values, WriteCounts* counts) {
    for (std::size_t c = 0; c < values->size(); ++c) {
        const AlleleCopy copy = data.alleles.at(i, c);
        (*values)[c] = copy.value_or(missingCode);
        counts->missing += copy ? 0 : 1;
    }
    if (data.ploidy == 2) {
        for (std::size_t c = 0; c + 1 < values->size(); c += 2) {
            if ((*values)[c] > (*values)[c + 1]) {
                std::swap((*values)[c], (*values)[c + 1]);
                ++counts->reordered;
            }
        }
    }
}

// Return whether a copy of one of the samples of the specified 'data' at
// the specified 'sampleIndices' is missing.
bool anyMissing(const ImportedData& data, const std::vector<std::size_t>& sampleIndices) {
    for (const std::size_t index : sampleIndices) {
        for (std::size_t c = 0; c < data.alleles.width(); ++c) {
            if (!data.alleles.at(index, c)) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

std::int32_t chooseMissingCode(const ImportedData& data) {
    // Only alleles of 0 and below can stand in the way of the code.
    std::set<std::int32_t> alleles;
    for (std::size_t i = 0; i < data.alleles.rows(); ++i) {
        for (std::size_t c = 0; c < data.alleles.width(); ++c) {
            const AlleleCopy copy = data.alleles.at(i, c);
            if (copy && *copy <= 0) {
                alleles.insert(*copy);
            }
        }
    }
    std::int32_t code = 0;
    while (alleles.count(code) != 0) {
        code = code == 0 ? -1 : code - 1; // ends: there are fewer alleles than negatives
    }
    return code;
}

std::string safeTitle(const std::string& text) {
    std::string result = trimmed(text);
    for (char& c : result) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == ',' || c == '/' || c == '\\' || byte < 0x20 || byte == 0x7f) {
            c = '_';
        }
    }
    return result;
}

WriteCounts writeDataFile(std::ostream& out, const ImportedData& data,
                          const std::vector<std::size_t>& sampleIndices,
                          const DataFileSettings& settings, std::int32_t missingCode) {
    PSEX_ASSERT(data.ploidy == 1 || data.ploidy == 2);
    PSEX_ASSERT(!data.loci.empty());
    PSEX_ASSERT(settings.simulations >= 1);
    WriteCounts counts;
    for (const std::size_t index : sampleIndices) {
        PSEX_ASSERT(index < data.samples.size());
    }

    out << "PLOIDY=" << (data.ploidy == 2 ? "DIPLOID" : "HAPLOID") << '\n';
    out << "LOCUSCOUNT=" << data.loci.size() << '\n';
    out << "LOCUSNAMES=";
    for (std::size_t l = 0; l < data.loci.size(); ++l) {
        out << (l == 0 ? "" : ",") << data.loci[l].name;
    }
    out << '\n';
    if (anyMissing(data, sampleIndices)) {
        out << "MISSING=" << missingCode << '\n';
    }
    out << "TITLE=" << settings.title << '\n';
    if (settings.frequency) {
        out << "FREQUENCY=" << *settings.frequency << '\n';
    }
    if (settings.model) {
        out << "MODEL=" << *settings.model << '\n';
    }
    if (settings.lineageDistance) {
        out << "MLLDISTANCE=" << *settings.lineageDistance << '\n';
    }
    if (!data.coordinateNames.empty()) {
        out << "COORDINATES=" << data.coordinateNames[0] << ',' << data.coordinateNames[1] << '\n';
    }
    out << "SIMULATIONS=" << settings.simulations << '\n';
    out << '\n';

    const std::vector<std::string> columns = columnNames(data);
    for (std::size_t c = 0; c < columns.size(); ++c) {
        out << (c == 0 ? "" : ",") << columns[c];
    }
    out << '\n';
    std::vector<std::int32_t> values(data.alleles.width());
    std::string line;
    for (const std::size_t index : sampleIndices) {
        writtenAlleles(data, index, missingCode, &values, &counts);
        line = data.samples[index].name;
        for (const std::int32_t value : values) {
            line += ',';
            line += std::to_string(value);
        }
        if (!data.coordinateNames.empty()) {
            PSEX_ASSERT(data.coordinates.size() == 2 * data.samples.size());
            line += ',';
            line += data.coordinates[2 * index];
            line += ',';
            line += data.coordinates[2 * index + 1];
        }
        line += '\n';
        out << line;
    }
    return counts;
}

} // namespace psex
