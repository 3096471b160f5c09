// commandline.cpp                                                -*-C++-*-
#include "psex/commandline.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace psex {

#ifndef PSEX_VERSION
#define PSEX_VERSION "unknown"
#endif

namespace {

// Return whether the specified 'setting' of '--set' is KEY=VALUE as a
// header line could hold it: a key that is not empty, and neither a line
// end nor a TAB (which ends a header value).
bool isSetting(const std::string& setting) {
    const std::size_t equals = setting.find('=');
    return equals != std::string::npos && equals > 0 &&
           setting.find_first_of("\r\n\t") == std::string::npos;
}

} // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    bool optionsEnded = false;
    const auto refuse = [&line](const std::string& problem) {
        if (line.action == CommandLine::Action::e_analyse) {
            line.action = CommandLine::Action::e_wrongSetting;
            line.problem = problem;
        }
    };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.empty() || argument[0] != '-') {
            line.dataFiles.push_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help" || argument == "-h") {
            line.action = CommandLine::Action::e_help;
            return line;
        } else if (argument == "--version") {
            line.action = CommandLine::Action::e_version;
            return line;
        } else if (argument == "--set" || argument.rfind("--set=", 0) == 0) {
            if (argument == "--set" && i + 1 == arguments.size()) {
                refuse("error: --set needs KEY=VALUE (try --help)");
                continue;
            }
            const std::string setting = argument == "--set" ? arguments[++i] : argument.substr(6);
            if (!line.dataFiles.empty()) {
                refuse("error: --set " + setting +
                       " comes after a data file; settings come "
                       "before the data files (try --help)");
            } else if (!isSetting(setting)) {
                refuse("error: --set needs KEY=VALUE, not '" + setting + "' (try --help)");
            } else {
                const std::size_t equals = setting.find('=');
                const std::string key = setting.substr(0, equals);
                const auto known =
                    std::find_if(line.settings.begin(), line.settings.end(),
                                 [&](const auto& entry) { return entry.first == key; });
                if (known != line.settings.end()) {
                    known->second = setting.substr(equals + 1);
                } else {
                    line.settings.emplace_back(key, setting.substr(equals + 1));
                }
            }
        } else if (isReadableFile(argument)) {
            line.dataFiles.push_back(argument);
        } else if (line.action == CommandLine::Action::e_analyse) {
            line.action = CommandLine::Action::e_unknown;
            line.unknownOption = argument;
        }
    }
    return line;
}

bool isReadableFile(const std::string& path) {
    struct stat status;
    return path.find('\0') == std::string::npos && ::stat(path.c_str(), &status) == 0 &&
           !S_ISDIR(status.st_mode) && ::access(path.c_str(), R_OK) == 0;
}

std::string usageText() {
    return "Usage: psex [--set KEY=VALUE]... [--] DATAFILE...\n"
           "       psex --help | -h | --version\n"
           "\n"
           "For every multilocus genotype that a data file holds more than once,\n"
           "psex computes PGen and PSex and judges PSex against simulated data\n"
           "sets without clones.  Each DATAFILE is analysed in turn; its settings\n"
           "are in its own header.\n"
           "\n"
           "Result files, in the current folder, for the run name <run> (the\n"
           "file's TITLE, or else the DATAFILE argument as given):\n"
           "  simresults_<run>.csv  MLGs with PSex and significance, per-locus\n"
           "                        statistics, thresholds, allele frequencies\n"
           "  fulltable_<run>.csv   one line per sample with its MLG and PSex\n"
           "  samples_<run>.csv     tidy table, one row per sample, for R or pandas\n"
           "  summary_<run>.csv     tidy table of clonal diversity statistics\n"
           "  distances_<run>.csv   genotype distances (with MLLDISTANCE only)\n"
           "  linkage_<run>.csv     index of association (with LINKAGE only)\n"
           "  loci_<run>.csv        genotype accumulation curve (with LOCICURVE only)\n"
           "  spatial_<run>.csv     clonal subrange of every genotype (with COORDINATES only)\n"
           "  kinship_<run>.csv     kinship by distance class (with COORDINATES only)\n"
           "\n"
           "Options:\n"
           "  -h, --help   print this text\n"
           "  --version    print the version\n"
           "  --set KEY=VALUE\n"
           "               set the header key KEY to VALUE for every data file,\n"
           "               over the file's own line (repeatable; before the data\n"
           "               files), e.g. --set FREQUENCY=ROUNDROBIN\n"
           "  --           take every later argument as a data file\n"
           "\n"
           "Exit status: 0 when all went well; 1 when a data file gave no sample\n"
           "or could not be read to its end, or a result file could not be\n"
           "written (the other files are still analysed); 2 when a data file\n"
           "cannot be opened (the run stops there) or an option is unknown or\n"
           "sets nothing.\n"
           "\n"
           "The data file format and every number of the results: man psex\n";
}

std::string versionText() {
    return std::string("psex ") + PSEX_VERSION + "\n";
}

} // namespace psex
