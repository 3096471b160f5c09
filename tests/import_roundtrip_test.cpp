// import_roundtrip_test.cpp                                      -*-C++-*-
//
// The round-trip property of psex-import: a random genotype table with
// missing data, written as a lab would write it in every input format (a
// plain table separated by commas, semicolons or TABs; a GenAlEx sheet; a
// genepop file), is read by psex-import's readers, written as a data file,
// and read back by psex's own reader and table builder: every sample comes
// back with its name, its population and every allele copy (a missing copy
// as the file's MISSING code), and psex says nothing about the file.
//
// The tables are drawn from a fixed seed, so every run checks the same
// ones, and are small, so that the whole test takes a second or two.  The
// wrinkles that spreadsheets and labs add -- quotes, a byte-order mark, CR
// LF, padding cells and rows, spaces around cells, the many spellings of a
// missing copy, nucleotide letters, the ways of naming the two columns of a
// locus, coordinate columns -- are drawn as well, for they must change
// nothing.

#include "base/messagesink.h"
#include "import/datafilewriter.h"
#include "import/importrun.h"
#include "model/datareader.h"
#include "model/mlgtable.h"
#include "model/tablebuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using psex::AlleleCopy;

constexpr std::uint64_t k_seed = 20261208;
constexpr int k_tables = 1000;

class Draw {
    // Random choices from one fixed stream.  std::mt19937_64's output is
    // fixed by the standard; the conversions below are written out, as the
    // standard library's distributions differ between implementations.

    // DATA
    std::mt19937_64 d_engine;

  public:
    // CREATORS
    explicit Draw(std::uint64_t seed) : d_engine(seed) {}

    // MANIPULATORS
    std::uint64_t below(std::uint64_t n) { return d_engine() % n; }
    std::int64_t between(std::int64_t low, std::int64_t high) {
        return low + static_cast<std::int64_t>(below(static_cast<std::uint64_t>(high - low + 1)));
    }
    bool chance(int percent) { return below(100) < static_cast<std::uint64_t>(percent); }
    template <class T>
    const T& oneOf(const std::vector<T>& items) {
        return items[below(items.size())];
    }
};

struct Sample {
    std::string name;
    std::string population;
    std::vector<AlleleCopy> copies; // locus-major
};

struct Table {
    // A genotype table as a lab holds it.

    int ploidy = 2;
    std::vector<std::string> loci;
    std::vector<bool> letters; // a locus written as nucleotide letters
    bool hasPopulations = false;
    std::vector<Sample> samples;

    bool fitsGenepop() const {
        // Genepop writes every copy as 2 or 3 digits, 0 for a missing one.
        for (const Sample& sample : samples) {
            for (const AlleleCopy& copy : sample.copies) {
                if (copy && (*copy < 1 || *copy > 999)) {
                    return false;
                }
            }
        }
        return true;
    }
};

std::string nameOf(Draw& draw, std::size_t length) {
    static const std::string k_letters =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-.";
    std::string name(1, k_letters[draw.below(52)]);
    while (name.size() < length) {
        name += draw.chance(8) ? ' ' : k_letters[draw.below(k_letters.size())];
    }
    if (name.back() == ' ') {
        name.back() = 'x';
    }
    return name;
}

