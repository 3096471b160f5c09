// diversity.h                                                    -*-C++-*-
#ifndef PSEX_DIVERSITY_H
#define PSEX_DIVERSITY_H

// Purpose: the figures that say how clonal a sample is: how many distinct
// genotypes (or lineages) among how many samples, and how the samples are
// spread over them.
//
// Every figure is computed from the sizes of the units alone: the number of
// samples that carry each distinct genotype (MLG) or lineage (MLL).  A
// report lists the figures in the order given here, each under its own
// label, so that a new figure is one entry in 'clonalRichnessFigures' or
// 'diversityFigures' (with its test), and every report that lists them
// carries it.  An undefined figure (R of a single sample, say) is NaN; the
// reports write it as the dash cell or NA.
//
// The indices, with n_i the size of unit i, N the number of samples, G the
// number of units and p_i = n_i / N:
// - Simpson's diversity 1 - sum n_i (n_i - 1) / (N (N - 1)), the chance
//   that two samples drawn without replacement belong to different units;
// - Shannon's H = -sum p_i ln p_i;
// - evenness E5 = (1 / lambda - 1) / (exp(H) - 1) with lambda = sum p_i^2;
// - Pielou's J = H / ln G;
//   both evenness indices lie in [0, 1] and are exactly 1 when every unit
//   has the same size (all samples distinct, say);
// - the Pareto beta of the clone sizes: for every distinct size x, N(x) is
//   the number of samples in units of at least x samples; beta is minus the
//   least-squares slope of log10 N(x) on log10 x (small when a few large
//   clones dominate).
// All need two samples or more; E5 and J need two units or more, beta two
// distinct sizes.

#include <cstdint>
#include <string>
#include <vector>

namespace psex {

struct Figure {
    // One named figure of a report.

    std::string label;    // in the simulation results file's block
    std::string name;     // in the tidy summary file
    double value = 0.0;   // NaN when undefined
    bool isCount = false; // a whole number, written as an integer
};

std::vector<Figure> clonalRichnessFigures(const std::vector<std::uint32_t>& unitSizes);
// Return, for units of the specified sizes (samples per distinct genotype),
// the figures of the clonal richness block: G, N, R, Pd, the number of units
// of one sample ("Single MLGs") and of all others ("Clonal MLGs").

std::vector<Figure> diversityFigures(const std::vector<std::uint32_t>& unitSizes);
// Return, for units of the specified sizes, the diversity and evenness
// indices: Simpson's diversity, Shannon's H, E5, Pielou's J and the Pareto
// beta.

} // namespace psex

#endif
