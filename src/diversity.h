// diversity.h                                                    -*-C++-*-
#ifndef PSEX_DIVERSITY_H
#define PSEX_DIVERSITY_H

// Purpose: the figures that say how clonal a sample is: how many distinct
// genotypes (or lineages) among how many samples, and how the samples are
// spread over them.
//
// Every figure is computed from the sizes of the units alone: the number of
// samples that carry each distinct genotype.  A report lists the figures in
// the order given here, each under its own label, so that a new figure is
// one entry in 'clonalRichnessFigures' (with its test), and every report
// that lists the figures carries it.  An undefined figure (R of a single
// sample, say) is NaN; the reports write it as the dash cell.

#include <cstdint>
#include <string>
#include <vector>

namespace psex {

struct Figure {
    // One named figure of a report.

    std::string name;     // the label
    double value = 0.0;   // NaN when undefined
    bool isCount = false; // a whole number, written as an integer
};

double clonalRichness(std::uint64_t units, std::uint64_t samples);
// Return R = (G - 1) / (N - 1) for the specified number of 'units' G and
// 'samples' N, or NaN (undefined) when N <= 1.

double unitsPerSample(std::uint64_t units, std::uint64_t samples);
// Return Pd = G / N, or NaN when N = 0.

std::vector<Figure> clonalRichnessFigures(const std::vector<std::uint32_t>& unitSizes);
// Return, for units of the specified sizes (samples per distinct genotype),
// the figures of the clonal richness block: G, N, R, Pd, the number of units
// of one sample ("Single MLGs") and of all others ("Clonal MLGs").

} // namespace psex

#endif