Table drawTable(Draw& draw) {
    Table table;
    table.ploidy = draw.chance(30) ? 1 : 2;
    const std::size_t loci = static_cast<std::size_t>(draw.between(1, 7));
    // Narrow alleles fit every format; wide ones (negative, beyond 999,
    // the 32-bit limits) only the tables.
    const bool wide = draw.chance(25);
    for (std::size_t l = 0; l < loci; ++l) {
        table.loci.push_back("L" + std::to_string(l + 1) + static_cast<char>('a' + draw.below(26)));
        table.letters.push_back(!wide && draw.chance(15));
    }
    table.hasPopulations = draw.chance(60);
    const std::vector<std::string> populations = {"North", "South shore", "Pop 2", "East-1"};
    const std::size_t sampleCount = static_cast<std::size_t>(draw.between(1, 30));
    const int missingPercent = static_cast<int>(draw.between(0, 35));
    for (std::size_t i = 0; i < sampleCount; ++i) {
        Sample sample;
        sample.name = draw.chance(5) && i > 0 ? table.samples[draw.below(i)].name
                                              : nameOf(draw, draw.between(1, 9));
        if (table.hasPopulations) {
            sample.population = populations[draw.below(draw.between(1, 4))];
        }
        for (std::size_t l = 0; l < loci; ++l) {
            for (int k = 0; k < table.ploidy; ++k) {
                if (draw.chance(missingPercent)) {
                    sample.copies.push_back(std::nullopt);
                } else if (table.letters[l]) {
                    sample.copies.push_back(static_cast<std::int32_t>(draw.between(1, 4)));
                } else if (wide && draw.chance(10)) {
                    sample.copies.push_back(draw.chance(50) ? 2147483647 : -2147483647 - 1);
                } else if (wide) {
                    std::int32_t value = 0;
                    while (value == 0 || value == -9) { // missing-data codes
                        value = static_cast<std::int32_t>(draw.between(-60, 5000));
                    }
                    sample.copies.push_back(value);
                } else {
                    sample.copies.push_back(static_cast<std::int32_t>(100 + 2 * draw.below(12)));
                }
            }
        }
        table.samples.push_back(sample);
    }
    // Every locus needs an allele somewhere.
    for (std::size_t l = 0; l < loci; ++l) {
        Sample& first = table.samples.front();
        if (!first.copies[l * table.ploidy]) {
            first.copies[l * table.ploidy] = table.letters[l] ? 2 : 150;
        }
    }
    return table;
}

// ---- writing the table as a lab would ----

std::string missingText(Draw& draw, bool allBlank) {
    static const std::vector<std::string> k_codes = {"0", "-9", "NA", "na", "?",
                                                     ".", "",   " ",  "00"};
    // A row of blank allele cells is no sample: a sample with nothing
    // typed is written with at least one code.
    return allBlank ? std::string("NA") : draw.oneOf(k_codes);
}

std::string alleleText(Draw& draw, const Table& table, std::size_t l, const AlleleCopy& copy,
                       bool lastChance) {
    if (!copy) {
        return missingText(draw, lastChance);
    }
    if (table.letters[l]) {
        const char letter = "ACGT"[*copy - 1];
        return std::string(1, draw.chance(30) ? static_cast<char>(letter - 'A' + 'a') : letter);
    }
    return (draw.chance(10) ? " " : "") + std::to_string(*copy);
}

// Return the allele cells of the specified 'sample', as text.
std::vector<std::string> alleleCells(Draw& draw, const Table& table, const Sample& sample) {
    std::vector<std::string> cells;
    bool blank = true;
    for (std::size_t c = 0; c < sample.copies.size(); ++c) {
        const bool last = c + 1 == sample.copies.size();
        std::string text =
            alleleText(draw, table, c / table.ploidy, sample.copies[c], last && blank);
        blank = blank && (text.find_first_not_of(' ') == std::string::npos);
        cells.push_back(text);
    }
    return cells;
}

// Return the header cells over the allele columns of the specified locus
// 'name', in one of the ways labs name them.
std::vector<std::string> locusHeader(Draw& draw, const std::string& name, int ploidy) {
    if (ploidy == 1) {
        return {name};
    }
    switch (draw.below(4)) {
    case 0:
        return {name, ""};
    case 1:
        return {name, name};
    case 2:
        return {name + "_a", name + "_b"};
    default:
        return {name + ".1", name + ".2"};
    }
}

class CsvWriter {
    // Writes rows of cells as a spreadsheet saves them.

    // DATA
    Draw& d_draw;
    char d_separator;
    std::string d_lineEnd;
    bool d_quoting;
    std::string d_text;

