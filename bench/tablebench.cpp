// tablebench.cpp                                                 -*-C++-*-
//
// psex-tablebench: time building the genotype table of one data file, and
// nothing else.
//
// A whole run of psex also draws and groups SIMULATIONS simulated data sets;
// even with SIMULATIONS=1 that simulated data set costs about as much as the
// real table, so the run's time does not show the table alone.  This
// program does what psex does before simulating: open the file, read the
// header and the columns, group every sample into its multilocus genotype,
// estimate the allele frequencies and compute PGen and PSex of every
// genotype (for a genotype found n times among N samples that is a sum of n
// binomial terms, which is what makes one very large clone expensive).
//
// It also times what the simulation sets up before its first draw: the
// allele samplers of every locus (see src/allelesampler.h), whose set-up
// must stay about linear in the number of alleles even for a locus with
// tens of thousands of them.
//
// Usage: psex-tablebench FILE [REPEATS]
// Prints one line: samples=... mlgs=... largest_mlg=... largest_psex=...
// most_alleles=... repeats=... best_seconds=... sampler_seconds=...
// It links the library of the tree it is built in, so it times that tree's
// code whatever psex binary the benchmark runs otherwise.

#include "base/messagesink.h"
#include "model/datareader.h"
#include "model/locus.h"
#include "model/mlgtable.h"
#include "model/tablebuilder.h"
#include "simulation/allelesampler.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Measurement {
    double seconds = 0.0;
    double samplerSeconds = 0.0;
    std::uint32_t mostAlleles = 0;
    std::size_t samples = 0;
    std::size_t mlgs = 0;
    std::uint32_t largestMlg = 0;
    double largestPsex = 0.0;
};

bool buildOnce(const char* path, Measurement& measurement) {
    const auto start = std::chrono::steady_clock::now();
    std::ifstream input(path);
    if (!input) {
        return false;
    }
    psex::MessageSink messages = psex::standardStreams();
    psex::DataReader reader(input, messages);
    const psex::MLGTable table = psex::buildTable(reader, messages);
    const auto stop = std::chrono::steady_clock::now();

    measurement.seconds = std::chrono::duration<double>(stop - start).count();
    const auto samplerStart = std::chrono::steady_clock::now();
    std::vector<psex::AlleleSampler> samplers;
    for (const psex::Locus& locus : table.loci()) {
        samplers.emplace_back(locus);
        measurement.mostAlleles = std::max(measurement.mostAlleles, samplers.back().alleleCount());
    }
    const auto samplerStop = std::chrono::steady_clock::now();
    measurement.samplerSeconds = std::chrono::duration<double>(samplerStop - samplerStart).count();
    measurement.samples = table.sampleNames().size();
    measurement.mlgs = table.mlgs().size();
    measurement.largestMlg = 0;
    for (const psex::MLGTuple& mlg : table.mlgs()) {
        if (mlg.sampleCount() > measurement.largestMlg) {
            measurement.largestMlg = mlg.sampleCount();
            measurement.largestPsex = mlg.psex();
        }
    }
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    unsigned long repeats = 1;
    if (argc == 3) {
        char* end = nullptr;
        repeats = std::strtoul(argv[2], &end, 10);
        if (end == argv[2] || *end != '\0' || argv[2][0] == '-') {
            repeats = 0;
        }
    }
    if (argc < 2 || argc > 3 || repeats == 0) {
        std::fprintf(stderr, "usage: psex-tablebench FILE [REPEATS]  (REPEATS a positive count)\n");
        return 2;
    }
    Measurement best;
    for (unsigned long r = 0; r < repeats; ++r) {
        Measurement next;
        if (!buildOnce(argv[1], next)) {
            std::fprintf(stderr, "psex-tablebench: cannot open '%s'\n", argv[1]);
            return 2;
        }
        const double samplerSeconds =
            r == 0 ? next.samplerSeconds : std::min(best.samplerSeconds, next.samplerSeconds);
        if (r == 0 || next.seconds < best.seconds) {
            best = next;
        }
        best.samplerSeconds = samplerSeconds;
    }
    std::printf("samples=%zu mlgs=%zu largest_mlg=%u largest_psex=%.6g most_alleles=%u "
                "repeats=%lu best_seconds=%.6f sampler_seconds=%.6f\n",
                best.samples, best.mlgs, best.largestMlg, best.largestPsex, best.mostAlleles,
                repeats, best.seconds, best.samplerSeconds);
    return 0;
}
