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
    // caught by the program, which names the file in front of it.

    std::size_t line = 0; // 1-based line of the input; 0 for the whole input
    std::string column;   // "5 (E)" for a cell, "12" for a character; or empty
    std::string text;     // the problem and what was expected
};

using AlleleCopy = std::optional<std::int32_t>;
// One allele copy of a sample at a locus; empty when missing.

struct ImportedLocus {
    // One locus as the input names it.

    std::string name;         // after tidying: non-empty, no comma, TAB or control character
    bool nucleotides = false; // written as letters A, C, G, T in the input
};

struct ImportedSample {
    // One sample (one row of a table, one line of a genepop file).

    std::string name;
    std::string population;          // empty when the input has no populations
    std::size_t line = 0;            // where the sample is in the input
    std::vector<AlleleCopy> alleles; // locus-major: copy k of locus l at ploidy * l + k
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
    std::vector<std::string> notes; // every change and omission, in the order made
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
// sample, as they know its column).

std::vector<std::string> columnNames(const ImportedData& data);
// Return the names of the data file's column-name line for the specified
// 'data': "Sample", then per locus its name (haploid) or its name with
// "_a" and "_b" (diploid).  Distinct once 'tidyNames' has run.

} // namespace psex

#endif