  public:
    CsvWriter(Draw& draw, char separator)
        : d_draw(draw), d_separator(separator), d_lineEnd(draw.chance(30) ? "\r\n" : "\n"),
          d_quoting(draw.chance(40)) {
        if (draw.chance(20)) {
            d_text = "\xEF\xBB\xBF";
        }
    }

    void row(const std::vector<std::string>& cells) {
        for (std::size_t c = 0; c < cells.size(); ++c) {
            d_text += c == 0 ? "" : std::string(1, d_separator);
            d_text += d_quoting && d_draw.chance(50) ? "\"" + cells[c] + "\"" : cells[c];
        }
        d_text += d_lineEnd;
    }

    void blankLine() { d_text += d_lineEnd; }

    std::string text() const { return d_text; }
};

std::string asPlainTable(Draw& draw, const Table& table, char separator) {
    CsvWriter out(draw, separator);
    const std::size_t padding = draw.chance(30) ? draw.below(3) + 1 : 0;
    std::vector<std::string> header = {"Sample"};
    if (table.hasPopulations) {
        header.push_back(draw.chance(50) ? "Pop" : "Population");
    }
    for (const std::string& locus : table.loci) {
        for (const std::string& cell : locusHeader(draw, locus, table.ploidy)) {
            header.push_back(cell);
        }
    }
    const bool coordinates = draw.chance(20);
    if (coordinates) {
        header.insert(header.end(), {"", "X", "Y"});
    }
    header.resize(header.size() + padding);
    out.row(header);
    for (const Sample& sample : table.samples) {
        std::vector<std::string> cells = {draw.chance(10) ? " " + sample.name + " " : sample.name};
        if (table.hasPopulations) {
            cells.push_back(sample.population);
        }
        for (const std::string& cell : alleleCells(draw, table, sample)) {
            cells.push_back(cell);
        }
        if (coordinates) {
            cells.insert(cells.end(), {"", "431.5", "2.25"});
        }
        cells.resize(cells.size() + padding);
        out.row(cells);
        if (draw.chance(5)) {
            out.row(std::vector<std::string>(header.size(), "")); // a padding row
        }
        if (draw.chance(5)) {
            out.blankLine();
        }
    }
    return out.text();
}

std::string asGenAlEx(Draw& draw, const Table& table, char separator) {
    CsvWriter out(draw, separator);
    std::vector<std::string> populations;
    for (const Sample& sample : table.samples) {
        if (std::find(populations.begin(), populations.end(), sample.population) ==
            populations.end()) {
            populations.push_back(sample.population);
        }
    }
    std::vector<std::string> counts = {std::to_string(table.loci.size()),
                                       std::to_string(table.samples.size()),
                                       std::to_string(populations.size())};
    std::vector<std::string> titles = {"Random meadows", "", ""};
    for (const std::string& population : populations) {
        counts.push_back(std::to_string(
            std::count_if(table.samples.begin(), table.samples.end(),
                          [&](const Sample& sample) { return sample.population == population; })));
        titles.push_back(population);
    }
    out.row(counts);
    out.row(titles);
    std::vector<std::string> header = {"Sample", "Site"};
    for (const std::string& locus : table.loci) {
        header.push_back(locus); // GenAlEx names a locus over its first column
        header.resize(header.size() + static_cast<std::size_t>(table.ploidy - 1));
    }
    const bool coordinates = draw.chance(30);
    if (coordinates) {
        header.insert(header.end(), {"", "X", "Y"});
    }
    out.row(header);
    for (const Sample& sample : table.samples) {
        std::vector<std::string> cells = {sample.name, sample.population};
        for (const std::string& cell : alleleCells(draw, table, sample)) {
            cells.push_back(cell);
        }
        if (coordinates) {
            cells.insert(cells.end(), {"", "-3.25", "40.5"});
        }
        out.row(cells);
    }
    return out.text();
}

