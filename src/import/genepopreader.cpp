// genepopreader.cpp                                              -*-C++-*-
#include "import/genepopreader.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace psex {

namespace {

struct Line {
    // One line of the file, without its line end.

    std::size_t number = 0;
    std::string_view text;
};

// Return the line of the specified 'text' that begins at the specified
// 'start', numbered 'number', and move 'start' past its line end.
Line nextLine(std::string_view text, std::size_t* start, std::size_t number) {
    std::size_t end = text.find_first_of("\r\n", *start);
    if (end == std::string_view::npos) {
        end = text.size();
    }
    const Line line{number, text.substr(*start, end - *start)};
    const bool crlf = end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n';
    *start = end + (crlf ? 2 : 1);
    return line;
}

std::vector<Line> splitLines(std::string_view text) {
    std::vector<Line> lines;
    std::size_t start = 0;
    for (std::size_t number = 1; start < text.size(); ++number) {
        lines.push_back(nextLine(text, &start, number));
    }
    return lines;
}

const std::string_view k_byteOrderMark = "\xEF\xBB\xBF";

// Return the specified 'text' without the byte-order marks in it, which a
// file pasted into another leaves behind.
std::string withoutMarks(std::string_view text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.substr(i, 3) == k_byteOrderMark) {
            i += 2;
        } else {
            result += text[i];
        }
    }
    return result;
}

bool isBlank(std::string_view text) {
    return trimmed(withoutMarks(text)).empty();
}

// Return the warning for the specified blank 'line' when it holds white
// space or a byte-order mark rather than nothing, or an empty string.
std::string skippedLineWarning(const Line& line) {
    if (line.text.empty()) {
        return std::string();
    }
    const bool mark = line.text.find(k_byteOrderMark) != std::string_view::npos;
    return "line " + std::to_string(line.number) + ": the line holds only " +
           (mark ? "a byte-order mark" : "white space") + "; it is skipped.";
}

// Return whether the specified 'text' is a "Pop" line, and load the
// specified 'name' with the text that follows the word.  The line holds
// the word alone, or the word and a population name after a space; a line
// with a comma is a sample, even one named "Pop 7" or "pop", and one with
// a TAB inside is a row of a TAB-separated table.
bool isPopLine(std::string_view text, std::string* name) {
    if (text.find(',') != std::string_view::npos ||
        trimmed(std::string(text)).find('\t') != std::string::npos) {
        return false;
    }
    const std::string line = trimmed(std::string(text));
    if (line.size() < 3) {
        return false;
    }
    std::string word = line.substr(0, 3);
    std::transform(word.begin(), word.end(), word.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    if (word != "pop") {
        return false;
    }
    if (line.size() > 3 && line[3] != ' ' && line[3] != '\t') {
        return false; // a locus name that begins with "pop"
    }
    *name = trimmed(line.substr(3));
    return true;
}

ImportRefusal refusal(std::size_t line, std::size_t column, std::string text) {
    ImportRefusal result;
    result.line = line;
    result.column = column == 0 ? std::string() : std::to_string(column);
    result.text = std::move(text);
    return result;
}

struct Token {
    // A genotype and the 1-based character column where it begins.

    std::string text;
    std::size_t column = 0;
};

std::vector<Token> genotypeTokens(std::string_view text, std::size_t offset) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ' || text[i] == '\t') {
            ++i;
            continue;
        }
        const std::size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t') {
            ++i;
        }
        tokens.push_back(Token{std::string(text.substr(start, i - start)), offset + start + 1});
    }
    return tokens;
}

class GenotypeShape {
    // The digits per copy and the number of copies, fixed by the first
    // genotype of the file.

    // DATA
    std::size_t d_length = 0; // digits of a genotype; 0 before the first
    std::size_t d_line = 0;   // where the first genotype is
    std::optional<std::int32_t> d_givenPloidy;

  public:
    // CREATORS
    explicit GenotypeShape(std::optional<std::int32_t> ploidy) : d_givenPloidy(ploidy) {}

