// fastsimulation.cpp                                             -*-C++-*-
#include "simulation/fastsimulation.h"

#include "base/contract.h"
#include "base/messagesink.h"
#include "base/threads.h"
#include "model/binomial.h"
#include "model/locus.h"
#include "model/tablebuilder.h"
#include "simulation/allelesampler.h"
#include "simulation/parallelrun.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace psex {

namespace {

// One simulated data set after another, as genotype codes grouped by hash.
template <class CODE>
class FastSimulation {
    const MLGTable& d_table;
    std::uint32_t d_sampleCount;
    std::size_t d_locusCount;
    std::int32_t d_ploidy;
    const std::vector<AlleleSampler>& d_samplers; // shared by every thread
    bool d_hasMissingCode;
    std::vector<double> d_fis; // the real data's Fis by locus, under MODEL=FIS
    BinomialTail d_tail;

    // A slot of the hash table that groups a data set's samples by genotype;
    // one probe reads one cache line.  The slots take no hash of their own:
    // with a million samples per data set and thread every byte of a slot
    // counts, and a genotype that is not the one sought differs from it in
    // its first codes nearly always.
    struct Slot {
        std::uint32_t first; // the first sample with the genotype
        std::uint32_t count; // samples with it; 0: the slot is empty
    };

    std::vector<CODE> d_codes;     // sample-major, one per locus
    std::vector<double> d_uniform; // the draws of one sample
    std::vector<Slot> d_slots;
    std::vector<std::uint32_t> d_usedSlots;
    std::map<double, std::uint64_t> d_values;
    FamilywiseCounter d_smallest; // the smallest PSex of each data set, counted

    struct Repeat {
        std::uint32_t sample; // the first sample with the genotype
        std::uint32_t count;
        double pgen;
        double termSum;
    };

    // A sample's codes take a whole number of 8-byte words (the padding
    // stays 0), and its hash is a sum of one product per word, so that the
    // products do not wait for each other, then mixed once.
    std::size_t d_stride;                     // codes from one sample to the next
    std::vector<std::uint64_t> d_multipliers; // odd, one per word

    std::uint64_t hashOf(const CODE* codes) const {
        std::uint64_t sum = 0;
        for (std::size_t w = 0; w < d_multipliers.size(); ++w) {
            std::uint64_t word;
            std::memcpy(&word, reinterpret_cast<const unsigned char*>(codes) + 8 * w, 8);
            sum += word * d_multipliers[w];
        }
        return mixed(sum);
    }

    static std::uint64_t mixed(std::uint64_t sum) {
        sum = (sum ^ (sum >> 31)) * 0x9E3779B97F4A7C15ull;
        return sum ^ (sum >> 29);
    }

    const CODE* codesOf(std::uint32_t sample) const {
        return &d_codes[static_cast<std::size_t>(sample) * d_stride];
    }

    // Return the slot where the search for the specified 'hash' begins: the
    // table need not have a power of two slots (a million samples would
    // otherwise take two million).
    std::size_t slotOf(std::uint64_t hash) const {
        return static_cast<std::size_t>(((hash >> 32) * d_slots.size()) >> 32);
    }

    void group(std::uint32_t sample, std::uint64_t hash) {
        const std::size_t size = d_slots.size();
        const CODE* codes = codesOf(sample);
        for (std::size_t index = slotOf(hash);; index = index + 1 == size ? 0 : index + 1) {
            Slot& slot = d_slots[index];
            if (slot.count == 0) {
                slot = {sample, 1};
                d_usedSlots.push_back(static_cast<std::uint32_t>(index));
                return;
            }
            if (std::equal(codes, codes + d_locusCount, codesOf(slot.first))) {
                ++slot.count;
                return;
            }
        }
    }

