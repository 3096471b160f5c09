// settings.h                                                     -*-C++-*-
#ifndef PSEX_SETTINGS_H
#define PSEX_SETTINGS_H

// Purpose: give a data file's header its meaning: the settings of the run,
// one value that the genotype table holds as a whole.
//
// This is the one place where the header keys are interpreted: PLOIDY,
// FREQUENCY, MODEL, SIMULATIONS, LOCUSCOUNT, LOCUSNAMES, TITLE, MISSING,
// MLLDISTANCE, MLLMETHOD, the keys that switch on an analysis (LINKAGE,
// LOCICURVE, RAREFY, COORDINATES) and those that adjust one (SPATIAL,
// SPATIALCLASSES), each with its default and its message when it is missing
// or not accepted, and where a key that means nothing is reported (a
// mistyped key must not pass for a setting that was used).  The reader only
// stores the header as text.
//
// A key is one field of 'TableSettings' and one entry in the list of keys
// in settings.cpp (its name and how its value is read); the list is read in
// its order, so the messages of the keys come in that order, and it is also
// the list of the keys the system knows.  The defaults of PLOIDY,
// LOCUSCOUNT and SIMULATIONS, each with its message, are taken after every
// key has been read.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace psex {

class MessageSink;

using Parameters = std::map<std::string, std::string>;
// Header parameters: key text to value text, in byte-wise key order.

enum class FrequencyEstimate {
    // How the allele frequencies are estimated (FREQUENCY).

    e_sample,    // from every sample (SAMPLE)
    e_mlg,       // from each distinct genotype once (MLG)
    e_roundRobin // each locus from the genotypes distinct at the other loci (ROUNDROBIN)
};

enum class LineageMethod {
    // How MLGs within the distance k (MLLDISTANCE) form lineages
    // (MLLMETHOD; lineageclustering.h).

    e_nearest, // single linkage: MLGs linked by a chain of close pairs
    e_average, // average linkage: by the mean distance of their MLGs
    e_farthest // complete linkage: by the largest distance of their MLGs
};

struct TableSettings {
    // What the header asks for, after defaults: the settings of a genotype
    // table.  A value type.

    std::int32_t ploidy = 2;                                   // PLOIDY: 1 or 2
    std::int32_t locusCount = 1;                               // LOCUSCOUNT: at least 1
    std::int32_t simulations = 1000;                           // SIMULATIONS: at least 1
    FrequencyEstimate frequency = FrequencyEstimate::e_sample; // FREQUENCY
    bool fisModel = false;                                     // MODEL=FIS (else HWE)
    std::optional<std::string> locusNames;                     // LOCUSNAMES, as written
    std::string title;                                         // TITLE, or empty
    std::optional<std::int32_t> missingCode;                   // MISSING, if given
    std::optional<std::int32_t> lineageDistance;               // MLLDISTANCE, if given as digits
    std::optional<std::int32_t> linkagePermutations;           // LINKAGE, if given as digits
    std::optional<std::int32_t> curveSubsets;                  // LOCICURVE, if digits >= 1
    LineageMethod lineageMethod = LineageMethod::e_nearest;    // MLLMETHOD
    std::optional<std::int32_t> rarefiedSampleSize;            // RAREFY, if digits >= 1
    std::optional<std::pair<std::string, std::string>> coordinateColumns; // COORDINATES: x, y
    std::optional<std::int32_t> spatialPermutations;    // SPATIAL, if given as digits
    std::optional<std::vector<double>> distanceClasses; // SPATIALCLASSES: ascending upper bounds

    bool frequencyFromSamples() const { return frequency == FrequencyEstimate::e_sample; }
    // Return whether every sample counts its alleles (FREQUENCY=SAMPLE);
    // otherwise each distinct genotype counts once, and Ho is a share of
    // distinct genotypes.

    bool isMissing(std::int32_t allele) const {
        return missingCode.has_value() && allele == *missingCode;
    }
    // Return whether the specified 'allele' value stands for a copy that
    // could not be typed (the MISSING code).

    bool operator==(const TableSettings& other) const = default;
};

TableSettings interpretHeader(const Parameters& parameters, MessageSink& messages);
// Return the settings that the specified header 'parameters' ask for,
// writing a message to 'messages' for every key that the system does not
// know (first, in key order), then for every key whose value is not
// accepted (in the order of the list of keys), then for every count that is
// missing and has no silent default.

bool isKnownKey(const std::string& key);
// Return whether the specified header 'key' means something to the system.

std::vector<std::string> knownKeys();
// Return the header keys that mean something to the system, in the order
// they are read.

std::int32_t decimalValue(const std::string& text);
// Return the integer at the start of the specified 'text' as 'atoi' reads it
// (leading white space, an optional sign, the digits up to the first other
// character; 0 without digits), saturated at the 32-bit limits.

} // namespace psex

#endif