    // MANIPULATORS
    void check(const Token& token, std::size_t line) {
        const std::string& text = token.text;
        if (text.find_first_not_of("0123456789") != std::string::npos) {
            throw refusal(line, token.column,
                          "genotype " + quoted(text) +
                              " is not a run of digits (expected 2 or 3 digits per allele copy, "
                              "such as 0102 or 102104, with 0 or 000 for a missing copy)");
        }
        if (d_length == 0) {
            if (text.size() != 2 && text.size() != 3 && text.size() != 4 && text.size() != 6) {
                throw refusal(line, token.column,
                              "genotype " + quoted(text) + " has " + std::to_string(text.size()) +
                                  " digits (expected 4 or 6 digits for a diploid, 2 or 3 for a "
                                  "haploid: 2 or 3 digits per allele copy)");
            }
            d_length = text.size();
            d_line = line;
            if (d_givenPloidy && *d_givenPloidy != ploidy()) {
                throw refusal(line, token.column,
                              "genotype " + quoted(text) + " has " + std::to_string(text.size()) +
                                  " digits, which makes the file " +
                                  (ploidy() == 2 ? "diploid" : "haploid") + " (expected " +
                                  (ploidy() == 2 ? "2 or 3" : "4 or 6") + " digits for --ploidy " +
                                  std::to_string(*d_givenPloidy) + ")");
            }
            return;
        }
        if (text.size() != d_length) {
            throw refusal(line, token.column,
                          "genotype " + quoted(text) + " has " + std::to_string(text.size()) +
                              " digits (expected " + std::to_string(d_length) +
                              " like the first genotype, on line " + std::to_string(d_line) + ")");
        }
    }

    // ACCESSORS
    std::int32_t ploidy() const { return d_length >= 4 ? 2 : 1; }
    std::size_t digitsPerCopy() const { return d_length / static_cast<std::size_t>(ploidy()); }
};

// Return the loci named on the specified 'lines' between the title and the
// first "Pop" line, warning in 'data' about lines that hold only white
// space or a byte-order mark.
std::vector<ImportedLocus> readLocusNames(const std::vector<Line>& lines, std::size_t end,
                                          ImportedData* data) {
    std::vector<ImportedLocus> loci;
    for (std::size_t i = 1; i < end; ++i) {
        std::string_view rest = lines[i].text;
        if (isBlank(rest)) {
            const std::string warning = skippedLineWarning(lines[i]);
            if (!warning.empty()) {
                data->warnings.push_back(warning);
            }
            continue;
        }
        while (true) {
            const std::size_t comma = rest.find(',');
            const std::string name = trimmed(std::string(rest.substr(0, comma)));
            if (!name.empty()) {
                loci.push_back(ImportedLocus{name, false});
            }
            if (comma == std::string_view::npos) {
                break;
            }
            rest = rest.substr(comma + 1);
        }
    }
    return loci;
}

// Read the sample of the specified 'line' into 'data' as a member of the
// specified 'population', or warn in 'data' that a name without any
// genotype is no sample.
void readSample(const Line& line, const std::string& population, const AlleleReader& alleles,
                GenotypeShape* shape, ImportedData* data) {
    const std::size_t comma = line.text.find(',');
    if (comma == std::string_view::npos) {
        throw refusal(line.number, 0,
                      "this line has no comma (expected a sample: its name, a comma, and one "
                      "genotype per locus)");
    }
    // The format sets names off from the comma with spaces: not a change.
    std::string name = trimmed(std::string(line.text.substr(0, comma)));
    const std::vector<Token> tokens = genotypeTokens(line.text.substr(comma + 1), comma + 1);
    if (tokens.empty()) {
        data->warnings.push_back("line " + std::to_string(line.number) + ": row " + quoted(name) +
                                 " has no allele cell filled; it is not a sample.");
        return;
    }
    if (name.empty()) {
        throw refusal(line.number, 1,
                      "the sample name is empty (expected a name before the comma)");
    }
    if (tokens.size() != data->loci.size()) {
        throw refusal(line.number, 0,
                      "sample " + quoted(name) + " has " +
                          counted(tokens.size(), "genotype", "genotypes") + " (expected " +
                          std::to_string(data->loci.size()) + ", one per locus)");
    }
    std::vector<AlleleCopy> copies;
    for (const Token& token : tokens) {
        shape->check(token, line.number);
        const std::size_t digits = shape->digitsPerCopy();
        for (std::size_t k = 0; k < static_cast<std::size_t>(shape->ploidy()); ++k) {
            std::int64_t value = 0;
            parseWholeNumber(token.text.substr(k * digits, digits), &value);
            if (value == 0 || alleles.isMissingNumber(value)) {
                copies.push_back(std::nullopt);
            } else {
                copies.push_back(static_cast<std::int32_t>(value));
            }
        }
    }
    data->addSample(std::move(name), line.number, population, copies);
}

} // namespace