    double pgen(const CODE* codes) const {
        double probability = 1.0;
        for (std::size_t j = 0; j < d_locusCount; ++j) {
            const AlleleSampler& sampler = d_samplers[j];
            const std::uint32_t first = sampler.firstIndex(codes[j], d_ploidy);
            const std::uint32_t second = d_ploidy == 2 ? sampler.secondIndex(codes[j]) : first;
            if (d_hasMissingCode &&
                (first == sampler.alleleCount() || second == sampler.alleleCount())) {
                continue; // a copy without an allele holds the missing code
            }
            const bool heterozygous = d_ploidy == 2 && first != second;
            const double fis = d_fis.empty() ? 0.0 : d_fis[j];
            probability =
                probability * genotypeTerm(d_ploidy, heterozygous, sampler.frequencyAt(first),
                                           d_ploidy == 2 ? sampler.frequencyAt(second) : 1.0,
                                           d_table.fisModel(), fis);
        }
        return probability;
    }

    std::vector<std::int32_t> storedAlleles(const CODE* codes) const {
        std::vector<std::int32_t> alleles;
        for (std::size_t j = 0; j < d_locusCount; ++j) {
            const AlleleSampler& sampler = d_samplers[j];
            alleles.push_back(sampler.valueAt(sampler.firstIndex(codes[j], d_ploidy)));
            if (d_ploidy == 2) {
                alleles.push_back(sampler.valueAt(sampler.secondIndex(codes[j])));
            }
        }
        return alleles;
    }

    // Computing a PSex on a one-genotype table may write the rounding
    // warning, genotype after genotype in the order of a table: ascending by
    // alleles.  Return the smallest PSex of the data set's repeats.
    std::optional<double> record(std::vector<Repeat>& repeats, bool warns, MessageSink& messages) {
        if (warns) {
            std::vector<std::pair<std::vector<std::int32_t>, std::size_t>> ordered;
            for (std::size_t r = 0; r < repeats.size(); ++r) {
                ordered.emplace_back(storedAlleles(codesOf(repeats[r].sample)), r);
            }
            std::sort(ordered.begin(), ordered.end());
            std::vector<Repeat> sorted;
            for (const auto& entry : ordered) {
                sorted.push_back(repeats[entry.second]);
            }
            repeats.swap(sorted);
        }
        std::optional<double> smallest;
        for (const Repeat& repeat : repeats) {
            const double psex = d_tail.psex(repeat.count, repeat.pgen, repeat.termSum, messages);
            ++d_values[psex];
            if (!smallest || psex < *smallest) {
                smallest = psex;
            }
        }
        return smallest;
    }

  public:
    FastSimulation(const MLGTable& table, const std::vector<AlleleSampler>& samplers,
                   const FamilywiseCounter& smallest)
        : d_table(table), d_sampleCount(static_cast<std::uint32_t>(table.sampleNames().size())),
          d_locusCount(table.loci().size()), d_ploidy(table.ploidy()), d_samplers(samplers),
          d_hasMissingCode(table.missingCode().has_value()), d_fis(table.modelFis()),
          d_tail(d_sampleCount), d_smallest(smallest) {
        // At most half of the slots are taken.
        const std::size_t slots = 16 + static_cast<std::size_t>(d_sampleCount) * 2;
        const std::size_t words = (d_locusCount * sizeof(CODE) + 7) / 8;
        d_stride = words * 8 / sizeof(CODE);
        std::uint64_t multiplier = 0x9E3779B97F4A7C15ull;
        for (std::size_t w = 0; w < words; ++w) {
            multiplier = multiplier * 0xD1342543DE82EF95ull + 1;
            d_multipliers.push_back(multiplier | 1);
        }
        d_codes.resize(static_cast<std::size_t>(d_sampleCount) * d_stride);
        d_uniform.resize(d_locusCount * static_cast<std::size_t>(d_ploidy));
        d_slots.assign(slots, Slot{0, 0});
    }

    template <AlleleSampler::Lookup LOOKUP>
    void drawAllSamples(LaggedFibonacci607& draws) {
        if (d_ploidy == 2) {
            drawSamples<2, LOOKUP>(draws);
        } else {
            drawSamples<1, LOOKUP>(draws);
        }
    }

