// robustness_test.cpp                                            -*-C++-*-
//
// End-to-end tests of the built program against hostile and broken input
// and against failing disks.  Each runs the program in fresh folders.
//
// Where the expected result cannot be written out by hand (a 100 MB sample
// name, bytes that are not text), the test runs the program twice: on the
// hostile file and on a plain twin that differs only in the hostile part,
// and the two runs must agree byte for byte once that part is mapped.

#include "runpsex.h"
#include "scratchfolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using psex::test::fileNamesOf;
using psex::test::k_addressSanitizer;
using psex::test::readFile;
using psex::test::RunResult;
using psex::test::ScratchFolder;
using psex::test::writeFile;
using Names = std::set<std::string>;

// Run the program with the specified 'arguments' in the specified 'folder'
// and collect its console output, exit status and the files in 'folder'
// afterwards (except those listed in 'inputs').  The optionally specified
// 'prepare' runs in the child just before the program starts.
RunResult runPsex(const fs::path& folder, const std::vector<std::string>& arguments,
                  const Names& inputs = {}, const std::function<void()>& prepare = {}) {
    return psex::test::runProgram(PSEX_BINARY, folder, arguments, {inputs, prepare, {}});
}

// Run the program in a new folder holding one data file 'data.txt' with the
// specified 'content'.
RunResult runOnData(const std::string& content, const std::function<void()>& prepare = {}) {
    ScratchFolder folder;
    writeFile(folder / "data.txt", content);
    return runPsex(folder.path(), {"data.txt"}, {"data.txt"}, prepare);
}

std::string repeated(const std::string& piece, std::size_t count) {
    std::string text;
    text.reserve(piece.size() * count);
    for (std::size_t i = 0; i < count; ++i) {
        text += piece;
    }
    return text;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

void expectSameRun(const RunResult& expected, const RunResult& actual) {
    EXPECT_EQ(expected.status, actual.status);
    EXPECT_EQ(expected.out, actual.out);
    EXPECT_EQ(expected.err, actual.err);
    ASSERT_EQ(expected.files.size(), actual.files.size());
    for (const auto& [name, content] : expected.files) {
        ASSERT_EQ(1u, actual.files.count(name)) << name;
        EXPECT_TRUE(content == actual.files.at(name)) << "result file " << name << " differs";
    }
}

// Return the warning that a run with the specified 'repeats' simulated
// repeats of a table with a clonal MLG writes (fewer than 1000).
std::string repeatsWarning(int repeats) {
    const std::string m = std::to_string(repeats);
    return "warning: only " + m + " simulated repeats; levels finer than 1/" + m +
           " are not resolved (the 0.001 level needs 1000): raise SIMULATIONS.\n";
}

// ---- hostile and broken input ----

TEST(HostileInput, ReadsAFileWithAByteOrderMarkLikeOneWithout) {
    const std::string data = "PLOIDY=2\nLOCUSCOUNT=1\nLOCUSNAMES=A\nSIMULATIONS=5\n\n"
                             "Sample,a1,a2\ns1,1,2\ns2,1,2\ns3,2,2\ns4,1,1\n";
    const RunResult plain = runOnData(data);
    const RunResult marked = runOnData("\xEF\xBB\xBF" + data);
    // Without the skip, the mark would join the first key ("\xEF\xBB\xBFPLOIDY"),
    // and PLOIDY would be reported missing (and the key as unknown).
    EXPECT_EQ(0u, plain.err.rfind("warning: only ", 0)) << plain.err;
    EXPECT_EQ(plain.err.size() - 1, plain.err.find('\n')) << plain.err;
    EXPECT_EQ("Reading file data.txt\nResults are written to 'simresults_data.txt.csv'.\n",
              plain.out);
    expectSameRun(plain, marked);
}

TEST(HostileInput, PassesNulBytesAndInvalidUtf8ThroughAsOrdinaryBytes) {
    // Every hostile byte is an ordinary byte: its twin has an 'X' in its
    // place, and the two runs agree once the same bytes are mapped to 'X'.
    const std::string hostile[] = {std::string(1, '\0'), "\xFF", "\xFE", "\xC3", "\x80",
                                   "\xED\xA0\x80"};
    auto withBytes = [&](bool plain) {
        auto b = [&](int i) { return plain ? std::string(hostile[i].size(), 'X') : hostile[i]; };
        return "# comment " + b(0) + b(1) + "\n" + "PLOIDY=2\nLOCUSCOUNT=2\nSIMULATIONS=4\n" +
               "LOCUSNAMES=A" + b(0) + ",B" + b(5) + "\n" + "NOTE" + b(2) + "=v" + b(0) + b(3) +
               "\n" + "TITLE=run" + b(1) + b(4) + "\n\n" + "S" + b(0) + ",a,b,c" + b(1) + ",d\n" +
               "s" + b(0) + "1,12" + b(0) + ",14,7,7\n" + "s" + b(5) + "2,12,14" + b(1) + ",7,7" +
               b(3) + "\n" + b(0) + ",14,14,7,9\n" + "s4,12,12," + b(2) + "9,9\n";
    };
    // The hostile bytes never occur in what the program writes by itself
    // (plain ASCII), so mapping each of them to 'X' undoes the difference.
    auto mapped = [&](std::string text) {
        for (char& c : text) {
            for (const std::string& bytes : hostile) {
                if (bytes.find(c) != std::string::npos) {
                    c = 'X';
                }
            }
        }
        return text;
    };
    const RunResult plain = runOnData(withBytes(true));
    RunResult raw = runOnData(withBytes(false));
    ASSERT_EQ(0, plain.status);
    ASSERT_EQ(4u, plain.files.size()); // simresults, fulltable, samples, summary
    RunResult rawMapped;
    rawMapped.status = raw.status;
    rawMapped.out = mapped(raw.out);
    rawMapped.err = mapped(raw.err);
    for (const auto& [name, content] : raw.files) {
        rawMapped.files[mapped(name)] = mapped(content);
    }
    expectSameRun(plain, rawMapped);
    // The bytes themselves arrive: a NUL in a sample name, invalid UTF-8 in
    // the file name taken from TITLE.
    EXPECT_EQ(1u, raw.files.count("fulltable_run\xFF\x80.csv"));
    EXPECT_NE(std::string::npos, raw.files["fulltable_run\xFF\x80.csv"].find(std::string("\ns\0"
                                                                                         "1,MLG_",
                                                                                         8)));
}

TEST(HostileInput, AnalysesAnEmptyFileAsAFileWithoutHeaderAndColumns) {
    const RunResult run = runOnData("");
    EXPECT_EQ(1, run.status); // no sample: empty results are no success
    EXPECT_EQ("Reading file data.txt\n"
              "Error:1: end of file while parsing header variable.\n"
              "Results are written to 'simresults_data.txt.csv'.\n",
              run.out);
    EXPECT_EQ("error: PLOIDY is unspecified, assuming DIPLOID.\n"
              "error: LOCUSCOUNT is unspecified, assuming 1.\n"
              "error: SIMULATIONS is unspecified, assuming 1000.\n"
              "error: not enough columns in table according to ploidy and locus count "
              "(should be: 3 has: 0).\n"
              "error: no sample was read from 'data.txt'.\n",
              run.err);
    // One unnamed diploid locus, no sample: every statistic that needs a
    // sample is the dash cell, and no simulated data set has a repeat.
    const std::string simulationResults = "Datafile,data.txt\n\n"
                                          "MLG,n,PSex,Significance,Level,PGen,_0,_1\n"
                                          "\n"
                                          ",,,,,\n"
                                          "Number of alleles,,,,0,\n"
                                          "He,,,,\"-\",\n"
                                          "Ho,,,,\"-\",\n"
                                          "Fis,,,,\"-\",\n"
                                          "\n\n"
                                          "Clonal Richness\n"
                                          "G,0\nN,0\nR,\"-\"\nPd,\"-\"\n"
                                          "Single MLGs,0\nClonal MLGs,0\n"
                                          "\n"
                                          "PValue(0.01),1,significance level,0\n"
                                          "PValue(0.05),1,significance level,0\n"
                                          "PValue(0.10),1,significance level,0\n"
                                          "\n"
                                          "Samplesize,0\nPValues,0\n"
                                          "\n\n"
                                          "Allele frequencies:\n"
                                          "Locus \n"
                                          "\n\n"
                                          "PSex Values:\n"
                                          "\n\n"
                                          "\n\n"
                                          "Specified parameters:\n"
                                          "\n";
    const std::string fullTable = "Datafile,data.txt\n\n"
                                  "Sample,MLG,PSex,PValue,_0,_1\n"
                                  "\n\n";
    // The tidy files: no sample row, and no figure that needs a sample.
    std::string summary = "statistic,unit,value\n";
    for (const char* unit : {"mlg", "mll"}) {
        summary += std::string("G,") + unit + ",0\nN," + unit + ",0\nR," + unit + ",NA\nPd," +
                   unit + ",NA\nsingle," + unit + ",0\nclonal," + unit + ",0\n";
        for (const char* index : {"simpson", "shannon", "evenness_E5", "pielou_J", "pareto_beta"}) {
            summary += std::string(index) + ',' + unit + ",NA\n";
        }
        if (std::string(unit) == "mlg") {
            summary += "simulated_repeats,mlg,0\n";
            for (const char* level : {"0.01", "0.05", "0.10"}) {
                summary += std::string("threshold_") + level + ",mlg,NA\nrealized_level_" + level +
                           ",mlg,NA\n";
            }
            summary += "genets_0.05,mlg,0\n";
        }
    }
    ASSERT_EQ(4u, run.files.size());
    EXPECT_EQ(simulationResults, run.files.at("simresults_data.txt.csv"));
    EXPECT_EQ(fullTable, run.files.at("fulltable_data.txt.csv"));
    EXPECT_EQ("sample,mlg,n,pgen,psex,p_value,level,mll,p_familywise,level_familywise\n",
              run.files.at("samples_data.txt.csv"));
    EXPECT_EQ(summary, run.files.at("summary_data.txt.csv"));
}

TEST(HostileInput, ReadsADataFileFromAFifo) {
    const std::string data = "PLOIDY=1\nLOCUSCOUNT=2\nSIMULATIONS=3\n\n"
                             "S,a,b\nx,1,2\ny,1,2\nz,1,3\n";
    const RunResult fromFile = runOnData(data);

    ScratchFolder folder;
    const std::string fifo = (folder / "data.txt").string();
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    const pid_t writer = ::fork();
    if (writer == 0) {
        const int out = ::open(fifo.c_str(), O_WRONLY); // waits for the reader
        const bool complete =
            out >= 0 && ::write(out, data.data(), data.size()) == ssize_t(data.size());
        ::_exit(complete ? 0 : 1);
    }
    const RunResult fromFifo = runPsex(folder.path(), {"data.txt"}, {"data.txt"});
    // Should the program not have opened the FIFO, the writer still waits:
    // open it once for reading so that it can end.
    const int unblock = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    int writerStatus = 0;
    ::waitpid(writer, &writerStatus, 0);
    if (unblock >= 0) {
        ::close(unblock);
    }
    EXPECT_TRUE(WIFEXITED(writerStatus) && WEXITSTATUS(writerStatus) == 0);
    expectSameRun(fromFile, fromFifo);
}

TEST(HostileInput, TreatsAFolderGivenAsDataFileAsAFileThatCannotBeOpened) {
    ScratchFolder folder;
    const std::string data = "PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=2\n\nS,a\nx,1\n";
    writeFile(folder / "first.txt", data);
    writeFile(folder / "last.txt", data);
    fs::create_directory(folder / "folder.txt");
    const Names inputs{"first.txt", "last.txt"};

    const RunResult alone = runPsex(folder.path(), {"folder.txt"}, inputs);
    EXPECT_EQ(2, alone.status);
    EXPECT_EQ("", alone.out);
    EXPECT_EQ("", alone.err);
    EXPECT_TRUE(alone.files.empty());

    // The first file is complete; nothing after the folder is processed.
    const RunResult between =
        runPsex(folder.path(), {"first.txt", "folder.txt", "last.txt"}, inputs);
    EXPECT_EQ(2, between.status);
    EXPECT_EQ("Reading file first.txt\nResults are written to 'simresults_first.txt.csv'.\n",
              between.out);
    EXPECT_EQ("", between.err);
    EXPECT_EQ((Names{"fulltable_first.txt.csv", "samples_first.txt.csv", "simresults_first.txt.csv",
                     "summary_first.txt.csv"}),
              fileNamesOf(between));
    EXPECT_TRUE(fs::is_empty(folder / "folder.txt"));
}

TEST(HostileInput, EndsWithStatusOneWhenStandardOutputCannotBeWritten) {
    // Standard output on a full disk: the log of the run is lost, which must
    // not pass for a clean run; the result files are written all the same.
    const std::string data = "PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=2\n\nS,a\nx,1\ny,2\n";
    const RunResult run = runOnData(data, [] {
        const int full = ::open("/dev/full", O_WRONLY);
        if (full >= 0) {
            ::dup2(full, 1);
        }
    });
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("error: cannot write to standard output.\n", run.err);
    const RunResult plain = runOnData(data);
    EXPECT_EQ(0, plain.status);
    EXPECT_EQ(plain.files, run.files);
}

TEST(HostileInput, StopsAtAMissingDataFile) {
    ScratchFolder folder;
    const RunResult missing = runPsex(folder.path(), {"missing.txt"});
    EXPECT_EQ(2, missing.status);
    EXPECT_EQ("", missing.out);
    EXPECT_EQ("", missing.err);
    EXPECT_TRUE(missing.files.empty());
}

TEST(HostileInput, StopsAtAnUnreadableDataFile) {
    ScratchFolder folder;
    writeFile(folder / "locked.txt", "PLOIDY=1\n\nS\n");
    ::chmod((folder / "locked.txt").c_str(), 0);
    // Root reads a file without read permission through the capabilities
    // that override file permissions; the program runs without them (they
    // leave the bounding set, so its start does not give them back).
    const auto withoutOverride = [] {
        if (::geteuid() == 0 && (::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) != 0 ||
                                 ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0) != 0)) {
            const char message[] = "cannot drop the capabilities that override permissions\n";
            [[maybe_unused]] const ssize_t written =
                ::write(STDERR_FILENO, message, sizeof message - 1);
            ::_exit(125);
        }
    };
    const RunResult locked =
        runPsex(folder.path(), {"locked.txt"}, {"locked.txt"}, withoutOverride);
    EXPECT_EQ(2, locked.status);
    EXPECT_EQ("", locked.out);
    EXPECT_EQ("", locked.err);
    EXPECT_TRUE(locked.files.empty());
}

