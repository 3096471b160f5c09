// driver.cpp                                                     -*-C++-*-
#include "driver.h"

#include "datareader.h"
#include "mlgtable.h"
#include "progress.h"
#include "reports.h"
#include "simulation.h"

#include <sys/stat.h>

#include <fstream>
#include <iostream>

namespace psex {

namespace {

bool exists(const std::string& name) {
    struct stat status;
    return ::stat(name.c_str(), &status) == 0;
}

void warnIfExists(const std::string& name) {
    if (exists(name)) {
        std::cout << "Warning: overwriting output file '" << name << "'." << std::endl;
    }
}

void writeSimulationResultsFile(std::ofstream& out, const std::string& path, const MLGTable& table,
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

void writeFullTableFile(std::ofstream& out, const std::string& path, const MLGTable& table) {
    out << "Datafile," << path << std::endl << std::endl;
    writeFullTable(table, out);
    out << std::endl << std::endl;
}

// Return whether the file behind the specified 'out' was written completely;
// report it on standard error when not.
bool closeAndCheck(std::ofstream& out, const std::string& name) {
    out.close();
    if (out.fail()) {
        std::cerr << "error: cannot write output file '" << name << "'." << std::endl;
        return false;
    }
    return true;
}

} // namespace

int runDataFiles(const std::vector<std::string>& paths) {
    bool allWritten = true;
    for (const std::string& path : paths) {
        std::ifstream input(path);
        if (!input) {
            return 2;
        }
        std::cout << "Reading file " << path << std::endl;
        DataReader reader(input);
        ProgressIndicator progress(std::cerr, standardErrorIsTerminal());
        const MLGTable table = buildAndSimulate(reader, randomGenerator(), progress.callback());
        progress.finish();

        const std::string runName = table.title().empty() ? path : table.title();
        const std::string simulationName = "simresults_" + runName + ".csv";
        const std::string fullTableName = "fulltable_" + runName + ".csv";
        warnIfExists(simulationName);
        warnIfExists(fullTableName);

        std::ofstream simulationOut(simulationName);
        writeSimulationResultsFile(simulationOut, path, table, reader);
        std::ofstream fullTableOut(fullTableName);
        writeFullTableFile(fullTableOut, path, table);

        const bool simulationWritten = closeAndCheck(simulationOut, simulationName);
        const bool fullTableWritten = closeAndCheck(fullTableOut, fullTableName);
        if (simulationWritten && fullTableWritten) {
            std::cout << "Results are written to '" << simulationName << "'." << std::endl;
        } else {
            allWritten = false;
        }
    }
    return allWritten ? 0 : 1;
}

} // namespace psex
