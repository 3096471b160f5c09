// significance.cpp                                               -*-C++-*-
#include "model/significance.h"

#include "base/contract.h"

namespace psex {

const ReportedLevel k_reportedLevels[3] = {{"0.01", 0.01}, {"0.05", 0.05}, {"0.10", 0.1}};

double significanceThreshold(const PsexList& simulated, double significanceLevel) {
    PSEX_ASSERT(significanceLevel >= 0.0 && significanceLevel <= 1.0);
    if (simulated.empty()) {
        return 1.0;
    }
    const double position = significanceLevel * static_cast<double>(simulated.size() - 1);
    return simulated.at(static_cast<std::uint64_t>(position));
}

double realizedSignificanceLevel(const PsexList& simulated, double significanceLevel) {
    const std::uint64_t m = simulated.size();
    if (m == 0) {
        return 0.0;
    }
    const double b = significanceLevel * static_cast<double>(m);
    const std::uint64_t c = static_cast<std::uint64_t>(b);
    const std::uint64_t r = b + 0.5 >= static_cast<double>(c + 1) ? c + 1 : c;
    if (r == 0) {
        return 0.0; // a level too small for the list reaches nothing below it
    }
    return static_cast<double>(r - 1) / static_cast<double>(m);
}

double psexSignificance(const PsexList& simulated, double psex) {
    if (simulated.empty()) {
        return 0.0;
    }
    return static_cast<double>(simulated.countBelow(psex)) / static_cast<double>(simulated.size());
}

std::string significanceCode(const PsexList& simulated, double psex) {
    if (!(significanceThreshold(simulated, 0.05) > psex)) {
        return "ns";
    }
    std::string code = "*";
    if (significanceThreshold(simulated, 0.01) > psex) {
        code += "*";
        if (significanceThreshold(simulated, 0.001) > psex) {
            code += "*";
        }
    }
    return code;
}

double familywisePValue(std::uint64_t atMost, std::uint64_t dataSets) {
    return static_cast<double>(atMost + 1) / static_cast<double>(dataSets + 1);
}

std::string familywiseLevel(double pValue) {
    if (pValue <= 0.001) {
        return "***";
    }
    if (pValue <= 0.01) {
        return "**";
    }
    if (pValue <= 0.05) {
        return "*";
    }
    return "ns";
}

} // namespace psex
