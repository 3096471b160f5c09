// settings.cpp                                                   -*-C++-*-
#include "model/settings.h"

#include "base/decimalnumber.h"
#include "base/messagesink.h"

#include <algorithm>
#include <limits>

namespace psex {

namespace {

// Settings whose value is 0 have not been given (or not accepted): the
// defaults are taken once every key has been read, so that their messages
// come after those of the keys.
constexpr std::int32_t k_unset = 0;

bool readPloidy(const std::string& value, TableSettings& settings, MessageSink& messages) {
    if (value == "DIPLOID" || value == "2") {
        settings.ploidy = 2;
    } else if (value == "HAPLOID" || value == "1") {
        settings.ploidy = 1;
    } else {
        messages.error("error: only HAPLOID and DIPLOID are supported for now (not '" + value +
                       "').");
        return false;
    }
    return true;
}

bool readFrequency(const std::string& value, TableSettings& settings, MessageSink& messages) {
    if (value == "SAMPLE") {
        settings.frequency = FrequencyEstimate::e_sample;
    } else if (value == "MLG") {
        settings.frequency = FrequencyEstimate::e_mlg;
    } else if (value == "ROUNDROBIN") {
        settings.frequency = FrequencyEstimate::e_roundRobin;
    } else {
        messages.error("error: FREQUENCY is unspecified, assuming SAMPLE.");
        return false;
    }
    return true;
}

bool readModel(const std::string& value, TableSettings& settings, MessageSink& messages) {
    if (value == "FIS") {
        settings.fisModel = true;
    } else if (value != "HWE") {
        messages.error("error: MODEL is unspecified, assuming HWE.");
        return false;
    }
    return true;
}

bool readSimulations(const std::string& value, TableSettings& settings, MessageSink&) {
    settings.simulations = decimalValue(value);
    return true;
}

bool readLocusCount(const std::string& value, TableSettings& settings, MessageSink&) {
    settings.locusCount = decimalValue(value);
    return true;
}

bool readLocusNames(const std::string& value, TableSettings& settings, MessageSink&) {
    settings.locusNames = value;
    return true;
}

bool readTitle(const std::string& value, TableSettings& settings, MessageSink&) {
    settings.title = value;
    return true;
}

bool readMissing(const std::string& value, TableSettings& settings, MessageSink&) {
    settings.missingCode = decimalValue(value);
    return true;
}

// Return the whole number that the specified 'value' writes in digits
// alone (no sign, no space), held at the 32-bit limit, if it is at least
// the specified 'least'; otherwise write the warning that the specified
// 'key' is not such a number, ending in the specified 'consequence', to
// 'messages' and return nothing.  "-5", "1.5" or "abc" read as atoi reads
// them would silently count as 0 or round down.
std::optional<std::int32_t> wholeNumber(const char* key, const std::string& value,
                                        std::int32_t least, const char* consequence,
                                        MessageSink& messages) {
    if (!value.empty() &&
        std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
        decimalValue(value) >= least) {
        return decimalValue(value);
    }
    messages.error("warning: " + std::string(key) + " '" + value +
                   "' is not a whole number >= " + std::to_string(least) + "; " + consequence);
    return std::nullopt;
}

bool readLineageDistance(const std::string& value, TableSettings& settings, MessageSink& messages) {
    // A distance is a count of allele copies.
    settings.lineageDistance =
        wholeNumber("MLLDISTANCE", value, 0, "no lineages are formed.", messages);
    return settings.lineageDistance.has_value();
}

bool readLinkage(const std::string& value, TableSettings& settings, MessageSink& messages) {
    settings.linkagePermutations =
        wholeNumber("LINKAGE", value, 0, "no linkage analysis is run.", messages);
    return settings.linkagePermutations.has_value();
}

bool readLocusCurve(const std::string& value, TableSettings& settings, MessageSink& messages) {
    settings.curveSubsets =
        wholeNumber("LOCICURVE", value, 1, "no locus accumulation curve is made.", messages);
    return settings.curveSubsets.has_value();
}

bool readRarefaction(const std::string& value, TableSettings& settings, MessageSink& messages) {
    settings.rarefiedSampleSize =
        wholeNumber("RAREFY", value, 1, "no rarefaction is done.", messages);
    return settings.rarefiedSampleSize.has_value();
}

bool readLineageMethod(const std::string& value, TableSettings& settings, MessageSink& messages) {
    if (value == "NEAREST") {
        settings.lineageMethod = LineageMethod::e_nearest;
    } else if (value == "AVERAGE") {
        settings.lineageMethod = LineageMethod::e_average;
    } else if (value == "FARTHEST") {
        settings.lineageMethod = LineageMethod::e_farthest;
    } else {
        messages.error("warning: MLLMETHOD '" + value +
                       "' is not NEAREST, AVERAGE or FARTHEST; using NEAREST.");
        return false;
    }
    return true;
}

bool readCoordinates(const std::string& value, TableSettings& settings, MessageSink& messages) {
    // Names are taken whole, spaces included, as the column line writes
    // them; whether they stand right after the alleles is the table's check.
    const std::size_t comma = value.find(',');
    if (comma != std::string::npos && comma != 0 && comma + 1 < value.size() &&
        value.find(',', comma + 1) == std::string::npos) {
        settings.coordinateColumns.emplace(value.substr(0, comma), value.substr(comma + 1));
        return true;
    }
    messages.error("error: COORDINATES '" + value +
                   "' is not two column names separated by a comma; no coordinates are "
                   "read.");
    return false;
}

bool readSpatialPermutations(const std::string& value, TableSettings& settings,
                             MessageSink& messages) {
    settings.spatialPermutations =
        wholeNumber("SPATIAL", value, 0, "no permutation test of aggregation is run.", messages);
    return settings.spatialPermutations.has_value();
}

bool readDistanceClasses(const std::string& value, TableSettings& settings, MessageSink& messages) {
    std::vector<double> bounds;
    bool accepted = true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = value.find(',', start);
        const std::optional<double> bound =
            decimalNumber(std::string_view(value).substr(start, comma - start));
        if (!bound || !(*bound > 0.0) || (!bounds.empty() && !(*bound > bounds.back()))) {
            accepted = false;
            break;
        }
        bounds.push_back(*bound);
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    if (accepted) {
        settings.distanceClasses = std::move(bounds);
    } else {
        messages.error("warning: SPATIALCLASSES '" + value +
                       "' is not a list of ascending distances above 0; using ten classes of "
                       "equal pair counts.");
    }
    return accepted;
}

struct HeaderKey {
    const char* name;
    bool (*read)(const std::string& value, TableSettings& settings, MessageSink& messages);
    // Set the settings of the key from its 'value', with a message for a
    // value that is not accepted, and return whether it was accepted.
    const char* refines = nullptr;
    // The key whose analysis this one adjusts: an accepted value without
    // that key in the header does nothing, and the run says so.
};

// Every key that means something, in the order the keys are read.
// MLLDISTANCE and MLLMETHOD are used by the lineage analysis; LINKAGE,
// LOCICURVE and RAREFY each switch on an analysis of the finished table.
const HeaderKey k_keys[] = {
    {"PLOIDY", readPloidy},
    {"FREQUENCY", readFrequency},
    {"MODEL", readModel},
    {"SIMULATIONS", readSimulations},
    {"LOCUSCOUNT", readLocusCount},
    {"LOCUSNAMES", readLocusNames},
    {"TITLE", readTitle},
    {"MISSING", readMissing},
    {"MLLDISTANCE", readLineageDistance},
    {"LINKAGE", readLinkage},
    {"LOCICURVE", readLocusCurve},
    {"MLLMETHOD", readLineageMethod, "MLLDISTANCE"},
    {"RAREFY", readRarefaction},
    {"COORDINATES", readCoordinates},
    {"SPATIAL", readSpatialPermutations, "COORDINATES"},
    {"SPATIALCLASSES", readDistanceClasses, "COORDINATES"},
};

bool isAtoiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Return the specified 'key' without spaces, TABs and CRs at its ends and
// with its letters in upper case: what a person meant by 'Model ' or
// 'ploidy'.
std::string normalizedKey(const std::string& key) {
    const std::size_t first = key.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return std::string();
    }
    const std::size_t last = key.find_last_not_of(" \t\r");
    std::string normalized = key.substr(first, last - first + 1);
    for (char& c : normalized) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return normalized;
}

void reportUnknownKeys(const Parameters& parameters, MessageSink& messages) {
    for (const auto& parameter : parameters) {
        const std::string& key = parameter.first;
        if (isKnownKey(key)) {
            continue;
        }
        const std::string meant = normalizedKey(key);
        if (isKnownKey(meant)) {
            messages.error("warning: unknown header key '" + key + "' ignored; did you mean '" +
                           meant + "'?");
        } else {
            messages.error("warning: unknown header key '" + key + "' ignored.");
        }
    }
}

} // namespace

