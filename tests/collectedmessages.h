// collectedmessages.h                                            -*-C++-*-
#ifndef PSEX_TESTS_COLLECTEDMESSAGES_H
#define PSEX_TESTS_COLLECTEDMESSAGES_H

// Purpose: a message sink whose two channels are strings, for tests that
// check what the code under test reports.

#include "base/messagesink.h"

#include <sstream>
#include <string>

namespace psex::test {

class CollectedMessages {
    // Not copyable: the sink refers to the two string streams.

    // DATA
    std::ostringstream d_output;
    std::ostringstream d_error;
    MessageSink d_sink{d_output, d_error};

  public:
    // CREATORS
    CollectedMessages() = default;
    CollectedMessages(const CollectedMessages&) = delete;
    CollectedMessages& operator=(const CollectedMessages&) = delete;

    // MANIPULATORS
    MessageSink& sink() { return d_sink; }
    operator MessageSink&() { return d_sink; }

    // ACCESSORS
    std::string output() const { return d_output.str(); }
    std::string error() const { return d_error.str(); }
};

} // namespace psex::test

#endif
