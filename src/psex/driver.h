// driver.h                                                       -*-C++-*-
#ifndef PSEX_DRIVER_H
#define PSEX_DRIVER_H

// Purpose: run the analysis for every data file named on the command line
// and write its result files into the current directory.
//
// For a data file the run name is its TITLE or, without one, the path as
// given.  Every run writes "simresults_<run name>.csv",
// "fulltable_<run name>.csv", "samples_<run name>.csv" and
// "summary_<run name>.csv", and beside them the file of each analysis that
// its header keys switch on, such as "distances_<run name>.csv" with
// MLLDISTANCE (the list is 'resultFilesOf' in driver.cpp, described in the
// README's table of result files).  The files are processed in order, each
// to the end before the next is opened, and the random stream of the
// simulations runs on from one file to the next.
//
// A result file appears only complete, and the result files of one data
// file are replaced as a set (see 'writeResultFiles').  Result names that
// would come to one file, or a TITLE that would lead out of the working
// folder, write nothing (see 'refusalOf').

#include <string>
#include <utility>
#include <vector>

namespace psex {

class MessageSink;

using Settings = std::vector<std::pair<std::string, std::string>>;
// Header keys and values given on the command line, each key once.

int runDataFiles(const std::vector<std::string>& paths, MessageSink& messages,
                 const Settings& settings = Settings());
// Analyse the data files at the specified 'paths' in order, each with the
// optionally specified 'settings' in place of its own header lines of
// those keys (as read, and as echoed in its results), and return the
// exit status: 2 at once when a data file cannot be opened (nothing more is
// done; a folder counts as a file that cannot be opened); otherwise 1 when
// any data file could not be read to its end, gave no sample, took more
// memory than the process may have (its results are then not written), or
// had a result file that could not be written (the other files are still
// processed); and 0 when all went well.  Console messages go to the
// specified 'messages'.

int runProgram(const std::vector<std::string>& arguments, MessageSink& messages);
// Do what the specified command-line 'arguments' (without the program's
// name) ask for and return the exit status: print the usage text or the
// version (0), refuse an unknown option or a '--set' that sets nothing
// before anything is analysed (2), or analyse the data files as
// 'runDataFiles' does, after saying once what '--set' set.  A failed write to the
// output channel is reported at the end and turns a status of 0 into 1.

} // namespace psex

#endif
