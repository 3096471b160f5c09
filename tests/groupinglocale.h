// groupinglocale.h                                               -*-C++-*-
#ifndef PSEX_TESTS_GROUPINGLOCALE_H
#define PSEX_TESTS_GROUPINGLOCALE_H

// Purpose: make the process's global locale one that groups digits and
// writes a decimal comma while a test runs, as a program that embeds the
// library might set it.

#include <locale>
#include <string>

namespace psex::test {

struct GroupingPunctuation : std::numpunct<char> {
    // '.' between groups of three digits, ',' as the decimal point.
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

class GroupingLocale {
    // Sets the global locale while it lives.

    // DATA
    std::locale d_previous;

  public:
    GroupingLocale()
        : d_previous(
              std::locale::global(std::locale(std::locale::classic(), new GroupingPunctuation))) {}
    GroupingLocale(const GroupingLocale&) = delete;
    GroupingLocale& operator=(const GroupingLocale&) = delete;
    ~GroupingLocale() { std::locale::global(d_previous); }
};

} // namespace psex::test

#endif
