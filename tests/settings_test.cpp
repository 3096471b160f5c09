// settings_test.cpp                                              -*-C++-*-
#include "model/settings.h"

#include "collectedmessages.h"

#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using psex::FrequencyEstimate;
using psex::Parameters;
using psex::TableSettings;
using psex::test::CollectedMessages;

struct Interpreted {
    TableSettings settings;
    std::string err;
};

Interpreted interpret(const Parameters& parameters) {
    CollectedMessages messages;
    TableSettings settings = psex::interpretHeader(parameters, messages);
    EXPECT_EQ("", messages.output());
    return {settings, messages.error()};
}

// A header that gives every count, so that no default message is written.
Parameters counted(Parameters parameters) {
    parameters.emplace("PLOIDY", "2");
    parameters.emplace("LOCUSCOUNT", "2");
    parameters.emplace("SIMULATIONS", "10");
    return parameters;
}

TEST(InterpretHeader, TakesTheDefaultsWithTheirMessagesAfterEveryKey) {
    const Interpreted none = interpret({});
    EXPECT_EQ("error: PLOIDY is unspecified, assuming DIPLOID.\n"
              "error: LOCUSCOUNT is unspecified, assuming 1.\n"
              "error: SIMULATIONS is unspecified, assuming 1000.\n",
              none.err);
    EXPECT_EQ(TableSettings(), none.settings); // diploid, one locus, 1000, SAMPLE, HWE

    // Values that are not accepted are reported as the keys are read (in
    // the order of the list of keys, not of the header), the defaults after
    // all of them.
    const Interpreted refused = interpret({{"SIMULATIONS", "many"},
                                           {"MODEL", "fis"},
                                           {"FREQUENCY", "sample"},
                                           {"PLOIDY", "3"},
                                           {"MLLDISTANCE", "-1"},
                                           {"TITLE", "t"}});
    EXPECT_EQ("error: only HAPLOID and DIPLOID are supported for now (not '3').\n"
              "error: FREQUENCY is unspecified, assuming SAMPLE.\n"
              "error: MODEL is unspecified, assuming HWE.\n"
              "warning: MLLDISTANCE '-1' is not a whole number >= 0; no lineages are formed.\n"
              "error: PLOIDY is unspecified, assuming DIPLOID.\n"
              "error: LOCUSCOUNT is unspecified, assuming 1.\n"
              "error: SIMULATIONS is unspecified, assuming 1000.\n",
              refused.err);
    TableSettings expected;
    expected.title = "t";
    EXPECT_EQ(expected, refused.settings);
}

TEST(InterpretHeader, AcceptsExactlyTheDocumentedValues) {
    struct Case {
        const char* key;
        const char* value;
        std::int32_t ploidy;
        FrequencyEstimate frequency;
        bool fisModel;
        bool refused;
    } cases[] = {
        {"PLOIDY", "DIPLOID", 2, FrequencyEstimate::e_sample, false, false},
        {"PLOIDY", "2", 2, FrequencyEstimate::e_sample, false, false},
        {"PLOIDY", "HAPLOID", 1, FrequencyEstimate::e_sample, false, false},
        {"PLOIDY", "1", 1, FrequencyEstimate::e_sample, false, false},
        {"PLOIDY", "diploid", 2, FrequencyEstimate::e_sample, false, true},
        {"PLOIDY", " 2", 2, FrequencyEstimate::e_sample, false, true},
        {"FREQUENCY", "SAMPLE", 2, FrequencyEstimate::e_sample, false, false},
        {"FREQUENCY", "MLG", 2, FrequencyEstimate::e_mlg, false, false},
        {"FREQUENCY", "ROUNDROBIN", 2, FrequencyEstimate::e_roundRobin, false, false},
        {"FREQUENCY", "MLG ", 2, FrequencyEstimate::e_sample, false, true},
        {"MODEL", "HWE", 2, FrequencyEstimate::e_sample, false, false},
        {"MODEL", "FIS", 2, FrequencyEstimate::e_sample, true, false},
        {"MODEL", "Fis", 2, FrequencyEstimate::e_sample, false, true},
    };
    for (const Case& c : cases) {
        Parameters header = {{c.key, c.value}};
        const Interpreted result = interpret(counted(header));
        EXPECT_EQ(c.ploidy, result.settings.ploidy) << c.key << '=' << c.value;
        EXPECT_EQ(c.frequency, result.settings.frequency) << c.key << '=' << c.value;
        EXPECT_EQ(c.fisModel, result.settings.fisModel) << c.key << '=' << c.value;
        EXPECT_EQ(c.refused, !result.err.empty()) << c.key << '=' << c.value;
    }
    EXPECT_TRUE(interpret(counted({{"FREQUENCY", "SAMPLE"}})).settings.frequencyFromSamples());
    EXPECT_FALSE(interpret(counted({{"FREQUENCY", "ROUNDROBIN"}})).settings.frequencyFromSamples());
}

