// threads_cli_test.cpp                                           -*-C++-*-
//
// End-to-end: the number of simulation threads (PSEX_THREADS) changes
// nothing a run gives.  The built program runs in fresh folders with 1, 2
// and 3 threads on the shipped examples and on a generated large table, all
// in one run so that each file continues the random stream where the one
// before it left it; standard output, standard error, the exit status and
// every result file must be the same byte for byte.

#include "runpsex.h"
#include "scratchfolder.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using psex::test::readFile;
using psex::test::ScratchFolder;
using psex::test::writeFile;

// A partly clonal data set: 'samples' diploid samples at 12 loci with 6 to
// 16 alleles, every fourth sample a copy of an earlier one.  The conversions
// to alleles are written out, so the file is the same on every platform.
std::string largeTable(int samples, int simulations) {
    std::mt19937 random(15);
    std::ostringstream text;
    text << "PLOIDY=2\nLOCUSCOUNT=12\nSIMULATIONS=" << simulations << "\nTITLE=large\n\nSample";
    for (int c = 0; c < 24; ++c) {
        text << ",c" << c;
    }
    text << '\n';
    std::vector<std::vector<int>> genotypes;
    for (int s = 0; s < samples; ++s) {
        if (s > 0 && random() % 4 == 0) {
            genotypes.push_back(genotypes[random() % genotypes.size()]);
        } else {
            std::vector<int> genotype;
            for (int l = 0; l < 12; ++l) {
                const unsigned alleles = 6 + static_cast<unsigned>(l) % 11;
                // skewed: low allele numbers are more frequent
                const unsigned a = static_cast<unsigned>(random() % alleles);
                const unsigned b = static_cast<unsigned>(random() % (a + 1));
                genotype.push_back(100 + 2 * static_cast<int>(a));
                genotype.push_back(100 + 2 * static_cast<int>(b));
            }
            genotypes.push_back(genotype);
        }
        text << 'S' << s;
        for (const int allele : genotypes.back()) {
            text << ',' << allele;
        }
        text << '\n';
    }
    return text.str();
}

// Run the program on the specified 'inputs' (name and content) in one
// command line, with the specified number of simulation 'threads'.
psex::test::RunResult runWithThreads(const std::vector<std::pair<std::string, std::string>>& inputs,
                                     const std::string& threads) {
    ScratchFolder scratch;
    std::vector<std::string> arguments;
    psex::test::RunOptions options;
    for (const auto& [name, content] : inputs) {
        writeFile(scratch / name, content);
        arguments.push_back(name);
        options.inputs.insert(name);
    }
    options.prepare = [threads] { ::setenv("PSEX_THREADS", threads.c_str(), 1); };
    return psex::test::runProgram(PSEX_BINARY, scratch.path(), arguments, options);
}

TEST(Threads, GiveTheSameResultsWhateverTheirNumber) {
    std::vector<std::pair<std::string, std::string>> inputs;
    inputs.emplace_back("large.txt", largeTable(4000, 40));
    for (const auto& entry : fs::directory_iterator(PSEX_EXAMPLES_DIR)) {
        if (entry.path().extension() == ".txt") {
            inputs.emplace_back(entry.path().filename().string(), readFile(entry.path()));
        }
    }
    std::sort(inputs.begin() + 1, inputs.end());
    ASSERT_GE(inputs.size(), 4u);

    const psex::test::RunResult one = runWithThreads(inputs, "1");
    ASSERT_EQ(0, one.status) << one.err;
    ASSERT_GE(one.files.size(), 4 * inputs.size()); // at least four result files each
    for (const std::string threads : {"2", "3"}) {
        const psex::test::RunResult other = runWithThreads(inputs, threads);
        EXPECT_EQ(one.status, other.status) << threads << " threads";
        EXPECT_EQ(one.out, other.out) << threads << " threads";
        EXPECT_EQ(one.err, other.err) << threads << " threads";
        ASSERT_EQ(one.files.size(), other.files.size()) << threads << " threads";
        for (const auto& [name, content] : one.files) {
            EXPECT_TRUE(other.files.count(name) && other.files.at(name) == content)
                << name << " differs with " << threads << " threads";
        }
    }
}

} // namespace
