// progress.cpp                                                   -*-C++-*-
#include "base/progress.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <ostream>

namespace psex {

ProgressIndicator::ProgressIndicator(std::ostream& out, bool isTerminal, Clock clock,
                                     std::string label)
    : d_out(&out), d_enabled(isTerminal), d_clock(std::move(clock)), d_label(std::move(label)),
      d_start(d_enabled ? d_clock() : 0.0) {}

ProgressIndicator::~ProgressIndicator() {
    try {
        finish();
    } catch (...) {
        // Out of memory as the run of a data file is given up: the line stays.
    }
}

void ProgressIndicator::update(std::uint64_t done, std::uint64_t total) {
    if (!d_enabled || done == 0) {
        return;
    }
    if (done >= total) {
        finish();
        return;
    }
    const double now = d_clock();
    if (d_firstDone == 0) {
        d_firstDone = done;
        d_firstTime = now;
    }
    const double elapsed = now - d_start;

    // The time before the first report also holds the reading of the data
    // file; once two reports are in, only the simulations are timed.
    const double perDataSet = done > d_firstDone
                                  ? (now - d_firstTime) / static_cast<double>(done - d_firstDone)
                                  : elapsed / static_cast<double>(done);
    const double secondsLeft = perDataSet * static_cast<double>(total - done);

    if (!isShown()) {
        if (elapsed < k_showAfter || elapsed + secondsLeft <= k_showIfLonger) {
            return;
        }
    } else if (now - d_lastDraw < k_redrawEvery) {
        return;
    }

    const std::string text = formatProgress(done, total, secondsLeft, d_label);
    std::string line(1, '\r');
    line += text;
    if (d_shownWidth > text.size()) {
        line.append(d_shownWidth - text.size(), ' ');
    }
    line += '\r';
    d_out->write(line.data(), static_cast<std::streamsize>(line.size()));
    d_out->flush();
    d_shownWidth = text.size();
    d_lastDraw = now;
}

void ProgressIndicator::finish() {
    if (!isShown()) {
        return;
    }
    std::string line(d_shownWidth + 2, ' ');
    line.front() = '\r';
    line.back() = '\r';
    d_out->write(line.data(), static_cast<std::streamsize>(line.size()));
    d_out->flush();
    d_shownWidth = 0;
}

SimulationProgress ProgressIndicator::callback() {
    return [this](std::uint64_t done, std::uint64_t total) { update(done, total); };
}

ProgressIndicator::Clock ProgressIndicator::steadyClock() {
    return [] {
        const auto sinceOrigin = std::chrono::steady_clock::now().time_since_epoch();
        return std::chrono::duration<double>(sinceOrigin).count();
    };
}

std::string formatDuration(double seconds) {
    // Beyond some ten thousand years an estimate means nothing; the cap
    // keeps the conversion to an integer defined.
    constexpr double k_cap = 1e12;
    const double rounded = seconds > 0.0 ? std::ceil(std::min(seconds, k_cap)) : 0.0;
    const auto whole = static_cast<unsigned long long>(rounded);
    char text[64];
    if (whole < 60) {
        std::snprintf(text, sizeof text, "%llu s", whole);
    } else if (whole < 3600) {
        std::snprintf(text, sizeof text, "%llu min %02llu s", whole / 60, whole % 60);
    } else {
        const unsigned long long minutes = (whole + 59) / 60;
        std::snprintf(text, sizeof text, "%llu h %02llu min", minutes / 60, minutes % 60);
    }
    return text;
}

std::string formatProgress(std::uint64_t done, std::uint64_t total, double secondsLeft,
                           const std::string& label) {
    // done * 100 could overflow for the pairs of billions of genotypes.
    std::uint64_t percent = 100;
    if (total != 0 && done < total) {
        constexpr std::uint64_t k_largest = std::numeric_limits<std::uint64_t>::max() / 100;
        percent = total <= k_largest ? done * 100 / total : done / (total / 100);
        percent = std::min<std::uint64_t>(percent, 99);
    }
    return label + " " + std::to_string(percent) + "%, " + formatDuration(secondsLeft) + " left";
}

bool standardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) != 0;
}

} // namespace psex
