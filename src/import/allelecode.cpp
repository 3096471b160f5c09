// allelecode.cpp                                                 -*-C++-*-
#include "import/allelecode.h"

#include "import/importeddata.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace psex {

namespace {

std::string upperCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// Return whether the specified 'text' looks like a number with a fraction
// ("152.6", "152,6"), the commonest way a spreadsheet's arithmetic or
// binning leaks into a genotype table.
bool isDecimal(const std::string& text) {
    std::size_t digits = 0;
    std::size_t points = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (std::isdigit(static_cast<unsigned char>(c))) {
            ++digits;
        } else if (c == '.' || c == ',') {
            ++points;
        } else if (!(c == '-' && i == 0)) {
            return false;
        }
    }
    return digits > 0 && points == 1;
}

// Return whether the specified 'text' is an optional '-' and one or more
// decimal digits, whatever their number.
bool isDigitRun(const std::string& text) {
    const std::size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
    return text.size() > start && text.find_first_not_of("0123456789", start) == std::string::npos;
}

} // namespace

std::vector<std::string> defaultMissingCodes() {
    return {"0", "-9", "NA", "?", ".", ""};
}

bool parseWholeNumber(const std::string& text, std::int64_t* value) {
    const std::size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
    const std::size_t digits = text.size() - start;
    if (digits == 0 || digits > 18) {
        return false;
    }
    std::int64_t magnitude = 0;
    for (std::size_t i = start; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
            return false;
        }
        magnitude = magnitude * 10 + (text[i] - '0');
    }
    *value = start == 1 ? -magnitude : magnitude;
    return true;
}

AlleleReader::AlleleReader(const std::vector<std::string>& missingCodes) : d_codes(missingCodes) {
    for (const std::string& code : missingCodes) {
        const std::string text = trimmed(code);
        std::int64_t number = 0;
        if (text.empty()) {
            d_emptyIsMissing = true;
        } else if (parseWholeNumber(text, &number)) {
            d_numberCodes.push_back(number);
        } else {
            d_textCodes.push_back(upperCase(text));
        }
    }
}

AlleleCell AlleleReader::read(const std::string& text) const {
    const std::string cell = trimmed(text);
    AlleleCell result;
    std::int64_t number = 0;
    const bool isNumber = parseWholeNumber(cell, &number);
    if ((cell.empty() && d_emptyIsMissing) || (isNumber && isMissingNumber(number)) ||
        (!isNumber && !d_textCodes.empty() &&
         std::count(d_textCodes.begin(), d_textCodes.end(), upperCase(cell)) != 0)) {
        result.kind = AlleleKind::e_MISSING;
        return result;
    }
    if (isNumber && number >= std::numeric_limits<std::int32_t>::min() &&
        number <= std::numeric_limits<std::int32_t>::max()) {
        result.kind = AlleleKind::e_NUMBER;
        result.value = static_cast<std::int32_t>(number);
        return result;
    }
    static const std::string k_nucleotides = "ACGT";
    const std::size_t letter =
        cell.size() == 1 ? k_nucleotides.find(upperCase(cell)[0]) : std::string::npos;
    if (letter != std::string::npos) {
        result.kind = AlleleKind::e_NUCLEOTIDE;
        result.value = static_cast<std::int32_t>(letter + 1);
        return result;
    }
    if (isDigitRun(cell)) {
        result.problem = "allele " + quoted(cell) +
                         " is out of range (expected a whole number from -2147483648 to "
                         "2147483647, or a missing-data code)";
    } else if (cell.empty()) {
        result.problem = "the allele cell is empty, and an empty cell is not a missing-data "
                         "code here (expected " +
                         expectation() + ")";
    } else if (isDecimal(cell)) {
        result.problem =
            "allele " + quoted(cell) + " is not a whole number (expected " + expectation() + ")";
    } else {
        result.problem =
            "allele " + quoted(cell) + " is not an allele (expected " + expectation() + ")";
    }
    return result;
}

std::string AlleleReader::expectation() const {
    std::vector<std::string> shown;
    for (const std::string& code : d_codes) {
        const std::string text = trimmed(code);
        if (!text.empty() && std::find(shown.begin(), shown.end(), text) == shown.end()) {
            shown.push_back(text);
        }
    }
    if (d_emptyIsMissing) {
        shown.push_back("an empty cell");
    }
    std::string list;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        list += (i == 0 ? "" : i + 1 == shown.size() ? " or " : ", ") + shown[i];
    }
    if (list.empty()) {
        return "a whole number or a nucleotide letter A, C, G or T";
    }
    return "a whole number, a nucleotide letter A, C, G or T, or a missing-data code (" + list +
           ")";
}

bool AlleleReader::isMissingNumber(std::int64_t value) const {
    return std::count(d_numberCodes.begin(), d_numberCodes.end(), value) != 0;
}

} // namespace psex
