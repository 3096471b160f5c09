// report_fuzzer.cpp                                              -*-C++-*-
//
// A libFuzzer target over the whole road of a data file: the bytes are read
// as a data file, the genotype table is built, a few simulated data sets are
// drawn, and both result file bodies are written into memory.  Any crash,
// sanitizer finding, hang or runaway allocation on the way is a fault.
//
// The simulation is capped at a few data sets whatever SIMULATIONS says: its
// cost is the one that the data file legitimately asks for, and fuzzing it
// would only measure time.  It runs twice, in the program's fast form and in
// the plain one, which must agree to the bit.  See tests/fuzz/README.md for
// how to run it.

#include "datareader.h"
#include "mlgtable.h"
#include "reports.h"
#include "simulation.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>

namespace {

constexpr std::int32_t k_maxSimulations = 3;

std::size_t lineCount(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Stop the run when the specified 'condition' does not hold: a report that
// contradicts the table is a fault even when nothing crashes.
void require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The console messages of the reader and the table builder are part of
    // the road, but printing them would drown the fuzzer's own output: a
    // stream without a buffer formats nothing and prints nothing.
    std::cout.rdbuf(nullptr);
    std::cerr.rdbuf(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    psex::DataReader reader(in);
    psex::MLGTable table = psex::buildTable(reader);
    table.limitSimulations(k_maxSimulations);

    // The program's fast simulation must give exactly what the plain one
    // gives, drawing the same numbers: same values, same generator state.
    psex::RandomGenerator generator; // the same stream for every input
    psex::RandomGenerator plainGenerator;
    const psex::PsexList values = psex::simulatedPsexList(table, generator);
    require(values.values() == psex::simulatedPsexValues(table, plainGenerator));
    require(generator == plainGenerator);
    table.setPsexValues(values);
    table.assignPValues();

    std::ostringstream results;
    psex::writeSimulationResults(table, results);
    std::ostringstream fullTable;
    psex::writeFullTable(table, fullTable);

    // Every sample has one line in the full table below its column line;
    // no field can hold a line end, as the reader ends fields there.
    require(lineCount(fullTable.str()) == table.sampleNames().size() + 1);
    require(results.str().find("\nPValues," + std::to_string(table.psexValues().size()) + "\n") !=
            std::string::npos);
    return 0;
}