std::string asGenepop(Draw& draw, const Table& table) {
    bool narrow = true;
    for (const Sample& sample : table.samples) {
        for (const AlleleCopy& copy : sample.copies) {
            narrow = narrow && (!copy || *copy < 100);
        }
    }
    const int digits = narrow && draw.chance(50) ? 2 : 3;
    const std::string end = draw.chance(30) ? "\r\n" : "\n";
    std::string text = "Random meadows, genepop" + end;
    const bool oneLine = draw.chance(50);
    for (std::size_t l = 0; l < table.loci.size(); ++l) {
        text += table.loci[l] + (oneLine && l + 1 < table.loci.size() ? ", " : end);
    }
    std::string population = "\x01"; // no population yet
    for (const Sample& sample : table.samples) {
        if (sample.population != population) {
            population = sample.population;
            text += (draw.chance(50) ? "Pop" : "POP") + end;
        }
        text += sample.name + (draw.chance(50) ? " ," : ",");
        for (std::size_t c = 0; c < sample.copies.size(); ++c) {
            if (c % static_cast<std::size_t>(table.ploidy) == 0) {
                text += draw.chance(20) ? "\t" : " ";
            }
            std::string code = std::to_string(sample.copies[c].value_or(0));
            code.insert(0, static_cast<std::size_t>(digits) - code.size(), '0');
            text += code;
        }
        text += end;
    }
    return text;
}

// ---- what must come back ----

// Return the population that a genepop file gives the specified 'sample'
// of 'table': its run of 'Pop' lines, counted from 1.
std::vector<std::string> genepopPopulations(const Table& table) {
    std::vector<std::string> names;
    std::string population = "\x01";
    int count = 0;
    for (const Sample& sample : table.samples) {
        if (sample.population != population) {
            population = sample.population;
            ++count;
        }
        names.push_back("pop" + std::to_string(count));
    }
    return names;
}