TableSettings interpretHeader(const Parameters& parameters, MessageSink& messages) {
    reportUnknownKeys(parameters, messages);
    TableSettings settings;
    settings.ploidy = k_unset;
    settings.locusCount = k_unset;
    settings.simulations = k_unset;
    for (const HeaderKey& key : k_keys) {
        const auto entry = parameters.find(key.name);
        if (entry != parameters.end()) {
            if (key.read(entry->second, settings, messages) && key.refines != nullptr &&
                parameters.find(key.refines) == parameters.end()) {
                messages.error(std::string("warning: ") + key.name + " has no effect without " +
                               key.refines + ".");
            }
        }
    }

    if (settings.ploidy == k_unset) {
        messages.error("error: PLOIDY is unspecified, assuming DIPLOID.");
        settings.ploidy = 2;
    }
    // A count below one cannot size a table nor repeat a simulation: it is
    // taken as not given.
    if (settings.locusCount < 1) {
        messages.error("error: LOCUSCOUNT is unspecified, assuming 1.");
        settings.locusCount = 1;
    }
    if (settings.simulations < 1) {
        messages.error("error: SIMULATIONS is unspecified, assuming 1000.");
        settings.simulations = 1000;
    }
    // Round robin estimates a locus from the genotypes at the other loci;
    // with one locus there are none.
    if (settings.frequency == FrequencyEstimate::e_roundRobin && settings.locusCount < 2) {
        messages.error("warning: FREQUENCY=ROUNDROBIN needs two or more loci; using MLG.");
        settings.frequency = FrequencyEstimate::e_mlg;
    }
    return settings;
}

bool isKnownKey(const std::string& key) {
    return std::any_of(std::begin(k_keys), std::end(k_keys),
                       [&](const HeaderKey& known) { return key == known.name; });
}

std::vector<std::string> knownKeys() {
    std::vector<std::string> keys;
    for (const HeaderKey& key : k_keys) {
        keys.push_back(key.name);
    }
    return keys;
}

std::int32_t decimalValue(const std::string& text) {
    constexpr std::int64_t k_limit = std::int64_t(std::numeric_limits<std::int32_t>::max()) + 1;
    std::size_t i = 0;
    while (i < text.size() && isAtoiSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = std::min(magnitude * 10 + (text[i] - '0'), k_limit);
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

} // namespace psex
