// allelesampler.cpp                                              -*-C++-*-
#include "simulation/allelesampler.h"

#include <bit>
#include <cmath>

namespace psex {

// A panel of hundreds of thousands of loci holds one sampler per locus.
static_assert(sizeof(AlleleSampler) == 64, "a sampler is one cache line");

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

AlleleSampler::AlleleSampler(const Locus& locus, std::int32_t noAllele)
    : d_count(static_cast<std::uint32_t>(locus.frequencies().size())),
      d_alleles(locus.frequencies().data()), d_noAllele(noAllele) {
    const std::uint32_t count = d_count;
    std::vector<double> frequencies;
    frequencies.reserve(count);
    for (const auto& [allele, frequency] : locus.frequencies()) {
        frequencies.push_back(frequency);
    }
    const bool ordinary = std::all_of(frequencies.begin(), frequencies.end(),
                                      [](double f) { return f >= 0.0 && f <= 1.0; });
    std::vector<double> low;
    std::vector<double> high;
    if (count <= k_exactUpTo || !ordinary) {
        for (std::size_t m = 0; m < count; ++m) {
            low.push_back(threshold(frequencies, m + 1));
        }
        high = low;
    } else {
        // The walk's m subtractions are each off by at most 2^-54; the
        // running sum in long double (64-bit mantissa) is off by at most
        // (m + 1) 2^-64 times its size.  The margin covers both four times.
        long double sum = 0.0L;
        for (std::size_t m = 0; m < count; ++m) {
            sum += frequencies[m];
            const long double margin =
                static_cast<long double>(m + 2) * std::ldexp(1.0L, -52) * std::max(1.0L, sum);
            low.push_back(std::max(0.0, roundedTo(sum - margin, true)));
            high.push_back(std::min(1.0, roundedTo(sum + margin, false)));
        }
    }
    if (count <= k_fewAlleles) {
        for (std::size_t m = 0; m < k_fewAlleles; ++m) {
            d_few[m] = m < count ? high[m] : 2.0;
        }
    } else {
        d_table = std::make_unique<Table>();
        Table& table = *d_table;
        std::size_t buckets = k_minBuckets;
        while (buckets < 4 * static_cast<std::size_t>(count) && buckets < k_maxBuckets) {
            buckets *= 2;
        }
        const double bucketCount = static_cast<double>(buckets);
        // Entry b counts the thresholds surely passed at the bucket's start
        // b / buckets; entry 'buckets' those passed by every draw below 1.
        table.bucketStart.resize(buckets + 1);
        std::uint32_t passed = 0;
        for (std::size_t b = 0; b <= buckets; ++b) {
            const double start = static_cast<double>(b) / bucketCount;
            while (passed < count && start >= high[passed]) {
                ++passed;
            }
            table.bucketStart[b] = passed;
        }
        // A bucket is plain when at most one bracket meets it, and that one
        // is a single point: the threshold itself.  Any other is crowded.
        table.split.resize(buckets);
        table.start.resize(buckets);
        for (std::size_t b = 0; b < buckets; ++b) {
            const std::uint32_t start = table.bucketStart[b];
            const double end = static_cast<double>(b + 1) / bucketCount;
            std::uint32_t meeting = start;
            while (meeting < count && low[meeting] < end) {
                ++meeting;
            }
            const bool plain =
                meeting == start || (meeting == start + 1 && low[start] == high[start]);
            table.split[b] = plain && meeting != start ? high[start] : 2.0;
            table.start[b] = plain ? start : k_crowded;
        }
        table.low = std::move(low);
        table.high = std::move(high);
        pointAtTable();
    }
    const auto same =
        std::lower_bound(locus.frequencies().begin(), locus.frequencies().end(), noAllele,
                         [](const auto& entry, std::int32_t value) { return entry.first < value; });
    d_noAlleleIndex = same != locus.frequencies().end() && same->first == noAllele
                          ? static_cast<std::uint32_t>(same - locus.frequencies().begin())
                          : count;
}

AlleleSampler::AlleleSampler(const AlleleSampler& other)
    : d_count(other.d_count), d_noAlleleIndex(other.d_noAlleleIndex), d_alleles(other.d_alleles),
      d_noAllele(other.d_noAllele) {
    if (other.d_table) {
        d_table = std::make_unique<Table>(*other.d_table);
        pointAtTable();
    } else {
        std::copy(std::begin(other.d_few), std::end(other.d_few), std::begin(d_few));
    }
}

AlleleSampler& AlleleSampler::operator=(const AlleleSampler& other) {
    if (this != &other) {
        AlleleSampler copy(other);
        *this = std::move(copy);
    }
    return *this;
}

void AlleleSampler::pointAtTable() {
    d_lookup.split = d_table->split.data();
    d_lookup.start = d_table->start.data();
    d_lookup.buckets = static_cast<double>(d_table->split.size());
}

std::vector<double> AlleleSampler::lowBounds() const {
    return d_table ? d_table->low : highBounds();
}

std::vector<double> AlleleSampler::highBounds() const {
    return d_table ? d_table->high : std::vector<double>(d_few, d_few + d_count);
}

std::uint64_t AlleleSampler::haploidCodeOfRareDraw(double u) const {
    return haploidCode(outcome(u));
}

std::uint64_t AlleleSampler::diploidCodeOfRareDraws(double u, double v) const {
    return diploidCode(outcome(u), outcome(v));
}

std::uint32_t AlleleSampler::walk(double u) const {
    std::uint32_t k = 0;
    for (; k < d_count; ++k) {
        const double frequency = d_alleles[k].second;
        if (frequency > u) {
            return k;
        }
        u -= frequency;
    }
    return k;
}

} // namespace psex