    // Draw the samples of one data set, store their genotype codes and group
    // them.  A sample is grouped only after the next one is drawn: its slot
    // is fetched into the cache meanwhile.
    template <int PLOIDY, AlleleSampler::Lookup LOOKUP>
    void drawSamples(LaggedFibonacci607& draws) {
        // Everything the loop reads is in locals: the codes it stores could
        // otherwise alias the members, which would be read again each time.
        const AlleleSampler* samplers = d_samplers.data();
        const std::size_t loci = d_locusCount;
        const std::size_t stride = d_stride;
        const std::uint32_t samples = d_sampleCount;
        double* buffer = d_uniform.data();
        CODE* codes = d_codes.data();
        std::uint64_t pendingHash = 0;
        for (std::uint32_t s = 0; s < samples; ++s, codes += stride) {
            const double* uniform = draws.next(loci * PLOIDY, buffer);
            for (std::size_t j = 0; j < loci; ++j) {
                const AlleleSampler& sampler = samplers[j];
                std::uint64_t code;
                if constexpr (PLOIDY == 2) {
                    code = sampler.template diploidCodeOfDraws<LOOKUP>(uniform[2 * j],
                                                                       uniform[2 * j + 1]);
                } else {
                    code = sampler.template haploidCodeOfDraw<LOOKUP>(uniform[j]);
                }
                codes[j] = static_cast<CODE>(code);
            }
            const std::uint64_t hash = hashOf(codes);
            __builtin_prefetch(&d_slots[slotOf(hash)]);
            if (s > 0) {
                group(s - 1, pendingHash);
            }
            pendingHash = hash;
        }
        if (samples > 0) {
            group(samples - 1, pendingHash);
        }
    }

    void simulateOne(LaggedFibonacci607& draws, MessageSink& messages) {
        // Loci that all look their draws up the same way (microsatellites
        // in the bucket table, SNPs among their few thresholds) are drawn
        // without a test per draw.
        const auto usesTable = [](const AlleleSampler& sampler) { return sampler.usesTable(); };
        if (std::all_of(d_samplers.begin(), d_samplers.end(), usesTable)) {
            drawAllSamples<AlleleSampler::e_table>(draws);
        } else if (std::all_of(d_samplers.begin(), d_samplers.end(),
                               [](const AlleleSampler& sampler) {
                                   return sampler.hasTwoAllelesAtMost();
                               })) {
            drawAllSamples<AlleleSampler::e_twoAtMost>(draws);
        } else if (std::none_of(d_samplers.begin(), d_samplers.end(), usesTable)) {
            drawAllSamples<AlleleSampler::e_few>(draws);
        } else {
            drawAllSamples<AlleleSampler::e_either>(draws);
        }

        std::vector<Repeat> repeats;
        bool warns = false;
        for (const std::uint32_t index : d_usedSlots) {
            Slot& slot = d_slots[index];
            if (slot.count > 1) {
                const double g = pgen(codesOf(slot.first));
                const double sum = d_tail.termSum(slot.count, g);
                warns = warns || psexWarns(sum);
                repeats.push_back({slot.first, slot.count, g, sum});
            }
            slot.count = 0;
        }
        d_usedSlots.clear();
        d_smallest.addDataSet(record(repeats, warns, messages));
    }

