// psexlist.cpp                                                   -*-C++-*-
#include "model/psexlist.h"

#include "base/contract.h"

#include <algorithm>

namespace psex {

PsexList::PsexList(const std::vector<double>& ascending) {
    PSEX_ASSERT(std::is_sorted(ascending.begin(), ascending.end()));
    std::uint64_t count = 0;
    for (const double value : ascending) {
        ++count;
        if (d_values.empty() || d_values.back() != value) {
            d_values.push_back(value);
            d_ends.push_back(count);
        } else {
            d_ends.back() = count;
        }
    }
}

PsexList PsexList::fromRuns(const std::vector<std::pair<double, std::uint64_t>>& runs) {
    PsexList list;
    std::uint64_t count = 0;
    for (const auto& run : runs) {
        PSEX_ASSERT(run.second > 0);
        PSEX_ASSERT(list.d_values.empty() || list.d_values.back() < run.first);
        count += run.second;
        list.d_values.push_back(run.first);
        list.d_ends.push_back(count);
    }
    return list;
}

double PsexList::at(std::uint64_t index) const {
    PSEX_ASSERT(index < size());
    const auto run = std::upper_bound(d_ends.begin(), d_ends.end(), index);
    return d_values[static_cast<std::size_t>(run - d_ends.begin())];
}

std::uint64_t PsexList::countBelow(double value) const {
    const auto run = std::lower_bound(d_values.begin(), d_values.end(), value);
    return run == d_values.begin() ? 0
                                   : d_ends[static_cast<std::size_t>(run - d_values.begin()) - 1];
}

std::vector<std::pair<double, std::uint64_t>> PsexList::runs() const {
    std::vector<std::pair<double, std::uint64_t>> result;
    std::uint64_t previous = 0;
    for (std::size_t r = 0; r < d_values.size(); ++r) {
        result.emplace_back(d_values[r], d_ends[r] - previous);
        previous = d_ends[r];
    }
    return result;
}

std::vector<double> PsexList::values() const {
    std::vector<double> result;
    for (const auto& [value, count] : runs()) {
        result.insert(result.end(), static_cast<std::size_t>(count), value);
    }
    return result;
}

} // namespace psex
