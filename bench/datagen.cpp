// datagen.cpp                                                    -*-C++-*-
//
// psex-datagen: write a synthetic data file of a partly clonal population,
// the input of the benchmark.
//
// The population is a set of clones.  Clone sizes follow a discrete Pareto
// (Zipf) law, P(size = s) proportional to s^-alpha for s = 1, 2, ...: most
// genotypes are found once, a few are found very often, as in seagrass
// meadows or other clonal plants.  Optionally one clone of a given size is
// planted first.  Every clone gets one genotype, each allele copy drawn
// independently from the locus's allele frequencies; all samples of a clone
// carry it.  The samples are then shuffled, so that the members of a clone
// are spread through the file as in real sampling.
//
// Alleles look like microsatellite sizes: 100, 102, 104, ...  Their
// frequencies are unequal: a broken-stick draw (the gaps between sorted
// uniform points, a flat Dirichlet), mixed with the uniform distribution by
// a weight of 0.1 so that no allele is so rare that it never shows up.
//
// The file is the same, byte for byte, for the same options on every
// machine: the random source is std::mt19937_64, whose output sequence the
// C++ standard fixes, and every conversion to a distribution is done here
// (the standard library's distributions differ between implementations).
// SIMULATIONS and TITLE only change the header, so data sets that differ in
// the number of simulations alone have identical data lines.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

namespace {

const char k_usage[] =
    "usage: psex-datagen --samples N --loci L [options]\n"
    "  --samples N          number of samples (data lines), at least 1\n"
    "  --loci L             number of loci, at least 1\n"
    "  --ploidy P           1 (haploid) or 2 (diploid); default 2\n"
    "  --alleles A          alleles per locus; default 12\n"
    "  --allele-spread D    per-locus allele count drawn from A-D .. A+D; default 0\n"
    "  --clone-exponent X   Zipf exponent of clone sizes, above 1; default 2.5\n"
    "  --plant-clone S      plant one clone of exactly S samples; default none\n"
    "  --simulations S      SIMULATIONS in the header; default 1000\n"
    "  --title T            TITLE in the header (letters, digits, '.', '_', '-');\n"
    "                       default synthetic\n"
    "  --seed X             seed of the random source; default 1\n"
    "  --output FILE        file to write; default standard output\n";

struct Options {
    std::uint64_t samples = 0;
    std::uint64_t loci = 0;
    std::uint64_t ploidy = 2;
    std::uint64_t alleles = 12;
    std::uint64_t alleleSpread = 0;
    double cloneExponent = 2.5;
    std::uint64_t plantedClone = 0;
    std::uint64_t simulations = 1000;
    std::string title = "synthetic";
    std::uint64_t seed = 1;
    std::string output;
};

[[noreturn]] void fail(const std::string& message) {
    std::cerr << "psex-datagen: " << message << '\n' << k_usage;
    std::exit(2);
}

std::uint64_t parseCount(const std::string& name, const char* text) {
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0' || text[0] == '-' || text[0] == '+') {
        fail("option " + name + " needs a non-negative integer, not '" + text + "'");
    }
    return value;
}

double parseReal(const std::string& name, const char* text) {
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(value)) {
        fail("option " + name + " needs a number, not '" + text + "'");
    }
    return value;
}

bool isSafeTitle(const std::string& title) {
    return !title.empty() && std::all_of(title.begin(), title.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '_' || c == '-';
    });
}

void checkOptions(const Options& options) {
    if (options.samples < 1 || options.samples > 10000000) {
        fail("--samples must lie in 1 .. 10000000");
    }
    if (options.loci < 1 || options.loci > 1000000) {
        fail("--loci must lie in 1 .. 1000000");
    }
    if (options.ploidy != 1 && options.ploidy != 2) {
        fail("--ploidy must be 1 or 2");
    }
    if (options.alleles < 1 || options.alleles > 100000 ||
        options.alleleSpread >= options.alleles) {
        fail("--alleles must lie in 1 .. 100000 and --allele-spread below it");
    }
    if (!(options.cloneExponent > 1.0)) {
        fail("--clone-exponent must be above 1");
    }
    if (options.plantedClone > options.samples) {
        fail("--plant-clone cannot exceed --samples");
    }
    if (options.simulations < 1 || options.simulations > 2147483647) {
        fail("--simulations must lie in 1 .. 2147483647");
    }
    if (!isSafeTitle(options.title)) {
        fail("--title must be letters, digits, '.', '_' or '-' (it names the result files)");
    }
}

