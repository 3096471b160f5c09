// locus.cpp                                                      -*-C++-*-
#include "model/locus.h"

#include "base/contract.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace psex {

namespace {

// Return the first entry of the specified 'list' whose allele is not below
// the specified 'allele'.
template <class LIST>
auto lowerBound(LIST& list, std::int32_t allele) {
    return std::lower_bound(
        list.begin(), list.end(), allele,
        [](const auto& entry, std::int32_t value) { return entry.first < value; });
}

} // namespace

void Locus::addCopies(std::int32_t allele, std::uint32_t copies) {
    // Counts are whole numbers far below 2^53: adding them at once gives
    // exactly the sum of adding one copy at a time.  An allele never
    // counted has no entry.
    if (copies == 0) {
        return;
    }
    d_sampleCount += copies;
    if (d_frequencies.empty() || d_frequencies.back().first < allele) {
        d_frequencies.emplace_back(allele, static_cast<double>(copies));
        return;
    }
    const auto entry = lowerBound(d_frequencies, allele);
    if (entry->first == allele) {
        entry->second += static_cast<double>(copies);
    } else {
        d_frequencies.emplace(entry, allele, static_cast<double>(copies));
    }
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

void Locus::assignFrequencies(AlleleFrequencies frequencies) {
    PSEX_ASSERT(std::adjacent_find(frequencies.begin(), frequencies.end(),
                                   [](const auto& a, const auto& b) {
                                       return a.first >= b.first;
                                   }) == frequencies.end());
    d_frequencies = std::move(frequencies);
    d_normalized = true;
}

void Locus::copyFrequencies(const Locus& other) {
    assignFrequencies(other.d_frequencies);
}

double Locus::frequency(std::int32_t allele) const {
    const auto entry = lowerBound(d_frequencies, allele);
    return entry != d_frequencies.end() && entry->first == allele ? entry->second : 0.0;
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