TEST(InterpretHeader, ReadsCountsAsAtoiDoesAndDefaultsCountsBelowOne) {
    struct Case {
        const char* value;
        std::int32_t count;
        bool message;
    } cases[] = {
        {"50runs", 50, false}, {"  7", 7, false},
        {"+12", 12, false},    {"0", 1000, true},
        {"many", 1000, true},  {"-5", 1000, true},
        {"", 1000, true},      {"99999999999", 2147483647, false},
    };
    for (const Case& c : cases) {
        const Interpreted result =
            interpret({{"PLOIDY", "1"}, {"LOCUSCOUNT", "1"}, {"SIMULATIONS", c.value}});
        EXPECT_EQ(c.count, result.settings.simulations) << c.value;
        EXPECT_EQ(c.message ? "error: SIMULATIONS is unspecified, assuming 1000.\n" : "",
                  result.err)
            << c.value;
    }
    const Interpreted negativeLoci =
        interpret({{"PLOIDY", "1"}, {"SIMULATIONS", "1"}, {"LOCUSCOUNT", "-3"}});
    EXPECT_EQ("error: LOCUSCOUNT is unspecified, assuming 1.\n", negativeLoci.err);
    EXPECT_EQ(1, negativeLoci.settings.locusCount);
}

TEST(InterpretHeader, ConvertsIntegersLikeAtoiButSaturates) {
    using psex::decimalValue;
    EXPECT_EQ(12, decimalValue("12"));
    EXPECT_EQ(12, decimalValue(" \t\n\v\f\r12"));
    EXPECT_EQ(12, decimalValue("12a"));
    EXPECT_EQ(-3, decimalValue("-3"));
    EXPECT_EQ(5, decimalValue("+5"));
    EXPECT_EQ(0, decimalValue(""));
    EXPECT_EQ(0, decimalValue("?"));
    EXPECT_EQ(0, decimalValue("NA"));
    EXPECT_EQ(0, decimalValue("- 3"));
    EXPECT_EQ(1, decimalValue("1e3")); // stops at the 'e'
    EXPECT_EQ(2147483647, decimalValue("2147483647"));
    EXPECT_EQ(2147483647, decimalValue("2147483648"));
    EXPECT_EQ(2147483647, decimalValue("99999999999999999999999999"));
    EXPECT_EQ(std::numeric_limits<std::int32_t>::min(), decimalValue("-2147483648"));
    EXPECT_EQ(std::numeric_limits<std::int32_t>::min(), decimalValue("-99999999999999999999"));
}

TEST(InterpretHeader, KeepsLocusNamesAndTitleAsWritten) {
    const Interpreted named = interpret(counted({{"LOCUSNAMES", "A, B,"}, {"TITLE", " run 1"}}));
    EXPECT_EQ(std::optional<std::string>("A, B,"), named.settings.locusNames);
    EXPECT_EQ(" run 1", named.settings.title);
    EXPECT_EQ(std::optional<std::string>(""),
              interpret(counted({{"LOCUSNAMES", ""}})).settings.locusNames);
    EXPECT_FALSE(interpret(counted({})).settings.locusNames);
}

