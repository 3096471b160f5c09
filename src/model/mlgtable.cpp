// mlgtable.cpp                                                   -*-C++-*-
#include "model/mlgtable.h"

#include "base/contract.h"
#include "base/messagesink.h"
#include "model/binomial.h"
#include "model/diversity.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <numeric>

namespace psex {

namespace {

constexpr double k_undefined = std::numeric_limits<double>::quiet_NaN();

} // namespace

MLGTable::MLGTable(std::int32_t ploidy, std::uint32_t locusCount, bool frequencyFromSamples,
                   bool fisModel, std::int32_t simulations)
    : d_ploidy(ploidy), d_locusCount(locusCount), d_loci(locusCount), d_simulations(simulations),
      d_frequencyFromSamples(frequencyFromSamples), d_fisModel(fisModel) {}

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

    // With FREQUENCY=MLG a genotype's alleles count once, for the first
    // sample that carries it.
    if (d_frequencyFromSamples || isNew) {
        countAlleles(tuple);
    }
    d_sampleNames.insert(d_sampleNames.end(), tuple.sampleNames().begin(),
                         tuple.sampleNames().end());
}

void MLGTable::addSamples(std::vector<MLGTuple> tuples) {
    std::uint32_t next = static_cast<std::uint32_t>(d_sampleNames.size());
    for (MLGTuple& tuple : tuples) {
        tuple.numberSamplesFrom(next);
        next += tuple.sampleCount();
    }
    // Group the new tuples by genotype, each group in the order of adding,
    // then merge the groups into the sorted list.
    std::vector<std::size_t> order(tuples.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return tuples[a].alleles() < tuples[b].alleles();
    });

    std::vector<MLGTuple> merged;
    merged.reserve(d_mlgs.size() + tuples.size());
    std::vector<bool> founds(tuples.size(), false); // tuple founded a new MLG
    auto existing = d_mlgs.begin();
    for (std::size_t first = 0; first < order.size();) {
        const MLGTuple& head = tuples[order[first]];
        std::size_t last = first + 1;
        while (last < order.size() && tuples[order[last]] == head) {
            ++last;
        }
        while (existing != d_mlgs.end() && *existing < head) {
            merged.push_back(std::move(*existing++));
        }
        std::size_t next = first;
        if (existing != d_mlgs.end() && *existing == head) {
            merged.push_back(std::move(*existing++));
        } else {
            founds[order[first]] = true;
            merged.push_back(tuples[order[first]]);
            next = first + 1;
        }
        for (; next < last; ++next) {
            merged.back().addSamples(tuples[order[next]]);
        }
        first = last;
    }
    while (existing != d_mlgs.end()) {
        merged.push_back(std::move(*existing++));
    }
    d_mlgs = std::move(merged);

    for (std::size_t i = 0; i < tuples.size(); ++i) {
        if (d_frequencyFromSamples || founds[i]) {
            countAlleles(tuples[i]);
        }
        d_sampleNames.insert(d_sampleNames.end(), tuples[i].sampleNames().begin(),
                             tuples[i].sampleNames().end());
    }
}

void MLGTable::addSampleRows(std::vector<std::string> names,
                             const std::vector<std::int32_t>& alleles) {
    PSEX_ASSERT(d_sampleNames.empty() && d_mlgs.empty());
    const std::size_t width = static_cast<std::size_t>(d_ploidy) * d_locusCount;
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
        MLGTuple tuple(d_ploidy, d_locusCount);
        for (std::size_t i = 0; i < width; ++i) {
            tuple.alleleAt(i) = row(order[first])[static_cast<std::ptrdiff_t>(i)];
        }
        for (std::size_t k = first; k < last; ++k) {
            tuple.addSampleName(names[order[k]], order[k]);
            // With FREQUENCY=MLG a genotype's alleles count once.
            if (d_frequencyFromSamples || k == first) {
                countAlleles(tuple);
            }
        }
        d_mlgs.push_back(std::move(tuple));
        first = last;
    }
    d_sampleNames = std::move(names);
}

void MLGTable::countAlleles(const MLGTuple& tuple) {
    for (std::uint32_t l = 0; l < d_locusCount; ++l) {
        for (std::int32_t k = 0; k < d_ploidy; ++k) {
            const std::int32_t allele = tuple.allele(l, k);
            if (!isMissing(allele)) {
                d_loci[l].addAllele(allele);
            }
        }
    }
}

MLGTable MLGTable::emptyCopy() const {
    MLGTable copy(d_ploidy, d_locusCount, d_frequencyFromSamples, d_fisModel, d_simulations);
    copy.setMissingCode(d_missingCode);
    copy.setRoundRobin(d_roundRobin);
    copy.setLineageDistance(d_lineageDistance);
    return copy;
}

