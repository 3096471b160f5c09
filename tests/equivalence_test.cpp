// equivalence_test.cpp                                           -*-C++-*-
//
// End-to-end tests of runs that must agree with each other: a data file and
// a twin that differs only in something that must change nothing (a missing
// code that no value uses, the order of the two alleles of a locus, a key
// that forms lineages), and a data file whose reading fails part-way, which
// must leave no result behind.

#include "runpsex.h"
#include "scratchfolder.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using psex::test::readFile;
using psex::test::RunResult;
using psex::test::ScratchFolder;
using psex::test::writeFile;

RunResult runOn(const std::string& content, const psex::test::RunOptions& options = {}) {
    ScratchFolder folder;
    writeFile(folder / "data.txt", content);
    psex::test::RunOptions withInput = options;
    withInput.inputs.insert("data.txt");
    return psex::test::runProgram(PSEX_BINARY, folder.path(), {"data.txt"}, withInput);
}

std::string meadow(const std::string& extraHeader, bool reversedPairs) {
    std::string text = "PLOIDY=2\nLOCUSCOUNT=3\nLOCUSNAMES=A,B,C\nSIMULATIONS=50\nTITLE=m\n" +
                       extraHeader + "\nS,a1,a2,b1,b2,c1,c2\n";
    const char* lines[] = {"r1,151,155,200,204,90,94", "r2,151,155,200,204,90,94",
                           "r3,153,155,202,204,92,94", "r4,151,151,200,200,90,90",
                           "r5,153,155,202,204,92,94", "r6,151,153,200,202,94,94",
                           "r7,155,155,204,204,90,92", "r8,151,153,202,204,90,94"};
    for (std::string line : lines) {
        if (reversedPairs) {
            // Every pair written larger value first: 155,151 for 151,155.
            std::string name = line.substr(0, line.find(','));
            std::string rest = line.substr(line.find(',') + 1);
            std::string swapped = name;
            for (int locus = 0; locus < 3; ++locus) {
                const std::string first = rest.substr(0, rest.find(','));
                rest = rest.substr(rest.find(',') + 1);
                const std::size_t comma = rest.find(',');
                const std::string second = rest.substr(0, comma);
                rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
                swapped += ',' + second + ',' + first;
            }
            line = swapped;
        }
        text += line + '\n';
    }
    return text;
}

TEST(Equivalence, AMissingCodeThatNoValueUsesChangesOnlyTheEcho) {
    const RunResult plain = runOn(meadow("", false));
    const RunResult coded = runOn(meadow("MISSING=0\n", false));
    ASSERT_EQ(0, plain.status);
    EXPECT_EQ(plain.status, coded.status);
    EXPECT_EQ(plain.out, coded.out);
    EXPECT_EQ(plain.err, coded.err);
    ASSERT_EQ(psex::test::fileNamesOf(plain), psex::test::fileNamesOf(coded));
    for (const auto& [name, content] : plain.files) {
        if (name == "simresults_m.csv") {
            std::string echoed = content;
            echoed.replace(echoed.find("PLOIDY,"), 0, "MISSING,0\n");
            EXPECT_EQ(echoed, coded.files.at(name));
        } else {
            EXPECT_EQ(content, coded.files.at(name)) << name;
        }
    }
}

TEST(Equivalence, AllelePairsInEitherOrderGiveTheSameResults) {
    const RunResult ordered = runOn(meadow("", false));
    const RunResult reversed = runOn(meadow("", true));
    EXPECT_EQ(ordered.out, reversed.out);
    EXPECT_EQ(ordered.err, reversed.err);
    EXPECT_EQ(ordered.files, reversed.files);
}

TEST(Equivalence, FormingLineagesChangesNoOtherResult) {
    const RunResult plain = runOn(meadow("", false));
    const RunResult lineages = runOn(meadow("MLLDISTANCE=2\n", false));
    EXPECT_EQ(plain.out, lineages.out);
    EXPECT_EQ(plain.err, lineages.err);
    EXPECT_EQ(1u, lineages.files.count("distances_m.csv"));
    // Same simulated values, PSex and levels; only the echo and the lineage
    // numbers and figures differ.
    std::string echoed = plain.files.at("simresults_m.csv");
    echoed.replace(echoed.find("PLOIDY,"), 0, "MLLDISTANCE,2\n");
    EXPECT_EQ(echoed, lineages.files.at("simresults_m.csv"));
    EXPECT_EQ(plain.files.at("fulltable_m.csv"), lineages.files.at("fulltable_m.csv"));
}

