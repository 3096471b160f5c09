// diversity.cpp                                                  -*-C++-*-
#include "diversity.h"

#include <algorithm>
#include <limits>
#include <numeric>

namespace psex {

namespace {

constexpr double k_undefined = std::numeric_limits<double>::quiet_NaN();

Figure count(const char* name, std::uint64_t value) {
    return {name, static_cast<double>(value), true};
}

Figure ratio(const char* name, double value) {
    return {name, value, false};
}

} // namespace

double clonalRichness(std::uint64_t units, std::uint64_t samples) {
    if (samples <= 1) {
        return k_undefined;
    }
    return static_cast<double>(units - 1) / static_cast<double>(samples - 1);
}

double unitsPerSample(std::uint64_t units, std::uint64_t samples) {
    if (samples == 0) {
        return k_undefined;
    }
    return static_cast<double>(units) / static_cast<double>(samples);
}

std::vector<Figure> clonalRichnessFigures(const std::vector<std::uint32_t>& unitSizes) {
    const std::uint64_t units = unitSizes.size();
    const std::uint64_t samples =
        std::accumulate(unitSizes.begin(), unitSizes.end(), std::uint64_t{0});
    const std::uint64_t single =
        static_cast<std::uint64_t>(std::count(unitSizes.begin(), unitSizes.end(), 1u));
    return {
        count("G", units),
        count("N", samples),
        ratio("R", clonalRichness(units, samples)),
        ratio("Pd", unitsPerSample(units, samples)),
        count("Single MLGs", single),
        count("Clonal MLGs", units - single),
    };
}

} // namespace psex