TEST(InterpretHeader, ReportsUnknownKeysFirstInKeyOrder) {
    const Interpreted result = interpret({{"Model", "FIS"},
                                          {"PLOIDY", "3"},
                                          {"ploidy \t", "1"},
                                          {"LOCUSCOUNT", "1"},
                                          {"SIMULATIONS", "2"},
                                          {"NOTE", "meadow 4"},
                                          {"", ""},
                                          {"FREQUENCY ", "MLG"},
                                          {"MISSING", "0"},
                                          {"MLLDISTANCE", "1"}});
    // Byte-wise key order, as "Specified parameters" lists them; a key that
    // only differs by case or white space at its ends gets a suggestion.
    EXPECT_EQ("warning: unknown header key '' ignored.\n"
              "warning: unknown header key 'FREQUENCY ' ignored; did you mean 'FREQUENCY'?\n"
              "warning: unknown header key 'Model' ignored; did you mean 'MODEL'?\n"
              "warning: unknown header key 'NOTE' ignored.\n"
              "warning: unknown header key 'ploidy \t' ignored; did you mean 'PLOIDY'?\n"
              "error: only HAPLOID and DIPLOID are supported for now (not '3').\n"
              "error: PLOIDY is unspecified, assuming DIPLOID.\n",
              result.err);
    EXPECT_FALSE(result.settings.fisModel); // what the file says is not what it got
    EXPECT_EQ(FrequencyEstimate::e_sample, result.settings.frequency);
    EXPECT_TRUE(psex::isKnownKey("MISSING"));
    EXPECT_FALSE(psex::isKnownKey("missing"));
    for (const std::string& key : psex::knownKeys()) {
        EXPECT_TRUE(psex::isKnownKey(key)) << key;
    }
}

TEST(InterpretHeader, ReadsTheMissingCodeAsAtoiDoes) {
    struct Case {
        const char* value;
        std::int32_t code;
    } cases[] = {{"0", 0}, {"-9", -9}, {"NA", 0}, {"", 0}, {" 999x", 999}};
    for (const Case& c : cases) {
        const Interpreted result = interpret(counted({{"MISSING", c.value}}));
        EXPECT_EQ(std::optional<std::int32_t>(c.code), result.settings.missingCode) << c.value;
        EXPECT_EQ("", result.err) << c.value;
    }
    const TableSettings coded = interpret(counted({{"MISSING", "-9"}})).settings;
    EXPECT_TRUE(coded.isMissing(-9));
    EXPECT_FALSE(coded.isMissing(0));
    const TableSettings uncoded = interpret(counted({})).settings;
    EXPECT_FALSE(uncoded.missingCode);
    EXPECT_FALSE(uncoded.isMissing(0)); // without a code every value is an allele
}

TEST(InterpretHeader, ReadsTheLineageDistanceInDigitsOnly) {
    struct Case {
        const char* value;
        std::optional<std::int32_t> distance;
    } cases[] = {{"2", 2}, {"00", 0}, {"99999999999", 2147483647}};
    for (const Case& c : cases) {
        const Interpreted result = interpret(counted({{"MLLDISTANCE", c.value}}));
        EXPECT_EQ(c.distance, result.settings.lineageDistance) << c.value;
        EXPECT_EQ("", result.err) << c.value;
    }
    EXPECT_FALSE(interpret(counted({})).settings.lineageDistance);
    // Read as atoi reads, "-5" and "abc" joined nothing and "1.5" joined at
    // 1, without a word.
    for (const std::string value : {"-5", "abc", "", "1.5", "+2", " 2", "2 ", "2x"}) {
        const Interpreted result = interpret(counted({{"MLLDISTANCE", value}}));
        EXPECT_FALSE(result.settings.lineageDistance) << value;
        EXPECT_EQ("warning: MLLDISTANCE '" + value +
                      "' is not a whole number >= 0; no lineages are formed.\n",
                  result.err);
    }
}

