// allelecode.h                                                   -*-C++-*-
#ifndef PSEX_ALLELECODE_H
#define PSEX_ALLELECODE_H

// Purpose: read the text of one allele cell of a lab's table as an allele
// value, a missing copy, or something to refuse.
//
// Alleles are whole numbers as written (fragment sizes, repeat counts, or
// numeric codes).  Labs mark a copy that did not amplify in many ways: 0,
// -9, NA, ?, . or an empty cell; which texts mean "missing" is a list that
// the user can replace.  SNP tables often hold the nucleotide itself: the
// letters A, C, G and T (in any case) are read as the alleles 1, 2, 3 and
// 4.  Anything else -- a decimal such as 152.6, a word, a number beyond
// the 32-bit range -- is refused rather than guessed at: psex would read
// "152.6" as 152 and "abc" as 0 without a word.

#include <cstdint>
#include <string>
#include <vector>

namespace psex {

enum class AlleleKind {
    e_NUMBER,     // a whole number, in 'value'
    e_NUCLEOTIDE, // A, C, G or T, in 'value' as 1, 2, 3 or 4
    e_MISSING,    // one of the missing-data codes
    e_INVALID     // none of these; 'problem' says why
};

struct AlleleCell {
    // What one cell holds.

    AlleleKind kind = AlleleKind::e_INVALID;
    std::int32_t value = 0;
    std::string problem; // for e_INVALID: the cell, what is wrong, what was expected
};

std::vector<std::string> defaultMissingCodes();
// Return the missing-data codes used unless the user gives others: 0, -9,
// NA, ?, . and the empty cell (an empty string).

class AlleleReader {
    // Reads cells against one list of missing-data codes.  A value type.

    // DATA
    std::vector<std::string> d_codes;        // as given, for messages
    std::vector<std::string> d_textCodes;    // upper-cased codes that are not numbers
    std::vector<std::int64_t> d_numberCodes; // codes that are whole numbers
    bool d_emptyIsMissing = false;

  public:
    // CREATORS
    explicit AlleleReader(const std::vector<std::string>& missingCodes);
    // Create a reader for which the specified 'missingCodes' mean a missing
    // copy.  A code that is a whole number matches every cell of that value
    // ("00" and "-09" as well as "0" and "-9"); other codes match the cell's
    // text in any case; an empty code matches an empty cell.  Surrounding
    // white space of codes and cells is ignored.

    // ACCESSORS
    AlleleCell read(const std::string& text) const;
    // Return what the cell of the specified 'text' holds.

    std::string expectation() const;
    // Return what a cell may hold, for messages: "a whole number, a
    // nucleotide letter A, C, G or T, or a missing-data code (0, -9, NA, ?,
    // . or an empty cell)".

    bool isMissingNumber(std::int64_t value) const;
    // Return whether the specified whole-number 'value' is a missing-data
    // code.
};

bool parseWholeNumber(const std::string& text, std::int64_t* value);
// Load the specified 'value' with the whole number that the specified
// 'text' is (an optional '-' and 1 to 18 decimal digits, nothing else) and
// return true, or return false when the text is not such a number.

} // namespace psex

#endif
