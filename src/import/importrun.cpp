// importrun.cpp                                                  -*-C++-*-
#include "import/importrun.h"

#include "base/messagesink.h"
#include "base/resultfiles.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <new>
#include <sstream>
#include <stdexcept>

namespace psex {

namespace {

ImportRefusal wholeFileRefusal(std::size_t line, std::string text) {
    ImportRefusal refusal;
    refusal.line = line;
    refusal.text = std::move(text);
    return refusal;
}

// Return the specified 'text' without a UTF-8 byte-order mark, after
// refusing text that is no 8-bit text at all.
std::string_view checkedText(std::string_view text) {
    if (text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF") {
        throw wholeFileRefusal(1, "the file is UTF-16 text (expected UTF-8 or ASCII text: save "
                                  "the sheet as CSV UTF-8, or as tab-delimited text)");
    }
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    const std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos) {
        const std::string_view before = text.substr(0, nul);
        throw wholeFileRefusal(
            1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n')),
            "the file holds a NUL byte (expected text; a workbook (.xlsx, .xls, .ods) must "
            "first be saved as CSV)");
    }
    return text;
}

ImportedData readInput(std::string_view text, const ImportOptions& options) {
    const ImportFormat& format = options.format != nullptr
                                     ? *options.format
                                     : recognizeImportFormat(text, options.separator);
    return format.read(text, options.separator, options.table);
}

std::string defaultTitle(const std::string& input) {
    if (input == "-") {
        return "stdin";
    }
    std::string base =
        input.substr(input.rfind('/') == std::string::npos ? 0 : input.rfind('/') + 1);
    const std::size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0) {
        base.resize(dot);
    }
    return base;
}

std::string percent(std::size_t part, std::size_t whole) {
    // One decimal, rounded half up, in integer arithmetic.
    const std::size_t tenths = whole == 0 ? 0 : (part * 2000 + whole) / (2 * whole);
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + "%";
}

struct Population {
    // The samples of one population and the file they go to.

    std::string name; // as fit for TITLE and a file name
    std::vector<std::size_t> samples;
};

std::vector<Population> populationsOf(const ImportedData& data, std::vector<std::string>* notes) {
    // Each name as written (trimmed) is a population; two of them that come
    // to one name fit for a file would write one file.
    std::vector<Population> populations;
    std::vector<std::size_t> populationOfName(data.populations.size(), 0);
    std::vector<bool> placed(data.populations.size(), false);
    std::map<std::string, std::uint32_t> written; // safe name -> name number
    for (std::size_t i = 0; i < data.samples.size(); ++i) {
        const ImportedSample& sample = data.samples[i];
        const std::uint32_t number = sample.population;
        if (!placed[number]) {
            const std::string& name = data.populations.name(number);
            const std::string safe = safeTitle(name);
            if (safe.empty()) {
                ImportRefusal refusal;
                refusal.line = sample.line;
                refusal.column = data.populationColumn;
                refusal.text = "sample " + quoted(sample.name) +
                               " has no population (expected a population name for "
                               "--split-populations)";
                throw refusal;
            }
            const auto [known, isNew] = written.emplace(safe, number);
            if (!isNew) {
                ImportRefusal refusal;
                refusal.line = sample.line;
                refusal.column = data.populationColumn;
                refusal.text = "populations " + quoted(data.populations.name(known->second)) +
                               " and " + quoted(name) + " would both be written as " +
                               quoted(safe) +
                               " (expected population names that differ in more than white "
                               "space, commas, slashes and control characters)";
                throw refusal;
            }
            if (safe != name) {
                notes->push_back("population " + quoted(name) + " written as " + quoted(safe));
            }
            placed[number] = true;
            populationOfName[number] = populations.size();
            populations.push_back(Population{safe, {}});
        }
        populations[populationOfName[number]].samples.push_back(i);
    }
    return populations;
}