TEST(ReadError, DiscardsTheResultsOfAFileThatCannotBeReadToItsEnd) {
    std::string data = "PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=3\nTITLE=broken\n\nS,a\n";
    for (int s = 0; s < 400; ++s) {
        data += "sample" + std::to_string(s) + ',' + std::to_string(1 + s % 3) + '\n';
    }
    ScratchFolder folder;
    writeFile(folder / "broken.txt", data);
    writeFile(folder / "fine.txt", "PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=3\nTITLE=fine\n\nS,a\n"
                                   "x,1\ny,1\n");
    writeFile(folder / "fulltable_broken.csv", "older\n");
    psex::test::RunOptions options;
    options.inputs = {"broken.txt", "fine.txt"};
    options.prepare = [] {
        ::setenv("LD_PRELOAD", PSEX_FAILING_READ, 1);
        ::setenv("PSEX_TEST_FAIL_PATH", "broken.txt", 1);
        ::setenv("PSEX_TEST_FAIL_AFTER", "2000", 1); // some 200 samples in
    };
    const RunResult run =
        psex::test::runProgram(PSEX_BINARY, folder.path(), {"broken.txt", "fine.txt"}, options);
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("Reading file broken.txt\nReading file fine.txt\n"
              "Results are written to 'simresults_fine.csv'.\n",
              run.out);
    EXPECT_EQ("error: cannot read 'broken.txt'.\n"
              "warning: only 3 simulated repeats; levels finer than 1/3 are not resolved (the "
              "0.001 level needs 1000): raise SIMULATIONS.\n",
              run.err);
    // Nothing of the broken file is written; its older file stays.
    EXPECT_EQ("older\n", run.files.at("fulltable_broken.csv"));
    EXPECT_EQ(0u, run.files.count("simresults_broken.csv"));
    EXPECT_EQ(1u, run.files.count("simresults_fine.csv"));

    // The same file read whole is analysed.
    const RunResult whole = runOn(data);
    EXPECT_EQ(0, whole.status);
    EXPECT_NE(std::string::npos, whole.files.at("simresults_broken.csv").find("\nN,400\n"));
}

// ---- the field data (read from beside the repository, skipped without it) ----

std::string fieldData(const std::string& name) {
    const std::string path = std::string(PSEX_FIELD_DATA_DIR) + '/' + name;
    return std::filesystem::exists(path) ? readFile(path) : std::string();
}

// Return the specified data file 'text' with the specified header 'line'
// added after its PLOIDY line.
std::string withHeaderLine(std::string text, const std::string& line) {
    const std::size_t at = text.find('\n', text.find("PLOIDY=")) + 1;
    return text.insert(at, line + '\n');
}

std::map<std::string, std::vector<std::string>> samplesByName(const std::string& samples) {
    // Return the cells of every row of a samples file by sample name.
    std::map<std::string, std::vector<std::string>> rows;
    std::istringstream in(samples);
    std::string line;
    std::getline(in, line); // the header row
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::istringstream cellsIn(line);
        for (std::string cell; std::getline(cellsIn, cell, ',');) {
            cells.push_back(cell);
        }
        rows[cells.front()] = cells;
    }
    return rows;
}

TEST(FieldData, AMissingCodeThatNoValueUsesChangesOnlyTheEcho) {
    for (const char* name : {"posidonia.txt", "zostera.txt"}) {
        const std::string data = fieldData(name);
        if (data.empty()) {
            GTEST_SKIP() << "no field data beside the repository";
        }
        const RunResult plain = runOn(data);
        const RunResult coded = runOn(withHeaderLine(data, "MISSING=0"));
        EXPECT_EQ(plain.out, coded.out) << name;
        EXPECT_EQ(plain.err, coded.err) << name;
        for (const auto& [file, content] : plain.files) {
            if (file.rfind("simresults_", 0) == 0) {
                std::string echoed = content;
                echoed.replace(echoed.find("\nMODEL,") + 1, 0, "MISSING,0\n");
                EXPECT_EQ(echoed, coded.files.at(file)) << file;
            } else {
                EXPECT_EQ(content, coded.files.at(file)) << file;
            }
        }
    }
}

