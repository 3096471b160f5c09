// driver.cpp                                                     -*-C++-*-
#include "driver.h"

#include "datareader.h"
#include "fastsimulation.h"
#include "messagesink.h"
#include "mlgtable.h"
#include "outputfile.h"
#include "progress.h"
#include "reports.h"
#include "simulation.h"
#include "threadcount.h"

#include <sys/stat.h>

#include <fstream>
#include <ostream>

namespace psex {

namespace {

bool exists(const std::string& name) {
    // A name with a NUL byte (from a TITLE, say) names no file; the system
    // call would see only the part before the NUL.
    struct stat status;
    return name.find('\0') == std::string::npos && ::stat(name.c_str(), &status) == 0;
}

// Return whether the data file at the specified 'path', already opened as
// the specified 'input', can be read as a file.  A folder opens as a stream
// like a file does, but it holds no data file.
bool isReadable(const std::ifstream& input, const std::string& path) {
    struct stat status;
    return input && !(::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode));
}

void warnIfExists(const std::string& name, MessageSink& messages) {
    if (exists(name)) {
        messages.output("Warning: overwriting output file '" + name + "'.");
    }
}

void writeSimulationResultsFile(std::ostream& out, const std::string& path, const MLGTable& table,
                                const DataReader& reader) {
    out << "Datafile," << path << std::endl << std::endl;
    writeSimulationResults(table, out);
    out << std::endl << std::endl;
    out << "Specified parameters:" << std::endl;
    for (const auto& parameter : reader.parameters()) {
        out << parameter.first << ',' << parameter.second << std::endl;
    }
    out << std::endl;
}

void writeFullTableFile(std::ostream& out, const std::string& path, const MLGTable& table) {
    out << "Datafile," << path << std::endl << std::endl;
    writeFullTable(table, out);
    out << std::endl << std::endl;
}

// Put the result file behind the specified 'out' in place and return whether
// that worked; report it on standard error when not.  A failed file leaves
// no trace: an older file of that name stays as it was.
bool commitAndCheck(OutputFile& out, MessageSink& messages) {
    if (!out.commit()) {
        messages.error("error: cannot write output file '" + out.name() + "'.");
        return false;
    }
    return true;
}

} // namespace

int runDataFiles(const std::vector<std::string>& paths, MessageSink& messages) {
    bool allWritten = true;
    const unsigned threads = simulationThreads();
    for (const std::string& path : paths) {
        std::ifstream input(path);
        if (!isReadable(input, path)) {
            return 2;
        }
        messages.output("Reading file " + path);
        DataReader reader(input, messages);
        ProgressIndicator progress(messages.errorStream(), standardErrorIsTerminal());
        const MLGTable table =
            buildAndSimulate(reader, randomGenerator(), messages, progress.callback(), threads);
        progress.finish();

        const std::string runName = table.title().empty() ? path : table.title();
        const std::string simulationName = "simresults_" + runName + ".csv";
        const std::string fullTableName = "fulltable_" + runName + ".csv";
        warnIfExists(simulationName, messages);
        warnIfExists(fullTableName, messages);

        // Each file is written under a temporary name and renamed into place
        // once complete, so a failed write never leaves half a file.  The
        // first is put in place before the second is written: on a nearly
        // full disk the second must not take the room that the first needs.
        OutputFile simulationOut(simulationName);
        writeSimulationResultsFile(simulationOut.stream(), path, table, reader);
        const bool simulationWritten = commitAndCheck(simulationOut, messages);
        OutputFile fullTableOut(fullTableName);
        writeFullTableFile(fullTableOut.stream(), path, table);
        const bool fullTableWritten = commitAndCheck(fullTableOut, messages);
        if (simulationWritten && fullTableWritten) {
            messages.output("Results are written to '" + simulationName + "'.");
        } else {
            allWritten = false;
        }
    }
    return allWritten ? 0 : 1;
}

} // namespace psex
