// importeddata.h                                                 -*-C++-*-
#ifndef PSEX_IMPORTEDDATA_H
#define PSEX_IMPORTEDDATA_H

// Purpose: hold the genotypes that psex-import has read from a lab's
// spreadsheet or a genepop file, whatever the input format was, and the
// refusal that ends an import.
//
// Every reader (GenAlEx, plain table, genepop) produces one 'ImportedData':
// the loci, the samples with their population and their allele copies
// (missing copies empty), and the notes that tell the user what was changed
// or left out on the way.  The data-file writer reads only this model.
//
// A lab's table may hold a million samples: the allele copies of all
// samples are kept in one block ('AlleleMatrix'), and each population name
// once ('PopulationNames'), so that the model takes about the size of the
// text it was read from.
//
// Input that cannot be converted is never guessed at: the reader throws an
// 'ImportRefusal' that says where (line and column) and what was expected,
// and nothing is written.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace psex {

struct ImportRefusal {
    // Why an input cannot be converted.  Thrown by value by the readers and
    // caught by the program, which names the file in front of it -- unless
    // the refusal is one of the few whose message stands alone ('message').

    std::size_t line = 0; // 1-based line of the input; 0 for the whole input
    std::string column;   // "5 (E)" for a cell, "12" for a character; or empty
    std::string text;     // the problem and what was expected
    std::string message;  // when not empty: the whole message after "error: "
};

using AlleleCopy = std::optional<std::int32_t>;
// One allele copy of a sample at a locus; empty when missing.

struct ImportedLocus {
    // One locus as the input names it.

    std::string name;         // after tidying: non-empty, no comma, TAB or control character
    bool nucleotides = false; // written as letters A, C, G, T in the input
};

struct ImportedSample {
    // One sample (one row of a table, one line of a genepop file).  Its
    // allele copies are row 'i' of the data's 'AlleleMatrix' for sample i.

    std::string name;
    std::size_t line = 0;         // where the sample is in the input
    std::uint32_t population = 0; // index into the data's 'PopulationNames'
};

class AlleleMatrix {
    // The allele copies of every sample, one row per sample, locus-major
    // within a row (copy k of locus l at ploidy * l + k): values and
    // missing marks in two blocks, four bytes and a bit per copy.

    // DATA
    std::vector<std::int32_t> d_values; // row after row; 0 where missing
    std::vector<bool> d_missing;
    std::size_t d_width = 0; // copies per row, fixed by the first row
    std::size_t d_rows = 0;

  public:
    // MANIPULATORS
    void reserve(std::size_t rows, std::size_t width);
    // Make room for the specified number of 'rows' of the specified 'width'
    // at once, so that the blocks do not grow by copying.

    void addRow(const std::vector<AlleleCopy>& copies);
    // Append a row of the specified 'copies'.  The behaviour is undefined
    // unless every row has as many copies as the first.

    // ACCESSORS
    AlleleCopy at(std::size_t row, std::size_t copy) const {
        const std::size_t index = row * d_width + copy;
        return d_missing[index] ? AlleleCopy() : AlleleCopy(d_values[index]);
    }
    // Return the specified 'copy' of the specified 'row'.  The behaviour is
    // undefined unless both are in range.

    std::vector<AlleleCopy> row(std::size_t row) const;
    // Return the copies of the specified 'row'.

    std::size_t rows() const { return d_rows; }
    std::size_t width() const { return d_width; }
};

class PopulationNames {
    // The distinct population names of an input, each once, numbered in
    // the order of their first use.  Found again through a table of their
    // numbers by hash (open addressing), which stays small enough for the
    // processor's caches when a table of a million rows names a hundred
    // thousand populations in no order.

    // DATA
    std::vector<std::string> d_names;
    std::vector<std::size_t> d_hashes;  // of each name
    std::vector<std::uint32_t> d_slots; // number + 1 of the name there; 0: free

  public:
    // MANIPULATORS
    std::uint32_t numberOf(const std::string& name);
    // Return the number of the specified population 'name', giving it the
    // next number when it is new.

    // ACCESSORS
    const std::string& name(std::uint32_t number) const { return d_names[number]; }
    std::size_t size() const { return d_names.size(); }
};

struct ImportedData {
    // The whole input, ready for the data-file writer.

    std::string formatName;  // how the input was read, e.g. "GenAlEx, comma-separated"
    std::int32_t ploidy = 2; // 1 or 2
    bool hasPopulations = false;
    std::string populationSource; // e.g. "population column 2 (B) 'Pop'"
    std::string populationColumn; // its column label for messages, or empty
    std::vector<ImportedLocus> loci;
    std::vector<ImportedSample> samples;
    AlleleMatrix alleles;                     // row i: the copies of sample i
    PopulationNames populations;              // names without surrounding white space
    std::vector<std::string> coordinateNames; // the x and y column names, or none
    std::vector<std::string> coordinates;     // x and y of each sample, as decimal text
    std::vector<std::string> notes;           // every change and omission, in the order made
    std::vector<std::string> warnings;        // lines of the input passed over, "line <L>: ..."

    // MANIPULATORS
    void reserve(std::size_t sampleCount, std::size_t copiesPerSample);
    // Make room for the specified 'sampleCount' samples of the specified
    // 'copiesPerSample' at once.

    void addSample(std::string name, std::size_t line, const std::string& population,
                   const std::vector<AlleleCopy>& copies);
    // Append a sample of the specified 'name', from the specified 'line',
    // of the specified 'population' (its name as written; empty when the
    // input has none) with the specified allele 'copies'.

    // ACCESSORS
    const std::string& populationOf(std::size_t sample) const {
        return populations.name(samples[sample].population);
    }
    // Return the population name of the specified 'sample'.
};

std::string columnLabel(std::size_t column);
// Return the label of the specified 1-based spreadsheet 'column' as the
// messages write it: the number and, in parentheses, the letters a
// spreadsheet shows over it ("1 (A)", "27 (AA)").

std::string trimmed(const std::string& text);
// Return the specified 'text' without the white space (spaces, TABs, line
// ends) at its start and end.

std::string quoted(const std::string& text);
// Return the specified 'text' in single quotes, as messages show names and
// cell contents.

std::string counted(std::size_t count, const std::string& one, const std::string& many);
// Return the specified 'count' followed by the specified 'one' when it is 1
// and 'many' otherwise: "1 genotype", "3 genotypes".

void tidyNames(ImportedData* data);
// Make every sample and locus name of the specified 'data' one that a data
// file can hold, noting each change in its notes: surrounding white space
// is removed, commas, TABs and other control characters become '_', a
// locus without a name is called "Locus<k>" (k from 1), and a locus name
// that repeats an earlier one (where the column names of the data file
// would clash) gets "_2", "_3", ... appended.  Sample names that are used
// more than once are noted, not changed.  The behaviour is undefined unless
// every sample name holds more than white space (the readers refuse such a
// sample, as they know its column).  Coordinate column names become safe
// names too, "x" and "y" when empty, with "_2", ... appended when another
// column has the name.

std::vector<std::string> columnNames(const ImportedData& data);
// Return the names of the data file's column-name line for the specified
// 'data': "Sample", then per locus its name (haploid) or its name with
// "_a" and "_b" (diploid), then the coordinate columns, if any.  Distinct
// once 'tidyNames' has run.

} // namespace psex

#endif