TEST(InterpretHeader, ReadsTheAnalysisKeysInTheirOrderAndRefusesOtherValues) {
    // Accepted: whole numbers in digits from the least each key allows.
    const Interpreted accepted = interpret(counted({{"LINKAGE", "0"},
                                                    {"LOCICURVE", "1"},
                                                    {"RAREFY", "99999999999"},
                                                    {"MLLDISTANCE", "2"},
                                                    {"MLLMETHOD", "FARTHEST"}}));
    EXPECT_EQ("", accepted.err);
    EXPECT_EQ(0, accepted.settings.linkagePermutations);
    EXPECT_EQ(1, accepted.settings.curveSubsets);
    EXPECT_EQ(std::numeric_limits<std::int32_t>::max(), accepted.settings.rarefiedSampleSize);
    EXPECT_EQ(psex::LineageMethod::e_farthest, accepted.settings.lineageMethod);
    EXPECT_EQ(psex::LineageMethod::e_average,
              interpret(counted({{"MLLDISTANCE", "1"}, {"MLLMETHOD", "AVERAGE"}}))
                  .settings.lineageMethod);

    // Refused values: one warning each, after MLLDISTANCE's and in the order
    // LINKAGE, LOCICURVE, MLLMETHOD, RAREFY, whatever the header's order;
    // the key then counts as absent.
    const Interpreted refused = interpret(counted({{"RAREFY", "0"},
                                                   {"MLLMETHOD", "average"},
                                                   {"LOCICURVE", "0"},
                                                   {"LINKAGE", "-1"},
                                                   {"MLLDISTANCE", "x"}}));
    EXPECT_EQ("warning: MLLDISTANCE 'x' is not a whole number >= 0; no lineages are formed.\n"
              "warning: LINKAGE '-1' is not a whole number >= 0; no linkage analysis is run.\n"
              "warning: LOCICURVE '0' is not a whole number >= 1; no locus accumulation curve "
              "is made.\n"
              "warning: MLLMETHOD 'average' is not NEAREST, AVERAGE or FARTHEST; using "
              "NEAREST.\n"
              "warning: RAREFY '0' is not a whole number >= 1; no rarefaction is done.\n",
              refused.err);
    EXPECT_EQ(interpret(counted({})).settings, refused.settings);
    for (const char* value : {"", " 5", "5 ", "+5", "1.5", "1e3"}) {
        EXPECT_FALSE(interpret(counted({{"LINKAGE", value}})).settings.linkagePermutations)
            << "'" << value << "'";
    }

    // A method without a distance changes nothing, and says so; with a
    // refused distance the distance's warning says it already.
    EXPECT_EQ("warning: MLLMETHOD has no effect without MLLDISTANCE.\n",
              interpret(counted({{"MLLMETHOD", "NEAREST"}})).err);
    EXPECT_EQ("warning: MLLDISTANCE '-2' is not a whole number >= 0; no lineages are formed.\n",
              interpret(counted({{"MLLMETHOD", "AVERAGE"}, {"MLLDISTANCE", "-2"}})).err);
}

