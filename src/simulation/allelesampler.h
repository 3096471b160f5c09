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
//
// Finding a threshold exactly takes a bisection over the doubles whose every
// step walks the frequencies: fine for a few dozen alleles, quadratic for
// thousands.  For those the threshold of allele m is only bracketed: the
// walk rounds each of its m subtractions by at most half a unit in the last
// place (2^-54 below 1), so the threshold lies within m 2^-54 of the exact
// sum of the first m + 1 frequencies, which a running sum in extended
// precision gives to far better than that.  A draw outside every bracket
// (all but about K^2 2^-53 of them) is decided by the brackets; one inside a
// bracket walks the frequencies itself.  Setting up is then linear in K.
//
// The draw is looked up in a table of buckets (equal slices of [0, 1), as
// many as about four per allele).  Most buckets hold at most one threshold,
// known exactly: the outcome is then the count below the bucket plus one
// comparison, without a branch that the processor could mispredict.  In the
// other buckets the few thresholds are scanned, or bisected when a bucket
// holds many (a few very rare alleles after a common one).
//
// A locus of up to four alleles (SNPs, and every locus of a study of few
// samples) needs no table: its thresholds are compared one by one.  Such a
// sampler is one cache line and nothing else, so that a panel of hundreds
// of thousands of loci holds one line per locus; it reads the alleles and
// their frequencies from the locus itself.

#include "model/locus.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace psex {

class alignas(64) AlleleSampler {
    // A value type built from one locus's frequencies, which it reads from
    // the locus: the locus must outlive it.  Exactly one cache line, which
    // holds what a draw reads: a SNP panel draws from thousands of samplers
    // in turn.

    static constexpr std::size_t k_fewAlleles = 4;   // counted without a look-up table
    static constexpr std::size_t k_exactUpTo = 64;   // alleles whose thresholds are found exactly
    static constexpr std::uint32_t k_scanLimit = 8;  // thresholds in a bucket scanned one by one
    static constexpr std::size_t k_minBuckets = 256; // powers of two: u * buckets is exact
    static constexpr std::size_t k_maxBuckets = std::size_t(1) << 16;

    static constexpr std::uint32_t k_crowded = std::uint32_t(1) << 31;

    struct Table {
        // The bucket table and the thresholds of a locus of more than four
        // alleles.

        std::vector<double> split;              // by bucket: its one threshold, or 2 (none)
        std::vector<std::uint32_t> start;       // thresholds passed by its start, or k_crowded
                                                // (other thresholds or a bracket in it)
        std::vector<double> low;                // threshold m is at least low[m]
        std::vector<double> high;               // and at most high[m] (equal: known exactly)
        std::vector<std::uint32_t> bucketStart; // thresholds at or below each bucket's start
    };

    struct BucketLookup {
        // What a draw reads of the table: its lists, and their length.

        const double* split;
        const std::uint32_t* start;
        double buckets; // number of buckets
    };

    // DATA
    union {
        double d_few[k_fewAlleles]; // up to 4 alleles: their thresholds, then 2 (never passed)
        BucketLookup d_lookup;      // more alleles: 'd_table's buckets
    };
    std::uint32_t d_count = 0;                        // number of alleles
    std::uint32_t d_noAlleleIndex = 0;                // index of the no-allele value
    const std::pair<std::int32_t, double>* d_alleles; // the locus's, ascending
    std::unique_ptr<Table> d_table;                   // more than four alleles only
    std::int32_t d_noAllele;                          // stored for a copy without one

  public:
    // CREATORS
    explicit AlleleSampler(const Locus& locus, std::int32_t noAllele = 0);
    // Create a sampler for the frequencies of the specified 'locus', whose
    // simulated samples store the specified 'noAllele' value for a copy
    // that gets no allele (the missing-data code, or 0 without one).  The
    // behaviour is undefined unless 'locus' outlives the sampler unchanged.

    AlleleSampler(const AlleleSampler& other);
    AlleleSampler(AlleleSampler&& other) noexcept = default;
    AlleleSampler& operator=(const AlleleSampler& other);
    AlleleSampler& operator=(AlleleSampler&& other) noexcept = default;
    ~AlleleSampler() = default;

    // ACCESSORS
    std::uint32_t alleleCount() const { return d_count; }

    std::vector<double> lowBounds() const;
    // Return, for every m, a double at or below the smallest draw that
    // passes alleles 0 to m.

    std::vector<double> highBounds() const;
    // Return, for every m, a double at or above the smallest draw that
    // passes alleles 0 to m; equal to the low bound where that draw is
    // known exactly (always for up to 64 alleles).

    std::uint32_t outcome(double u) const {
        // Return the index of the allele that the draw 'u' in [0, 1)
        // chooses, or 'alleleCount()' when it chooses none.
        const std::uint32_t quick = quickOutcome(u);
        return quick < k_crowded ? quick : crowdedOutcome(u);
    }

