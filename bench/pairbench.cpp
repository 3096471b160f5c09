// pairbench.cpp                                                  -*-C++-*-
//
// psex-pairbench: time the all-pairs phase of lineages on one data file, and
// nothing else.
//
// A whole run of psex with MLLDISTANCE also reads the file, builds the
// table, draws the simulated data sets and writes the results; for a SNP
// panel of 5,000 loci reading and building the table alone takes longer
// than comparing the pairs.  This program builds the table as psex does and
// then times 'formLineages' alone: coding the MLGs for the comparison,
// comparing every pair (the observed-distance histogram and the links
// within MLLDISTANCE) and numbering the lineages, on the given number of
// threads and instruction path.
//
// Usage: psex-pairbench FILE [REPEATS [THREADS [PATH]]]
//   REPEATS  best of this many runs (default 3)
//   THREADS  threads comparing pairs, 0 for every core (default 0)
//   PATH     portable or avx2 (default: the widest the processor runs)
// Prints one line: mlgs=... loci=... ploidy=... pairs=... path=...
// threads=... repeats=... best_seconds=... cpu_seconds=... ns_per_pair=...
// cpu_ns_per_pair=... lineages=... table_rss_mb=... peak_rss_mb=...
// (best wall and best processor time of the repeats; per pair of MLGs)  (table_rss_mb: peak
// resident memory once the table is built; peak_rss_mb: after the pairs are compared) It links the
// library of the tree it is built in.

#include "analysis/lineages.h"
#include "analysis/pairdistances.h"
#include "base/messagesink.h"
#include "model/datareader.h"
#include "model/mlgtable.h"
#include "model/tablebuilder.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

double processorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

double peakResidentMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

bool parseCount(const char* text, unsigned long& value) {
    char* end = nullptr;
    value = std::strtoul(text, &end, 10);
    return end != text && *end == '\0' && text[0] != '-';
}

} // namespace

int main(int argc, char* argv[]) {
    unsigned long repeats = 3;
    unsigned long threads = 0;
    psex::VectorPath path = psex::PairDistances::fastestPath();
    bool usable = argc >= 2 && argc <= 5;
    if (usable && argc >= 3) {
        usable = parseCount(argv[2], repeats) && repeats > 0;
    }
    if (usable && argc >= 4) {
        usable = parseCount(argv[3], threads);
    }
    if (usable && argc >= 5) {
        if (std::strcmp(argv[4], "portable") == 0) {
            path = psex::VectorPath::e_portable;
        } else if (std::strcmp(argv[4], "avx2") == 0) {
            path = psex::VectorPath::e_avx2;
        } else {
            usable = false;
        }
    }
    if (!usable) {
        std::fprintf(stderr, "usage: psex-pairbench FILE [REPEATS [THREADS [portable|avx2]]]\n");
        return 2;
    }
    if (!psex::PairDistances::isSupported(path)) {
        std::fprintf(stderr, "psex-pairbench: this processor does not run '%s'\n", argv[4]);
        return 2;
    }
    std::ifstream input(argv[1]);
    if (!input) {
        std::fprintf(stderr, "psex-pairbench: cannot open '%s'\n", argv[1]);
        return 2;
    }
    psex::MessageSink messages = psex::standardStreams();
    psex::DataReader reader(input, messages);
    const psex::MLGTable table = psex::buildTable(reader, messages);
    if (!table.lineageDistance()) {
        std::fprintf(stderr, "psex-pairbench: '%s' has no MLLDISTANCE\n", argv[1]);
        return 2;
    }
    const double tableRss = peakResidentMb();
    psex::PairDistances::setDefaultPath(path);

    double best = 0.0;
    double bestCpu = 0.0;
    std::uint32_t lineages = 0;
    for (unsigned long r = 0; r < repeats; ++r) {
        const double startCpu = processorSeconds();
        const auto start = std::chrono::steady_clock::now();
        const psex::Lineages formed =
            psex::formLineages(table, *table.lineageDistance(), static_cast<unsigned>(threads));
        const auto stop = std::chrono::steady_clock::now();
        const double seconds = std::chrono::duration<double>(stop - start).count();
        const double cpu = processorSeconds() - startCpu;
        if (r == 0 || seconds < best) {
            best = seconds;
        }
        if (r == 0 || cpu < bestCpu) {
            bestCpu = cpu;
        }
        lineages = formed.count;
    }
    const double g = static_cast<double>(table.mlgs().size());
    const double pairs = g * (g - 1.0) / 2.0;
    std::printf("mlgs=%zu loci=%u ploidy=%d pairs=%.0f path=%s threads=%lu repeats=%lu "
                "best_seconds=%.6f cpu_seconds=%.6f ns_per_pair=%.3f cpu_ns_per_pair=%.3f "
                "lineages=%u table_rss_mb=%.2f peak_rss_mb=%.2f\n",
                table.mlgs().size(), table.locusCount(), table.ploidy(), pairs,
                path == psex::VectorPath::e_avx2 ? "avx2" : "portable", threads, repeats, best,
                bestCpu, pairs > 0 ? best * 1e9 / pairs : 0.0,
                pairs > 0 ? bestCpu * 1e9 / pairs : 0.0, lineages, tableRss, peakResidentMb());
    return 0;
}
