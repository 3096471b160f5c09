// familywise.cpp                                                 -*-C++-*-
#include "model/familywise.h"

#include "base/contract.h"

#include <algorithm>

namespace psex {

FamilywiseCounter::FamilywiseCounter(std::vector<double> observed)
    : d_observed(std::move(observed)) {
    std::sort(d_observed.begin(), d_observed.end());
    d_observed.erase(std::unique(d_observed.begin(), d_observed.end()), d_observed.end());
    d_counts.assign(d_observed.size(), 0);
}

void FamilywiseCounter::addDataSet(std::optional<double> smallest) {
    ++d_dataSets;
    if (!smallest) {
        return;
    }
    // The data set counts for every observed value from the first one that
    // is not below its smallest value on.
    const auto first = std::lower_bound(d_observed.begin(), d_observed.end(), *smallest);
    if (first != d_observed.end()) {
        ++d_counts[static_cast<std::size_t>(first - d_observed.begin())];
    }
}

void FamilywiseCounter::add(const FamilywiseCounter& other) {
    PSEX_ASSERT(other.d_observed == d_observed);
    for (std::size_t i = 0; i < d_counts.size(); ++i) {
        d_counts[i] += other.d_counts[i];
    }
    d_dataSets += other.d_dataSets;
}

std::uint64_t FamilywiseCounter::countAtMost(double psex) const {
    const auto at = std::lower_bound(d_observed.begin(), d_observed.end(), psex);
    PSEX_ASSERT(at != d_observed.end() && *at == psex);
    std::uint64_t count = 0;
    for (std::size_t i = 0; i <= static_cast<std::size_t>(at - d_observed.begin()); ++i) {
        count += d_counts[i];
    }
    return count;
}

} // namespace psex
