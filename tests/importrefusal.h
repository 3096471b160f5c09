// importrefusal.h                                                -*-C++-*-
#ifndef PSEX_TESTS_IMPORTREFUSAL_H
#define PSEX_TESTS_IMPORTREFUSAL_H

// Purpose: let a test of psex-import's readers compare a refusal as one
// string: where it points and what it says.

#include "import/importeddata.h"

#include <functional>
#include <string>

namespace psex::test {

inline std::string refusalOf(const std::function<void()>& read) {
    // Call the specified 'read' and return the refusal it throws as
    // "<line>|<column>|<text>" (or "<line>|message|<message>" for a refusal
    // whose message stands alone), or "no refusal".
    try {
        read();
    } catch (const ImportRefusal& refusal) {
        if (!refusal.message.empty()) {
            return std::to_string(refusal.line) + "|message|" + refusal.message;
        }
        return std::to_string(refusal.line) + "|" + refusal.column + "|" + refusal.text;
    }
    return "no refusal";
}

} // namespace psex::test

#endif
