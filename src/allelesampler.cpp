// allelesampler.cpp                                              -*-C++-*-
#include "allelesampler.h"

#include <bit>

namespace psex {

namespace {

// Return whether the walk from 'u' passes the first 'count' entries, with
// the very arithmetic of the walk itself.
bool passes(const std::vector<double>& frequencies, double u, std::size_t count) {
    for (std::size_t j = 0; j < count; ++j) {
        if (frequencies[j] > u) {
            return false;
        }
        u -= frequencies[j];
    }
    return true;
}

// Return the smallest double in [0, 1) from which the walk passes the first
// 'count' entries, or 1.0 when none does.
double threshold(const std::vector<double>& frequencies, std::size_t count) {
    // Non-negative doubles order like their bit patterns: bisect on them.
    std::uint64_t low = 0;
    std::uint64_t high = std::bit_cast<std::uint64_t>(1.0);
    while (low < high) {
        const std::uint64_t middle = low + (high - low) / 2;
        if (passes(frequencies, std::bit_cast<double>(middle), count)) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return std::bit_cast<double>(low);
}

} // namespace

AlleleSampler::AlleleSampler(const Locus& locus, std::int32_t noAllele) : d_noAllele(noAllele) {
    for (const auto& [allele, frequency] : locus.frequencies()) {
        d_alleles.push_back(allele);
        d_frequencies.push_back(frequency);
    }
    const std::uint32_t count = alleleCount();
    for (std::size_t m = 0; m < count; ++m) {
        d_thresholds.push_back(threshold(d_frequencies, m + 1));
    }
    if (count <= k_fewAlleles) {
        d_bucketStart.clear();
    } else {
        d_bucketStart.resize(k_buckets);
    }
    std::uint32_t outcome = 0;
    for (std::size_t b = 0; b < d_bucketStart.size(); ++b) {
        const double start = static_cast<double>(b) / k_buckets;
        while (outcome < count && start >= d_thresholds[outcome]) {
            ++outcome;
        }
        d_bucketStart[b] = outcome;
    }
    const auto same = std::lower_bound(d_alleles.begin(), d_alleles.end(), noAllele);
    d_noAlleleIndex = same != d_alleles.end() && *same == noAllele
                          ? static_cast<std::uint32_t>(same - d_alleles.begin())
                          : count;
}

} // namespace psex
