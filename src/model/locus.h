// locus.h                                                        -*-C++-*-
#ifndef PSEX_LOCUS_H
#define PSEX_LOCUS_H

// Purpose: hold the alleles seen at one locus, first as copy counts, then as
// relative frequencies.
//
// Allele frequencies are never given in a data file: they are estimated from
// the samples.  A locus counts allele copies and is then normalized once,
// turning each count into a relative frequency; from then on it is only read
// (probabilities, simulation, statistics, reports).
//
// The alleles are one flat list in ascending order, not a tree: a study of
// hundreds of thousands of loci of a few alleles each holds one short list
// per locus, a few dozen bytes, where a tree node per allele took more than
// the whole list.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace psex {

using AlleleFrequencies = std::vector<std::pair<std::int32_t, double>>;
// The alleles of a locus, each once, in ascending (signed) order of allele
// value, with their counts or frequencies.

class Locus {
    // A value type: copy it freely.

    // DATA
    std::string d_name;
    AlleleFrequencies d_frequencies; // count, then frequency
    std::uint32_t d_sampleCount = 0; // allele copies counted
    bool d_normalized = false;       // counts turned into frequencies

  public:
    // MANIPULATORS
    void setName(const std::string& name) { d_name = name; }
    // Set the locus name to the specified 'name'.

    void addAllele(std::int32_t allele) { addCopies(allele, 1); }
    // Count one copy of the specified 'allele'.  Call it only before the
    // locus is normalized.

    void addCopies(std::int32_t allele, std::uint32_t copies);
    // Count the specified number of 'copies' of the specified 'allele'.
    // Call it only before the locus is normalized.  Counting alleles in
    // ascending order appends each new one at the end of the list; any
    // other order inserts it at its place.

    void reserve(std::size_t alleles) { d_frequencies.reserve(alleles); }
    // Make room for the specified number of 'alleles', so that counting
    // them takes no more memory than they need.

    void computeFrequencies(std::uint32_t sampleSize, int ploidy);
    // Turn every count into its share of all copies counted.  The behaviour
    // is undefined unless 'sampleSize * ploidy' copies were counted.

    void computeTypedFrequencies();
    // Turn every count into its share of all copies counted, whatever their
    // number: with missing data every locus has its own number of typed
    // copies.

    void assignFrequencies(AlleleFrequencies frequencies);
    // Make the specified 'frequencies' this locus's frequencies, computed
    // elsewhere (round-robin estimates), and mark this locus normalized;
    // name and copy count stay.  The behaviour is undefined unless the
    // alleles are distinct and in ascending order.

    void copyFrequencies(const Locus& other);
    // Make the frequencies an exact copy of those of the specified 'other'
    // locus and mark this locus normalized; name and copy count stay.

    // ACCESSORS
    const std::string& name() const { return d_name; }
    const AlleleFrequencies& frequencies() const { return d_frequencies; }
    // Return the allele entries in ascending (signed) order of allele value.

    std::uint32_t sampleCount() const { return d_sampleCount; }
    bool isNormalized() const { return d_normalized; }

    double frequency(std::int32_t allele) const;
    // Return the entry for the specified 'allele', or 0.0 if it was never
    // counted.

    std::uint32_t alleleCount() const;
    // Return the number of distinct alleles.

    double expectedHeterozygosity() const;
    // Return He = 1 - sum of squared frequencies, summed in ascending allele
    // order; NaN (undefined) for a locus without alleles.

    bool frequenciesSumToOne() const;
    // Return whether the entries, added up in ascending allele order, differ
    // from one by at most 1e-8.  Frequencies estimated from counts always
    // do, up to rounding; a locus without alleles does not.
};

} // namespace psex

#endif
