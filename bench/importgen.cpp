// importgen.cpp                                                  -*-C++-*-
//
// psex-importgen: write a large genotype table as a lab keeps it, the
// input of the psex-import benchmark (bench/import.sh).
//
// The table has one row per sample: its name (S0000001, ...), its
// population (one of P, drawn uniformly, so that the rows of a population
// are spread through the file as in a merged sheet), and the two allele
// copies of each of L diploid loci, sized like microsatellites (100, 102,
// ...).  A share of the copies is missing, written as 0, NA or an empty
// cell.  It is written as a plain comma-separated table, as a GenAlEx sheet
// or as a genepop file (whose populations are runs of rows after a "Pop"
// line: the rows are then grouped by population).
//
// The file is the same, byte for byte, for the same options on every
// machine: std::mt19937_64 is fixed by the standard, and every conversion
// to a choice is written out here.

#include <algorithm>
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

const char k_usage[] = "usage: psex-importgen --samples N --loci L --populations P [options]\n"
                       "  --samples N        rows, at least 1\n"
                       "  --loci L           diploid loci, at least 1\n"
                       "  --populations P    populations, from 1 to N\n"
                       "  --missing PERCENT  share of missing copies; default 5\n"
                       "  --format F         table, genalex or genepop; default table\n"
                       "  --seed X           seed of the random source; default 1\n"
                       "  --output FILE      file to write; default standard output\n";

[[noreturn]] void fail(const std::string& message) {
    std::cerr << "psex-importgen: " << message << '\n' << k_usage;
    std::exit(2);
}

std::uint64_t count(const std::string& name, const char* text) {
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0' || text[0] == '-') {
        fail(name + " needs a whole number, not '" + text + "'");
    }
    return value;
}

// Return the specified 'prefix' followed by 'value' in decimal, padded with
// zeros to 'width' digits.  (Built in place: GCC 12 misreads a literal plus
// a temporary string as an overlapping copy.)
std::string padded(const char* prefix, std::uint64_t value, int width) {
    const std::string digits = std::to_string(value);
    std::string text = prefix;
    text.append(static_cast<std::size_t>(std::max(0, width - static_cast<int>(digits.size()))),
                '0');
    text += digits;
    return text;
}

} // namespace

int main(int argc, char* argv[]) {
    std::uint64_t samples = 0;
    std::uint64_t loci = 0;
    std::uint64_t populations = 0;
    std::uint64_t missing = 5;
    std::uint64_t seed = 1;
    std::string format = "table";
    std::string output;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::cout << k_usage;
            return 0;
        }
        if (i + 1 == argc) {
            fail("option " + option + " needs a value");
        }
        const char* value = argv[++i];
        if (option == "--samples") {
            samples = count(option, value);
        } else if (option == "--loci") {
            loci = count(option, value);
        } else if (option == "--populations") {
            populations = count(option, value);
        } else if (option == "--missing") {
            missing = count(option, value);
        } else if (option == "--seed") {
            seed = count(option, value);
        } else if (option == "--format") {
            format = value;
        } else if (option == "--output") {
            output = value;
        } else {
            fail("unknown option '" + option + "'");
        }
    }
    if (samples == 0 || loci == 0 || populations == 0 || populations > samples || missing > 100 ||
        (format != "table" && format != "genalex" && format != "genepop")) {
        fail("--samples, --loci and --populations are needed, with 1 <= P <= N, a share of at "
             "most 100 and a format of table, genalex or genepop");
    }

    std::mt19937_64 engine(seed);
    const auto below = [&](std::uint64_t n) { return engine() % n; };
    std::vector<std::uint32_t> populationOf(samples);
    for (std::uint64_t i = 0; i < samples; ++i) {
        populationOf[i] = static_cast<std::uint32_t>(i < populations ? i : below(populations));
    }
    std::vector<std::uint64_t> order(samples);
    for (std::uint64_t i = 0; i < samples; ++i) {
        order[i] = i;
    }
    if (format == "genepop") {
        std::stable_sort(order.begin(), order.end(), [&](std::uint64_t a, std::uint64_t b) {
            return populationOf[a] < populationOf[b];
        });
    }

    std::ofstream file;
    if (!output.empty()) {
        file.open(output, std::ios::binary);
        if (!file) {
            fail("cannot write '" + output + "'");
        }
    }
    std::ostream& out = output.empty() ? std::cout : file;
    const char separator = ',';
    std::string line;
    if (format == "genalex") {
        out << loci << separator << samples << separator << populations << "\n";
        out << "Synthetic meadows" << separator << separator << "\n";
    }
    if (format == "genepop") {
        out << "Synthetic meadows, genepop\n";
        for (std::uint64_t l = 0; l < loci; ++l) {
            out << padded("L", l + 1, 2) << "\n";
        }
    } else {
        line = format == "genalex" ? "Sample,Site" : "Sample,Pop";
        for (std::uint64_t l = 0; l < loci; ++l) {
            const std::string name = padded("L", l + 1, 2);
            line += format == "genalex" ? "," + name + "," : "," + name + "," + name;
        }
        out << line << "\n";
    }
    std::uint32_t previous = static_cast<std::uint32_t>(-1);
    for (const std::uint64_t i : order) {
        const std::string name = padded("S", i + 1, 7);
        const std::string population = padded("P", populationOf[i] + 1, 5);
        if (format == "genepop") {
            if (populationOf[i] != previous) {
                out << "Pop " << population << "\n";
                previous = populationOf[i];
            }
            line = name + ",";
        } else {
            line = name + separator + population;
        }
        for (std::uint64_t c = 0; c < 2 * loci; ++c) {
            const bool gap = below(100) < missing;
            const std::uint64_t allele = 100 + 2 * below(12);
            if (format == "genepop") {
                if (c % 2 == 0) {
                    line += ' ';
                }
                line += gap ? std::string("000") : std::to_string(allele);
            } else {
                const char* codes[] = {"0", "NA", ""};
                line += separator;
                line += gap ? std::string(codes[below(3)]) : std::to_string(allele);
            }
        }
        out << line << "\n";
    }
    out.flush();
    if (!out) {
        fail("writing failed");
    }
    return 0;
}
