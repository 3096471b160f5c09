// importformats_test.cpp                                         -*-C++-*-
#include "import/importformats.h"

#include "importrefusal.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using psex::ImportedData;
using psex::ImportFormat;
using psex::TableOptions;

std::string recognized(const std::string& text, char separator = 0) {
    return std::string(psex::recognizeImportFormat(text, separator).name);
}

const ImportFormat& formatNamed(const std::string& name) {
    const ImportFormat* format = psex::findImportFormat(name);
    EXPECT_NE(nullptr, format) << name;
    return format != nullptr ? *format : psex::importFormats().back();
}

TEST(ImportFormats, HaveNamesAndHelpFitForTheCommandLineAndTheManualPage) {
    ASSERT_FALSE(psex::importFormats().empty());
    std::set<std::string_view> names;
    for (const ImportFormat& format : psex::importFormats()) {
        SCOPED_TRACE(std::string(format.name));
        // A word of '--format', matched in any case: lower case, unique,
        // and not the word that asks for recognition.
        EXPECT_FALSE(format.name.empty());
        EXPECT_EQ(std::string_view::npos,
                  format.name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-"));
        EXPECT_NE("auto", format.name);
        EXPECT_TRUE(names.insert(format.name).second);
        // One line that a manual page can hold as text: no line end, no
        // backslash, and no '.' or '\'' where a request would begin.
        EXPECT_FALSE(format.help.empty());
        EXPECT_EQ(std::string_view::npos, format.help.find_first_of("\n\\"));
        EXPECT_NE('.', format.help.front());
        EXPECT_NE('\'', format.help.front());
        EXPECT_EQ(&format, psex::findImportFormat(format.name));
    }
    EXPECT_EQ(nullptr, psex::findImportFormat("auto"));
    EXPECT_EQ(nullptr, psex::findImportFormat("GenAlEx")); // the command line folds the case
    EXPECT_EQ(nullptr, psex::findImportFormat(""));
}

TEST(ImportFormats, RecognizeAnInputAsTheFirstFormatItFits) {
    EXPECT_EQ("genepop", recognized("Seagrass 2019\nCnA3, CnB1\nPop\nCN01, 0102 0303\n"));
    EXPECT_EQ("genalex", recognized("1,2,1,2\nt,,,p\nSample,Pop,A,\nx,p,1,2\ny,p,1,1\n"));
    EXPECT_EQ("genalex", recognized("1;2;1\nt\nS;P;A;\nx;p;1;2\n"));
    EXPECT_EQ("table", recognized("Sample\tA\tA\nx\t1\t2\n"));
    // A genepop file whose title line happens to be three numbers also
    // begins like a GenAlEx count row: genepop is tried first.
    const std::string numberedTitle = "1,2,3\nA\nPop\nx, 0102\n";
    EXPECT_TRUE(formatNamed("genalex").looksLike(numberedTitle, 0));
    EXPECT_EQ("genepop", recognized(numberedTitle));
    // The separator the user names is the one a sheet is cut at: a
    // semicolon sheet cut at commas has no count row.
    EXPECT_EQ("table", recognized("1;2;1\nt\nS;P;A;\nx;p;1;2\n", ','));
    // The last format takes whatever the others do not, even nothing.
    EXPECT_EQ("table", recognized(""));
    EXPECT_EQ("table", recognized("\x01\x02\xFF"));
    EXPECT_TRUE(psex::importFormats().back().looksLike("", 0));
    // Broken quoting where a sheet's first rows are read is a refusal
    // that points at the cell.
    EXPECT_EQ(0u, psex::test::refusalOf([] { recognized("1,a\"b\",3\n"); }).find("1|2 (B)|"));
}

TEST(ImportFormats, ReadTheirInputAndNameItForTheSummary) {
    const ImportedData genepop = formatNamed("genepop").read(
        "Seagrass 2019\nCnA3\nPop\nCN01, 0102\nCN02, 0101\n", 0, TableOptions());
    EXPECT_EQ("genepop", genepop.formatName);
    EXPECT_EQ(2u, genepop.samples.size());

    const ImportedData genAlEx = formatNamed("genalex").read(
        "1\t2\t1\t2\nt\t\t\tp\nS\tP\tA\t\nx\tp\t1\t2\ny\tp\t3\t4\n", 0, TableOptions());
    EXPECT_EQ("GenAlEx, TAB-separated", genAlEx.formatName);
    EXPECT_EQ(2u, genAlEx.samples.size());

    // The separator named wins over the one found most often.
    const ImportedData table =
        formatNamed("table").read("a,b,c,d;A;A\nx,y,z,w;1;2\n", ';', TableOptions());
    EXPECT_EQ("a table, semicolon-separated", table.formatName);
    ASSERT_EQ(1u, table.samples.size());
    EXPECT_EQ("x,y,z,w", table.samples[0].name); // not yet tidied

    // A format named by the user reads the input as that format or refuses.
    EXPECT_NE("no refusal", psex::test::refusalOf([] {
                  formatNamed("genalex").read("Sample,A,A\nx,1,2\n", 0, TableOptions());
              }));
    EXPECT_NE("no refusal", psex::test::refusalOf([] {
                  formatNamed("genepop").read("Sample,A,A\nx,1,2\n", 0, TableOptions());
              }));
}

// Return the specified 'text' as the text of a manual page writes it:
// a minus sign as "\-".
std::string roff(std::string_view text) {
    std::string written;
    for (const char c : text) {
        if (c == '-') {
            written.push_back('\\');
        }
        written.push_back(c);
    }
    return written;
}

TEST(ImportFormats, AreEachDescribedInTheManualPage) {
    // The entry of '--format' in psex-import.1 lists the words it takes,
    // then every format, as a tagged paragraph of its name and its help:
    //   .BR \-\-format " auto|genepop|..."
    //   ...
    //   .RS
    //   .TP
    //   .B genepop
    //   <help>
    //   ...
    //   .RE
    std::ifstream page(PSEX_IMPORT_MAN_PAGE);
    ASSERT_TRUE(page) << PSEX_IMPORT_MAN_PAGE;
    std::vector<std::string> lines;
    for (std::string line; std::getline(page, line);) {
        lines.push_back(line);
    }
    std::string words = "auto";
    std::vector<std::pair<std::string, std::string>> expected;
    for (const ImportFormat& format : psex::importFormats()) {
        words.push_back('|');
        words += format.name;
        expected.emplace_back(std::string(format.name), roff(format.help));
    }
    const std::string heading = ".BR \\-\\-format \" " + words + "\"";
    std::size_t i = 0;
    while (i < lines.size() && lines[i].rfind(".BR \\-\\-format ", 0) != 0) {
        ++i;
    }
    ASSERT_LT(i, lines.size()) << "no entry for --format";
    EXPECT_EQ(heading, lines[i]);
    while (i < lines.size() && lines[i] != ".RS") {
        ++i;
    }
    std::vector<std::pair<std::string, std::string>> listed;
    for (++i; i + 2 < lines.size() && lines[i] == ".TP"; i += 3) {
        ASSERT_EQ(0u, lines[i + 1].rfind(".B ", 0)) << lines[i + 1];
        listed.emplace_back(lines[i + 1].substr(3), lines[i + 2]);
    }
    ASSERT_LT(i, lines.size());
    EXPECT_EQ(".RE", lines[i]);
    EXPECT_EQ(expected, listed);
}

} // namespace
