// contract.h                                                     -*-C++-*-
#ifndef PSEX_CONTRACT_H
#define PSEX_CONTRACT_H

// Purpose: check the preconditions of operations in every build type.
//
// A contract check guards the program's own bookkeeping, never the data: bad
// data gets a message and a default, while a failed check means a caller
// broke a precondition.  It prints the text of the condition and aborts,
// whether or not 'NDEBUG' is defined.

namespace psex {

[[noreturn]] void assertionFailed(const char* condition, const char* file, int line);
// Print the specified 'condition' text with the specified 'file' and 'line'
// to standard error and abort the process.

} // namespace psex

#define PSEX_ASSERT(cond) ((cond) ? void(0) : ::psex::assertionFailed(#cond, __FILE__, __LINE__))

#endif
