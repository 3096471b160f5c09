// datafilewriter.cpp                                             -*-C++-*-
#include "datafilewriter.h"

#include "contract.h"

#include <algorithm>
#include <set>

namespace psex {

namespace {

// Return the values that the specified 'sample' writes for its alleles,
// a missing copy as the specified 'missingCode', each diploid locus
// smaller first, and count the changes in the specified 'counts'.
std::vector<std::int32_t> writtenAlleles(const ImportedSample& sample, std::int32_t ploidy,
                                         std::int32_t missingCode, WriteCounts* counts) {
    std::vector<std::int32_t> values;
    for (const AlleleCopy& copy : sample.alleles) {
        values.push_back(copy.value_or(missingCode));
        counts->missing += copy ? 0 : 1;
    }
    if (ploidy == 2) {
        for (std::size_t i = 0; i + 1 < values.size(); i += 2) {
            if (values[i] > values[i + 1]) {
                std::swap(values[i], values[i + 1]);
                ++counts->reordered;
            }
        }
    }
    return values;
}

} // namespace

std::int32_t chooseMissingCode(const ImportedData& data) {
    std::set<std::int32_t> alleles;
    for (const ImportedSample& sample : data.samples) {
        for (const AlleleCopy& copy : sample.alleles) {
            if (copy) {
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
    std::vector<std::vector<std::int32_t>> rows;
    for (const std::size_t index : sampleIndices) {
        PSEX_ASSERT(index < data.samples.size());
        rows.push_back(writtenAlleles(data.samples[index], data.ploidy, missingCode, &counts));
    }

    out << "PLOIDY=" << (data.ploidy == 2 ? "DIPLOID" : "HAPLOID") << '\n';
    out << "LOCUSCOUNT=" << data.loci.size() << '\n';
    out << "LOCUSNAMES=";
    for (std::size_t l = 0; l < data.loci.size(); ++l) {
        out << (l == 0 ? "" : ",") << data.loci[l].name;
    }
    out << '\n';
    if (counts.missing > 0) {
        out << "MISSING=" << missingCode << '\n';
    }
    out << "TITLE=" << settings.title << '\n';
    if (settings.frequency) {
        out << "FREQUENCY=" << *settings.frequency << '\n';
    }
    if (settings.model) {
        out << "MODEL=" << *settings.model << '\n';
    }
    out << "SIMULATIONS=" << settings.simulations << '\n';
    out << '\n';

    const std::vector<std::string> columns = columnNames(data);
    for (std::size_t c = 0; c < columns.size(); ++c) {
        out << (c == 0 ? "" : ",") << columns[c];
    }
    out << '\n';
    for (std::size_t r = 0; r < rows.size(); ++r) {
        out << data.samples[sampleIndices[r]].name;
        for (const std::int32_t value : rows[r]) {
            out << ',' << value;
        }
        out << '\n';
    }
    return counts;
}

} // namespace psex
