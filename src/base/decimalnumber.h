// decimalnumber.h                                                -*-C++-*-
#ifndef PSEX_DECIMALNUMBER_H
#define PSEX_DECIMALNUMBER_H

// Purpose: read a decimal number as a sample's coordinates are written: one
// reading for psex, which takes the number, and for psex-import, which
// checks a cell before it writes it into a data file, so that what the
// import lets through psex reads.
//
// The form is an optional sign, digits with an optional fraction or a
// fraction alone, and an optional exponent: "12.5", "-3", ".5", "5.",
// "1e2".  No "inf", "nan", hexadecimal or decimal comma: a coordinate cell
// that a spreadsheet has mangled is not a place.

#include <optional>
#include <string_view>

namespace psex {

bool hasDecimalForm(std::string_view text);
// Return whether the specified 'text' is, as a whole, a decimal number of
// the form above (no spaces).

std::optional<double> decimalNumber(std::string_view text);
// Return the number that the specified 'text' writes in the form above
// (spaces around it allowed), read exactly, or nothing when the text is
// not of that form or the number is beyond the range of a double (too
// large, or not zero but too small even for a subnormal).

} // namespace psex

#endif
