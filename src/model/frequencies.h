// frequencies.h                                                  -*-C++-*-
#ifndef PSEX_FREQUENCIES_H
#define PSEX_FREQUENCIES_H

// Purpose: estimate the allele frequencies of a genotype table's loci from
// its genotypes, as FREQUENCY asks, and check them.
//
// No data file gives allele frequencies: they are always estimated from the
// samples, in one of three ways.
// - SAMPLE: every sample counts its allele copies.
// - MLG: every distinct genotype counts its copies once, so that a big clone
//   does not weigh its own alleles.
// - ROUNDROBIN: a genotype that differs from a big clone by a scoring error
//   at one locus still counts the clone's alleles at every other locus again
//   under MLG.  Round robin estimates each locus from the genotypes that are
//   distinct at the other loci: per group of genotypes equal at the other
//   loci, the first sample of the data file counts.  An allele seen at a
//   locus only in genotypes that were not counted there gets the weight of
//   one copy among those of all genotypes, and the frequencies are scaled to
//   add up to one.
// A copy that holds the missing code (MISSING) is no allele: it is never
// counted, and every locus is estimated from its own typed copies.

#include "model/locus.h"
#include "model/mlgtuple.h"
#include "model/settings.h"

#include <vector>

namespace psex {

class MessageSink;

void estimateFrequencies(std::vector<Locus>& loci, const std::vector<MLGTuple>& mlgs,
                         const TableSettings& settings);
// Give the specified 'loci' the allele frequencies of the specified
// distinct genotypes 'mlgs' (each with its samples), estimated as the
// FREQUENCY of the specified 'settings' asks.  The behaviour is undefined
// unless 'loci' are new (no copy counted, not normalized) and every genotype
// has as many loci, of the ploidy of 'settings'.

bool frequenciesSumToOne(const std::vector<Locus>& loci);
// Return whether the frequencies of every one of the specified 'loci' with
// alleles add up to one within 1e-8.  A locus without any typed copy has no
// frequencies to add up: it adds nothing to PGen.

void checkFrequencies(const std::vector<Locus>& loci, MessageSink& messages);
// Report on the error channel of the specified 'messages', once, when the
// frequencies of any of the specified 'loci' with alleles do not add up to
// one within 1e-8.

} // namespace psex

#endif