bool looksLikeGenepop(std::string_view text) {
    std::string name;
    std::size_t start = 0;
    bool afterPop = false;
    for (std::size_t number = 1; start < text.size(); ++number) {
        const Line line = nextLine(text, &start, number);
        if (afterPop && !isBlank(line.text) && !isPopLine(line.text, &name)) {
            // The first sample: a name and a comma before its genotypes (a
            // table's row has more commas, or other separators).
            const std::size_t comma = line.text.find(',');
            return comma != std::string_view::npos &&
                   line.text.find(',', comma + 1) == std::string_view::npos;
        }
        afterPop = afterPop || (number >= 3 && isPopLine(line.text, &name));
    }
    return false;
}

ImportedData readGenepop(std::string_view text, std::optional<std::int32_t> ploidy,
                         const AlleleReader& alleles) {
    const std::vector<Line> lines = splitLines(text);
    std::string populationName;
    std::size_t firstPop = 1;
    while (firstPop < lines.size() && !isPopLine(lines[firstPop].text, &populationName)) {
        ++firstPop;
    }
    if (firstPop >= lines.size()) {
        throw refusal(0, 0,
                      "there is no line 'Pop' (expected a genepop file: a title line, the locus "
                      "names, then 'Pop' before the samples of each population)");
    }
    ImportedData data;
    data.formatName = "genepop";
    data.loci = readLocusNames(lines, firstPop, &data);
    if (data.loci.empty()) {
        throw refusal(lines[firstPop].number, 0,
                      "no locus names come before the first 'Pop' line (expected the title "
                      "line, then the locus names, one per line or separated by commas)");
    }
    data.hasPopulations = true;
    data.reserve(lines.size() - firstPop, data.loci.size() * 2); // two copies at most
    GenotypeShape shape(ploidy);
    std::size_t populationCount = 0;
    std::string population;
    std::string name;
    for (std::size_t i = firstPop; i < lines.size(); ++i) {
        if (isPopLine(lines[i].text, &name)) {
            ++populationCount;
            population = name.empty() ? "pop" + std::to_string(populationCount) : name;
            continue;
        }
        if (isBlank(lines[i].text)) {
            const std::string warning = skippedLineWarning(lines[i]);
            if (!warning.empty()) {
                data.warnings.push_back(warning);
            }
            continue;
        }
        readSample(lines[i], population, alleles, &shape, &data);
    }
    if (data.samples.empty()) {
        throw refusal(lines[firstPop].number, 0,
                      "no samples follow the 'Pop' line (expected one line per sample: its "
                      "name, a comma, and one genotype per locus)");
    }
    data.ploidy = shape.ploidy();
    data.populationSource = "populations of the 'Pop' lines";
    const std::size_t copies = static_cast<std::size_t>(data.ploidy);
    std::vector<bool> seen(data.loci.size(), false);
    for (std::size_t i = 0; i < data.samples.size(); ++i) {
        for (std::size_t c = 0; c < data.alleles.width(); ++c) {
            if (!seen[c / copies] && data.alleles.at(i, c)) {
                seen[c / copies] = true;
            }
        }
    }
    for (std::size_t l = 0; l < data.loci.size(); ++l) {
        if (!seen[l]) {
            throw refusal(0, 0,
                          "locus " + quoted(data.loci[l].name) +
                              " has no allele in any sample (expected at least one allele per "
                              "locus)");
        }
    }
    return data;
}

} // namespace psex
