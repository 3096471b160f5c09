// mlgtuple.cpp                                                   -*-C++-*-
#include "model/mlgtuple.h"

#include "base/contract.h"

namespace psex {

MLGTuple::MLGTuple(std::int32_t ploidy, std::uint32_t locusCount)
    : d_ploidy(ploidy), d_alleles(static_cast<std::size_t>(locusCount) * ploidy, 0) {}

std::int32_t& MLGTuple::alleleAt(std::size_t index) {
    PSEX_ASSERT(index < d_alleles.size());
    return d_alleles[index];
}

void MLGTuple::setAllele(std::uint32_t locusIndex, std::int32_t alleleIndex, std::int32_t value) {
    PSEX_ASSERT(alleleIndex < d_ploidy);
    const std::size_t index =
        static_cast<std::size_t>(d_ploidy) * locusIndex + static_cast<std::size_t>(alleleIndex);
    PSEX_ASSERT(index < d_alleles.size());
    d_alleles[index] = value;
}

void MLGTuple::addSamples(const MLGTuple& other) {
    d_sampleNames.insert(d_sampleNames.end(), other.d_sampleNames.begin(),
                         other.d_sampleNames.end());
    d_sampleNumbers.insert(d_sampleNumbers.end(), other.d_sampleNumbers.begin(),
                           other.d_sampleNumbers.end());
}

void MLGTuple::numberSamplesFrom(std::uint32_t first) {
    for (std::size_t i = 0; i < d_sampleNumbers.size(); ++i) {
        d_sampleNumbers[i] = first + static_cast<std::uint32_t>(i);
    }
}

std::int32_t MLGTuple::allele(std::uint32_t locusIndex, std::int32_t alleleIndex) const {
    PSEX_ASSERT(alleleIndex < d_ploidy);
    const std::size_t index =
        static_cast<std::size_t>(d_ploidy) * locusIndex + static_cast<std::size_t>(alleleIndex);
    PSEX_ASSERT(index < d_alleles.size());
    return d_alleles[index];
}

bool MLGTuple::operator==(const MLGTuple& other) const {
    PSEX_ASSERT(other.d_alleles.size() == d_alleles.size());
    return d_alleles == other.d_alleles;
}

bool MLGTuple::operator<(const MLGTuple& other) const {
    PSEX_ASSERT(other.d_alleles.size() == d_alleles.size());
    return d_alleles < other.d_alleles;
}

} // namespace psex
