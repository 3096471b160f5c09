// datafilewriter.h                                               -*-C++-*-
#ifndef PSEX_DATAFILEWRITER_H
#define PSEX_DATAFILEWRITER_H

// Purpose: write imported genotypes as a psex data file that psex reads
// without a single message.
//
// The header holds PLOIDY, LOCUSCOUNT, LOCUSNAMES, MISSING (only when a
// copy is missing), TITLE, FREQUENCY, MODEL and MLLDISTANCE when the user
// chose them, COORDINATES when the samples come with coordinates (their
// two columns after the alleles), and SIMULATIONS (psex asks for it: without it, it warns that it
// assumes 1000); then the empty line, the column-name line and one complete line per sample.  The
// two copies of a diploid locus are written smaller first, as psex stores them.  A missing copy is
// written as the MISSING code, which must differ from every real allele: 0 when no allele is 0,
// otherwise the largest negative number that no allele uses (-1, then -2, ...).  One code serves
// every file of one input, so that the files of its populations read alike.

#include "import/importeddata.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace psex {

struct DataFileSettings {
    // The header values that do not come from the genotypes.

    std::string title;                           // no comma, TAB or '/'; see 'safeTitle'
    std::optional<std::string> frequency;        // SAMPLE, MLG or ROUNDROBIN
    std::optional<std::string> model;            // HWE or FIS
    std::optional<std::int32_t> lineageDistance; // MLLDISTANCE, at least 0
    std::int32_t simulations = 1000;             // at least 1
};

std::int32_t chooseMissingCode(const ImportedData& data);
// Return the code for missing copies in the data file of the specified
// 'data': 0 when no allele of it is 0, else the largest negative number
// that no allele of it is.

std::string safeTitle(const std::string& text);
// Return the specified 'text' made fit for TITLE, which psex puts into the
// names of its result files: surrounding white space removed, and commas,
// TABs, other control characters, '/' and '\' replaced by '_'.

struct WriteCounts {
    // What writing changed, for the summary.

    std::size_t reordered = 0; // diploid genotypes written smaller copy first
    std::size_t missing = 0;   // copies written as the MISSING code
};

WriteCounts writeDataFile(std::ostream& out, const ImportedData& data,
                          const std::vector<std::size_t>& sampleIndices,
                          const DataFileSettings& settings, std::int32_t missingCode);
// Write to the specified 'out' the data file of the samples of the
// specified 'data' at the specified 'sampleIndices' (in that order), with
// the specified 'settings' and 'missingCode', and return what was changed
// on the way.  The names of 'data' must have been tidied ('tidyNames').

} // namespace psex

#endif
