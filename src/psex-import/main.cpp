// importmain.cpp                                                 -*-C++-*-
//
// psex-import: convert a lab's genotype table (a GenAlEx sheet saved as
// CSV, a plain comma-, semicolon- or TAB-separated table) or a genepop file
// into a psex data file.  See doc/psex-import.1.in and the README.

#include "base/messagesink.h"
#include "base/signals.h"
#include "import/allelecode.h"
#include "import/importrun.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace {

// Return the codes of the specified comma-separated 'list'; an empty item
// (",," or a comma at either end) stands for an empty cell.
std::vector<std::string> missingCodesOf(const std::string& list) {
    std::vector<std::string> codes;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = list.find(',', start);
        codes.push_back(list.substr(start, comma - start));
        if (comma == std::string::npos) {
            return codes;
        }
        start = comma + 1;
    }
}

} // namespace

int main(int argc, char* argv[]) {
    // A signal that ends the run removes the temporary output files first.
    psex::installSignalHandlers();
    psex::ImportOptions options;
    CLI::App app{"psex-import: convert a GenAlEx sheet saved as CSV, a plain table or a genepop "
                 "file into a psex data file.",
                 "psex-import"};
    app.set_version_flag("--version", "psex-import " PSEX_VERSION);
    app.get_formatter()->column_width(34);

    app.add_option("INPUT", options.input, "The input file; - reads standard input")->required();
    app.add_option("-o,--output", options.output,
                   "Write the data file here (through a temporary name) instead of standard "
                   "output");

    const std::map<std::string, psex::ImportFormat> formats = {
        {"auto", psex::ImportFormat::e_AUTOMATIC},
        {"genalex", psex::ImportFormat::e_GENALEX},
        {"table", psex::ImportFormat::e_TABLE},
        {"genepop", psex::ImportFormat::e_GENEPOP}};
    app.add_option("--format", options.format, "Input format (default: found from the content)")
        ->transform(CLI::CheckedTransformer(formats, CLI::ignore_case))
        ->option_text("auto|genalex|table|genepop");
    const std::map<std::string, char> separators = {
        {"comma", ','}, {",", ','}, {"semicolon", ';'}, {";", ';'}, {"tab", '\t'}};
    app.add_option("--separator", options.separator,
                   "Cell separator of a table (default: found from the content)")
        ->transform(CLI::CheckedTransformer(separators, CLI::ignore_case))
        ->option_text("comma|semicolon|tab");

    std::int32_t ploidy = 2;
    CLI::Option* ploidyOption =
        app.add_option("--ploidy", ploidy, "Allele columns per locus in a table (default: 2)")
            ->check(CLI::IsMember({1, 2}));
    app.add_option("--sample-column", options.table.sampleColumn,
                   "The column of the sample names, by name or number (default: the first)")
        ->option_text("NAME|NUMBER");
    app.add_option("--population-column", options.table.populationColumn,
                   "The population column of a table, by name or number (default: a column "
                   "headed Pop or Population right after the sample column)")
        ->option_text("NAME|NUMBER");
    app.add_option("--ignore-column", options.table.ignoredColumns,
                   "Leave out a column that holds no alleles, by name or number (repeatable)")
        ->allow_extra_args(false) // one column each time: the input may follow
        ->option_text("NAME|NUMBER");
    std::string missing = "0,-9,NA,?,.,";
    app.add_option("--missing", missing,
                   "Comma-separated codes of a missing allele copy; an empty item means an "
                   "empty cell (default: 0,-9,NA,?,., that is 0, -9, NA, ?, . and an empty cell)")
        ->option_text("CODES");

    std::string title;
    CLI::Option* titleOption = app.add_option(
        "--title", title, "TITLE of the data file (default: the input's name without extension)");
    std::string frequency;
    CLI::Option* frequencyOption =
        app.add_option("--frequency", frequency,
                       "Write FREQUENCY=SAMPLE, FREQUENCY=MLG or FREQUENCY=ROUNDROBIN")
            ->transform(CLI::IsMember({"SAMPLE", "MLG", "ROUNDROBIN"}, CLI::ignore_case));
    std::string model;
    CLI::Option* modelOption = app.add_option("--model", model, "Write MODEL=HWE or MODEL=FIS")
                                   ->transform(CLI::IsMember({"HWE", "FIS"}, CLI::ignore_case));
    std::int32_t lineageDistance = 0;
    CLI::Option* lineageOption =
        app.add_option("--mll-distance", lineageDistance,
                       "Write MLLDISTANCE=K: genotypes at most K allele copies apart form one "
                       "lineage")
            ->check(CLI::Range(0, 2147483647))
            ->option_text("K");
    app.add_option("--simulations", options.simulations,
                   "Write SIMULATIONS=N (default: 1000, psex's own default)")
        ->check(CLI::Range(1, 2147483647));
    std::string prefix;
    CLI::Option* splitOption = app.add_option(
        "--split-populations", prefix,
        "Write one data file per population, named PREFIX<population>.txt, each with its "
        "population's name as TITLE");
    splitOption->excludes("--output")->excludes(titleOption);
    splitOption->option_text("PREFIX");

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    if (*ploidyOption) {
        options.table.ploidy = ploidy;
    }
    options.table.alleles = psex::AlleleReader(missingCodesOf(missing));
    if (*titleOption) {
        options.title = title;
    }
    if (*frequencyOption) {
        options.frequency = frequency;
    }
    if (*modelOption) {
        options.model = model;
    }
    if (*lineageOption) {
        options.lineageDistance = lineageDistance;
    }
    if (*splitOption) {
        options.splitPrefix = prefix;
    }
    psex::MessageSink messages = psex::standardStreams();
    return psex::runImport(options, std::cin, std::cout, messages);
}
