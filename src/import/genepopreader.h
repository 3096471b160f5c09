// genepopreader.h                                                -*-C++-*-
#ifndef PSEX_GENEPOPREADER_H
#define PSEX_GENEPOPREADER_H

// Purpose: read a genepop file, the exchange format of population
// genetics.
//
// A genepop file has a title line; the locus names, one per line or
// separated by commas on one or more lines; then each population after a
// line "Pop" (in any case), which holds the word alone or with a name, and
// never a comma or a TAB: a line with a comma is a sample, even one named "Pop 7".
// A name without any genotype is no sample, and lines that hold only white
// space or a byte-order mark are passed over, with a warning each.  A
// sample is one line: its name, a comma, and
// one genotype per locus, separated by spaces or TABs.  A genotype is the
// codes of its allele copies written together, 2 or 3 digits each: "0102"
// or "102104" for a diploid, "01" or "102" for a haploid.  A copy of all
// zeros is missing.  Populations have no names in the format; the text
// after "Pop" on its line is taken as the name when there is some, and
// otherwise the populations are called pop1, pop2, ... in file order.

#include "import/allelecode.h"
#include "import/importeddata.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace psex {

bool looksLikeGenepop(std::string_view text);
// Return whether the specified 'text' looks like a genepop file: a line
// "Pop" after at least a title line and a locus line, and after it a first
// sample of a name, one comma and its genotypes.

ImportedData readGenepop(std::string_view text, std::optional<std::int32_t> ploidy,
                         const AlleleReader& alleles);
// Return the samples of the genepop file of the specified 'text'.  The
// ploidy comes from the length of the genotypes; when the specified
// 'ploidy' is given it must agree.  Copies that the specified 'alleles'
// reader takes for missing-data codes (as whole numbers) are missing as
// well as those of all zeros.  Throw an 'ImportRefusal' when the file
// cannot be read.

} // namespace psex

#endif
