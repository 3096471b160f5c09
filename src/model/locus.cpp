// locus.cpp                                                      -*-C++-*-
#include "model/locus.h"

#include "base/contract.h"

#include <cmath>
#include <limits>

namespace psex {

void Locus::addCopies(std::int32_t allele, std::uint32_t copies) {
    // Counts are whole numbers far below 2^53: adding them at once gives
    // exactly the sum of adding one copy at a time.  An allele never
    // counted has no entry.
    if (copies == 0) {
        return;
    }
    d_frequencies[allele] += static_cast<double>(copies);
    d_sampleCount += copies;
}

void Locus::computeFrequencies(std::uint32_t sampleSize, int ploidy) {
    PSEX_ASSERT(d_sampleCount == sampleSize * ploidy);
    computeTypedFrequencies();
}

void Locus::computeTypedFrequencies() {
    const double total = static_cast<double>(d_sampleCount);
    for (auto& entry : d_frequencies) {
        entry.second /= total;
    }
    d_normalized = true;
}

void Locus::assignFrequencies(const std::map<std::int32_t, double>& frequencies) {
    d_frequencies = frequencies;
    d_normalized = true;
}

void Locus::copyFrequencies(const Locus& other) {
    assignFrequencies(other.d_frequencies);
}

double Locus::frequency(std::int32_t allele) const {
    auto entry = d_frequencies.find(allele);
    return entry == d_frequencies.end() ? 0.0 : entry->second;
}

std::uint32_t Locus::alleleCount() const {
    return static_cast<std::uint32_t>(d_frequencies.size());
}

double Locus::expectedHeterozygosity() const {
    if (d_frequencies.empty()) {
        // No typed copy: nothing is known of the locus's diversity.
        return std::numeric_limits<double>::quiet_NaN();
    }
    double sum = 0.0;
    for (const auto& entry : d_frequencies) {
        sum += entry.second * entry.second;
    }
    return 1.0 - sum;
}

bool Locus::frequenciesSumToOne() const {
    double sum = 0.0;
    for (const auto& entry : d_frequencies) {
        sum += entry.second;
    }
    return std::fabs(sum - 1.0) <= 1e-08;
}

} // namespace psex
