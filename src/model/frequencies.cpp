// frequencies.cpp                                                -*-C++-*-
#include "model/frequencies.h"

#include "base/contract.h"
#include "base/messagesink.h"

#include <algorithm>
#include <map>
#include <numeric>

namespace psex {

namespace {

// Count the copies of the specified 'mlgs' into the specified 'loci' and
// turn the counts into shares of the copies counted: every sample's copies
// when 'bySample', else every genotype's once.
void estimateFromCounts(std::vector<Locus>& loci, const std::vector<MLGTuple>& mlgs,
                        const TableSettings& settings, bool bySample) {
    std::uint32_t counted = 0; // samples or genotypes
    for (const MLGTuple& mlg : mlgs) {
        counted += bySample ? mlg.sampleCount() : 1;
    }
    // Locus by locus, the typed copies with their weights in ascending
    // order of allele, so that each allele's count is one entry added at
    // the end of the locus's list, sized to its alleles.
    std::vector<std::pair<std::int32_t, std::uint32_t>> copies;
    for (std::uint32_t l = 0; l < loci.size(); ++l) {
        copies.clear();
        for (const MLGTuple& mlg : mlgs) {
            const std::uint32_t weight = bySample ? mlg.sampleCount() : 1;
            for (std::int32_t k = 0; k < settings.ploidy; ++k) {
                const std::int32_t allele = mlg.allele(l, k);
                if (!settings.isMissing(allele) && weight > 0) {
                    copies.emplace_back(allele, weight);
                }
            }
        }
        std::sort(copies.begin(), copies.end());
        std::size_t alleles = 0;
        for (std::size_t i = 0; i < copies.size(); ++i) {
            alleles += i == 0 || copies[i].first != copies[i - 1].first ? 1 : 0;
        }
        loci[l].reserve(alleles);
        for (const auto& [allele, weight] : copies) {
            loci[l].addCopies(allele, weight);
        }
    }
    for (Locus& locus : loci) {
        // With missing data each locus counts its own typed copies.
        if (settings.missingCode) {
            locus.computeTypedFrequencies();
        } else {
            locus.computeFrequencies(counted, settings.ploidy);
        }
    }
}

void estimateRoundRobin(std::vector<Locus>& loci, const std::vector<MLGTuple>& mlgs,
                        const TableSettings& settings) {
    const std::int32_t ploidy = settings.ploidy;
    // The genotypes in the order of their first sample in the data file.
    std::vector<std::size_t> byFirstSample(mlgs.size());
    std::iota(byFirstSample.begin(), byFirstSample.end(), std::size_t{0});
    auto firstSample = [&](std::size_t m) {
        return mlgs[m].sampleNumbers().empty() ? 0 : mlgs[m].sampleNumbers().front();
    };
    std::sort(byFirstSample.begin(), byFirstSample.end(),
              [&](std::size_t a, std::size_t b) { return firstSample(a) < firstSample(b); });
    const double oneCopy = 1.0 / (static_cast<double>(ploidy) * static_cast<double>(mlgs.size()));

    for (std::uint32_t j = 0; j < loci.size(); ++j) {
        // The genotypes ordered by their alleles at the other loci, ties in
        // data-file order: the first of each run is the one counted.
        std::vector<std::size_t> order = byFirstSample;
        auto otherLociLess = [&](std::size_t a, std::size_t b) {
            const std::vector<std::int32_t>& x = mlgs[a].alleles();
            const std::vector<std::int32_t>& y = mlgs[b].alleles();
            const std::size_t skipFrom = static_cast<std::size_t>(ploidy) * j;
            const std::size_t skipTo = skipFrom + static_cast<std::size_t>(ploidy);
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
            const MLGTuple& mlg = mlgs[order[r]];
            const bool heads = r == 0 || otherLociLess(order[r - 1], order[r]);
            for (std::int32_t k = 0; k < ploidy; ++k) {
                const std::int32_t allele = mlg.allele(j, k);
                if (settings.isMissing(allele)) {
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
        loci[j].assignFrequencies(AlleleFrequencies(counts.begin(), counts.end()));
    }
}

} // namespace

void estimateFrequencies(std::vector<Locus>& loci, const std::vector<MLGTuple>& mlgs,
                         const TableSettings& settings) {
    PSEX_ASSERT(std::all_of(loci.begin(), loci.end(), [](const Locus& locus) {
        return locus.sampleCount() == 0 && !locus.isNormalized();
    }));
    switch (settings.frequency) {
    case FrequencyEstimate::e_sample:
        estimateFromCounts(loci, mlgs, settings, true);
        break;
    case FrequencyEstimate::e_mlg:
        estimateFromCounts(loci, mlgs, settings, false);
        break;
    case FrequencyEstimate::e_roundRobin:
        estimateRoundRobin(loci, mlgs, settings);
        break;
    }
}

bool frequenciesSumToOne(const std::vector<Locus>& loci) {
    return std::all_of(loci.begin(), loci.end(), [](const Locus& locus) {
        return locus.alleleCount() == 0 || locus.frequenciesSumToOne();
    });
}

void checkFrequencies(const std::vector<Locus>& loci, MessageSink& messages) {
    if (!frequenciesSumToOne(loci)) {
        messages.error("error: not all frequencies sum up to +-1.0.");
    }
}

} // namespace psex
