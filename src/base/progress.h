// progress.h                                                     -*-C++-*-
#ifndef PSEX_PROGRESS_H
#define PSEX_PROGRESS_H

// Purpose: tell the person at the terminal how far a long simulation is and
// how long it will still take.
//
// Thousands of samples and many simulated data sets can keep the program
// busy for minutes, and so can comparing every pair of tens of thousands of
// genotypes for lineages, many permutations of the linkage test, the
// kinship of every pair of thousands of located samples, or the millions of
// subsets of a locus accumulation curve on a SNP panel.  When standard
// error is a terminal and such a phase of a data file will take more than
// about a second, one line such as
//
//     Simulating 45%, 1 min 05 s left
//     Forming lineages 45%, 12 s left
//     Testing linkage 45%, 8 s left
//     Kinship by distance 45%, 20 s left
//     Counting genotypes on subsets of loci 45%, 20 s left
//
// is drawn on standard error and redrawn in place (carriage return, at most
// ten times a second), then erased when the simulations are done, so that
// nothing of it stays on the screen.  Whether the run will be long is judged
// from the time the first data sets took: the line appears only once half a
// second has passed and the whole is expected to take more than a second.
// When standard error is not a terminal (a file, a pipe, a batch job's log)
// nothing is written at all; standard output and the result files never
// depend on the indicator.
//
// The cursor is left at the start of the line after every redraw, so a
// message printed while the simulations run (the rounding warning, say)
// overwrites the indicator rather than being glued to its end; the text is
// kept shorter than those messages.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

namespace psex {

using SimulationProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;
// Told, after every simulated data set, how many of how many are done.

class ProgressIndicator {
    // The indicator for one phase of one data file (its simulations, or its
    // lineages).  Not copyable: its callback refers to it, and it owns what
    // it has drawn on the terminal line.

  public:
    using Clock = std::function<double()>;
    // Return the current time in seconds since any fixed origin.

  private:
    // DATA
    std::ostream* d_out;           // borrowed
    bool d_enabled;                // the stream is a terminal
    Clock d_clock;                 //
    std::string d_label;           // what the phase does: "Simulating"
    double d_start;                // time of construction
    double d_firstTime = 0.0;      // time of the first report
    std::uint64_t d_firstDone = 0; // data sets done at the first report, 0: none yet
    double d_lastDraw = 0.0;       // time of the last redraw
    std::size_t d_shownWidth = 0;  // characters on the line now; 0: nothing shown

  public:
    // CONSTANTS
    static constexpr double k_showAfter = 0.5;    // seconds elapsed before showing
    static constexpr double k_showIfLonger = 1.0; // expected seconds in all
    static constexpr double k_redrawEvery = 0.1;  // seconds between redraws

    // CREATORS
    ProgressIndicator(std::ostream& out, bool isTerminal, Clock clock = steadyClock(),
                      std::string label = "Simulating");
    // Create an indicator that draws on the specified 'out' if the specified
    // 'isTerminal' is true, reads the time from the specified 'clock', and
    // names the phase with the specified 'label'.  The phase is taken to
    // start now.

    ProgressIndicator(const ProgressIndicator&) = delete;
    ProgressIndicator& operator=(const ProgressIndicator&) = delete;

    ~ProgressIndicator();
    // Erase the line if it is shown (and can be: a failure to allocate the
    // erasing text leaves it).

    // MANIPULATORS
    void update(std::uint64_t done, std::uint64_t total);
    // Take note that the specified 'done' of 'total' simulated data sets are
    // finished, and redraw the line when it is due; erase it once 'done'
    // reaches 'total'.

    void finish();
    // Erase the line if it is shown, leaving the cursor at the start of an
    // empty line.

    SimulationProgress callback();
    // Return a function for the simulation that calls 'update'.  It
    // refers to this indicator, which must outlive it.

    // ACCESSORS
    bool isShown() const { return d_shownWidth != 0; }

    static Clock steadyClock();
    // Return a clock that reads the system's monotonic clock.
};

std::string formatDuration(double seconds);
// Return the specified 'seconds', rounded up to whole seconds, as "12 s",
// "3 min 05 s" or "2 h 05 min" (a duration of an hour or more is given to
// the minute, rounded up).

std::string formatProgress(std::uint64_t done, std::uint64_t total, double secondsLeft,
                           const std::string& label = "Simulating");
// Return the indicator text "<label> P%, T left", with P the whole
// percentage of 'done' in 'total' (rounded down, so 100% only at the end)
// and T the specified 'secondsLeft' as 'formatDuration' gives it.

bool standardErrorIsTerminal();
// Return whether the process's standard error is a terminal.

} // namespace psex

#endif
