// significance.h                                                 -*-C++-*-
#ifndef PSEX_SIGNIFICANCE_H
#define PSEX_SIGNIFICANCE_H

// Purpose: judge the PSex of a repeated genotype against the simulations.
//
// How small must a PSex be before its repeats are called clones?  The
// simulated data sets answer it: they are drawn from the allele frequencies
// alone, every sample from its own sexual event, and the PSex of every
// genotype that repeats in them by chance makes the simulated PSex list
// (its length is M).  A repeat is judged in two ways.
// - Against the list: the threshold at a level is the list's entry at that
//   rank, the p-value of a PSex is the share of simulated values strictly
//   below it, and the code ("ns", "*", "**", "***") says which of the
//   thresholds at 0.05, 0.01 and 0.001 it passes.  With M values no level
//   finer than 1/M exists: the realized level says what a threshold really
//   reaches.
// - Study-wide (family-wise): the share of simulated data sets whose most
//   extreme chance repeat is at least as extreme, (c + 1) / (K + 1) (see
//   familywise.h for the count c of K data sets), coded at the same levels.

#include "model/psexlist.h"

#include <cstdint>
#include <string>

namespace psex {

struct ReportedLevel {
    // A significance level that the reports give a threshold for.

    const char* text; // as the reports name it: "0.01", "0.05", "0.10"
    double level;
};

extern const ReportedLevel k_reportedLevels[3];
// The levels 0.01, 0.05 and 0.10, in this order.

double significanceThreshold(const PsexList& simulated, double significanceLevel);
// Return the entry of the specified 'simulated' PSex list at index
// floor(level * (M - 1)), or 1.0 for an empty list.  The behaviour is
// undefined unless the specified 'significanceLevel' lies in [0, 1].

double realizedSignificanceLevel(const PsexList& simulated, double significanceLevel);
// Return the level that the threshold of the specified 'simulated' PSex
// list at the specified 'significanceLevel' really reaches: (r - 1) / M with
// r the level times M rounded half up, never below 0; 0 for an empty list.

double psexSignificance(const PsexList& simulated, double psex);
// Return the share of the specified 'simulated' PSex list strictly below
// the specified 'psex': its p-value; 0 for an empty list.

std::string significanceCode(const PsexList& simulated, double psex);
// Return "ns", "*", "**" or "***": one star for a 'psex' below the 0.05
// threshold of the specified 'simulated' PSex list, two when also below the
// 0.01 one, three when also below the 0.001 one (all strictly).

double familywisePValue(std::uint64_t atMost, std::uint64_t dataSets);
// Return (c + 1) / (K + 1) for c the specified 'atMost' data sets and K
// 'dataSets'.

std::string familywiseLevel(double pValue);
// Return "***" for a 'pValue' of at most 0.001, "**" of at most 0.01, "*"
// of at most 0.05, else "ns".

} // namespace psex

#endif
