// main.cpp                                                       -*-C++-*-
//
// psex-import: convert a lab's genotype table (a GenAlEx sheet saved as
// CSV, a plain comma-, semicolon- or TAB-separated table) or a genepop file
// into a psex data file.  See 'psex-import --help', doc/psex-import.1.in
// and the README.

#include "base/messagesink.h"
#include "base/signals.h"
#include "import/importcommandline.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    // A signal that ends the run removes the temporary output files first.
    psex::installSignalHandlers();
    psex::MessageSink messages = psex::standardStreams();
    return psex::runImportProgram(std::vector<std::string>(argv + 1, argv + argc), std::cin,
                                  std::cout, messages);
}