TEST(FieldData, ARametWithAFailedLocusStaysItsOwnMLGButJoinsItsLineage) {
    // P11, P12 and P15 of the Posidonia meadow are one clone.  P12's first
    // locus fails (written 0,0 with MISSING=0): it is a genotype of its own,
    // and a lineage distance of one copy joins it to the clone (over the six
    // loci typed in both it is at distance 0).
    std::string data = fieldData("posidonia.txt");
    if (data.empty()) {
        GTEST_SKIP() << "no field data beside the repository";
    }
    const std::size_t row = data.find("\nP12,") + 5;
    const std::size_t secondComma = data.find(',', data.find(',', row) + 1);
    data.replace(row, secondComma - row, "0,0");
    const RunResult run = runOn(withHeaderLine(data, "MISSING=0\nMLLDISTANCE=1"));
    ASSERT_EQ(0, run.status);
    EXPECT_NE(std::string::npos, run.err.find("note: missing allele copies: Po15 2\n"));
    const auto rows = samplesByName(run.files.at("samples_posidonia.csv"));
    const auto& p11 = rows.at("P11");
    const auto& p12 = rows.at("P12");
    const auto& p15 = rows.at("P15");
    EXPECT_EQ(p11[1], p15[1]); // one MLG ...
    EXPECT_EQ("2", p11[2]);    // ... of two samples now
    EXPECT_NE(p11[1], p12[1]); // P12 its own MLG,
    EXPECT_EQ("1", p12[2]);
    EXPECT_EQ(p11[7], p12[7]); // but in the clone's lineage
    EXPECT_EQ(p11[7], p15[7]);
}

// Return the specified data file 'text' with coordinates: the header line
// COORDINATES=x,y (with the specified 'keys' after it) and two columns after
// the alleles, sample i (from 0) at (i mod 4, i / 4 + i * 0.25).
std::string located(const std::string& text, const std::string& keys) {
    std::istringstream in(withHeaderLine(text, "COORDINATES=x,y" + keys));
    std::string out;
    bool columns = false;
    int sample = -1;
    for (std::string line; std::getline(in, line);) {
        if (columns && !line.empty()) {
            line += ',';
            line += std::to_string(sample % 4) + ',' + std::to_string(sample / 4 + sample * 0.25);
        }
        if (!columns && line.rfind("S,", 0) == 0) {
            line += ",x,y";
            columns = true;
        }
        sample += columns ? 1 : 0;
        out += line + '\n';
    }
    return out;
}

TEST(Coordinates, ChangeOnlyTheEchoAndAddTheirRowsAndFiles) {
    const std::string data = meadow("MLLDISTANCE=2\n", false);
    const RunResult plain = runOn(data);
    const RunResult mapped = runOn(located(data, "\nSPATIAL=20"));
    ASSERT_EQ(0, mapped.status) << mapped.err;
    EXPECT_EQ(plain.err, mapped.err);
    EXPECT_EQ(plain.out, mapped.out);
    for (const auto& [file, content] : plain.files) {
        if (file.rfind("simresults_", 0) == 0) {
            std::string echoed = content;
            // The echo lists the keys in byte-wise order.
            echoed.replace(echoed.find("\nLOCUSCOUNT,") + 1, 0, "COORDINATES,x,y\n");
            echoed.replace(echoed.find("\nTITLE,") + 1, 0, "SPATIAL,20\n");
            EXPECT_EQ(echoed, mapped.files.at(file)) << file;
        } else if (file.rfind("summary_", 0) == 0) {
            // Each unit's rows gain four, and the kinship units come last.
            const std::string& summary = mapped.files.at(file);
            const std::size_t mll = content.find("\nG,mll,");
            ASSERT_EQ(content.substr(0, mll + 1), summary.substr(0, mll + 1));
            EXPECT_EQ(0, summary.compare(mll + 1, 17, "subrange_max,mlg,"));
            EXPECT_NE(std::string::npos, summary.find("\nkinship_first_class,genets,"));
        } else {
            EXPECT_EQ(content, mapped.files.at(file)) << file;
        }
    }
    EXPECT_EQ(1u, mapped.files.count("spatial_m.csv"));
    EXPECT_EQ(1u, mapped.files.count("kinship_m.csv"));
}

TEST(Coordinates, GiveTheSameResultsOnAnyNumberOfThreads) {
    const std::string data = located(meadow("MLLDISTANCE=1\n", false), "\nSPATIAL=50");
    std::vector<RunResult> runs;
    for (const char* threads : {"1", "2", "3"}) {
        psex::test::RunOptions options;
        options.prepare = [threads] { ::setenv("PSEX_THREADS", threads, 1); };
        runs.push_back(runOn(data, options));
    }
    ASSERT_FALSE(runs[0].files.at("spatial_m.csv").empty());
    for (const RunResult& run : runs) {
        EXPECT_EQ(runs[0].files, run.files);
        EXPECT_EQ(runs[0].err, run.err);
    }
}

} // namespace
