// importcommandline.cpp                                          -*-C++-*-
#include "import/importcommandline.h"

#include "base/messagesink.h"
#include "import/allelecode.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <map>
#include <sstream>

namespace psex {

#ifndef PSEX_VERSION
#define PSEX_VERSION "unknown"
#endif

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

// The word of '--format' that leaves the format to be recognised.
constexpr const char* k_automatic = "auto";

// Return the help of '--format': what it does, then every format with its
// line of help, in the order in which an input is recognised.
std::string formatHelp() {
    std::size_t width = 0;
    for (const ImportFormat& format : importFormats()) {
        width = std::max(width, format.name.size());
    }
    std::string help = "Input format (default: found from the content, trying these in order):";
    for (const ImportFormat& format : importFormats()) {
        help += "\n  " + std::string(format.name) + std::string(width - format.name.size(), ' ') +
                "  " + std::string(format.help);
    }
    return help;
}

// Return the words that '--format' takes: "auto" and every format's name.
std::vector<std::string> formatWords() {
    std::vector<std::string> words = {k_automatic};
    for (const ImportFormat& format : importFormats()) {
        words.emplace_back(format.name);
    }
    return words;
}

} // namespace

ImportCommandLine parseImportCommandLine(const std::vector<std::string>& arguments) {
    ImportCommandLine line;
    ImportOptions& options = line.options;
    CLI::App app{"psex-import: convert a GenAlEx sheet saved as CSV, a plain table or a genepop "
                 "file into a psex data file.",
                 "psex-import"};
    app.set_version_flag("--version", "psex-import " PSEX_VERSION);
    app.get_formatter()->column_width(34);

    app.add_option("INPUT", options.input, "The input file; - reads standard input")->required();
    app.add_option("-o,--output", options.output,
                   "Write the data file here (through a temporary name) instead of standard "
                   "output");

    const std::vector<std::string> formats = formatWords();
    std::string format = k_automatic;
    std::string formatList;
    for (const std::string& word : formats) {
        formatList += (formatList.empty() ? "" : "|") + word;
    }
    app.add_option("--format", format, formatHelp())
        ->transform(CLI::IsMember(formats, CLI::ignore_case))
        ->option_text(formatList);
    // The separator is taken as text and made a character after parsing:
    // CLI11 would turn the TAB of "tab" into its code, 9, and then into
    // the character '9'.
    const std::map<std::string, std::string> separators = {
        {"comma", ","}, {",", ","}, {"semicolon", ";"}, {";", ";"}, {"tab", "\t"}};
    std::string separator;
    app.add_option("--separator", separator,
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
    app.add_option("--coordinates", options.table.coordinateColumns,
                   "Carry the samples' coordinates from these two columns, by name or number "
                   "(default: a GenAlEx sheet's X and Y after an empty column)")
        ->option_text("X,Y");
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
        "Write one data file per population, named PREFIX<population>.txt, each with "
        "TITLE=PREFIX<population> (the prefix without its folder)");
    splitOption->excludes("--output")->excludes(titleOption);
    splitOption->option_text("PREFIX");

    // CLI11 takes the arguments last first.
    std::ostringstream answer;
    std::ostringstream problem;
    try {
        app.parse(std::vector<std::string>(arguments.rbegin(), arguments.rend()));
    } catch (const CLI::CallForVersion& version) {
        app.exit(version, answer, problem);
        line.action = ImportCommandLine::Action::e_version;
        line.text = answer.str();
        return line;
    } catch (const CLI::Success& help) {
        app.exit(help, answer, problem);
        line.action = ImportCommandLine::Action::e_help;
        line.text = answer.str();
        return line;
    } catch (const CLI::ParseError& wrong) {
        app.exit(wrong, answer, problem);
        line.action = ImportCommandLine::Action::e_usageError;
        line.text = problem.str();
        return line;
    }
    if (!separator.empty()) {
        options.separator = separator.front();
    }
    if (format != k_automatic) {
        options.format = findImportFormat(format);
    }
    if (*ploidyOption) {
        options.table.ploidy = ploidy;
    }
    options.table.alleles = AlleleReader(missingCodesOf(missing));
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
    return line;
}

int runImportProgram(const std::vector<std::string>& arguments, std::istream& standardInput,
                     std::ostream& standardOutput, MessageSink& messages) {
    const ImportCommandLine line = parseImportCommandLine(arguments);
    switch (line.action) {
    case ImportCommandLine::Action::e_help:
    case ImportCommandLine::Action::e_version:
        messages.write(line.text);
        return 0;
    case ImportCommandLine::Action::e_usageError: {
        // Line by line, as the error channel takes them; the text ends
        // with a line end.
        std::size_t start = 0;
        for (std::size_t end = line.text.find('\n'); end != std::string::npos;
             end = line.text.find('\n', start)) {
            messages.error(line.text.substr(start, end - start));
            start = end + 1;
        }
        if (start < line.text.size()) {
            messages.error(line.text.substr(start));
        }
        return 2;
    }
    case ImportCommandLine::Action::e_import:
        break;
    }
    return runImport(line.options, standardInput, standardOutput, messages);
}

} // namespace psex