bool MLGTable::isTyped(const MLGTuple& tuple, std::uint32_t locusIndex) const {
    if (!d_missingCode) {
        return true; // every value is an allele
    }
    for (std::int32_t k = 0; k < d_ploidy; ++k) {
        if (isMissing(tuple.allele(locusIndex, k))) {
            return false;
        }
    }
    return true;
}

std::uint32_t MLGTable::typedCount(std::uint32_t locusIndex) const {
    const std::size_t all = d_frequencyFromSamples ? d_sampleNames.size() : d_mlgs.size();
    if (!d_missingCode) {
        return static_cast<std::uint32_t>(all);
    }
    std::uint32_t count = 0;
    for (const MLGTuple& mlg : d_mlgs) {
        if (isTyped(mlg, locusIndex)) {
            count += d_frequencyFromSamples ? mlg.sampleCount() : 1;
        }
    }
    return count;
}

void MLGTable::computeAlleleFrequencies(MessageSink& messages) {
    const bool normalized = !d_loci.empty() && d_loci.front().isNormalized();
    if (d_roundRobin && !normalized) {
        computeRoundRobinFrequencies();
        checkFrequencies(messages);
        return;
    }
    const std::uint32_t sampleSize =
        static_cast<std::uint32_t>(d_frequencyFromSamples ? d_sampleNames.size() : d_mlgs.size());
    if (normalized) {
        return; // either all loci of a table are normalized or none is
    }
    for (Locus& locus : d_loci) {
        // With missing data each locus counts its own typed copies.
        if (d_missingCode) {
            locus.computeTypedFrequencies();
        } else {
            locus.computeFrequencies(sampleSize, d_ploidy);
        }
    }
    checkFrequencies(messages);
}

void MLGTable::computeRoundRobinFrequencies() {
    // A big clone counts once with FREQUENCY=MLG, but a genotype that
    // differs from it by a scoring error at one locus still adds its other
    // loci again.  Round robin counts each locus over the genotypes that
    // are distinct at the other loci: per group of such genotypes, the
    // first sample of the data file.
    std::vector<std::size_t> byFirstSample(d_mlgs.size());
    for (std::size_t m = 0; m < byFirstSample.size(); ++m) {
        byFirstSample[m] = m;
    }
    auto firstSample = [&](std::size_t m) {
        return d_mlgs[m].sampleNumbers().empty() ? 0 : d_mlgs[m].sampleNumbers().front();
    };
    std::sort(byFirstSample.begin(), byFirstSample.end(),
              [&](std::size_t a, std::size_t b) { return firstSample(a) < firstSample(b); });
    // An allele seen at a locus only in genotypes that were not counted
    // there gets the weight of one copy among those of all genotypes.
    const double oneCopy =
        1.0 / (static_cast<double>(d_ploidy) * static_cast<double>(d_mlgs.size()));

    for (std::uint32_t j = 0; j < d_locusCount; ++j) {
        // The genotypes ordered by their alleles at the other loci, ties in
        // data-file order: the first of each run is the one counted.
        std::vector<std::size_t> order = byFirstSample;
        auto otherLociLess = [&](std::size_t a, std::size_t b) {
            const std::vector<std::int32_t>& x = d_mlgs[a].alleles();
            const std::vector<std::int32_t>& y = d_mlgs[b].alleles();
            const std::size_t skipFrom = static_cast<std::size_t>(d_ploidy) * j;
            const std::size_t skipTo = skipFrom + static_cast<std::size_t>(d_ploidy);
            for (std::size_t i = 0; i < x.size(); ++i) {
                if ((i < skipFrom || i >= skipTo) && x[i] != y[i]) {
                    return x[i] < y[i];
                }
            }
            return false;
        };
        std::stable_sort(order.begin(), order.end(), otherLociLess);

        std::map<std::int32_t, double> counts;
        double counted = 0.0;
        for (std::size_t r = 0; r < order.size(); ++r) {
            const MLGTuple& mlg = d_mlgs[order[r]];
            const bool heads = r == 0 || otherLociLess(order[r - 1], order[r]);
            for (std::int32_t k = 0; k < d_ploidy; ++k) {
                const std::int32_t allele = mlg.allele(j, k);
                if (isMissing(allele)) {
                    continue;
                }
                double& count = counts[allele]; // every allele of the locus gets an entry
                if (heads) {
                    count += 1.0;
                    counted += 1.0;
                }
            }
        }
        double sum = 0.0;
        for (auto& [allele, value] : counts) {
            value = value > 0.0 ? value / counted : oneCopy;
            sum += value;
        }
        for (auto& entry : counts) {
            entry.second /= sum;
        }
        d_loci[j].assignFrequencies(counts);
    }
}

