// simulation.cpp                                                 -*-C++-*-
#include "simulation.h"

#include "locus.h"

#include <algorithm>
#include <string>

namespace psex {

LaggedFibonacci607& randomGenerator() {
    static LaggedFibonacci607 generator; // default seed, never reseeded
    return generator;
}

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
    MLGTable sample(table.ploidy(), table.locusCount(), table.frequencyFromSamples(),
                    table.fisModel(), table.simulations());
    const std::vector<Locus>& loci = table.loci();
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
            for (std::size_t k = 0; k < chosen.size(); ++k) {
                tuple.setAllele(j, static_cast<std::int32_t>(k), chosen[k]);
            }
        }
        sample.addSample(tuple);
    }
    return sample;
}

std::vector<double> simulatedPsexValues(const MLGTable& table, ReferenceGenerator& generator,
                                        MessageSink& messages, const SimulationProgress& progress) {
    std::vector<double> values;
    const std::uint32_t sampleCount = static_cast<std::uint32_t>(table.sampleNames().size());
    for (std::int32_t r = 0; r < table.simulations(); ++r) {
        const MLGTable simulated = simulateSample(sampleCount, table, generator);
        for (const MLGTuple& mlg : simulated.mlgs()) {
            if (mlg.sampleCount() <= 1) {
                continue;
            }
            MLGTable single(table.ploidy(), table.locusCount(), table.frequencyFromSamples(),
                            table.fisModel(), table.simulations());
            single.addSample(mlg);
            single.setFrequencies(table.loci());
            single.computeProbabilities(sampleCount, messages);
            const double psex = single.mlgs().front().psex();
            values.insert(std::lower_bound(values.begin(), values.end(), psex), psex);
        }
        if (progress) {
            progress(static_cast<std::uint64_t>(r) + 1,
                     static_cast<std::uint64_t>(table.simulations()));
        }
    }
    return values;
}

} // namespace psex
