// import_fuzzer.cpp                                              -*-C++-*-
//
// A libFuzzer target over the readers of psex-import: the bytes are an
// input file, read as psex-import finds its format and as each format of
// its list ('importFormats') in turn, with the default options and with
// haploid ones.  A refusal is a fine answer; a crash, a sanitizer finding,
// a hang or a runaway allocation is a fault.  So is a data file that psex
// does not read back as written: every conversion that succeeds is read by
// psex's own reader and table builder, which must say nothing but a note
// about missing copies and hold every sample.  See tests/fuzz/README.md.

#include "base/messagesink.h"
#include "import/importrun.h"
#include "model/datareader.h"
#include "model/mlgtable.h"
#include "model/tablebuilder.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Stop the run when the specified 'condition' does not hold.
void require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// Check that psex reads the data file of the specified 'text', written
// from the specified 'data', without a warning and with all its samples.
void requireReadBack(const std::string& text, const psex::ImportedData& data) {
    std::ostringstream output;
    std::ostringstream error;
    psex::MessageSink messages(output, error);
    std::istringstream in(text);
    psex::DataReader reader(in, messages);
    const psex::MLGTable table = psex::buildTable(reader, messages);
    require(output.str().empty());
    std::istringstream lines(error.str());
    for (std::string line; std::getline(lines, line);) {
        require(line.rfind("note: ", 0) == 0);
    }
    require(table.sampleNames().size() == data.samples.size());
    for (std::size_t i = 0; i < data.samples.size(); ++i) {
        require(table.sampleNames()[i] == data.samples[i].name);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(bytes), size);
    // Recognised (a null format), then read as each format in turn.
    std::vector<const psex::ImportFormat*> formats = {nullptr};
    for (const psex::ImportFormat& format : psex::importFormats()) {
        formats.push_back(&format);
    }
    for (const psex::ImportFormat* format : formats) {
        for (const std::int32_t ploidy : {2, 1}) {
            psex::ImportOptions options;
            options.format = format;
            options.table.ploidy = ploidy;
            psex::ImportedData data;
            try {
                data = psex::importText(text, options);
            } catch (const psex::ImportRefusal& refusal) {
                require(!refusal.text.empty() || !refusal.message.empty());
                continue;
            }
            require(!data.samples.empty() && !data.loci.empty());
            std::vector<std::size_t> all(data.samples.size());
            for (std::size_t i = 0; i < all.size(); ++i) {
                all[i] = i;
            }
            psex::DataFileSettings settings;
            settings.title = "fuzz";
            settings.simulations = 1;
            std::ostringstream out;
            psex::writeDataFile(out, data, all, settings, psex::chooseMissingCode(data));
            requireReadBack(out.str(), data);
        }
    }
    return 0;
}