// Check that the specified 'text', read as the specified 'options' ask,
// gives back every sample of the specified 'table' in psex; 'populations'
// are the population names the format gives the samples (empty when it
// has none).
void checkRoundTrip(const Table& table, const std::string& text, const psex::ImportOptions& options,
                    const std::vector<std::string>& populations) {
    SCOPED_TRACE("input:\n" + text);
    psex::ImportedData data;
    try {
        data = psex::importText(text, options);
    } catch (const psex::ImportRefusal& refusal) {
        FAIL() << psex::refusalMessage("input", refusal);
    }
    EXPECT_TRUE(data.warnings.empty());
    ASSERT_EQ(table.loci.size(), data.loci.size());
    for (std::size_t l = 0; l < table.loci.size(); ++l) {
        EXPECT_EQ(table.loci[l], data.loci[l].name);
    }
    EXPECT_EQ(table.ploidy, data.ploidy);
    ASSERT_EQ(table.samples.size(), data.samples.size());
    for (std::size_t i = 0; i < populations.size(); ++i) {
        EXPECT_EQ(populations[i], data.populationOf(i)) << "sample " << i;
    }

    // The data file, read back by psex.
    std::vector<std::size_t> all(data.samples.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i] = i;
    }
    psex::DataFileSettings settings;
    settings.title = "roundtrip";
    const std::int32_t missingCode = psex::chooseMissingCode(data);
    std::ostringstream written;
    psex::writeDataFile(written, data, all, settings, missingCode);
    SCOPED_TRACE("data file:\n" + written.str());

    std::ostringstream output;
    std::ostringstream error;
    psex::MessageSink messages(output, error);
    std::istringstream in(written.str());
    psex::DataReader reader(in, messages);
    const psex::TableSettings header = psex::interpretHeader(reader.parameters(), messages);
    EXPECT_EQ(table.ploidy, header.ploidy);
    ASSERT_EQ(static_cast<std::int32_t>(table.loci.size()), header.locusCount);
    const std::size_t copies = table.samples.front().copies.size();
    const std::int32_t missing = header.missingCode.value_or(0);
    for (const Sample& sample : table.samples) {
        ASSERT_TRUE(reader.readDataLine());
        const std::vector<std::string>& fields = reader.fields();
        // A GenAlEx sheet's X and Y after an empty column come along as the
        // two columns after the alleles; a plain table's are left out.
        const bool located = !data.coordinateNames.empty();
        ASSERT_EQ(copies + (located ? 3 : 1), fields.size());
        EXPECT_EQ(sample.name, fields[0]);
        if (located) {
            EXPECT_EQ("-3.25", fields[copies + 1]);
            EXPECT_EQ("40.5", fields[copies + 2]);
            EXPECT_EQ(std::make_pair(std::string("X"), std::string("Y")), header.coordinateColumns);
        }
        for (std::size_t c = 0; c < copies; c += static_cast<std::size_t>(table.ploidy)) {
            // psex stores the copies of a diploid locus smaller first; a
            // missing copy is the MISSING code.
            std::vector<std::int32_t> expected;
            std::vector<std::int32_t> read;
            for (std::size_t k = c; k < c + static_cast<std::size_t>(table.ploidy); ++k) {
                expected.push_back(sample.copies[k].value_or(missing));
                read.push_back(psex::decimalValue(fields[k + 1]));
            }
            std::sort(expected.begin(), expected.end());
            std::sort(read.begin(), read.end());
            EXPECT_EQ(expected, read) << sample.name << ", copy " << c;
        }
    }
    EXPECT_FALSE(reader.readDataLine());
    EXPECT_EQ("", output.str());
    EXPECT_EQ("", error.str()); // no unknown key, no default, no data end

    // The whole table, as psex builds it: every sample, and nothing said but
    // the note on missing copies.
    std::ostringstream tableOutput;
    std::ostringstream tableError;
    psex::MessageSink tableMessages(tableOutput, tableError);
    std::istringstream again(written.str());
    psex::DataReader second(again, tableMessages);
    const psex::MLGTable built = psex::buildTable(second, tableMessages);
    EXPECT_EQ(table.samples.size(), built.sampleNames().size());
    EXPECT_EQ("", tableOutput.str());
    std::istringstream lines(tableError.str());
    for (std::string line; std::getline(lines, line);) {
        EXPECT_EQ(0u, line.rfind("note: missing allele copies: ", 0)) << line;
    }
}

TEST(ImportRoundTrip, RandomTablesComeBackWholeFromEveryFormat) {
    Draw draw(k_seed);
    int genepopTables = 0;
    for (int t = 0; t < k_tables; ++t) {
        SCOPED_TRACE("table " + std::to_string(t) + " of seed " + std::to_string(k_seed));
        const Table table = drawTable(draw);
        std::vector<std::string> populations;
        for (const Sample& sample : table.samples) {
            populations.push_back(sample.population);
        }
        psex::ImportOptions options;
        options.table.ploidy = table.ploidy;

        const char separator = draw.oneOf(std::vector<char>{',', ';', '\t'});
        checkRoundTrip(table, asPlainTable(draw, table, separator), options,
                       table.hasPopulations ? populations : std::vector<std::string>());
        if (table.hasPopulations) {
            checkRoundTrip(table, asGenAlEx(draw, table, separator == '\t' ? ',' : separator),
                           options, populations);
        }
        if (table.fitsGenepop() &&
            std::none_of(table.letters.begin(), table.letters.end(), [](bool l) { return l; })) {
            psex::ImportOptions genepop;
            checkRoundTrip(table, asGenepop(draw, table), genepop, genepopPopulations(table));
            ++genepopTables;
        }
        if (HasFailure()) {
            return; // one table's failure, not a thousand
        }
    }
    EXPECT_GT(genepopTables, k_tables / 3); // every format is exercised
}

} // namespace