std::vector<std::string> summaryLines(const std::string& inputName, const ImportedData& data,
                                      const std::vector<std::string>& changes) {
    std::vector<std::string> lines;
    lines.push_back("Read " + inputName + " as " + data.formatName + ".");
    lines.push_back("Samples: " + std::to_string(data.samples.size()));
    lines.push_back("Loci: " + std::to_string(data.loci.size()) +
                    (data.ploidy == 2 ? " (diploid)" : " (haploid)"));
    if (data.hasPopulations) {
        std::vector<std::size_t> sizes(data.populations.size(), 0);
        for (const ImportedSample& sample : data.samples) {
            ++sizes[sample.population];
        }
        std::string list;
        for (std::uint32_t p = 0; p < sizes.size(); ++p) {
            list += (list.empty() ? "" : ", ") + quoted(data.populations.name(p)) + " " +
                    std::to_string(sizes[p]);
        }
        lines.push_back("Populations: " + std::to_string(sizes.size()) + " (" + list + ")");
    } else {
        lines.push_back("Populations: none in the input");
    }

    const std::size_t ploidy = static_cast<std::size_t>(data.ploidy);
    const std::size_t perLocus = data.samples.size() * ploidy;
    std::vector<std::size_t> missingAt(data.loci.size(), 0);
    for (std::size_t i = 0; i < data.samples.size(); ++i) {
        for (std::size_t c = 0; c < data.alleles.width(); ++c) {
            missingAt[c / ploidy] += data.alleles.at(i, c) ? 0 : 1;
        }
    }
    std::vector<std::string> byLocus;
    std::size_t total = 0;
    for (std::size_t l = 0; l < data.loci.size(); ++l) {
        const std::size_t missing = missingAt[l];
        total += missing;
        if (missing > 0) {
            byLocus.push_back("  " + data.loci[l].name + ": " + std::to_string(missing) + " of " +
                              std::to_string(perLocus) + " (" + percent(missing, perLocus) + ")");
        }
    }
    const std::size_t all = perLocus * data.loci.size();
    lines.push_back("Missing allele copies: " + std::to_string(total) + " of " +
                    std::to_string(all) + " (" + percent(total, all) + ")" +
                    (total > 0 ? ", by locus:" : ""));
    lines.insert(lines.end(), byLocus.begin(), byLocus.end());
    if (total > 0 && byLocus.size() < data.loci.size()) {
        const std::size_t others = data.loci.size() - byLocus.size();
        lines.push_back(others == 1 ? "  none at the other locus"
                                    : "  none at the other " + std::to_string(others) + " loci");
    }
    if (changes.empty()) {
        lines.push_back("Changes: none");
    } else {
        lines.push_back("Changes and notes:");
        for (const std::string& change : changes) {
            lines.push_back("  - " + change);
        }
    }
    return lines;
}

// Append what the specified 'in' holds to the specified 'text', in large
// pieces, and return whether it could be read to its end.
bool readAll(std::istream& in, std::string* text) {
    std::vector<char> piece(1 << 16);
    while (in.read(piece.data(), static_cast<std::streamsize>(piece.size())) || in.gcount() > 0) {
        text->append(piece.data(), static_cast<std::size_t>(in.gcount()));
    }
    return !in.bad();
}

bool readWholeInput(const std::string& path, std::istream& standardInput, std::string* text) {
    if (path == "-") {
        return readAll(standardInput, text);
    }
    struct stat status;
    const bool known = ::stat(path.c_str(), &status) == 0;
    if (known && S_ISDIR(status.st_mode)) {
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    if (known && S_ISREG(status.st_mode)) {
        text->reserve(static_cast<std::size_t>(status.st_size)); // no growing by copying
    }
    return readAll(in, text);
}

class ByteCounter : public std::streambuf {
    // Counts what is written to it, and keeps nothing.

    // DATA
    std::size_t d_count = 0;

  public:
    // ACCESSORS
    std::size_t count() const { return d_count; }

  protected:
    int_type overflow(int_type c) override {
        d_count += traits_type::eq_int_type(c, traits_type::eof()) ? 0 : 1;
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char*, std::streamsize count) override {
        d_count += static_cast<std::size_t>(count);
        return count;
    }
};

class StringAppender : public std::streambuf {
    // Appends what is written to it to a string.

    // DATA
    std::string* d_text;

  public:
    // CREATORS
    explicit StringAppender(std::string* text) : d_text(text) {}

  protected:
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            d_text->push_back(traits_type::to_char_type(c));
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* data, std::streamsize count) override {
        d_text->append(data, static_cast<std::size_t>(count));
        return count;
    }
};