Options parseOptions(int argc, char* argv[]) {
    Options options;
    for (int i = 1; i < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            std::cout << k_usage;
            std::exit(0);
        }
        if (i + 1 >= argc) {
            fail("option " + name + " needs a value");
        }
        const char* value = argv[i + 1];
        if (name == "--samples") {
            options.samples = parseCount(name, value);
        } else if (name == "--loci") {
            options.loci = parseCount(name, value);
        } else if (name == "--ploidy") {
            options.ploidy = parseCount(name, value);
        } else if (name == "--alleles") {
            options.alleles = parseCount(name, value);
        } else if (name == "--allele-spread") {
            options.alleleSpread = parseCount(name, value);
        } else if (name == "--clone-exponent") {
            options.cloneExponent = parseReal(name, value);
        } else if (name == "--plant-clone") {
            options.plantedClone = parseCount(name, value);
        } else if (name == "--simulations") {
            options.simulations = parseCount(name, value);
        } else if (name == "--title") {
            options.title = value;
        } else if (name == "--seed") {
            options.seed = parseCount(name, value);
        } else if (name == "--output") {
            options.output = value;
        } else {
            fail("unknown option '" + name + "'");
        }
    }
    checkOptions(options);
    return options;
}

class Random {
    // Uniform numbers and indices from a 64-bit Mersenne Twister, converted
    // here so that every platform gets the same values.

    // DATA
    std::mt19937_64 d_engine;

  public:
    // CREATORS
    explicit Random(std::uint64_t seed) : d_engine(seed) {}

    // MANIPULATORS
    double uniform() { return static_cast<double>(d_engine() >> 11) * 0x1.0p-53; }
    // Return a number uniform in [0, 1) with 53 random bits.

    std::uint64_t index(std::uint64_t bound) {
        // Return an integer uniform in [0, 'bound'), without modulo bias.
        const std::uint64_t rejectBelow = (0 - bound) % bound; // 2^64 mod bound
        std::uint64_t x = d_engine();
        while (x < rejectBelow) {
            x = d_engine();
        }
        return x % bound;
    }
};

// Return the position of the first entry of the ascending 'cumulative'
// weights that exceeds the specified 'target' (the last one when none does,
// which only rounding can cause).
std::size_t pick(const std::vector<double>& cumulative, double target) {
    const auto it = std::upper_bound(cumulative.begin(), cumulative.end(), target);
    return it == cumulative.end() ? cumulative.size() - 1
                                  : static_cast<std::size_t>(it - cumulative.begin());
}

struct LocusModel {
    std::vector<std::int32_t> alleles; // 100, 102, ...
    std::vector<double> cumulative;    // running sum of their frequencies
};

LocusModel makeLocus(std::uint64_t alleleCount, Random& random) {
    std::vector<double> points(alleleCount - 1);
    for (double& point : points) {
        point = random.uniform();
    }
    std::sort(points.begin(), points.end());
    LocusModel locus;
    double previous = 0.0;
    double running = 0.0;
    for (std::uint64_t k = 0; k < alleleCount; ++k) {
        const double next = k + 1 < alleleCount ? points[k] : 1.0;
        running += 0.9 * (next - previous) + 0.1 / static_cast<double>(alleleCount);
        previous = next;
        locus.alleles.push_back(100 + 2 * static_cast<std::int32_t>(k));
        locus.cumulative.push_back(running);
    }
    return locus;
}

std::vector<LocusModel> makeLoci(const Options& options, Random& random) {
    std::vector<LocusModel> loci;
    for (std::uint64_t l = 0; l < options.loci; ++l) {
        const std::uint64_t count =
            options.alleles - options.alleleSpread + random.index(2 * options.alleleSpread + 1);
        loci.push_back(makeLocus(count, random));
    }
    return loci;
}

// Return clone sizes adding up to the number of samples: the planted clone
// first, if any, then Zipf draws, the last one cut to what is left.
std::vector<std::uint64_t> makeCloneSizes(const Options& options, Random& random) {
    std::vector<double> cumulative(options.samples);
    double running = 0.0;
    for (std::uint64_t s = 1; s <= options.samples; ++s) {
        running += std::pow(static_cast<double>(s), -options.cloneExponent);
        cumulative[s - 1] = running;
    }
    std::vector<std::uint64_t> sizes;
    std::uint64_t left = options.samples;
    if (options.plantedClone > 0) {
        sizes.push_back(options.plantedClone);
        left -= options.plantedClone;
    }
    while (left > 0) {
        const std::uint64_t size = pick(cumulative, random.uniform() * running) + 1;
        sizes.push_back(std::min(size, left));
        left -= sizes.back();
    }
    return sizes;
}