    // How the caller knows the sampler looks up a draw: either way, or
    // known in advance for all loci of a data set, which saves a test per
    // draw.
    enum Lookup { e_either, e_few, e_twoAtMost, e_table };

    bool usesTable() const { return d_count > k_fewAlleles; }
    // Return whether draws are looked up in the bucket table.

    bool hasTwoAllelesAtMost() const { return d_count <= 2; }
    // Return whether the locus has at most two alleles (a SNP).

    template <Lookup LOOKUP = e_either>
    [[gnu::always_inline]] std::uint32_t quickOutcome(double u) const {
        // Return 'outcome(u)', or a number of at least 'k_crowded' when the
        // draw falls into a bucket that needs a closer look: one load and
        // one comparison, no branch.  The behaviour is undefined unless
        // 'LOOKUP' is 'e_either' or agrees with 'usesTable()'.
        if (LOOKUP == e_twoAtMost) {
            // The thresholds beyond the second are 2: never passed.
            return (u >= d_few[0] ? 1u : 0u) + (u >= d_few[1] ? 1u : 0u);
        }
        if (LOOKUP == e_few || (LOOKUP == e_either && !usesTable())) {
            // Few alleles (SNPs): count the passed thresholds without a
            // branch and without a bucket table, which keeps the data of
            // thousands of loci in the cache.
            return (u >= d_few[0] ? 1u : 0u) + (u >= d_few[1] ? 1u : 0u) +
                   (u >= d_few[2] ? 1u : 0u) + (u >= d_few[3] ? 1u : 0u);
        }
        const std::size_t bucket = static_cast<std::size_t>(bucketOf(u));
        return d_lookup.start[bucket] + (u >= d_lookup.split[bucket] ? 1 : 0);
    }

    template <Lookup LOOKUP = e_either>
    [[gnu::always_inline]] std::uint64_t haploidCodeOfDraw(double u) const {
        // Return 'haploidCode(outcome(u))'.  The draw loop of a simulation
        // is made of these calls: they are always inlined, the rare cases
        // are not.
        const std::uint32_t quick = quickOutcome<LOOKUP>(u);
        return quick < d_count ? quick : haploidCodeOfRareDraw(u);
    }

    template <Lookup LOOKUP = e_either>
    [[gnu::always_inline]] std::uint64_t diploidCodeOfDraws(double u, double v) const {
        // Return 'diploidCode(outcome(u), outcome(v))'.  Almost always both
        // draws choose an allele in a plain bucket, and the code is formed
        // without a branch the processor could mispredict.
        const std::uint32_t first = quickOutcome<LOOKUP>(u);
        const std::uint32_t second = quickOutcome<LOOKUP>(v);
        const std::int64_t difference =
            static_cast<std::int64_t>(first) - static_cast<std::int64_t>(second);
        const std::int64_t swap = difference & (difference >> 63); // first - second if smaller
        const std::uint64_t smaller = static_cast<std::uint64_t>(second + swap);
        const std::uint64_t larger = static_cast<std::uint64_t>(first - swap);
        if (larger < d_count) {
            return smaller * (d_count + std::uint64_t(1)) + larger;
        }
        return diploidCodeOfRareDraws(u, v);
    }

    std::uint64_t haploidCodeOfRareDraw(double u) const;
    // Return 'haploidCode(outcome(u))', out of line.

    std::uint64_t diploidCodeOfRareDraws(double u, double v) const;
    // Return 'diploidCode(outcome(u), outcome(v))', out of line.

    std::uint32_t crowdedOutcome(double u) const {
        // Return 'outcome(u)' for a draw whose bucket holds several
        // thresholds or a bracket.
        const std::size_t bucket = static_cast<std::size_t>(bucketOf(u));
        const std::vector<double>& high = d_table->high;
        std::uint32_t k = d_table->bucketStart[bucket];
        const std::uint32_t end = d_table->bucketStart[bucket + 1];
        if (end - k <= k_scanLimit) {
            while (k < end && u >= high[k]) {
                ++k;
            }
        } else {
            k = static_cast<std::uint32_t>(
                std::upper_bound(high.begin() + k, high.begin() + end, u) - high.begin());
        }
        // u passes the first k thresholds surely; it fails at threshold k
        // surely unless it lies in that threshold's bracket.
        if (k < d_count && u >= d_table->low[k]) {
            return walk(u);
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
        return index < alleleCount() ? d_alleles[index].second : 0.0;
    }

    std::int32_t valueAt(std::uint32_t index) const {
        // Return the stored allele value of 'index'.
        return index < alleleCount() ? d_alleles[index].first : d_noAllele;
    }

    std::int64_t bucketOf(double u) const {
        // Return the bucket of the draw 'u' in [0, 1); a signed conversion
        // needs no check of its range.
        return static_cast<std::int64_t>(u * d_lookup.buckets);
    }

    std::uint32_t walk(double u) const;
    // Return the outcome of the draw 'u' found by walking the frequencies.

  private:
    void pointAtTable();
    // Make the draws read the buckets of 'd_table'.
};

} // namespace psex

#endif