struct OutputText {
    // One data file to write.

    std::string name; // empty for standard output
    std::string text;
};

// Write every one of the specified 'outputs' and return whether all were
// written; report a failure on the error channel of 'messages', whose
// specified 'inputName' the outputs come from.  Files are written as one
// set, under the lock of their folder and with the warnings about the
// files they replace (see 'writeResultFiles'): a split that fails half-way
// replaces none.
bool writeOutputs(const std::vector<OutputText>& outputs, std::ostream& standardOutput,
                  const std::string& inputName, MessageSink& messages) {
    if (outputs.size() == 1 && outputs.front().name.empty()) {
        standardOutput << outputs.front().text << std::flush;
        if (!standardOutput) {
            messages.error("error: cannot write to standard output.");
            return false;
        }
        return true;
    }
    std::vector<ResultFile> files;
    for (const OutputText& output : outputs) {
        files.push_back({output.name, [&output](std::ostream& out) { out << output.text; }});
    }
    if (!writeResultFiles(files, messages, WarningChannel::e_error)) {
        messages.error("error: no data file was written for " + inputName +
                       "; older files of those names are as they were.");
        return false;
    }
    return true;
}

std::string nucleotideNote(const ImportedData& data) {
    std::string loci;
    for (const ImportedLocus& locus : data.loci) {
        if (locus.nucleotides) {
            loci += (loci.empty() ? "" : ", ") + quoted(locus.name);
        }
    }
    return loci.empty()
               ? std::string()
               : "nucleotide letters A, C, G, T written as 1, 2, 3, 4 at " +
                     std::string(loci.find(',') == std::string::npos ? "locus " : "loci ") + loci;
}

// Return the TITLE of the file of the specified 'population' when the
// input is split with the specified 'prefix': the population's name after
// the prefix without its folder part, so that split studies in one folder
// keep their result files apart ("meadow-" gives "samples_meadow-North.csv").
std::string splitTitle(const std::string& prefix, const std::string& population) {
    const std::size_t slash = prefix.rfind('/');
    return safeTitle((slash == std::string::npos ? prefix : prefix.substr(slash + 1)) + population);
}

std::size_t samplesWithNothingTyped(const ImportedData& data) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < data.samples.size(); ++i) {
        bool typed = false;
        for (std::size_t c = 0; c < data.alleles.width() && !typed; ++c) {
            typed = data.alleles.at(i, c).has_value();
        }
        count += typed ? 0 : 1;
    }
    return count;
}

