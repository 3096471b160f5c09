// driver.cpp                                                     -*-C++-*-
#include "psex/driver.h"

#include "analysis/lineages.h"
#include "analysis/linkage.h"
#include "analysis/locuscurve.h"
#include "analysis/spatial.h"
#include "base/messagesink.h"
#include "base/progress.h"
#include "base/resultfiles.h"
#include "base/threadcount.h"
#include "model/datareader.h"
#include "model/mlgtable.h"
#include "model/tablebuilder.h"
#include "psex/commandline.h"
#include "reports/reports.h"
#include "reports/summary.h"
#include "simulation/fastsimulation.h"
#include "simulation/randomgenerator.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <new>
#include <optional>
#include <ostream>
#include <stdexcept>

namespace psex {

namespace {

// Return whether the data file at the specified 'path', already opened as
// the specified 'input', can be read as a file.  A folder opens as a stream
// like a file does, but it holds no data file.
bool isReadable(const std::ifstream& input, const std::string& path) {
    struct stat status;
    return input && !(::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode));
}

// Warn when the simulated list of the specified 'table' is too short to
// resolve the levels its clonal MLGs are judged at: with M values no level
// finer than 1/M exists, and the '***' code asks for 0.001.  Without any
// value there is no level at all.
void warnIfTooFewRepeats(const MLGTable& table, MessageSink& messages) {
    constexpr std::uint64_t k_enough = 1000;
    const std::uint64_t m = table.psexValues().size();
    const bool repeats = !table.repeatedPsexValues().empty();
    if (repeats && m == 0) {
        messages.error("warning: no simulated repeats; the significance of repeated genotypes is "
                       "undefined: raise SIMULATIONS.");
    } else if (repeats && m < k_enough) {
        const std::string count = std::to_string(m);
        messages.error("warning: only " + count + " simulated repeats; levels finer than 1/" +
                       count +
                       " are not resolved (the 0.001 level needs 1000): raise SIMULATIONS.");
    }
}

// How the analysis of one data file ended.
enum class Outcome {
    e_complete,   // results written, nothing wrong
    e_failed,     // something the user must know about: exit status 1
    e_cannotOpen, // the data file cannot be opened: the run stops
};

// The results of the analyses that header keys switch on, each when asked
// for.
struct TableAnalyses {
    std::optional<Linkage> linkage;               // LINKAGE
    std::optional<std::vector<CurvePoint>> curve; // LOCICURVE
    std::optional<SpatialAnalysis> spatial;       // COORDINATES, the columns in place
};

// Return the result files of the data file at the specified 'path', in the
// order they are written, from its finished 'table' and the header
// 'parameters' it was built with.
std::vector<ResultFile> resultFilesOf(const std::string& path, const MLGTable& table,
                                      const Parameters& parameters, const Lineages& lineages,
                                      const ReferenceDistances* reference,
                                      const TableAnalyses& analyses) {
    const std::string runName = table.title().empty() ? path : table.title();
    std::vector<ResultFile> files = {
        {"simresults_" + runName + ".csv",
         [&](std::ostream& out) { writeSimulationResultsFile(path, table, parameters, out); }},
        {"fulltable_" + runName + ".csv",
         [&](std::ostream& out) { writeFullTableFile(path, table, out); }},
        {"samples_" + runName + ".csv",
         [&](std::ostream& out) { writeSamples(table, lineages.lineageOfMlg, out); }},
        {"summary_" + runName + ".csv",
         [&table, &lineages, &analyses](std::ostream& out) {
             writeSummary(table, lineages, out, analyses.spatial ? &*analyses.spatial : nullptr);
         }},
    };
    if (reference != nullptr) {
        files.push_back(
            {"distances_" + runName + ".csv", [&lineages, reference](std::ostream& out) {
                 writeDistances(lineages, *reference, out);
             }});
    } else if (runName.find('/') == std::string::npos) {
        // A distances file of an earlier run with lineages would read as if
        // it belonged to this run's samples and summary: it goes with the
        // replacement.  (Only in the working folder: a run name with a
        // folder part may lead anywhere.)
        files.push_back({"distances_" + runName + ".csv", {}});
    }
    // The files of the analyses that header keys switch on; an earlier
    // run's file of an analysis not asked for goes, as the distances do.
    const bool inWorkingFolder = runName.find('/') == std::string::npos;
    const auto analysisFile = [&](const std::string& prefix, bool asked,
                                  std::function<void(std::ostream&)> write) {
        if (asked) {
            files.push_back({prefix + runName + ".csv", std::move(write)});
        } else if (inWorkingFolder) {
            files.push_back({prefix + runName + ".csv", {}});
        }
    };
    analysisFile("linkage_", analyses.linkage.has_value(),
                 [&analyses](std::ostream& out) { writeLinkage(*analyses.linkage, out); });
    analysisFile("loci_", analyses.curve.has_value(),
                 [&analyses](std::ostream& out) { writeLocusCurve(*analyses.curve, out); });
    // Where the clones are: only for samples with coordinates in place.
    analysisFile("spatial_", analyses.spatial.has_value(),
                 [&analyses](std::ostream& out) { writeSpatial(*analyses.spatial, out); });
    analysisFile("kinship_", analyses.spatial.has_value(),
                 [&analyses](std::ostream& out) { writeKinship(*analyses.spatial, out); });
    return files;
}

// Return the specified header 'parameters' of a data file with the
// specified 'settings' of the command line in place of its own lines.
Parameters withSettings(Parameters parameters, const Settings& settings) {
    for (const auto& [key, value] : settings) {
        parameters[key] = value;
    }
    return parameters;
}

// Analyse the data file at the specified 'path', opened as the specified
// 'input', with the specified command-line 'settings', and write its
// results.
Outcome analyseOpenedDataFile(std::istream& input, const std::string& path, MessageSink& messages,
                              unsigned threads, const Settings& settings) {
    DataReader reader(input, messages);
    const Parameters parameters = withSettings(reader.parameters(), settings);
    MLGTable table = buildTable(parameters, sampleRowsOf(reader), messages);
    if (reader.readError()) {
        // Results from part of the data would pass for results from all of
        // it: none are written, and older ones stay as they were.
        messages.error("error: cannot read '" + path + "'.");
        return Outcome::e_failed;
    }
    ProgressIndicator progress(messages.errorStream(), standardErrorIsTerminal());
    judgeBySimulation(table, randomGenerator(), messages, progress.callback(), threads);
    progress.finish();
    warnIfTooFewRepeats(table, messages);

    // Lineages, when asked for, with the distances that sexual reproduction
    // makes beside the observed ones (from a random source of their own).
    Lineages lineages = singletonLineages(table);
    std::optional<ReferenceDistances> reference;
    if (table.lineageDistance()) {
        ProgressIndicator pairsProgress(messages.errorStream(), standardErrorIsTerminal(),
                                        ProgressIndicator::steadyClock(), "Forming lineages");
        const LineageMethod method = table.settings().lineageMethod;
        lineages = formLineages(table, *table.lineageDistance(), method, threads,
                                pairsProgress.callback());
        pairsProgress.finish();
        if (lineages.tooManyForMethod) {
            // The pair table of AVERAGE and FARTHEST grows with the square
            // of G: the run goes on with one lineage per MLG.
            const auto largestDistance =
                static_cast<std::uint32_t>(table.ploidy()) * table.locusCount();
            messages.error(methodTooLargeMessage(
                method, largestClusteredTable(method, largestDistance, *table.lineageDistance())));
        }
        reference = referenceDistances(
            table, static_cast<std::uint64_t>(std::max(table.simulations(), 0)) * 10);
    }

    // The analyses that header keys switch on, each with its own progress
    // line on a terminal.
    const auto withProgress = [&](const char* label, const auto& run) {
        ProgressIndicator progress(messages.errorStream(), standardErrorIsTerminal(),
                                   ProgressIndicator::steadyClock(), label);
        auto result = run(progress.callback());
        progress.finish();
        return result;
    };
    TableAnalyses analyses;
    if (const std::optional<std::int32_t> permutations = table.settings().linkagePermutations) {
        analyses.linkage = withProgress("Testing linkage", [&](const SimulationProgress& shown) {
            return linkageAnalysis(table, static_cast<std::uint32_t>(*permutations), threads,
                                   shown);
        });
    }
    if (const std::optional<std::int32_t> subsets = table.settings().curveSubsets) {
        analyses.curve = withProgress(
            "Counting genotypes on subsets of loci", [&](const SimulationProgress& shown) {
                return locusCurve(table, static_cast<std::uint32_t>(*subsets), threads, shown);
            });
    }
    if (table.settings().coordinateColumns) {
        analyses.spatial =
            withProgress("Kinship by distance", [&](const SimulationProgress& shown) {
                return analyseSpace(table, lineages, messages, threads, shown);
            });
    }

    const std::vector<ResultFile> files = resultFilesOf(
        path, table, parameters, lineages, reference ? &*reference : nullptr, analyses);
    bool complete = false;
    if (const std::optional<std::string> refusal = refusalOf(files, path, !table.title().empty())) {
        messages.error(*refusal);
    } else if (writeResultFiles(files, messages)) {
        messages.output("Results are written to '" + files.front().name + "'.");
        complete = true;
    } else {
        messages.error("error: no result file of '" + path + "' was replaced.");
    }
    if (table.sampleNames().empty()) {
        // Empty results are written (they list the header and the loci),
        // but a run without a single sample is no success.
        messages.error("error: no sample was read from '" + path + "'.");
        complete = false;
    }
    if (reader.dataEndedEarly()) {
        // The results hold the samples before the line that ended the
        // data; those after it are lost, which is no success either.
        complete = false;
    }
    if (reader.looksLikeTable()) {
        // One header message per row says what is wrong, not what to do.
        messages.error("hint: '" + path +
                       "' looks like a spreadsheet table, not a psex data file; convert it with "
                       "psex-import.");
    }
    return complete ? Outcome::e_complete : Outcome::e_failed;
}

Outcome analyseDataFile(const std::string& path, MessageSink& messages, unsigned threads,
                        const Settings& settings) {
    std::ifstream input(path);
    if (!isReadable(input, path)) {
        return Outcome::e_cannotOpen;
    }
    messages.output("Reading file " + path);
    try {
        return analyseOpenedDataFile(input, path, messages, threads, settings);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) { // a size beyond what a string can hold
    }
    // A line without end from a FIFO, or a file too large for the memory
    // that the process may use: what was read, built or written of it is
    // gone by now (a temporary result file with it), and the memory with it,
    // so the next data file has all of it again.
    messages.error("error: out of memory while reading '" + path + "'.");
    return Outcome::e_failed;
}

} // namespace

