// allelesampler.cpp                                              -*-C++-*-
#include "simulation/allelesampler.h"

#include <bit>
#include <cmath>

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

// Return 'value' rounded to a double towards minus infinity ('down') or
// plus infinity.
double roundedTo(long double value, bool down) {
    double result = static_cast<double>(value);
    if (down && static_cast<long double>(result) > value) {
        result = std::nextafter(result, -1.0);
    } else if (!down && static_cast<long double>(result) < value) {
        result = std::nextafter(result, 2.0);
    }
    return result;
}

} // namespace

AlleleSampler::AlleleSampler(const Locus& locus, std::int32_t noAllele) : d_noAllele(noAllele) {
    for (const auto& [allele, frequency] : locus.frequencies()) {
        d_alleles.push_back(allele);
        d_frequencies.push_back(frequency);
    }
    d_count = static_cast<std::uint32_t>(d_alleles.size());
    const std::uint32_t count = d_count;
    const bool ordinary = std::all_of(d_frequencies.begin(), d_frequencies.end(),
                                      [](double f) { return f >= 0.0 && f <= 1.0; });
    if (count <= k_exactUpTo || !ordinary) {
        for (std::size_t m = 0; m < count; ++m) {
            d_low.push_back(threshold(d_frequencies, m + 1));
        }
        d_high = d_low;
    } else {
        // The walk's m subtractions are each off by at most 2^-54; the
        // running sum in long double (64-bit mantissa) is off by at most
        // (m + 1) 2^-64 times its size.  The margin covers both four times.
        long double sum = 0.0L;
        for (std::size_t m = 0; m < count; ++m) {
            sum += d_frequencies[m];
            const long double margin =
                static_cast<long double>(m + 2) * std::ldexp(1.0L, -52) * std::max(1.0L, sum);
            d_low.push_back(std::max(0.0, roundedTo(sum - margin, true)));
            d_high.push_back(std::min(1.0, roundedTo(sum + margin, false)));
        }
    }
    for (std::size_t m = 0; m < k_fewAlleles; ++m) {
        d_few[m] = m < count ? d_high[m] : 2.0;
    }
    if (count > k_fewAlleles) {
        std::size_t buckets = k_minBuckets;
        while (buckets < 4 * static_cast<std::size_t>(count) && buckets < k_maxBuckets) {
            buckets *= 2;
        }
        d_buckets = static_cast<double>(buckets);
        // Entry b counts the thresholds surely passed at the bucket's start
        // b / buckets; entry 'buckets' those passed by every draw below 1.
        d_bucketStart.resize(buckets + 1);
        std::uint32_t passed = 0;
        for (std::size_t b = 0; b <= buckets; ++b) {
            const double start = static_cast<double>(b) / d_buckets;
            while (passed < count && start >= d_high[passed]) {
                ++passed;
            }
            d_bucketStart[b] = passed;
        }
        // A bucket is plain when at most one bracket meets it, and that one
        // is a single point: the threshold itself.  Any other is crowded.
        d_split.resize(buckets);
        d_start.resize(buckets);
        for (std::size_t b = 0; b < buckets; ++b) {
            const std::uint32_t start = d_bucketStart[b];
            const double end = static_cast<double>(b + 1) / d_buckets;
            std::uint32_t meeting = start;
            while (meeting < count && d_low[meeting] < end) {
                ++meeting;
            }
            const bool plain =
                meeting == start || (meeting == start + 1 && d_low[start] == d_high[start]);
            d_split[b] = plain && meeting != start ? d_high[start] : 2.0;
            d_start[b] = plain ? start : k_crowded;
        }
    }
    const auto same = std::lower_bound(d_alleles.begin(), d_alleles.end(), noAllele);
    d_noAlleleIndex = same != d_alleles.end() && *same == noAllele
                          ? static_cast<std::uint32_t>(same - d_alleles.begin())
                          : count;
}

std::uint64_t AlleleSampler::haploidCodeOfRareDraw(double u) const {
    return haploidCode(outcome(u));
}

std::uint64_t AlleleSampler::diploidCodeOfRareDraws(double u, double v) const {
    return diploidCode(outcome(u), outcome(v));
}

std::uint32_t AlleleSampler::walk(double u) const {
    std::uint32_t k = 0;
    for (const double frequency : d_frequencies) {
        if (frequency > u) {
            return k;
        }
        u -= frequency;
        ++k;
    }
    return k;
}

} // namespace psex