// Read the specified input 'text' as the specified 'options' ask and load
// the specified 'outputs' with the data files to write, 'data' with what
// was read and 'changes' with every change and note for the summary.
// Throw an 'ImportRefusal' when the input cannot be converted.
void convert(std::string text, const ImportOptions& options, std::vector<OutputText>* outputs,
             ImportedData* data, std::vector<std::string>* changes) {
    *data = importText(text, options);
    // The text goes before the data files are made: with the samples and
    // the data files it would take its size once more.
    std::string().swap(text);
    *changes = data->notes;
    const std::string note = nucleotideNote(*data);
    if (!note.empty()) {
        changes->push_back(note);
    }
    DataFileSettings settings;
    settings.frequency = options.frequency;
    settings.model = options.model;
    settings.lineageDistance = options.lineageDistance;
    settings.simulations = options.simulations;
    const std::int32_t missingCode = chooseMissingCode(*data);
    WriteCounts counts;
    const auto add = [&](std::string name, const std::vector<std::size_t>& samples) {
        // Measured first, then written into a string of that size: a
        // string that grows as it is written takes up to twice its size.
        ByteCounter counter;
        std::ostream counting(&counter);
        writeDataFile(counting, *data, samples, settings, missingCode);
        std::string text;
        text.reserve(counter.count());
        StringAppender appender(&text);
        std::ostream out(&appender);
        const WriteCounts written = writeDataFile(out, *data, samples, settings, missingCode);
        counts.missing += written.missing;
        counts.reordered += written.reordered;
        outputs->push_back(OutputText{std::move(name), std::move(text)});
    };
    if (options.splitPrefix) {
        if (!data->hasPopulations) {
            throw wholeFileRefusal(0, "the input has no populations (expected a population "
                                      "column or 'Pop' lines for --split-populations)");
        }
        for (const Population& population : populationsOf(*data, changes)) {
            settings.title = splitTitle(*options.splitPrefix, population.name);
            add(*options.splitPrefix + population.name + ".txt", population.samples);
        }
    } else {
        const std::string title = options.title.value_or(defaultTitle(options.input));
        settings.title = safeTitle(title);
        if (settings.title.empty()) {
            settings.title = "data";
        }
        if (settings.title != title) {
            changes->push_back("title " + quoted(title) + " written as " + quoted(settings.title));
        }
        if (data->hasPopulations) {
            changes->push_back(data->populationSource +
                               " left out: give --split-populations PREFIX for one data file "
                               "per population");
        }
        std::vector<std::size_t> all(data->samples.size());
        for (std::size_t i = 0; i < all.size(); ++i) {
            all[i] = i;
        }
        add(options.output, all);
    }
    const std::size_t untyped = samplesWithNothingTyped(*data);
    if (untyped > 0) {
        changes->push_back("samples with nothing typed: " + std::to_string(untyped));
    }
    if (counts.missing > 0) {
        changes->push_back(counted(counts.missing, "missing allele copy", "missing allele copies") +
                           " written as " + std::to_string(missingCode) +
                           " (MISSING=" + std::to_string(missingCode) + ")");
    }
    if (counts.reordered > 0) {
        changes->push_back(counted(counts.reordered, "diploid genotype", "diploid genotypes") +
                           " written smaller allele first");
    }
}

} // namespace

ImportedData importText(std::string_view text, const ImportOptions& options) {
    ImportedData data = readInput(checkedText(text), options);
    tidyNames(&data);
    return data;
}

std::string refusalMessage(const std::string& inputName, const ImportRefusal& refusal) {
    if (!refusal.message.empty()) {
        return "error: " + refusal.message;
    }
    std::string where = inputName;
    if (refusal.line != 0) {
        where += ", line " + std::to_string(refusal.line);
    }
    if (!refusal.column.empty()) {
        where += ", column " + refusal.column;
    }
    return "error: " + where + ": " + refusal.text + ".";
}

int runImport(const ImportOptions& options, std::istream& standardInput,
              std::ostream& standardOutput, MessageSink& messages) {
    const std::string inputName = options.input == "-" ? "standard input" : options.input;
    std::vector<OutputText> outputs;
    std::vector<std::string> changes;
    ImportedData data;
    try {
        std::string text;
        if (!readWholeInput(options.input, standardInput, &text)) {
            messages.error("error: cannot read input file " + quoted(options.input) + ".");
            return 1;
        }
        convert(std::move(text), options, &outputs, &data, &changes);
    } catch (const ImportRefusal& refusal) {
        messages.error(refusalMessage(inputName, refusal));
        return 1;
    } catch (const std::bad_alloc&) {
        messages.error("error: out of memory while reading " + quoted(options.input) + ".");
        return 1;
    } catch (const std::length_error&) { // a size beyond what a string can hold
        messages.error("error: out of memory while reading " + quoted(options.input) + ".");
        return 1;
    }
    if (!writeOutputs(outputs, standardOutput, inputName, messages)) {
        return 1;
    }
    for (const std::string& warning : data.warnings) {
        messages.error("warning: " + warning);
    }
    for (const std::string& line : summaryLines(inputName, data, changes)) {
        messages.error(line);
    }
    for (const OutputText& output : outputs) {
        messages.error("Written: " + (output.name.empty() ? "standard output" : output.name));
    }
    return 0;
}

} // namespace psex
