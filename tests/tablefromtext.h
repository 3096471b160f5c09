// tablefromtext.h                                                -*-C++-*-
#ifndef PSEX_TESTS_TABLEFROMTEXT_H
#define PSEX_TESTS_TABLEFROMTEXT_H

// Purpose: build the genotype table of a data file given as text, for
// tests that need a real table and not its messages.

#include "collectedmessages.h"
#include "model/datareader.h"
#include "model/mlgtable.h"
#include "model/tablebuilder.h"

#include <sstream>
#include <string>

namespace psex::test {

inline MLGTable tableFromText(const std::string& text) {
    // Return the table that the data file 'text' describes; its console
    // messages are dropped.
    CollectedMessages messages;
    std::istringstream in(text);
    DataReader reader(in, messages);
    return buildTable(reader, messages);
}

} // namespace psex::test

#endif