// Return one genotype, locus-major, each locus's alleles in ascending order.
std::vector<std::int32_t> drawGenotype(const std::vector<LocusModel>& loci, std::uint64_t ploidy,
                                       Random& random) {
    std::vector<std::int32_t> genotype;
    for (const LocusModel& locus : loci) {
        const std::size_t first = genotype.size();
        for (std::uint64_t k = 0; k < ploidy; ++k) {
            genotype.push_back(
                locus.alleles[pick(locus.cumulative, random.uniform() * locus.cumulative.back())]);
        }
        std::sort(genotype.begin() + static_cast<std::ptrdiff_t>(first), genotype.end());
    }
    return genotype;
}

std::string zeroPadded(std::uint64_t value, std::uint64_t largest) {
    const std::size_t width = std::to_string(largest).size();
    std::string text = std::to_string(value);
    return std::string(width - text.size(), '0') + text;
}

void writeHeader(std::ostream& out, const Options& options,
                 const std::vector<std::string>& locusNames) {
    out << "# Synthetic partly clonal population written by psex-datagen (seed " << options.seed
        << ", clone exponent " << options.cloneExponent << ").\n";
    out << "PLOIDY=" << (options.ploidy == 2 ? "DIPLOID" : "HAPLOID") << '\n';
    out << "FREQUENCY=SAMPLE\nMODEL=HWE\n";
    out << "SIMULATIONS=" << options.simulations << '\n';
    out << "LOCUSCOUNT=" << options.loci << '\n';
    out << "LOCUSNAMES=";
    for (std::size_t l = 0; l < locusNames.size(); ++l) {
        out << (l == 0 ? "" : ",") << locusNames[l];
    }
    out << "\nTITLE=" << options.title << "\n\nSample";
    for (const std::string& name : locusNames) {
        if (options.ploidy == 2) {
            out << ',' << name << "_a," << name << "_b";
        } else {
            out << ',' << name;
        }
    }
    out << '\n';
}

// Write the header and one data line per sample to the specified 'out', and
// a summary (number of clones, size of the largest) to standard error.
void writeFile(std::ostream& out, const Options& options) {
    Random random(options.seed);
    const std::vector<LocusModel> loci = makeLoci(options, random);
    const std::vector<std::uint64_t> sizes = makeCloneSizes(options, random);

    std::vector<std::vector<std::int32_t>> genotypes;
    std::vector<std::uint32_t> cloneOfSample;
    for (std::size_t c = 0; c < sizes.size(); ++c) {
        genotypes.push_back(drawGenotype(loci, options.ploidy, random));
        cloneOfSample.insert(cloneOfSample.end(), sizes[c], static_cast<std::uint32_t>(c));
    }
    for (std::size_t i = cloneOfSample.size(); i > 1; --i) {
        std::swap(cloneOfSample[i - 1], cloneOfSample[random.index(i)]);
    }

    std::vector<std::string> locusNames;
    for (std::uint64_t l = 1; l <= options.loci; ++l) {
        std::string name(1, 'L');
        name += zeroPadded(l, options.loci);
        locusNames.push_back(name);
    }
    writeHeader(out, options, locusNames);
    for (std::size_t s = 0; s < cloneOfSample.size(); ++s) {
        out << 'S' << zeroPadded(s + 1, options.samples);
        for (const std::int32_t allele : genotypes[cloneOfSample[s]]) {
            out << ',' << allele;
        }
        out << '\n';
    }
    std::cerr << "psex-datagen: " << options.samples << " samples in " << sizes.size()
              << " clones, the largest of " << *std::max_element(sizes.begin(), sizes.end())
              << " samples\n";
}

} // namespace

int main(int argc, char* argv[]) {
    const Options options = parseOptions(argc, argv);
    if (options.output.empty()) {
        writeFile(std::cout, options);
        std::cout.flush();
        return std::cout ? 0 : 1;
    }
    std::ofstream out(options.output);
    if (!out) {
        std::cerr << "psex-datagen: cannot open '" << options.output << "' for writing\n";
        return 1;
    }
    writeFile(out, options);
    out.close();
    if (!out) {
        std::cerr << "psex-datagen: cannot write '" << options.output << "'\n";
        return 1;
    }
    return 0;
}
