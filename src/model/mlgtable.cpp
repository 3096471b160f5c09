// mlgtable.cpp                                                   -*-C++-*-
#include "model/mlgtable.h"

#include "base/contract.h"
#include "base/messagesink.h"
#include "model/binomial.h"
#include "model/frequencies.h"
#include "model/significance.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace psex {

namespace {

constexpr double k_undefined = std::numeric_limits<double>::quiet_NaN();

// Return Fis = (He - Ho) / He for the specified heterozygosities, 1 when He
// is not above 0, and NaN when Ho is NaN (undefined).
double fixationIndex(double expectedHeterozygosity, double observedHeterozygosity) {
    if (std::isnan(observedHeterozygosity)) {
        return k_undefined;
    }
    if (expectedHeterozygosity > 0.0) {
        return (expectedHeterozygosity - observedHeterozygosity) / expectedHeterozygosity;
    }
    return 1.0;
}

} // namespace

MLGTable::MLGTable(const TableSettings& settings) : d_settings(settings) {
    PSEX_ASSERT(settings.locusCount >= 0);
    d_loci.resize(static_cast<std::size_t>(settings.locusCount));
}

Locus& MLGTable::locus(std::uint32_t index) {
    PSEX_ASSERT(index < d_loci.size());
    return d_loci[index];
}

void MLGTable::addSample(const MLGTuple& sample) {
    MLGTuple tuple(sample);
    tuple.numberSamplesFrom(static_cast<std::uint32_t>(d_sampleNames.size()));
    auto position = std::lower_bound(d_mlgs.begin(), d_mlgs.end(), tuple);
    const bool isNew = position == d_mlgs.end() || !(*position == tuple);
    if (isNew) {
        d_mlgs.insert(position, tuple);
    } else {
        position->addSamples(tuple);
    }
    d_sampleNames.insert(d_sampleNames.end(), tuple.sampleNames().begin(),
                         tuple.sampleNames().end());
}

void MLGTable::addSampleRows(std::vector<std::string> names,
                             const std::vector<std::int32_t>& alleles) {
    PSEX_ASSERT(d_sampleNames.empty() && d_mlgs.empty());
    const std::size_t width = static_cast<std::size_t>(ploidy()) * d_loci.size();
    PSEX_ASSERT(alleles.size() == names.size() * width);
    const auto row = [&](std::uint32_t sample) {
        return alleles.begin() + static_cast<std::ptrdiff_t>(sample * width);
    };
    const auto sameRow = [&](std::uint32_t a, std::uint32_t b) {
        return std::equal(row(a), row(a) + static_cast<std::ptrdiff_t>(width), row(b));
    };
    // Samples by genotype, each genotype's samples in file order.
    std::vector<std::uint32_t> order(names.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        return std::lexicographical_compare(row(a), row(a) + static_cast<std::ptrdiff_t>(width),
                                            row(b), row(b) + static_cast<std::ptrdiff_t>(width));
    });
    std::size_t genotypes = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        genotypes += i == 0 || !sameRow(order[i - 1], order[i]) ? 1 : 0;
    }
    d_mlgs.reserve(genotypes);
    for (std::size_t first = 0; first < order.size();) {
        std::size_t last = first + 1;
        while (last < order.size() && sameRow(order[first], order[last])) {
            ++last;
        }
        MLGTuple tuple(ploidy(), locusCount());
        for (std::size_t i = 0; i < width; ++i) {
            tuple.alleleAt(i) = row(order[first])[static_cast<std::ptrdiff_t>(i)];
        }
        for (std::size_t k = first; k < last; ++k) {
            tuple.addSampleName(names[order[k]], order[k]);
        }
        d_mlgs.push_back(std::move(tuple));
        first = last;
    }
    d_sampleNames = std::move(names);
}

bool MLGTable::isTyped(const MLGTuple& tuple, std::uint32_t locusIndex) const {
    if (!missingCode()) {
        return true; // every value is an allele
    }
    for (std::int32_t k = 0; k < ploidy(); ++k) {
        if (isMissing(tuple.allele(locusIndex, k))) {
            return false;
        }
    }
    return true;
}

std::uint32_t MLGTable::typedCount(std::uint32_t locusIndex) const {
    const bool bySample = d_settings.frequencyFromSamples();
    const std::size_t all = bySample ? d_sampleNames.size() : d_mlgs.size();
    if (!missingCode()) {
        return static_cast<std::uint32_t>(all);
    }
    std::uint32_t count = 0;
    for (const MLGTuple& mlg : d_mlgs) {
        if (isTyped(mlg, locusIndex)) {
            count += bySample ? mlg.sampleCount() : 1;
        }
    }
    return count;
}

void MLGTable::setSamplePoints(std::vector<SamplePoint> points) {
    PSEX_ASSERT(points.size() == d_sampleNames.size());
    d_samplePoints = std::move(points);
}

void MLGTable::setFrequencies(const std::vector<Locus>& loci) {
    PSEX_ASSERT(loci.size() == d_loci.size());
    for (std::size_t j = 0; j < loci.size(); ++j) {
        d_loci[j].copyFrequencies(loci[j]);
    }
}

std::uint32_t MLGTable::heterozygoteCount(std::uint32_t locusIndex) const {
    std::uint32_t count = 0;
    for (const MLGTuple& mlg : d_mlgs) {
        if (mlg.ploidy() == 2 && mlg.allele(locusIndex, 0) != mlg.allele(locusIndex, 1) &&
            isTyped(mlg, locusIndex)) {
            count += d_settings.frequencyFromSamples() ? mlg.sampleCount() : 1;
        }
    }
    return count;
}

