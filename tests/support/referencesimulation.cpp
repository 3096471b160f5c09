// referencesimulation.cpp                                        -*-C++-*-
#include "support/referencesimulation.h"

#include "model/locus.h"

#include <algorithm>
#include <string>

namespace psex {
namespace test {

std::optional<std::int32_t> drawAllele(const Locus& locus, double u) {
    for (const auto& entry : locus.frequencies()) {
        if (entry.second > u) {
            return entry.first;
        }
        u -= entry.second;
    }
    return std::nullopt;
}

MLGTable simulateSample(std::uint32_t sampleCount, const MLGTable& table,
                        ReferenceGenerator& generator) {
    MLGTable sample(table.settings());
    const std::vector<Locus>& loci = table.loci();
    // A copy for which no allele is chosen holds the missing-data code, or
    // 0 in a table without one.
    const std::int32_t noAllele = table.missingCode().value_or(0);
    std::vector<std::int32_t> chosen;
    for (std::uint32_t s = 0; s < sampleCount; ++s) {
        MLGTuple tuple(table.ploidy(), table.locusCount());
        std::string name(1, 's');
        name += std::to_string(s);
        tuple.addSampleName(name);
        for (std::uint32_t j = 0; j < loci.size(); ++j) {
            chosen.clear();
            for (std::int32_t k = 0; k < table.ploidy(); ++k) {
                if (const auto allele = drawAllele(loci[j], generator())) {
                    chosen.push_back(*allele);
                }
            }
            std::sort(chosen.begin(), chosen.end());
            for (std::int32_t k = 0; k < table.ploidy(); ++k) {
                const std::size_t index = static_cast<std::size_t>(k);
                tuple.setAllele(j, k, index < chosen.size() ? chosen[index] : noAllele);
            }
        }
        sample.addSample(tuple);
    }
    return sample;
}

std::vector<double> simulatedPsexValues(const MLGTable& table, ReferenceGenerator& generator,
                                        MessageSink& messages, const SimulationProgress& progress,
                                        std::vector<std::optional<double>>* smallest) {
    std::vector<double> values;
    const std::uint32_t sampleCount = static_cast<std::uint32_t>(table.sampleNames().size());
    const std::vector<double> realFis = table.modelFis();
    for (std::int32_t r = 0; r < table.simulations(); ++r) {
        const MLGTable simulated = simulateSample(sampleCount, table, generator);
        std::optional<double> smallestOfDataSet;
        for (const MLGTuple& mlg : simulated.mlgs()) {
            if (mlg.sampleCount() <= 1) {
                continue;
            }
            MLGTable single(table.settings());
            single.addSample(mlg);
            single.judgeAgainst(table.loci(), realFis);
            single.computeProbabilities(sampleCount, messages);
            const double psex = single.mlgs().front().psex();
            values.insert(std::lower_bound(values.begin(), values.end(), psex), psex);
            if (!smallestOfDataSet || psex < *smallestOfDataSet) {
                smallestOfDataSet = psex;
            }
        }
        if (smallest) {
            smallest->push_back(smallestOfDataSet);
        }
        if (progress) {
            progress(static_cast<std::uint64_t>(r) + 1,
                     static_cast<std::uint64_t>(table.simulations()));
        }
    }
    return values;
}

} // namespace test
} // namespace psex