    std::map<double, std::uint64_t> takeValueCounts() { return std::move(d_values); }
    const FamilywiseCounter& smallest() const { return d_smallest; }
};

template <class CODE>
PsexList simulate(const MLGTable& table, LaggedFibonacci607& generator, MessageSink& messages,
                  const SimulationProgress& progress, std::uint64_t simulations, unsigned threads,
                  FamilywiseCounter& smallest) {
    // Each thread simulates its data sets with a simulation of its own; the
    // PSex values of all are counted together at the end.
    const std::uint64_t perDataSet = table.sampleNames().size() * table.loci().size() *
                                     static_cast<std::uint64_t>(table.ploidy());
    threads = threadCountOrDefault(threads);
    // The samplers are only read while drawing: one set serves every
    // thread (a panel of many loci would otherwise hold one per thread).
    std::vector<AlleleSampler> samplers;
    samplers.reserve(table.loci().size());
    for (const Locus& locus : table.loci()) {
        samplers.emplace_back(locus, table.missingCode().value_or(0));
    }
    std::vector<std::unique_ptr<FastSimulation<CODE>>> workers(threads);
    runDataSets(
        simulations, perDataSet, generator, threads,
        [&](unsigned thread) {
            workers[thread] = std::make_unique<FastSimulation<CODE>>(
                table, samplers, FamilywiseCounter(smallest.observed()));
            FastSimulation<CODE>* worker = workers[thread].get();
            return DataSetTask([worker](LaggedFibonacci607& draws, MessageSink& sink) {
                worker->simulateOne(draws, sink);
            });
        },
        messages, progress);
    std::map<double, std::uint64_t> counts;
    const std::uint64_t before = smallest.dataSets();
    for (auto& worker : workers) {
        if (worker) {
            const std::map<double, std::uint64_t> values = worker->takeValueCounts();
            smallest.add(worker->smallest());
            worker.reset(); // its codes and slots go before the counts grow
            for (const auto& [value, count] : values) {
                counts[value] += count;
            }
        }
    }
    PSEX_ASSERT(smallest.dataSets() == before + simulations);
    return PsexList::fromRuns({counts.begin(), counts.end()});
}

} // namespace

PsexList simulatedPsexList(const MLGTable& table, LaggedFibonacci607& generator,
                           MessageSink& messages, const SimulationProgress& progress,
                           unsigned threads, FamilywiseCounter* smallest) {
    FamilywiseCounter unused;
    FamilywiseCounter& counter = smallest ? *smallest : unused;
    const std::uint64_t simulations = static_cast<std::uint64_t>(std::max(table.simulations(), 0));
    const std::uint64_t sampleCount = table.sampleNames().size();
    if (sampleCount < 2) {
        counter.addDataSetsWithoutRepeat(simulations);
        // No genotype can repeat; the draws are made all the same, so that
        // the random stream goes on exactly as it would.
        generator.discard(simulations * sampleCount * table.loci().size() *
                          static_cast<std::uint64_t>(table.ploidy()));
        if (progress && simulations > 0) {
            progress(simulations, simulations);
        }
        return PsexList();
    }
    // The narrowest genotype codes that every locus fits: a byte up to 15
    // alleles (microsatellites, SNPs), which quarters the memory a simulated
    // data set passes through.
    std::uint64_t largestBase = 1;
    for (const Locus& locus : table.loci()) {
        largestBase = std::max<std::uint64_t>(largestBase, std::uint64_t(locus.alleleCount()) + 1);
    }
    const std::uint64_t codes = largestBase * largestBase;
    if (codes <= (std::uint64_t(1) << 8)) {
        return simulate<std::uint8_t>(table, generator, messages, progress, simulations, threads,
                                      counter);
    }
    if (codes <= (std::uint64_t(1) << 16)) {
        return simulate<std::uint16_t>(table, generator, messages, progress, simulations, threads,
                                       counter);
    }
    if (codes <= (std::uint64_t(1) << 32)) {
        return simulate<std::uint32_t>(table, generator, messages, progress, simulations, threads,
                                       counter);
    }
    return simulate<std::uint64_t>(table, generator, messages, progress, simulations, threads,
                                   counter);
}

void judgeBySimulation(MLGTable& table, LaggedFibonacci607& generator, MessageSink& messages,
                       const SimulationProgress& progress, unsigned threads) {
    table.clearPsexValues();
    FamilywiseCounter smallest(table.repeatedPsexValues());
    table.setPsexValues(
        simulatedPsexList(table, generator, messages, progress, threads, &smallest));
    table.assignPValues();
    table.assignFamilywisePValues(smallest);
}

MLGTable buildAndSimulate(DataReader& reader, LaggedFibonacci607& generator, MessageSink& messages,
                          const SimulationProgress& progress, unsigned threads) {
    MLGTable table = buildTable(reader, messages);
    judgeBySimulation(table, generator, messages, progress, threads);
    return table;
}

} // namespace psex