std::vector<double> MLGTable::modelFis() const {
    if (!fisModel()) {
        return {};
    }
    if (d_judgingFis) {
        return *d_judgingFis;
    }
    std::vector<double> values;
    for (std::uint32_t j = 0; j < d_loci.size(); ++j) {
        values.push_back(fis(j));
    }
    return values;
}

void MLGTable::judgeAgainst(const std::vector<Locus>& loci, const std::vector<double>& fis) {
    PSEX_ASSERT(!fisModel() || fis.size() == d_loci.size());
    setFrequencies(loci);
    d_judgingFis = fis;
}

double MLGTable::pgen(const MLGTuple& tuple) const {
    return pgen(tuple, modelFis());
}

double MLGTable::pgen(const MLGTuple& tuple, const std::vector<double>& fisByLocus) const {
    double probability = 1.0;
    for (std::uint32_t j = 0; j < d_loci.size(); ++j) {
        if (!isTyped(tuple, j)) {
            continue; // an untyped locus says nothing about the genotype
        }
        const Locus& locus = d_loci[j];
        const bool heterozygous = ploidy() == 2 && tuple.allele(j, 0) != tuple.allele(j, 1);
        const double first = locus.frequency(tuple.allele(j, 0));
        const double second = ploidy() == 2 ? locus.frequency(tuple.allele(j, 1)) : 1.0;
        probability = probability * genotypeTerm(ploidy(), heterozygous, first, second, fisModel(),
                                                 fisModel() ? fisByLocus[j] : 0.0);
    }
    return probability;
}

void MLGTable::computeProbabilities(std::uint32_t sampleSize, MessageSink& messages) {
    // Frequencies copied in from the table a genotype is judged against
    // were estimated and checked there.  Either all loci of a table are
    // normalized or none is.
    if (d_loci.empty() || !d_loci.front().isNormalized()) {
        estimateFrequencies(d_loci, d_mlgs, d_settings);
        checkFrequencies(d_loci, messages);
    }

    // Nothing in the loop below changes a frequency or a genotype count, so
    // each locus's Fis is the same for every MLG: compute it once.
    const std::vector<double> fisByLocus = modelFis();

    std::vector<double> values;
    for (MLGTuple& mlg : d_mlgs) {
        const std::uint32_t n = mlg.sampleCount();
        if (n == 0) {
            mlg.setPsex(0.0);
            continue;
        }
        const double g = pgen(mlg, fisByLocus);
        mlg.setPgen(g);
        mlg.setPsex(psexOf(sampleSize, n, g, binomialTermSum(sampleSize, n, g), messages));
        values.push_back(mlg.psex());
    }
    std::sort(values.begin(), values.end());
    d_psexValues = PsexList(values);
}

void MLGTable::assignPValues() {
    for (MLGTuple& mlg : d_mlgs) {
        if (mlg.sampleCount() > 1) {
            mlg.setPvalue(psexSignificance(d_psexValues, mlg.psex()));
        }
    }
}

void MLGTable::assignFamilywisePValues(const FamilywiseCounter& smallest) {
    for (MLGTuple& mlg : d_mlgs) {
        if (mlg.sampleCount() > 1) {
            mlg.setFamilywisePvalue(
                familywisePValue(smallest.countAtMost(mlg.psex()), smallest.dataSets()));
        }
    }
}

std::vector<double> MLGTable::repeatedPsexValues() const {
    std::vector<double> values;
    for (const MLGTuple& mlg : d_mlgs) {
        if (mlg.sampleCount() > 1) {
            values.push_back(mlg.psex());
        }
    }
    return values;
}

std::vector<std::uint32_t> MLGTable::mlgSizes() const {
    std::vector<std::uint32_t> sizes;
    sizes.reserve(d_mlgs.size());
    for (const MLGTuple& mlg : d_mlgs) {
        sizes.push_back(mlg.sampleCount());
    }
    return sizes;
}

std::vector<std::uint32_t> MLGTable::mlgNumbersOfSamples() const {
    std::vector<std::uint32_t> numbers(d_sampleNames.size(), 0);
    for (std::size_t m = 0; m < d_mlgs.size(); ++m) {
        for (const std::uint32_t sample : d_mlgs[m].sampleNumbers()) {
            numbers[sample] = static_cast<std::uint32_t>(m + 1);
        }
    }
    return numbers;
}

double MLGTable::observedHeterozygosity(std::uint32_t locusIndex) const {
    const std::uint32_t denominator = typedCount(locusIndex);
    if (denominator == 0) {
        return k_undefined;
    }
    return static_cast<double>(heterozygoteCount(locusIndex)) / static_cast<double>(denominator);
}

double MLGTable::fis(std::uint32_t locusIndex) const {
    PSEX_ASSERT(locusIndex < d_loci.size());
    return fixationIndex(d_loci[locusIndex].expectedHeterozygosity(),
                         observedHeterozygosity(locusIndex));
}

double genotypeTerm(std::int32_t ploidy, bool heterozygous, double firstFrequency,
                    double secondFrequency, bool fisModel, double fis) {
    double f = 1.0 * firstFrequency;
    if (ploidy == 2) {
        f = f * secondFrequency;
    }
    if (fisModel) {
        if (heterozygous) {
            f = (1.0 - fis) * f;
        } else {
            f = fis * firstFrequency + (1.0 - fis) * f;
        }
    }
    double term = heterozygous ? f + f : f;
    // A strongly negative Fis (heterozygote excess, common in clonal
    // populations) drives a rare homozygote's term below zero; no
    // probability is negative.
    if (term < 0.0) {
        term = 0.0;
    }
    return term;
}

} // namespace psex