void MLGTable::checkFrequencies(MessageSink& messages) const {
    if (!frequenciesSumToOne()) {
        messages.error("error: not all frequencies sum up to +-1.0.");
    }
}

bool MLGTable::frequenciesSumToOne() const {
    return std::all_of(d_loci.begin(), d_loci.end(), [](const Locus& locus) {
        return locus.alleleCount() == 0 || locus.frequenciesSumToOne();
    });
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
            count += d_frequencyFromSamples ? mlg.sampleCount() : 1;
        }
    }
    return count;
}

std::vector<double> MLGTable::fisValues() const {
    std::vector<double> values;
    for (std::uint32_t j = 0; j < d_loci.size(); ++j) {
        values.push_back(fis(j));
    }
    return values;
}

std::vector<double> MLGTable::modelFis() const {
    if (!d_fisModel) {
        return {};
    }
    return d_judgingFis ? *d_judgingFis : fisValues();
}

void MLGTable::judgeAgainst(const std::vector<Locus>& loci, const std::vector<double>& fis) {
    PSEX_ASSERT(!d_fisModel || fis.size() == d_loci.size());
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
        const bool heterozygous = d_ploidy == 2 && tuple.allele(j, 0) != tuple.allele(j, 1);
        const double first = locus.frequency(tuple.allele(j, 0));
        const double second = d_ploidy == 2 ? locus.frequency(tuple.allele(j, 1)) : 1.0;
        probability = probability * genotypeTerm(d_ploidy, heterozygous, first, second, d_fisModel,
                                                 d_fisModel ? fisByLocus[j] : 0.0);
    }
    return probability;
}

void MLGTable::computeProbabilities(std::uint32_t sampleSize, MessageSink& messages) {
    computeAlleleFrequencies(messages);

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
            mlg.setPvalue(psexSignificance(mlg.psex()));
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

double MLGTable::clonalRichness() const {
    return psex::clonalRichness(d_mlgs.size(), d_sampleNames.size());
}

double MLGTable::pd() const {
    return unitsPerSample(d_mlgs.size(), d_sampleNames.size());
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

std::uint32_t MLGTable::singleMLGCount() const {
    return static_cast<std::uint32_t>(std::count_if(
        d_mlgs.begin(), d_mlgs.end(), [](const MLGTuple& mlg) { return mlg.sampleCount() == 1; }));
}

std::uint32_t MLGTable::clonalMLGCount() const {
    return static_cast<std::uint32_t>(d_mlgs.size()) - singleMLGCount();
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

double fixationIndex(double expectedHeterozygosity, double observedHeterozygosity) {
    if (std::isnan(observedHeterozygosity)) {
        return k_undefined;
    }
    if (expectedHeterozygosity > 0.0) {
        return (expectedHeterozygosity - observedHeterozygosity) / expectedHeterozygosity;
    }
    return 1.0;
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

double MLGTable::significanceThreshold(double significanceLevel) const {
    PSEX_ASSERT(significanceLevel >= 0.0 && significanceLevel <= 1.0);
    if (d_psexValues.empty()) {
        return 1.0;
    }
    const double position = significanceLevel * static_cast<double>(d_psexValues.size() - 1);
    return d_psexValues.at(static_cast<std::uint64_t>(position));
}

double MLGTable::realizedSignificanceLevel(double significanceLevel) const {
    const std::uint64_t m = d_psexValues.size();
    if (m == 0) {
        return 0.0;
    }
    const double b = significanceLevel * static_cast<double>(m);
    const std::uint64_t c = static_cast<std::uint64_t>(b);
    const std::uint64_t r = b + 0.5 >= static_cast<double>(c + 1) ? c + 1 : c;
    if (r == 0) {
        return 0.0; // a level too small for the list reaches nothing below it
    }
    return static_cast<double>(r - 1) / static_cast<double>(m);
}

double MLGTable::psexSignificance(double psex) const {
    if (d_psexValues.empty()) {
        return 0.0;
    }
    return static_cast<double>(d_psexValues.countBelow(psex)) /
           static_cast<double>(d_psexValues.size());
}

std::string MLGTable::significanceCode(double psex) const {
    if (!(significanceThreshold(0.05) > psex)) {
        return "ns";
    }
    std::string code = "*";
    if (significanceThreshold(0.01) > psex) {
        code += "*";
        if (significanceThreshold(0.001) > psex) {
            code += "*";
        }
    }
    return code;
}

} // namespace psex
