// diversity.cpp                                                  -*-C++-*-
#include "model/diversity.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numeric>

namespace psex {

namespace {

constexpr double k_undefined = std::numeric_limits<double>::quiet_NaN();

Figure count(const char* label, const char* name, std::uint64_t value) {
    return {label, name, static_cast<double>(value), true};
}

Figure ratio(const char* label, const char* name, double value) {
    return {label, name, value, false};
}

// Return minus the least-squares slope of log10 N(x) on log10 x over the
// distinct sizes x, N(x) the number of samples in units of at least x
// samples; NaN with fewer than two distinct sizes.
double paretoBeta(std::vector<std::uint32_t> sizes) {
    std::sort(sizes.begin(), sizes.end());
    std::vector<double> xs;
    std::vector<double> ys;
    // Samples in the units from position i on, the largest units last.
    std::uint64_t samplesFrom = std::accumulate(sizes.begin(), sizes.end(), std::uint64_t{0});
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        if (i == 0 || sizes[i] != sizes[i - 1]) {
            xs.push_back(std::log10(static_cast<double>(sizes[i])));
            ys.push_back(std::log10(static_cast<double>(samplesFrom)));
        }
        samplesFrom -= sizes[i];
    }
    if (xs.size() < 2) {
        return k_undefined;
    }
    const double n = static_cast<double>(xs.size());
    const double meanX = std::accumulate(xs.begin(), xs.end(), 0.0) / n;
    const double meanY = std::accumulate(ys.begin(), ys.end(), 0.0) / n;
    double covariance = 0.0;
    double variance = 0.0;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        covariance += (xs[i] - meanX) * (ys[i] - meanY);
        variance += (xs[i] - meanX) * (xs[i] - meanX);
    }
    return -(covariance / variance);
}

// Return the specified evenness 'value' within [0, 1], where it belongs:
// rounding in the sums behind it can carry it just beyond.
double bounded(double value) {
    return std::clamp(value, 0.0, 1.0);
}

// Return R = (G - 1) / (N - 1) for the specified number of 'units' G and
// 'samples' N, or NaN (undefined) when N <= 1.
double clonalRichness(std::uint64_t units, std::uint64_t samples) {
    if (samples <= 1) {
        return k_undefined;
    }
    return static_cast<double>(units - 1) / static_cast<double>(samples - 1);
}

// Return Pd = G / N, or NaN when N = 0.
double unitsPerSample(std::uint64_t units, std::uint64_t samples) {
    if (samples == 0) {
        return k_undefined;
    }
    return static_cast<double>(units) / static_cast<double>(samples);
}

} // namespace

std::vector<Figure> clonalRichnessFigures(const std::vector<std::uint32_t>& unitSizes) {
    const std::uint64_t units = unitSizes.size();
    const std::uint64_t samples =
        std::accumulate(unitSizes.begin(), unitSizes.end(), std::uint64_t{0});
    const std::uint64_t single =
        static_cast<std::uint64_t>(std::count(unitSizes.begin(), unitSizes.end(), 1u));
    return {
        count("G", "G", units),
        count("N", "N", samples),
        ratio("R", "R", clonalRichness(units, samples)),
        ratio("Pd", "Pd", unitsPerSample(units, samples)),
        count("Single MLGs", "single", single),
        count("Clonal MLGs", "clonal", units - single),
    };
}

std::vector<Figure> diversityFigures(const std::vector<std::uint32_t>& unitSizes) {
    const std::uint64_t samples =
        std::accumulate(unitSizes.begin(), unitSizes.end(), std::uint64_t{0});
    double simpson = k_undefined;
    double shannon = k_undefined;
    double evenness = k_undefined;
    double pielou = k_undefined;
    double beta = k_undefined;
    if (samples > 1) {
        const double n = static_cast<double>(samples);
        double pairs = 0.0;  // sum n_i (n_i - 1)
        double lambda = 0.0; // sum p_i^2
        double h = 0.0;
        for (const std::uint32_t size : unitSizes) {
            const double ni = static_cast<double>(size);
            const double p = ni / n;
            pairs += ni * (ni - 1.0);
            lambda += p * p;
            h -= p * std::log(p);
        }
        simpson = 1.0 - pairs / (n * (n - 1.0));
        shannon = h;
        if (unitSizes.size() > 1) {
            // Units all of one size are perfectly even, whatever the
            // rounding of lambda and H makes of the quotients.
            const bool even = std::adjacent_find(unitSizes.begin(), unitSizes.end(),
                                                 std::not_equal_to<>()) == unitSizes.end();
            evenness = even ? 1.0 : bounded((1.0 / lambda - 1.0) / (std::exp(h) - 1.0));
            pielou = even ? 1.0 : bounded(h / std::log(static_cast<double>(unitSizes.size())));
        }
        beta = paretoBeta(unitSizes);
    }
    return {
        ratio("Simpson", "simpson", simpson),      ratio("Shannon", "shannon", shannon),
        ratio("E5", "evenness_E5", evenness),      ratio("J", "pielou_J", pielou),
        ratio("Pareto beta", "pareto_beta", beta),
    };
}

} // namespace psex
