// main.cpp                                                       -*-C++-*-
//
// psex: for every multilocus genotype that a sample of a partly clonal
// population holds more than once, how likely are the repeats to come from
// separate sexual events?  Every argument is a data file (see 'psex --help'
// and the README).

#include "base/messagesink.h"
#include "base/signals.h"
#include "psex/driver.h"
#include "simulation/randomgenerator.h"

#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    // A signal that ends the run removes the temporary result files first.
    psex::installSignalHandlers();
    psex::randomGenerator(); // the random stream starts before any data file
    psex::MessageSink messages = psex::standardStreams();
    return psex::runProgram(std::vector<std::string>(argv + 1, argv + argc), messages);
}
