// allelesampler.h                                                -*-C++-*-
#ifndef PSEX_ALLELESAMPLER_H
#define PSEX_ALLELESAMPLER_H

// Purpose: draw the alleles of simulated samples at one locus as fast as a
// table look-up, choosing exactly the allele that walking the frequencies
// would choose.
//
// A simulated allele copy takes one uniform draw u and walks the locus's
// frequencies in ascending allele order: an allele of frequency f is chosen
// when f > u, otherwise u becomes u - f.  Subtracting a constant and
// comparing are monotone in u even with rounding, so "u passes the first m
// alleles" holds exactly for every u at or above a threshold: the smallest
// double that passes.  The number of thresholds at or below u is then the
// walk's outcome, bit for bit: the index of the chosen allele, or K (the
// number of alleles) when the walk passes the last one.

#include "locus.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace psex {

class AlleleSampler {
    // A value type built from one locus's frequencies.

    static constexpr std::size_t k_fewAlleles = 4; // counted without a look-up table
    static constexpr std::size_t k_buckets = 256;  // a power of two: u * 256 is exact

    // DATA
    std::vector<std::int32_t> d_alleles;      // ascending
    std::vector<double> d_frequencies;        // in the same order
    std::vector<double> d_thresholds;         // smallest u passing alleles 0..m
    std::vector<std::uint32_t> d_bucketStart; // outcome at the start of each bucket
    std::int32_t d_noAllele;                  // stored for a copy without an allele
    std::uint32_t d_noAlleleIndex;            // index that stands for that value

  public:
    // CREATORS
    explicit AlleleSampler(const Locus& locus, std::int32_t noAllele = 0);
    // Create a sampler for the frequencies of the specified 'locus', whose
    // simulated samples store the specified 'noAllele' value for a copy
    // that gets no allele (the missing-data code, or 0 without one).

    // ACCESSORS
    std::uint32_t alleleCount() const { return static_cast<std::uint32_t>(d_alleles.size()); }

    const std::vector<double>& thresholds() const { return d_thresholds; }
    // Return, for every m, the smallest draw that passes alleles 0 to m.

    std::uint32_t outcome(double u) const {
        // Return the index of the allele that the draw 'u' in [0, 1)
        // chooses, or 'alleleCount()' when it chooses none.
        const std::size_t count = d_thresholds.size();
        if (count <= k_fewAlleles) {
            // Few alleles (SNPs, most microsatellites): count the passed
            // thresholds without a branch and without a bucket table, which
            // keeps the data of hundreds of loci in the cache.
            std::uint32_t k = 0;
            for (std::size_t m = 0; m < count; ++m) {
                k += u >= d_thresholds[m] ? 1 : 0;
            }
            return k;
        }
        std::uint32_t k = d_bucketStart[static_cast<std::size_t>(u * k_buckets)];
        while (k < count && u >= d_thresholds[k]) {
            ++k;
        }
        return k;
    }

    // A locus's stored alleles as one number.  Each stored value has an
    // index: a chosen allele its own, and the value kept for a copy without
    // an allele the index of the allele of that value (or K when there is
    // none), so equal stored values give equal codes and different ones
    // different codes.
    std::uint64_t haploidCode(std::uint32_t outcome) const {
        // Return the code of a haploid locus whose copy had the specified
        // 'outcome'.
        return outcome < alleleCount() ? outcome : d_noAlleleIndex;
    }

    std::uint64_t diploidCode(std::uint32_t first, std::uint32_t second) const {
        // Return the code of a diploid locus whose copies had the specified
        // outcomes: the chosen alleles stored in ascending order, then the
        // no-allele value for a copy without one.
        const std::uint32_t k = alleleCount();
        const std::uint64_t base = static_cast<std::uint64_t>(k) + 1;
        if (first < k && second < k) {
            return std::min(first, second) * base + std::max(first, second);
        }
        if (first < k || second < k) {
            return std::min(first, second) * base + d_noAlleleIndex;
        }
        return d_noAlleleIndex * base + d_noAlleleIndex;
    }

    std::uint32_t firstIndex(std::uint64_t code, std::int32_t ploidy) const {
        // Return the index of the first stored value of the specified 'code'.
        return static_cast<std::uint32_t>(ploidy == 2 ? code / (alleleCount() + 1ull) : code);
    }

    std::uint32_t secondIndex(std::uint64_t code) const {
        // Return the index of the second stored value of a diploid 'code'.
        return static_cast<std::uint32_t>(code % (alleleCount() + 1ull));
    }

    double frequencyAt(std::uint32_t index) const {
        // Return the frequency of the stored value of 'index' (0 for a
        // value that is no allele of the locus).
        return index < alleleCount() ? d_frequencies[index] : 0.0;
    }

    std::int32_t valueAt(std::uint32_t index) const {
        // Return the stored allele value of 'index'.
        return index < alleleCount() ? d_alleles[index] : d_noAllele;
    }
};

} // namespace psex

#endif