TEST(InterpretHeader, ReadsTheSpatialKeys) {
    const Interpreted all = interpret(counted(
        {{"COORDINATES", "east, north"}, {"SPATIAL", "099"}, {"SPATIALCLASSES", " 2.5,1e1 ,+20"}}));
    EXPECT_EQ("", all.err);
    EXPECT_EQ(std::make_pair(std::string("east"), std::string(" north")),
              *all.settings.coordinateColumns); // names are taken whole
    EXPECT_EQ(99, all.settings.spatialPermutations);
    EXPECT_EQ((std::vector<double>{2.5, 10.0, 20.0}), *all.settings.distanceClasses);

    // Refused values, in the order of the keys, each taken as absent.
    const Interpreted refused = interpret(
        counted({{"SPATIALCLASSES", "5,5"}, {"SPATIAL", "-1"}, {"COORDINATES", "x,y,z"}}));
    EXPECT_EQ("error: COORDINATES 'x,y,z' is not two column names separated by a comma; no "
              "coordinates are read.\n"
              "warning: SPATIAL '-1' is not a whole number >= 0; no permutation test of "
              "aggregation is run.\n"
              "warning: SPATIALCLASSES '5,5' is not a list of ascending distances above 0; using "
              "ten classes of equal pair counts.\n",
              refused.err);
    EXPECT_FALSE(refused.settings.coordinateColumns);
    EXPECT_FALSE(refused.settings.spatialPermutations);
    EXPECT_FALSE(refused.settings.distanceClasses);
    for (const std::string value : {"x", ",y", "x,", ",", ""}) {
        EXPECT_FALSE(interpret(counted({{"COORDINATES", value}})).settings.coordinateColumns)
            << value;
    }
    for (const std::string value : {"0,1", "-1,2", "2,1", "1,,2", "1;2", "", "inf", "1,nan"}) {
        EXPECT_FALSE(interpret(counted({{"COORDINATES", "x,y"}, {"SPATIALCLASSES", value}}))
                         .settings.distanceClasses)
            << value;
    }
}

TEST(InterpretHeader, SaysWhenSpatialKeysHaveNothingToRefine) {
    // An accepted value without COORDINATES does nothing, and the run says
    // so; a refused one says only that.  COORDINATES that is itself refused
    // still counts as given.
    const Interpreted alone = interpret(counted({{"SPATIAL", "0"}, {"SPATIALCLASSES", "1"}}));
    EXPECT_EQ("warning: SPATIAL has no effect without COORDINATES.\n"
              "warning: SPATIALCLASSES has no effect without COORDINATES.\n",
              alone.err);
    const Interpreted refused = interpret(counted({{"SPATIAL", "x"}}));
    EXPECT_EQ("warning: SPATIAL 'x' is not a whole number >= 0; no permutation test of "
              "aggregation is run.\n",
              refused.err);
    const Interpreted withKey = interpret(counted({{"COORDINATES", "x"}, {"SPATIAL", "1"}}));
    EXPECT_EQ("error: COORDINATES 'x' is not two column names separated by a comma; no "
              "coordinates are read.\n",
              withKey.err);
}

TEST(InterpretHeader, FallsBackFromRoundRobinToMLGWithOneLocus) {
    const Interpreted one =
        interpret({{"PLOIDY", "2"}, {"SIMULATIONS", "1"}, {"FREQUENCY", "ROUNDROBIN"}});
    EXPECT_EQ("error: LOCUSCOUNT is unspecified, assuming 1.\n"
              "warning: FREQUENCY=ROUNDROBIN needs two or more loci; using MLG.\n",
              one.err);
    EXPECT_EQ(FrequencyEstimate::e_mlg, one.settings.frequency);
    EXPECT_EQ(FrequencyEstimate::e_roundRobin,
              interpret(counted({{"FREQUENCY", "ROUNDROBIN"}})).settings.frequency);
}

// ---- every key documented ----

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    EXPECT_TRUE(in) << path;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(KnownKeys, AreEachDocumentedAndKnownToTheFuzzer) {
    // A key is one field and one entry in the list of keys; its user sees it
    // in the README's header table and in the manual page, and the fuzzer
    // tries it.
    const std::string readme = fileText(PSEX_SOURCE_DIR "/README.md");
    const std::string manual = fileText(PSEX_SOURCE_DIR "/doc/psex.1.in");
    const std::string dictionary = fileText(PSEX_SOURCE_DIR "/tests/fuzz/datafile.dict");
    const std::vector<std::string> keys = psex::knownKeys();
    EXPECT_EQ(16u, keys.size());
    for (const std::string& key : keys) {
        EXPECT_NE(std::string::npos, readme.find("\n| `" + key + "` |")) << key;
        EXPECT_NE(std::string::npos, manual.find("\n.TP\n.B " + key + "\n")) << key;
        EXPECT_NE(std::string::npos, dictionary.find("\n\"" + key + "=\"\n")) << key;
    }
}

} // namespace