int runDataFiles(const std::vector<std::string>& paths, MessageSink& messages,
                 const Settings& settings) {
    // The simulations (and the comparison of genotype pairs for lineages)
    // run on every core the process may use, or on PSEX_THREADS threads;
    // no result depends on the number.
    const unsigned threads = simulationThreads();
    int status = 0;
    for (const std::string& path : paths) {
        switch (analyseDataFile(path, messages, threads, settings)) {
        case Outcome::e_cannotOpen:
            return 2;
        case Outcome::e_failed:
            status = 1;
            break;
        case Outcome::e_complete:
            break;
        }
    }
    return status;
}

int runProgram(const std::vector<std::string>& arguments, MessageSink& messages) {
    const CommandLine line = parseCommandLine(arguments);
    int status = 0;
    switch (line.action) {
    case CommandLine::Action::e_help:
        messages.write(usageText());
        break;
    case CommandLine::Action::e_version:
        messages.write(versionText());
        break;
    case CommandLine::Action::e_unknown:
        messages.error("error: unknown option '" + line.unknownOption + "' (try --help)");
        return 2;
    case CommandLine::Action::e_wrongSetting:
        messages.error(line.problem);
        return 2;
    case CommandLine::Action::e_analyse:
        if (!line.settings.empty() && !line.dataFiles.empty()) {
            std::string list;
            for (const auto& [key, value] : line.settings) {
                list += (list.empty() ? "" : ", ") + key + "=" + value;
            }
            messages.output("Set from the command line: " + list);
        }
        status = runDataFiles(line.dataFiles, messages, line.settings);
        break;
    }
    // Results are in the files, but a log that lost its lines (a full disk
    // behind a redirection) must not pass for a clean run.
    if (messages.outputFailed()) {
        messages.error("error: cannot write to standard output.");
        status = status == 0 ? 1 : status;
    }
    return status;
}

} // namespace psex