TEST(HostileInput, CarriesLinesOfAHundredMegabytes) {
    // A sample name of 100 MB goes through to the full table; a line with
    // 100 MB of empty trailing fields reads like one with two of them.
    const std::string longName(100'000'000, 'n');
    auto data = [](const std::string& name, const std::string& trailing) {
        return "PLOIDY=2\nLOCUSCOUNT=1\nSIMULATIONS=2\n\nS,a,b\n" + name + ",1,2\ny,1,2" +
               trailing + "\nz,2,2\n";
    };
    const RunResult plain = runOnData(data("LONGNAME", ",,"));
    RunResult huge = runOnData(data(longName, std::string(100'000'000, ',')));
    ASSERT_EQ(0, plain.status);
    for (const char* name : {"fulltable_data.txt.csv", "samples_data.txt.csv"}) {
        std::string& content = huge.files[name];
        const std::size_t at = content.find(longName);
        ASSERT_NE(std::string::npos, at) << name;
        content.replace(at, longName.size(), "LONGNAME");
    }
    expectSameRun(plain, huge);
}

TEST(HostileInput, AnalysesAHundredThousandColumns) {
    // 99,999 haploid loci, each monomorphic (allele 7), and two samples:
    // one MLG of two samples with PGen 1, so PSex = 1 - P(fewer than two of
    // two) = 1; every simulated data set repeats it, so the list is {1}, no
    // value lies below 1 (p-value 0) and 1 is not below the threshold 1.
    constexpr int k_loci = 99'999;
    std::string names, columns, alleles, alleleCells, locusCells, counts, zeros, ones,
        locusFrequencies;
    for (int j = 1; j <= k_loci; ++j) {
        std::string name(1, 'L');
        name += std::to_string(j);
        names += (j > 1 ? "," : "") + name;
        columns += ",c" + std::to_string(j);
        alleles += ",7";
        alleleCells += "," + name + "_0";
        locusCells += "," + name + ",";
        counts += ",1,";
        zeros += ",0,";
        ones += ",1,";
        locusFrequencies += "Locus " + name + "\n,7,1\n";
    }
    const std::string header =
        "PLOIDY=1\nLOCUSCOUNT=99999\nLOCUSNAMES=" + names + "\nSIMULATIONS=1\n\n";
    const RunResult run =
        runOnData(header + "S" + columns + "\ns1" + alleles + "\ns2" + alleles + "\n");
    EXPECT_EQ(0, run.status);
    EXPECT_EQ("Reading file data.txt\nResults are written to 'simresults_data.txt.csv'.\n",
              run.out);
    EXPECT_EQ(repeatsWarning(1), run.err); // one simulated data set, one repeat
    const std::string simulationResults =
        "Datafile,data.txt\n\n"
        "MLG,n,PSex,Significance,Level,PGen" +
        alleleCells +
        "\n"
        "MLG1,2,1,0,ns,1" +
        alleles +
        "\n"
        "\n"
        ",,," +
        locusCells +
        "\n"
        "Number of alleles,,," +
        counts +
        "\n"
        "He,,," +
        zeros +
        "\n"
        "Ho,,," +
        zeros +
        "\n"
        "Fis,,," +
        ones +
        "\n"
        "\n\n"
        "Clonal Richness\nG,1\nN,2\nR,0\nPd,0.5\nSingle MLGs,0\nClonal MLGs,1\n\n"
        "PValue(0.01),1,significance level,0\n"
        "PValue(0.05),1,significance level,0\n"
        "PValue(0.10),1,significance level,0\n"
        "\n"
        "Samplesize,2\nPValues,1\n\n\n"
        "Allele frequencies:\n" +
        locusFrequencies +
        "\n\nPSex Values:\n1,\n\n\n"
        "\n\n"
        "Specified parameters:\n"
        "LOCUSCOUNT,99999\nLOCUSNAMES," +
        names + "\nPLOIDY,1\nSIMULATIONS,1\n\n";
    const std::string fullTable = "Datafile,data.txt\n\n"
                                  "Sample,MLG,PSex,PValue" +
                                  alleleCells +
                                  "\n"
                                  "s1,MLG_1,1,0" +
                                  alleles +
                                  "\n"
                                  "s2,MLG_1,1,0" +
                                  alleles + "\n\n\n";
    ASSERT_EQ(4u, run.files.size());
    EXPECT_TRUE(simulationResults == run.files.at("simresults_data.txt.csv"));
    EXPECT_TRUE(fullTable == run.files.at("fulltable_data.txt.csv"));
    // Every data set repeats the one genotype with PSex 1: family-wise 1.
    EXPECT_EQ("sample,mlg,n,pgen,psex,p_value,level,mll,p_familywise,level_familywise\n"
              "s1,1,2,1,1,0,ns,1,1,ns\n"
              "s2,1,2,1,1,0,ns,1,1,ns\n",
              run.files.at("samples_data.txt.csv"));
}

