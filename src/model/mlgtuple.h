// mlgtuple.h                                                     -*-C++-*-
#ifndef PSEX_MLGTUPLE_H
#define PSEX_MLGTUPLE_H

// Purpose: hold one multilocus genotype (MLG), the samples that carry it and
// the probabilities computed for it.
//
// The allele values are stored locus-major: allele k of locus l stands at
// position ploidy * l + k.  Within a locus the alleles keep the order of the
// data file's columns, so 12/14 and 14/12 are different genotypes.  Tuples
// are ordered lexicographically by their allele values (signed), which is
// the order of the MLGs in every report.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace psex {

class MLGTuple {
    // A value type: copy it freely.

    // DATA
    std::int32_t d_ploidy;                      // alleles per locus, 1 or 2
    std::vector<std::int32_t> d_alleles;        // locus-major allele values
    std::vector<std::string> d_sampleNames;     // in the order they were added
    std::vector<std::uint32_t> d_sampleNumbers; // each name's place among a table's samples
    double d_psex = 0.0;
    double d_pgen = 0.0;
    double d_pvalue = 0.0;           // share of simulated PSex values below d_psex
    double d_familywisePvalue = 0.0; // share of simulated data sets with a repeat this extreme

  public:
    // CREATORS
    MLGTuple(std::int32_t ploidy, std::uint32_t locusCount);
    // Create a genotype of the specified 'ploidy' with 'locusCount' loci, all
    // allele values 0 and no sample names.

    // MANIPULATORS
    std::int32_t& alleleAt(std::size_t index);
    // Return the allele value at position 'index'.  The behaviour is
    // undefined unless 'index' is below the number of allele values.

    void setAllele(std::uint32_t locusIndex, std::int32_t alleleIndex, std::int32_t value);
    // Set allele 'alleleIndex' of locus 'locusIndex' to 'value'.  The
    // behaviour is undefined unless both indices are in range.

    void addSampleName(const std::string& name) {
        d_sampleNames.push_back(name);
        d_sampleNumbers.push_back(0);
    }
    void addSampleName(const std::string& name, std::uint32_t number) {
        d_sampleNames.push_back(name);
        d_sampleNumbers.push_back(number);
    }
    // Append the specified sample 'name', optionally with its place
    // 'number' among the samples of the table the genotype belongs to.
    void addSamples(const MLGTuple& other);
    // Append the sample names of the specified 'other' tuple, in order, with
    // their sample numbers.

    void numberSamplesFrom(std::uint32_t first);
    // Number this tuple's samples 'first', 'first' + 1, ... in order: their
    // places among the samples of the table they are added to.

    void setPsex(double psex) { d_psex = psex; }
    void setPgen(double pgen) { d_pgen = pgen; }
    void setPvalue(double pvalue) { d_pvalue = pvalue; }
    void setFamilywisePvalue(double pvalue) { d_familywisePvalue = pvalue; }

    // ACCESSORS
    std::int32_t allele(std::uint32_t locusIndex, std::int32_t alleleIndex) const;
    // Return allele 'alleleIndex' of locus 'locusIndex'.  The behaviour is
    // undefined unless both indices are in range.

    std::uint32_t sampleCount() const { return static_cast<std::uint32_t>(d_sampleNames.size()); }
    std::int32_t ploidy() const { return d_ploidy; }
    const std::vector<std::int32_t>& alleles() const { return d_alleles; }
    const std::vector<std::string>& sampleNames() const { return d_sampleNames; }
    const std::vector<std::uint32_t>& sampleNumbers() const { return d_sampleNumbers; }
    // Return, for each sample name, its place (from 0) among the samples of
    // the table that holds this genotype: the data line it came from.
    double psex() const { return d_psex; }
    double pgen() const { return d_pgen; }
    double pvalue() const { return d_pvalue; }
    double familywisePvalue() const { return d_familywisePvalue; }
    // Return the study-wide p-value: (c + 1) / (K + 1), c the number of the
    // K simulated data sets whose most extreme chance repeat has a PSex at
    // most this genotype's.

    bool operator==(const MLGTuple& other) const;
    // Return whether the allele values agree position by position.  The
    // behaviour is undefined unless both have as many allele values.

    bool operator<(const MLGTuple& other) const;
    // Return whether the allele values are lexicographically less (signed).
    // The behaviour is undefined unless both have as many allele values.
};

} // namespace psex

#endif