TEST(HostileInput, ReportsEveryLocusNameBeyondTheLociOfAHundredThousand) {
    std::string names = "N1,N2";
    for (int i = 3; i <= 100'000; ++i) {
        names += ",N" + std::to_string(i);
    }
    auto data = [](const std::string& locusNames) {
        return "PLOIDY=2\nLOCUSCOUNT=2\nLOCUSNAMES=" + locusNames +
               "\nSIMULATIONS=3\n\nS,a,b,c,d\nx,1,2,3,4\ny,1,2,3,4\nz,2,2,3,3\n";
    };
    const RunResult twoNames = runOnData(data("N1,N2"));
    RunResult allNames = runOnData(data(names));
    // Beside the warning about few simulated repeats that both runs give,
    // every name beyond the two loci is reported, before it.
    EXPECT_EQ(0u, twoNames.err.rfind("warning: only ", 0)) << twoNames.err;
    EXPECT_EQ(repeated("error: too many locus names given in LOCUSNAMES.\n", 99'998) + twoNames.err,
              allNames.err);
    allNames.err = twoNames.err;
    // The whole value is echoed, once, among the parameters.
    std::string& simulationResults = allNames.files["simresults_data.txt.csv"];
    simulationResults =
        replaceAll(simulationResults, "\nLOCUSNAMES," + names + "\n", "\nLOCUSNAMES,N1,N2\n");
    expectSameRun(twoNames, allNames);
}

// Return PSex = P(X >= n) for X binomial with 'size' trials and chance 'g',
// summed over the upper tail in log space: not the way the program sums.
double upperBinomialTail(std::uint32_t size, std::uint32_t n, double g) {
    const long double logG = std::log(static_cast<long double>(g));
    const long double logNotG = std::log1p(-static_cast<long double>(g));
    const long double logNFactorial = std::lgamma(static_cast<long double>(size) + 1);
    long double sum = 0;
    for (std::uint32_t i = size + 1; i-- > n;) {
        sum += std::exp(logNFactorial - std::lgamma(static_cast<long double>(i) + 1) -
                        std::lgamma(static_cast<long double>(size - i) + 1) + i * logG +
                        (size - i) * logNotG);
    }
    return static_cast<double>(sum);
}

TEST(HostileInput, AnalysesAMillionDataLines) {
    // One haploid locus, alleles 1 to 4 in turn: four MLGs of 250,000
    // samples, each allele of frequency 1/4.  One simulated data set.
    constexpr int k_samples = 1'000'000;
    std::string data = "PLOIDY=1\nLOCUSCOUNT=1\nLOCUSNAMES=L\nSIMULATIONS=1\n\nS,a\n";
    for (int i = 0; i < k_samples; ++i) {
        data += 's' + std::to_string(i) + ',' + std::to_string(1 + i % 4) + '\n';
    }
    const RunResult run = runOnData(data);
    EXPECT_EQ(0, run.status);
    EXPECT_EQ("Reading file data.txt\nResults are written to 'simresults_data.txt.csv'.\n",
              run.out);
    // The one simulated data set holds the four genotypes, each repeated.
    EXPECT_EQ(repeatsWarning(4), run.err);
    ASSERT_EQ(4u, run.files.size());

    const std::string& results = run.files.at("simresults_data.txt.csv");
    EXPECT_NE(std::string::npos, results.find("\nG,4\nN,1000000\nR,3e-06\nPd,4e-06\n"
                                              "Single MLGs,0\nClonal MLGs,4\n"));
    EXPECT_NE(std::string::npos, results.find("\nSamplesize,1000000\nPValues,4\n"));
    EXPECT_NE(std::string::npos, results.find("\nLocus L\n,1,0.25\n,2,0.25\n,3,0.25\n,4,0.25\n"));

    // Every MLG has the same PSex; its p-value comes from the simulation.
    std::ostringstream psex;
    psex << upperBinomialTail(k_samples, k_samples / 4, 0.25);
    const std::string& fullTable = run.files.at("fulltable_data.txt.csv");
    const std::string head = "Datafile,data.txt\n\nSample,MLG,PSex,PValue,L_0\n";
    ASSERT_EQ(head, fullTable.substr(0, head.size()));
    std::size_t at = head.size();
    for (int allele = 1; allele <= 4; ++allele) {
        const std::string cells = ",MLG_" + std::to_string(allele) + ',' + psex.str() + ',';
        std::string pvalue;
        for (int i = allele - 1; i < k_samples; i += 4) {
            const std::string name = 's' + std::to_string(i);
            const std::size_t end = fullTable.find('\n', at);
            ASSERT_NE(std::string::npos, end);
            const std::string line = fullTable.substr(at, end - at);
            ASSERT_EQ(name + cells, line.substr(0, name.size() + cells.size())) << line;
            const std::string rest = line.substr(name.size() + cells.size());
            if (pvalue.empty()) {
                pvalue = rest; // "<p-value>,<allele>", the same on every line
                EXPECT_EQ(',' + std::to_string(allele), rest.substr(rest.size() - 2)) << line;
            }
            ASSERT_EQ(pvalue, rest) << line;
            at = end + 1;
        }
    }
    EXPECT_EQ("\n\n", fullTable.substr(at));
}

TEST(HostileInput, GoesOnWithoutLineagesWhereTheLineageMethodWouldNotFitItsMemory) {
    // AVERAGE keeps 8 bytes for each pair of MLGs within 256 MB: 2^25
    // pairs, which 8,192 MLGs fit (8192 x 8191 / 2 = 33,550,336) and 8,193
    // do not.  8,193 distinct haploid genotypes at two loci, each one copy
    // from the next: single linkage at k = 1 would chain them all.
    constexpr int k_mlgs = 8193;
    std::string data = "PLOIDY=1\nLOCUSCOUNT=2\nSIMULATIONS=1\nMLLDISTANCE=1\n"
                       "MLLMETHOD=AVERAGE\nTITLE=wide\n\nS,a,b\n";
    for (int i = 0; i < k_mlgs; ++i) {
        data += 's' + std::to_string(i) + ',' + std::to_string(1 + i / 100) + ',' +
                std::to_string(1 + i % 100) + '\n';
    }
    const RunResult run = runOnData(data);
    EXPECT_EQ(0, run.status);
    EXPECT_EQ("error: MLLMETHOD=AVERAGE needs at most 8192 genotypes; use NEAREST.\n", run.err);
    // One lineage per MLG, and the distances of every pair all the same.
    const std::string& summary = run.files.at("summary_wide.csv");
    EXPECT_NE(std::string::npos, summary.find("\nG,mll,8193\n"));
    const std::string& distances = run.files.at("distances_wide.csv");
    std::istringstream rows(distances);
    std::string row;
    std::getline(rows, row);
    std::uint64_t pairs = 0;
    while (std::getline(rows, row)) {
        pairs += std::stoull(row.substr(row.find(',') + 1));
    }
    EXPECT_EQ(std::uint64_t(k_mlgs) * (k_mlgs - 1) / 2, pairs);
}

// A million distinct genotypes in no particular order: the table and the
// simulated data sets must grow in n log n, not n squared.
TEST(HostileInput, AnalysesAMillionDistinctDataLinesInAnyOrder) {
    // Two haploid loci of 1000 alleles each: every one of the 1,000,000
    // combinations once, shuffled.  Every MLG is a single sample.
    constexpr int k_alleles = 1000;
    constexpr int k_samples = k_alleles * k_alleles;
    std::vector<int> order(k_samples);
    for (int i = 0; i < k_samples; ++i) {
        order[i] = i;
    }
    std::mt19937 shuffler(12345);
    std::shuffle(order.begin(), order.end(), shuffler);
    std::string data = "PLOIDY=1\nLOCUSCOUNT=2\nSIMULATIONS=1\n\nS,a,b\n";
    for (const int i : order) {
        data += 's' + std::to_string(i) + ',' + std::to_string(i / k_alleles) + ',' +
                std::to_string(i % k_alleles) + '\n';
    }
    const RunResult run = runOnData(data);
    EXPECT_EQ(0, run.status);
    EXPECT_EQ("", run.err);
    ASSERT_EQ(1u, run.files.count("simresults_data.txt.csv"));
    const std::string n = std::to_string(k_samples);
    EXPECT_NE(std::string::npos, run.files.at("simresults_data.txt.csv")
                                     .find("\nG," + n + "\nN," + n + "\nR,1\nPd,1\nSingle MLGs," +
                                           n + "\nClonal MLGs,0\n"));
    // The MLGs in ascending order of their alleles, one line each.
    const std::string& fullTable = run.files.at("fulltable_data.txt.csv");
    EXPECT_EQ(k_samples + 5, std::count(fullTable.begin(), fullTable.end(), '\n'));
    const std::string last = std::to_string(k_alleles - 1);
    EXPECT_NE(std::string::npos, fullTable.find("\ns0,MLG_1,\"-\",\"-\",0,0\n"));
    EXPECT_NE(std::string::npos, fullTable.find("\ns" + std::to_string(k_samples - 1) + ",MLG_" +
                                                n + ",\"-\",\"-\"," + last + ',' + last + '\n'));
}

TEST(HostileInput, SaturatesHugeAlleleValuesAtTheIntegerLimits) {
    // Allele fields beyond the 32-bit range read as the nearest limit, just
    // as if the limits were written; sign and leading blanks are accepted.
    auto data = [](const std::string& a, const std::string& b, const std::string& c,
                   const std::string& d) {
        return "PLOIDY=2\nLOCUSCOUNT=1\nSIMULATIONS=3\n\nS,a,b\ns1," + a + ',' + b + "\ns2," + a +
               ',' + b + "\ns3,2147483647,-2147483648\ns4," + c + ',' + d + '\n';
    };
    const RunResult huge =
        runOnData(data("99999999999999999999", "-99999999999999999999", "+7", "  -0"));
    const RunResult limits = runOnData(data("2147483647", "-2147483648", "7", "0"));
    EXPECT_EQ(std::string::npos, huge.err.find("error"));
    expectSameRun(limits, huge);
    // Each pair is stored in ascending order: s1, s2 and s3 share the
    // genotype -2147483648/2147483647, s4 is 0/7.
    const std::string& fullTable = huge.files.at("fulltable_data.txt.csv");
    EXPECT_NE(std::string::npos, fullTable.find(",-2147483648,2147483647\ns2,MLG_1,"));
    EXPECT_NE(std::string::npos,
              fullTable.find(",-2147483648,2147483647\ns4,MLG_2,\"-\",\"-\",0,7\n"));
}

TEST(HostileInput, TakesHugeAndNegativeHeaderCountsWithoutSizingAnythingByThem) {
    // A locus count at the 32-bit limit needs 2 * 2147483647 + 1 columns;
    // the table keeps no more loci than the file names.  The run stays
    // within an address space far below what such a table would take.
    auto smallAddressSpace = [] {
        if (!k_addressSanitizer) { // its shadow memory needs a vast space
            const struct rlimit limit = {512u << 20, 512u << 20};
            ::setrlimit(RLIMIT_AS, &limit);
        }
    };
    const RunResult huge = runOnData("PLOIDY=2\nLOCUSCOUNT=99999999999999999999\n"
                                     "SIMULATIONS=2\n\nS,a,b\nx,1,2\n",
                                     smallAddressSpace);
    EXPECT_EQ(1, huge.status); // the columns do not fit: no sample
    EXPECT_EQ("error: not enough columns in table according to ploidy and locus count "
              "(should be: 4294967295 has: 3).\n"
              "error: no sample was read from 'data.txt'.\n",
              huge.err);
    EXPECT_NE(std::string::npos,
              huge.files.at("simresults_data.txt.csv").find("\nLOCUSCOUNT,99999999999999999999\n"));

    const RunResult negative = runOnData("PLOIDY=-99999999999999999999\n"
                                         "LOCUSCOUNT=-99999999999999999999\n"
                                         "SIMULATIONS=-99999999999999999999\n\n"
                                         "S,a,b\nx,1,1\ny,1,1\n",
                                         smallAddressSpace);
    EXPECT_EQ(0, negative.status);
    EXPECT_EQ("error: only HAPLOID and DIPLOID are supported for now "
              "(not '-99999999999999999999').\n"
              "error: PLOIDY is unspecified, assuming DIPLOID.\n"
              "error: LOCUSCOUNT is unspecified, assuming 1.\n"
              "error: SIMULATIONS is unspecified, assuming 1000.\n",
              negative.err);
    // Two equal samples of one allele: every simulated data set repeats
    // their genotype, so each of the 1000 adds one value.
    EXPECT_NE(std::string::npos,
              negative.files.at("simresults_data.txt.csv").find("\nPValues,1000\n"));
}

TEST(HostileInput, RefusesAnEmptyColumnNameBetweenNames) {
    // The empty heading took no position, so "151,,157" had a field too
    // many and every sample became 151/0: one clone of plainly wrong
    // genotype.  Now the column line counts as having no columns.
    const RunResult run = runOnData("PLOIDY=2\nLOCUSCOUNT=1\nLOCUSNAMES=A\nSIMULATIONS=10\n"
                                    "\nS,A1,,A2\nx,151,,157\ny,151,,161\nz,157,,161\n");
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("Reading file data.txt\n"
              "error:6: empty column name between 'A1' and 'A2'.\n"
              "Results are written to 'simresults_data.txt.csv'.\n",
              run.out);
    EXPECT_EQ("error: not enough columns in table according to ploidy and locus count "
              "(should be: 3 has: 0).\n"
              "error: no sample was read from 'data.txt'.\n",
              run.err);
    EXPECT_NE(std::string::npos, run.files.at("simresults_data.txt.csv").find("\nN,0\n"));
}

TEST(HostileInput, KeepsMemoryAndResultsInProportionToTheFile) {
    // 5 MB of commas in LOCUSNAMES and a huge LOCUSCOUNT once took 607 MB
    // and wrote 190 MB of results: a locus for every empty name.  The table
    // lists no more loci than the column line names, so the run fits in an
    // address space of 256 MB, and its results are the echo of the header
    // plus a few lines.
    const std::string commas(5'000'000, ',');
    const RunResult run = runOnData("PLOIDY=2\nLOCUSCOUNT=2147483647\nSIMULATIONS=1\n"
                                    "LOCUSNAMES=" +
                                        commas + "\n\nS,a,b\nx,1,2\n",
                                    [] {
                                        if (!k_addressSanitizer) {
                                            const struct rlimit limit = {256u << 20, 256u << 20};
                                            ::setrlimit(RLIMIT_AS, &limit);
                                        }
                                    });
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("error: not enough columns in table according to ploidy and locus count "
              "(should be: 4294967295 has: 3).\n"
              "error: no sample was read from 'data.txt'.\n",
              run.err);
    // Three loci, unnamed, are listed.
    const std::string& results = run.files.at("simresults_data.txt.csv");
    EXPECT_NE(std::string::npos, results.find("MLG,n,PSex,Significance,Level,PGen,_0,_1,_0,_1,_0,"
                                              "_1\n\n,,,,,,,,,\n"));
    EXPECT_NE(std::string::npos, results.find("\nLOCUSNAMES," + commas + "\n"));
    EXPECT_GT(commas.size() + 2000, results.size());
    EXPECT_EQ("Datafile,data.txt\n\nSample,MLG,PSex,PValue,_0,_1,_0,_1,_0,_1\n\n\n",
              run.files.at("fulltable_data.txt.csv"));
}

TEST(HostileInput, RefusesATitleWithANulByteAsAFileName) {
    // No file name can hold a NUL byte.  Nor may the name be cut short at
    // it: that would warn about and overwrite the files "simresults_a" and
    // "fulltable_a".
    static const char k_data[] = "TITLE=a\0b\nPLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=2\n\nS,a\nx,1\n";
    static const char k_errors[] = "error: cannot write output file 'simresults_a\0b.csv'.\n"
                                   "error: cannot write output file 'fulltable_a\0b.csv'.\n"
                                   "error: cannot write output file 'samples_a\0b.csv'.\n"
                                   "error: cannot write output file 'summary_a\0b.csv'.\n"
                                   "error: no result file of 'data.txt' was replaced.\n";
    ScratchFolder folder;
    writeFile(folder / "data.txt", std::string(k_data, sizeof k_data - 1));
    writeFile(folder / "simresults_a", "other\n");
    writeFile(folder / "fulltable_a", "other\n");
    const RunResult run = runPsex(folder.path(), {"data.txt"}, {"data.txt"});
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("Reading file data.txt\n", run.out);
    EXPECT_EQ(std::string(k_errors, sizeof k_errors - 1), run.err);
    EXPECT_EQ((std::map<std::string, std::string>{{"fulltable_a", "other\n"},
                                                  {"simresults_a", "other\n"}}),
              run.files);
}

// ---- failing disks ----

// A data file whose full table takes about 120 kB while its simulation
// results stay below 4 kB, and a small one.
std::string bigDataFile() {
    std::string data = "PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=1\nTITLE=big\n\nSample,a\n";
    for (int i = 0; i < 4000; ++i) {
        data += "sample" + std::to_string(10000 + i) + ',' + std::to_string(1 + i % 3) + '\n';
    }
    return data;
}

std::string smallDataFile(const std::string& title) {
    return "PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=1\nTITLE=" + title + "\n\nSample,a\nx,1\ny,1\n";
}

// A scratch folder with the data files in "data" and an empty folder
// "disk" in which the program runs; the arguments name the data files
// relative to "disk".
struct DiskFixture {
    ScratchFolder root;
    fs::path data = root / "data";
    fs::path disk = root / "disk";
    fs::path report = root / "report";

    DiskFixture() {
        fs::create_directory(data);
        fs::create_directory(disk);
        fs::create_directory(report);
        writeFile(data / "big.txt", bigDataFile());
        writeFile(data / "small.txt", smallDataFile("small"));
        writeFile(data / "run.txt", smallDataFile("run"));
    }
};

constexpr int k_cannotMount = 77;

// Run the program with the specified 'arguments' in 'fixture.disk' with a
// tmpfs of the specified mount 'options' mounted there, in a child process
// with a mount namespace of its own (so nothing outside sees the mount, and
// it goes with the child).  'fill' puts files on the new file system first;
// with 'readOnly' it is then remounted read-only.  Return nothing when the
// file system cannot be arranged (no privilege to mount).
std::optional<RunResult> runOnOwnFileSystem(DiskFixture& fixture, const char* options,
                                            const std::function<void()>& fill, bool readOnly,
                                            const std::vector<std::string>& arguments) {
    const pid_t child = ::fork();
    if (child == 0) {
        const char* disk = fixture.disk.c_str();
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", disk, "tmpfs", 0, options) != 0) {
            ::_exit(k_cannotMount);
        }
        fill();
        if (readOnly && ::mount(nullptr, disk, nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
            ::_exit(k_cannotMount);
        }
        const RunResult result = runPsex(fixture.disk, arguments);
        // The mount goes with this process: hand the outcome over in files.
        writeFile(fixture.report / "stdout", result.out);
        writeFile(fixture.report / "stderr", result.err);
        writeFile(fixture.report / "status", std::to_string(result.status));
        fs::create_directory(fixture.report / "files");
        for (const auto& [name, content] : result.files) {
            writeFile(fixture.report / "files" / name, content);
        }
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == k_cannotMount) {
        return std::nullopt;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    RunResult result;
    result.out = readFile(fixture.report / "stdout");
    result.err = readFile(fixture.report / "stderr");
    result.status = std::stoi("0" + readFile(fixture.report / "status"));
    if (fs::exists(fixture.report / "files")) {
        for (const auto& entry : fs::directory_iterator(fixture.report / "files")) {
            result.files[entry.path().filename().string()] = readFile(entry.path());
        }
    }
    return result;
}

// The complete set of results of "big.txt" left by an earlier run.
const std::map<std::string, std::string> k_olderBigSet = {
    {"simresults_big.csv", "older results\n"},
    {"fulltable_big.csv", "older full table\n"},
    {"samples_big.csv", "older samples\n"},
    {"summary_big.csv", "older summary\n"}};

void writeOlderBigSet(const fs::path& folder) {
    for (const auto& [name, content] : k_olderBigSet) {
        writeFile(folder / name, content);
    }
}

// What a run of "big.txt small.txt" must show when the full table and the
// samples table of the big file do not fit: those files fail, so no file of
// the big file's set is replaced (the older set stays whole, without a
// warning about overwriting), and the small file that follows is written.
// (The one simulated data set of the big file repeats its three genotypes,
// that of the small one its one genotype: the warnings about few repeats.)
void expectBigSetKept(const RunResult& run) {
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("Reading file ../data/big.txt\n"
              "Reading file ../data/small.txt\n"
              "Results are written to 'simresults_small.csv'.\n",
              run.out);
    EXPECT_EQ(repeatsWarning(3) + "error: cannot write output file 'fulltable_big.csv'.\n" +
                  "error: cannot write output file 'samples_big.csv'.\n" +
                  "error: no result file of '../data/big.txt' was replaced.\n" + repeatsWarning(1),
              run.err);
    // No temporary file and no partial file is left.
    EXPECT_EQ((Names{"fulltable_big.csv", "fulltable_small.csv", "samples_big.csv",
                     "samples_small.csv", "simresults_big.csv", "simresults_small.csv",
                     "summary_big.csv", "summary_small.csv"}),
              fileNamesOf(run));
    for (const auto& [name, content] : k_olderBigSet) {
        EXPECT_EQ(content, run.files.at(name)) << name;
    }
    EXPECT_EQ(0u, run.files.at("fulltable_small.csv")
                      .find("Datafile,../data/small.txt\n\nSample,MLG,PSex,PValue,_0\nx,MLG_1,"));
}

TEST(FailingDisk, LosesNothingWhenTheDiskIsFull) {
    // 64 kB hold the older set and every result except the big full table
    // and the big samples table.
    DiskFixture fixture;
    const auto run =
        runOnOwnFileSystem(fixture, "size=64k", [&] { writeOlderBigSet(fixture.disk); }, false,
                           {"../data/big.txt", "../data/small.txt"});
    if (!run) {
        GTEST_SKIP() << "cannot mount a small file system here (needs root or CAP_SYS_ADMIN)";
    }
    expectBigSetKept(*run);
}

TEST(FailingDisk, LosesNothingAtTheFileSizeLimit) {
    // The limit, like a full disk, cuts the big full table short.
    DiskFixture fixture;
    writeOlderBigSet(fixture.disk);
    const RunResult run = runPsex(fixture.disk, {"../data/big.txt", "../data/small.txt"}, {}, [] {
        const struct rlimit limit = {16384, 16384};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    expectBigSetKept(run);
}

TEST(FailingDisk, LeavesAReadOnlyFolderAsItWas) {
    DiskFixture fixture;
    auto fill = [&] {
        writeFile(fixture.disk / "simresults_run.csv", "older results\n");
        writeFile(fixture.disk / "fulltable_run.csv", "older table\n");
    };
    const std::vector<std::string> arguments{"../data/run.txt", "../data/small.txt"};
    std::optional<RunResult> run;
    if (::geteuid() != 0) {
        fill();
        ::chmod(fixture.disk.c_str(), 0555);
        run = runPsex(fixture.disk, arguments);
    } else {
        // Root writes into a folder without write permission; only a
        // read-only file system stops it.
        run = runOnOwnFileSystem(fixture, "size=1m", fill, true, arguments);
        if (!run) {
            GTEST_SKIP() << "cannot mount a read-only file system here, and root ignores "
                            "folder permissions";
        }
    }
    EXPECT_EQ(1, run->status);
    // Nothing is overwritten, so no overwrite warning is given.
    EXPECT_EQ("Reading file ../data/run.txt\n"
              "Reading file ../data/small.txt\n",
              run->out);
    EXPECT_EQ(repeatsWarning(1) + "error: cannot write output file 'simresults_run.csv'.\n" +
                  "error: cannot write output file 'fulltable_run.csv'.\n" +
                  "error: cannot write output file 'samples_run.csv'.\n" +
                  "error: cannot write output file 'summary_run.csv'.\n" +
                  "error: no result file of '../data/run.txt' was replaced.\n" + repeatsWarning(1) +
                  "error: cannot write output file 'simresults_small.csv'.\n" +
                  "error: cannot write output file 'fulltable_small.csv'.\n" +
                  "error: cannot write output file 'samples_small.csv'.\n" +
                  "error: cannot write output file 'summary_small.csv'.\n" +
                  "error: no result file of '../data/small.txt' was replaced.\n",
              run->err);
    EXPECT_EQ((Names{"fulltable_run.csv", "simresults_run.csv"}), fileNamesOf(*run));
    EXPECT_EQ("older results\n", run->files.at("simresults_run.csv"));
    EXPECT_EQ("older table\n", run->files.at("fulltable_run.csv"));
}

TEST(FailingDisk, ReportsAMissingFolderAndGoesOn) {
    DiskFixture fixture;
    writeFile(fixture.data / "nested.txt", smallDataFile("missing/run"));
    const RunResult run = runPsex(fixture.disk, {"../data/nested.txt", "../data/small.txt"});
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("Reading file ../data/nested.txt\n"
              "Reading file ../data/small.txt\n"
              "Results are written to 'simresults_small.csv'.\n",
              run.out);
    const std::string missingFolder =
        repeatsWarning(1) + "error: cannot write output file 'simresults_missing/run.csv'.\n" +
        "error: cannot write output file 'fulltable_missing/run.csv'.\n" +
        "error: cannot write output file 'samples_missing/run.csv'.\n" +
        "error: cannot write output file 'summary_missing/run.csv'.\n" +
        "error: no result file of '../data/nested.txt' was replaced.\n";
    EXPECT_EQ(missingFolder + repeatsWarning(1), run.err);
    EXPECT_EQ((Names{"fulltable_small.csv", "samples_small.csv", "simresults_small.csv",
                     "summary_small.csv"}),
              fileNamesOf(run));

    // A data file that cannot be opened still ends the run with status 2.
    const RunResult stopped = runPsex(fixture.disk, {"../data/nested.txt", "../data/none.txt"});
    EXPECT_EQ(2, stopped.status);
    EXPECT_EQ("Reading file ../data/nested.txt\n", stopped.out);
    EXPECT_EQ(missingFolder, stopped.err);
}

// ---- memory ----

// Return a 'prepare' function that limits the address space of the program
// to the specified 'megabytes', and its processor time to two minutes, so
// that a run that grows or computes without end fails instead of hanging.
// Processor time, unlike an alarm clock, does not run out sooner on a busy
// machine; a run that waits without end is left to the test's time-out.
std::function<void()> limitedTo(std::size_t megabytes) {
    return [=] {
        const struct rlimit limit = {megabytes << 20, megabytes << 20};
        ::setrlimit(RLIMIT_AS, &limit);
        const struct rlimit processorTime = {120, 130}; // SIGXCPU, then SIGKILL
        ::setrlimit(RLIMIT_CPU, &processorTime);
    };
}

TEST(OutOfMemory, EndsTheRunOfThatDataFileOnlyAndKeepsItsOlderResults) {
    if (k_addressSanitizer) {
        GTEST_SKIP() << "the address sanitizer's shadow memory needs an unlimited address space";
    }
    // A header key of 100 MB cannot be read within 160 MB: the string that
    // holds it needs 64 MB and 128 MB at once as it grows.
    ScratchFolder folder;
    writeFile(folder / "big.txt", "PLOIDY=1\n" + std::string(100'000'000, 'K') +
                                      "=v\nLOCUSCOUNT=1\nSIMULATIONS=2\n\nS,a\nx,1\n");
    writeFile(folder / "small.txt",
              "PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=2\nTITLE=small\n\nS,a\nx,1\ny,2\n");
    writeFile(folder / "simresults_big.txt.csv", "older\n");
    const RunResult run =
        runPsex(folder.path(), {"big.txt", "small.txt"}, {"big.txt", "small.txt"}, limitedTo(160));
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("Reading file big.txt\n"
              "Reading file small.txt\n"
              "Results are written to 'simresults_small.csv'.\n",
              run.out);
    EXPECT_EQ("error: out of memory while reading 'big.txt'.\n", run.err);
    EXPECT_EQ("older\n", run.files.at("simresults_big.txt.csv"));
    EXPECT_EQ(0u, run.files.count("fulltable_big.txt.csv"));
    EXPECT_EQ(0u, run.files.at("fulltable_small.csv").find("Datafile,small.txt\n\nSample,"));
    for (const auto& [name, content] : run.files) {
        EXPECT_NE('.', name[0]) << name << " left behind";
    }
}

TEST(OutOfMemory, EndsTheRunOfAnEndlessHeaderOrLineFromAFifo) {
    if (k_addressSanitizer) {
        GTEST_SKIP() << "the address sanitizer's shadow memory needs an unlimited address space";
    }
    // A header line, or a sample name, that never ends: the program reads
    // until its memory is used up, and says so.
    for (const std::string head :
         {"PLOIDY=1\nKEY", "PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=2\n\nS,a\nx"}) {
        SCOPED_TRACE(head);
        ScratchFolder folder;
        const std::string fifo = (folder / "data.txt").string();
        ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
        const pid_t writer = ::fork();
        if (writer == 0) {
            ::signal(SIGPIPE, SIG_IGN); // the reader going away ends the writing
            const int out = ::open(fifo.c_str(), O_WRONLY);
            const std::string endless(1 << 16, 'x');
            bool open = out >= 0 && ::write(out, head.data(), head.size()) > 0;
            while (open) {
                open = ::write(out, endless.data(), endless.size()) > 0;
            }
            ::_exit(0);
        }
        const RunResult run = runPsex(folder.path(), {"data.txt"}, {"data.txt"}, limitedTo(160));
        ::kill(writer, SIGKILL); // should the program not have opened the FIFO
        ::waitpid(writer, nullptr, 0);
        EXPECT_EQ(1, run.status);
        EXPECT_EQ("Reading file data.txt\n", run.out);
        EXPECT_EQ("error: out of memory while reading 'data.txt'.\n", run.err);
        EXPECT_TRUE(run.files.empty());
    }
}

// A data file of 30,000 samples at 10 diploid loci, with clones, lineages
// asked for, and the specified number of 'simulations': large enough that
// the simulation threads and the threads comparing genotype pairs each
// allocate megabytes, small enough to run in a fraction of a second.
std::string threadedDataFile(int simulations) {
    std::mt19937 random(21);
    std::string data = "PLOIDY=2\nLOCUSCOUNT=10\nSIMULATIONS=" + std::to_string(simulations) +
                       "\nMLLDISTANCE=2\nTITLE=sweep\n\nS";
    for (int l = 0; l < 10; ++l) {
        data += ",a" + std::to_string(l) + ",b" + std::to_string(l);
    }
    data += '\n';
    std::string genotype;
    for (int s = 0; s < 30000; ++s) {
        if (s % 5 == 0) { // clones of five samples
            genotype.clear();
            for (int c = 0; c < 20; ++c) {
                genotype += ',' + std::to_string(100 + 2 * (random() % 12));
            }
        }
        data += 's' + std::to_string(s) + genotype + '\n';
    }
    return data;
}

TEST(OutOfMemory, NeverAbortsUnderAnyLimitOnAnyNumberOfThreads) {
    if (k_addressSanitizer) {
        GTEST_SKIP() << "the address sanitizer's shadow memory needs an unlimited address space";
    }
    // An allocation that failed in a simulation or lineage thread once ended
    // the process (status 134, std::bad_alloc uncaught).  Under every limit
    // of the address space, on 1, 2 and 4 threads, the run must either
    // succeed with the complete new set of result files, or say that it ran
    // out of memory and leave the complete older set.
    ScratchFolder older;
    writeFile(older / "data.txt", threadedDataFile(2));
    const RunResult olderRun = runPsex(older.path(), {"data.txt"}, {"data.txt"});
    ASSERT_EQ(0, olderRun.status);
    ScratchFolder newer;
    writeFile(newer / "data.txt", threadedDataFile(4));
    const RunResult newerRun = runPsex(newer.path(), {"data.txt"}, {"data.txt"});
    ASSERT_EQ(0, newerRun.status);
    ASSERT_EQ(5u, newerRun.files.size());
    ASSERT_NE(olderRun.files, newerRun.files);

    int failed = 0;
    int succeeded = 0;
    for (const char* threads : {"1", "2", "4"}) {
        for (std::size_t megabytes = 16; megabytes <= 64; megabytes += 3) {
            SCOPED_TRACE(std::string(threads) + " threads, " + std::to_string(megabytes) + " MB");
            ScratchFolder folder;
            writeFile(folder / "data.txt", threadedDataFile(4));
            for (const auto& [name, content] : olderRun.files) {
                writeFile(folder / name, content);
            }
            const RunResult run = runPsex(folder.path(), {"data.txt"}, {"data.txt"}, [=] {
                ::setenv("PSEX_THREADS", threads, 1);
                limitedTo(megabytes)();
            });
            ASSERT_TRUE(run.status == 0 || run.status == 1) << "status " << run.status;
            // Every file in the folder, the older ones included, and nothing
            // else (no temporary file).
            std::map<std::string, std::string> left;
            for (const std::string& name : folder.names()) {
                if (name != "data.txt") {
                    left[name] = readFile(folder / name);
                }
            }
            if (run.status == 0) {
                ++succeeded;
                EXPECT_TRUE(newerRun.files == left) << "not the complete new set";
            } else {
                ++failed;
                EXPECT_EQ("error: out of memory while reading 'data.txt'.\n", run.err);
                EXPECT_TRUE(olderRun.files == left) << "not the complete older set";
            }
        }
    }
    // The limits reach from too little for the data file to enough.
    EXPECT_GT(failed, 0);
    EXPECT_GT(succeeded, 0);
}

// ---- result names ----

TEST(ResultNames, WarnsAboutEveryEntryAtAResultNameItReplaces) {
    // A symbolic link at a result name, even one that points nowhere, is
    // replaced by the result file: that is overwriting, and is said.
    ScratchFolder folder;
    writeFile(folder / "data.txt", smallDataFile("run"));
    ASSERT_EQ(0, ::symlink("nowhere/at/all.csv", (folder / "simresults_run.csv").c_str()));
    writeFile(folder / "other.csv", "other\n");
    ASSERT_EQ(0, ::symlink("other.csv", (folder / "fulltable_run.csv").c_str()));
    const RunResult run = runPsex(folder.path(), {"data.txt"}, {"data.txt", "other.csv"});
    EXPECT_EQ(0, run.status);
    EXPECT_EQ("Reading file data.txt\n"
              "Warning: overwriting output file 'simresults_run.csv'.\n"
              "Warning: overwriting output file 'fulltable_run.csv'.\n"
              "Results are written to 'simresults_run.csv'.\n",
              run.out);
    EXPECT_FALSE(fs::is_symlink(folder / "simresults_run.csv"));
    EXPECT_FALSE(fs::is_symlink(folder / "fulltable_run.csv"));
    EXPECT_EQ("other\n", readFile(folder / "other.csv"));
    EXPECT_EQ(0u, run.files.at("simresults_run.csv").find("Datafile,data.txt\n"));
}

TEST(ResultNames, RefusesResultNamesThatResolveToOneFile) {
    // With the folders simresults_x and fulltable_x, both result names of
    // TITLE=x/../same are "same.csv": the full table would replace the
    // simulation results without a word.  Nothing is written instead, and
    // an older file of that name stays as it was.
    ScratchFolder folder;
    fs::create_directory(folder / "simresults_x");
    fs::create_directory(folder / "fulltable_x");
    fs::create_directory(folder / "x");
    writeFile(folder / "same.csv", "older\n");
    writeFile(folder / "titled.txt", smallDataFile("x/../same"));
    writeFile(folder / "data.txt", "PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=2\n\nS,a\n");
    const Names inputs{"titled.txt", "data.txt", "same.csv"};
    const RunResult run = runPsex(folder.path(), {"titled.txt"}, inputs);
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("Reading file titled.txt\n", run.out);
    EXPECT_EQ(std::string::npos, run.err.find("error: cannot write"));
    EXPECT_NE(std::string::npos,
              run.err.find("error: result files of 'titled.txt' would overwrite each other "
                           "('fulltable_x/../same.csv').\n"));
    EXPECT_TRUE(run.files.empty());
    EXPECT_EQ("older\n", readFile(folder / "same.csv"));

    // The same for names taken from the argument: x/../data.txt names the
    // data file, and both of its result names are "data.txt.csv".  A table
    // without samples is still reported after the refusal.
    const RunResult argument = runPsex(folder.path(), {"x/../data.txt"}, inputs);
    EXPECT_EQ(1, argument.status);
    EXPECT_EQ("Reading file x/../data.txt\n", argument.out);
    EXPECT_EQ("error: result files of 'x/../data.txt' would overwrite each other "
              "('fulltable_x/../data.txt.csv').\n"
              "error: no sample was read from 'x/../data.txt'.\n",
              argument.err);
    EXPECT_TRUE(argument.files.empty());
}

TEST(ResultNames, RefusesATitleThatLeadsOutOfTheWorkingFolder) {
    // The program runs in "work"; TITLE=sub/../../escape would write
    // "escape.csv" beside it, and TITLE=link/x through a link to a folder
    // elsewhere.
    ScratchFolder root;
    const fs::path work = root / "work";
    fs::create_directories(work / "simresults_sub");
    fs::create_directories(work / "fulltable_sub");
    fs::create_directories(root / "elsewhere");
    fs::create_directory_symlink(root / "elsewhere", work / "simresults_link");
    writeFile(work / "escape.txt", smallDataFile("sub/../../escape"));
    writeFile(work / "link.txt", smallDataFile("link/x"));
    const RunResult run = runPsex(work, {"escape.txt", "link.txt"}, {"escape.txt", "link.txt"});
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("Reading file escape.txt\nReading file link.txt\n", run.out);
    EXPECT_NE(std::string::npos,
              run.err.find("error: result files of 'escape.txt' would be written outside the "
                           "working folder ('simresults_sub/../../escape.csv').\n"));
    EXPECT_NE(std::string::npos,
              run.err.find("error: result files of 'link.txt' would be written outside the "
                           "working folder ('simresults_link/x.csv').\n"));
    EXPECT_EQ(std::string::npos, run.err.find("error: cannot write"));
    EXPECT_TRUE(run.files.empty());
    EXPECT_EQ((Names{"work", "elsewhere"}), root.names());
    EXPECT_TRUE(fs::is_empty(root / "elsewhere"));

    // A folder part that stays inside is written to as before.
    fs::create_directories(work / "samples_sub");
    fs::create_directories(work / "summary_sub");
    writeFile(work / "inside.txt", smallDataFile("sub/inside"));
    const RunResult inside = runPsex(work, {"inside.txt"}, {"inside.txt"});
    EXPECT_EQ(std::string::npos, inside.err.find("would"));
    EXPECT_EQ(1u, inside.files.count("simresults_sub/inside.csv"));
    EXPECT_EQ(1u, inside.files.count("fulltable_sub/inside.csv"));
    EXPECT_EQ(0, inside.status);
}

// ---- interruption ----
//
// A signal must reach the program at one exact moment of its work, whatever
// the speed and the load of the machine: the stand-in of signalat.cpp
// (loaded with LD_PRELOAD) raises it at a chosen call of a chosen function
// on a chosen file, and writes down where it came and whether the program
// went on after it.  No test watches the folder while the program runs.

// A moment in the work of writing a set of result files.
struct Moment {
    const char* what; // for the trace
    const char* call; // the function at whose call the signal comes
    const char* path; // a part of the name of the file the call concerns
    int count;        // at the how-manieth such call
    bool after;       // once the call has returned, rather than just before
    bool renaming;    // the set is being put in place: the signal is held
                      // back until the whole new set is there
};

// How the signal reaches the program.
enum class Sender {
    e_itself,  // the program raises it at the moment
    e_outside, // the program stops at the moment (SIGSTOP, which nothing
               // holds back), the test sends the signal (kill) and lets it
               // go on (SIGCONT)
};

struct Interrupted {
    RunResult run;
    std::string log; // what the stand-in wrote down
};

// Return a 'prepare' function that loads the stand-in into the program
// and has it raise the specified 'raised' signal at the specified 'moment',
// writing down where into the file of the specified 'log' name.
std::function<void()> signalAt(const Moment& moment, int raised, const std::string& log) {
    return [moment, raised = std::to_string(raised), count = std::to_string(moment.count), log] {
        // No core file (SIGQUIT dumps one): the status tells how the run ended.
        const struct rlimit noCore = {0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        ::setenv("LD_PRELOAD", PSEX_SIGNAL_AT, 1);
        ::setenv("PSEX_TEST_SIGNAL", raised.c_str(), 1);
        ::setenv("PSEX_TEST_SIGNAL_CALL", moment.call, 1);
        ::setenv("PSEX_TEST_SIGNAL_PATH", moment.path, 1);
        ::setenv("PSEX_TEST_SIGNAL_COUNT", count.c_str(), 1);
        ::setenv("PSEX_TEST_SIGNAL_AFTER", moment.after ? "1" : "0", 1);
        ::setenv("PSEX_TEST_SIGNAL_LOG", log.c_str(), 1);
    };
}

// Run the specified 'binary' with the specified 'arguments' in the specified
// 'folder' (where the specified 'inputs' are not reported) and let the
// specified 'signalNumber' reach it at the specified 'moment' as the
// specified 'sender' says.
Interrupted interruptAt(const fs::path& folder, const Moment& moment, int signalNumber,
                        Sender sender, const char* binary,
                        const std::vector<std::string>& arguments, const Names& inputs) {
    const ScratchFolder logFolder;
    const std::string log = (logFolder / "moment").string();
    const int raised = sender == Sender::e_itself ? signalNumber : SIGSTOP;
    const psex::test::RunOptions options{inputs, signalAt(moment, raised, log), {}};
    psex::test::ProgramRun run(binary, folder, arguments, options);
    if (sender == Sender::e_outside) {
        // Wait until the program stands still at the moment (or has ended
        // without reaching it, which the log then shows).
        siginfo_t info = {};
        ::waitid(P_PID, run.pid(), &info, WSTOPPED | WEXITED | WNOWAIT);
        if (info.si_code == CLD_STOPPED) {
            ::kill(run.pid(), signalNumber);
            ::kill(run.pid(), SIGCONT);
        }
    }
    RunResult result = run.wait();
    return {std::move(result), readFile(log)};
}

// Check that the signal of the specified 'interrupted' run came at the
// specified 'moment' (the stand-in raised the specified 'raised' signal
// there), and that it ended the program right there, or, while the set was
// put in place, that the program went on until the set was in place.
void expectSignalledAt(const Interrupted& interrupted, const Moment& moment, int raised) {
    const std::string& log = interrupted.log;
    const std::string head = "signal " + std::to_string(raised) + " at " + moment.call + ' ' +
                             std::to_string(moment.count) + " of '";
    ASSERT_EQ(0u, log.rfind(head, 0)) << "the signal never came at that moment: '" << log << "'";
    const std::size_t end = log.find("'\n", head.size());
    ASSERT_NE(std::string::npos, end) << log;
    EXPECT_NE(std::string::npos, log.substr(head.size(), end - head.size()).find(moment.path))
        << log;
    if (moment.renaming) {
        EXPECT_EQ("went on\n", log.substr(end + 2)) << "the signal was not held back";
    } else {
        EXPECT_EQ("", log.substr(end + 2)) << "the program went on after the signal";
    }
}

// The signals whose default action ends the program that the tests send:
// SIGINT (Ctrl-C), SIGTERM, SIGHUP, SIGQUIT (Ctrl-backslash), and SIGUSR1
// and SIGALRM (job schedulers and timeouts).
const int k_endingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM};

// The result files of TITLE=run.
const std::vector<std::string> k_runSet = {"simresults_run.csv", "fulltable_run.csv",
                                           "samples_run.csv", "summary_run.csv"};

// A data file of 5,000 samples, whose full table (some 160 kB) is written
// in several pieces.
std::string interruptedDataFile() {
    std::string data = "PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=1\nTITLE=run\n\nSample,a\n";
    for (int i = 0; i < 5'000; ++i) {
        data += "sample" + std::to_string(i) + ',' + std::to_string(1 + i % 4) + '\n';
    }
    return data;
}

// Return every file in the specified 'folder' but the data file (a
// temporary one among them), each with its content.
std::map<std::string, std::string> filesLeftIn(const ScratchFolder& folder) {
    std::map<std::string, std::string> left;
    for (const std::string& name : folder.names()) {
        if (name != "data.txt") {
            left[name] = readFile(folder / name);
        }
    }
    return left;
}

// The moments of psex writing the result set of TITLE=run: in order, the
// four files are written under temporary names (each written out, synced
// and closed), then with the signals held back each is renamed into place
// (exchanged with the older file), and the older files, now under the
// temporary names, are removed.
const Moment k_psexMoments[] = {
    {"writing the first file", "write", ".simresults_run.csv.tmp", 1, false, false},
    {"part of the full table written", "write", ".fulltable_run.csv.tmp", 2, false, false},
    {"every file written, none in place", "close", ".summary_run.csv.tmp", 1, true, false},
    {"putting the first file in place", "renameat2", ".simresults_run.csv.tmp", 1, false, true},
    {"the first file in place, the others not", "renameat2", ".fulltable_run.csv.tmp", 1, false,
     true},
    {"every file in place, the older ones not yet removed", "unlink", ".simresults_run.csv.tmp", 1,
     false, true},
};

// Check psex interrupted at every moment by every signal sent as the
// specified 'sender' says: it ends by the signal, and leaves the whole
// older set (a signal before the renames) or the whole new one (during
// them), and no temporary file.
void expectWholeSetsWhenInterruptedBy(Sender sender) {
    const std::string data = interruptedDataFile();
    ScratchFolder reference;
    writeFile(reference / "data.txt", data);
    const RunResult complete = runPsex(reference.path(), {"data.txt"}, {"data.txt"});
    ASSERT_EQ(0, complete.status);
    ASSERT_EQ(k_runSet.size(), complete.files.size());
    ASSERT_LT(1 << 16, complete.files.at("fulltable_run.csv").size()); // several pieces
    std::map<std::string, std::string> older;
    for (const std::string& name : k_runSet) {
        older[name] = "older " + name + "\n";
    }
    for (const Moment& moment : k_psexMoments) {
        for (const int signalNumber : k_endingSignals) {
            SCOPED_TRACE(std::string(moment.what) + ", signal " + std::to_string(signalNumber));
            ScratchFolder folder;
            writeFile(folder / "data.txt", data);
            for (const auto& [name, content] : older) {
                writeFile(folder / name, content);
            }
            const Interrupted interrupted = interruptAt(folder.path(), moment, signalNumber, sender,
                                                        PSEX_BINARY, {"data.txt"}, {"data.txt"});
            expectSignalledAt(interrupted, moment,
                              sender == Sender::e_itself ? signalNumber : SIGSTOP);
            EXPECT_EQ(128 + signalNumber, interrupted.run.status) << interrupted.run.err;
            const auto left = filesLeftIn(folder);
            if (moment.renaming) {
                EXPECT_TRUE(left == complete.files) << "not the complete new set";
            } else {
                EXPECT_TRUE(left == older) << "not the older set";
            }
        }
    }
}

TEST(Interruption, LeavesTheOlderOrTheWholeNewSetWhereverTheSignalComes) {
    // While the first file is written, part-way through the full table, once
    // every file is written: the older set stays, and no temporary file.
    // Once the set is being put in place, at the first rename, half-way and
    // after the last: the renames finish with the signal held back, and the
    // whole new set is there when it ends the program.
    expectWholeSetsWhenInterruptedBy(Sender::e_itself);
}

TEST(Interruption, TakesASignalFromOutsideAsItsOwn) {
    // The same moments with the signal sent by another process (kill) while
    // the program stands still there.
    expectWholeSetsWhenInterruptedBy(Sender::e_outside);
}

TEST(Interruption, LeavesTheOlderOrTheWholeNewSplitOfPsexImport) {
    // psex-import holds the data file of every population of a split, each
    // complete under its temporary name, until all are written, and puts
    // them in place together: a signal before that ends it without a trace,
    // the older file of a population as it was; a signal while they are put
    // in place comes once every one is.
    std::string table = "Sample,Pop,A,A\n";
    for (int i = 0; i < 50; ++i) {
        table += 's';
        table += std::to_string(i) + ",p" + std::to_string(i % 5) + ",151," +
                 std::to_string(153 + i % 3) + '\n';
    }
    const std::vector<std::string> arguments = {"data.txt", "--split-populations", "out-"};
    ScratchFolder reference;
    writeFile(reference / "data.txt", table);
    const RunResult complete = psex::test::runProgram(PSEX_IMPORT_BINARY, reference.path(),
                                                      arguments, {{"data.txt"}, {}, {}});
    ASSERT_EQ(0, complete.status) << complete.err;
    ASSERT_EQ((Names{"out-p0.txt", "out-p1.txt", "out-p2.txt", "out-p3.txt", "out-p4.txt"}),
              fileNamesOf(complete));
    const Moment k_importMoments[] = {
        {"writing the first file", "write", ".out-p0.txt.tmp", 1, false, false},
        {"every file written, none in place", "close", ".out-p4.txt.tmp", 1, true, false},
        {"two files in place, the older one of the third not yet replaced", "renameat2",
         ".out-p2.txt.tmp", 1, false, true},
    };
    for (const Sender sender : {Sender::e_itself, Sender::e_outside}) {
        for (const Moment& moment : k_importMoments) {
            for (const int signalNumber : k_endingSignals) {
                SCOPED_TRACE(std::string(moment.what) + ", signal " + std::to_string(signalNumber) +
                             (sender == Sender::e_itself ? ", raised" : ", sent"));
                ScratchFolder folder;
                writeFile(folder / "data.txt", table);
                writeFile(folder / "out-p2.txt", "older\n");
                const Interrupted interrupted =
                    interruptAt(folder.path(), moment, signalNumber, sender, PSEX_IMPORT_BINARY,
                                arguments, {"data.txt"});
                expectSignalledAt(interrupted, moment,
                                  sender == Sender::e_itself ? signalNumber : SIGSTOP);
                EXPECT_EQ(128 + signalNumber, interrupted.run.status) << interrupted.run.err;
                if (moment.renaming) {
                    EXPECT_TRUE(filesLeftIn(folder) == complete.files) << "not the whole split";
                } else {
                    EXPECT_EQ((Names{"data.txt", "out-p2.txt"}), folder.names());
                    EXPECT_EQ("older\n", readFile(folder / "out-p2.txt"));
                }
            }
        }
    }
}

// Return whether the process of the specified 'pid' waits for a lock taken
// with 'flock' (the kernel lists it in /proc/locks, after "->").
bool waitsForALock(pid_t pid) {
    std::istringstream locks(readFile("/proc/locks"));
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, arrow, kind, mode, access, holder;
        fields >> number >> arrow >> kind >> mode >> access >> holder;
        if (arrow == "->" && kind == "FLOCK" && holder == std::to_string(pid)) {
            return true;
        }
    }
    return false;
}

TEST(ResultNames, ReplacesTheResultsOfConcurrentRunsAsWholeSets) {
    // Two runs with the same TITLE in one folder.  The first stands still
    // in the middle of putting its set in place (its simulation results are
    // in place, its full table is not); the second, started then, must wait
    // for it (the lock on the folder) and replace the whole set after it.
    // Without the lock the second would write its whole set meanwhile, and
    // the first would then put the rest of its own over it: the simulation
    // results of one data file beside the full table of the other.
    auto data = [](char prefix) {
        std::string text = "PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=1\nTITLE=same\n\nS,a\n";
        for (int i = 0; i < 3000; ++i) {
            text += prefix + std::to_string(i) + ',' + std::to_string(1 + i % 5) + '\n';
        }
        return text;
    };
    ScratchFolder alone;
    writeFile(alone / "b.txt", data('b'));
    const RunResult second = runPsex(alone.path(), {"b.txt"}, {"b.txt"});
    ASSERT_EQ(0, second.status);

    ScratchFolder folder;
    writeFile(folder / "a.txt", data('a'));
    writeFile(folder / "b.txt", data('b'));
    const Names inputs{"a.txt", "b.txt"};
    // The first run stops just before it renames its full table.
    const Moment renaming = {
        "renaming the full table", "renameat2", ".fulltable_same.csv.tmp", 1, false, true};
    const ScratchFolder logFolder;
    const std::string log = (logFolder / "moment").string();
    const psex::test::RunOptions stopping{inputs, signalAt(renaming, SIGSTOP, log), {}};
    psex::test::ProgramRun first(PSEX_BINARY, folder.path(), {"a.txt"}, stopping);
    siginfo_t info = {};
    ::waitid(P_PID, first.pid(), &info, WSTOPPED | WEXITED | WNOWAIT);
    ASSERT_EQ(CLD_STOPPED, info.si_code) << "the first run never reached its renames";
    ASSERT_EQ(0u, readFile(folder / "simresults_same.csv").find("Datafile,a.txt\n"));

    psex::test::ProgramRun later(PSEX_BINARY, folder.path(), {"b.txt"}, {inputs, {}, {}});
    // The second run cannot end while the first holds the lock: it either
    // comes to wait for it, or (without a lock) runs to its end.
    bool waited = false;
    while (!waited && !later.hasEnded()) {
        waited = waitsForALock(later.pid());
        ::sched_yield();
    }
    EXPECT_TRUE(waited) << "the second run did not wait for the first one's set to be in place";
    ::kill(first.pid(), SIGCONT);
    EXPECT_EQ(0, first.wait().status);
    const RunResult last = later.wait();
    EXPECT_EQ(0, last.status);
    EXPECT_TRUE(last.files == second.files) << "not the whole set of the second run";
    expectSignalledAt({last, readFile(log)}, renaming, SIGSTOP);
}

} // namespace
