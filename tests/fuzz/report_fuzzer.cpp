// report_fuzzer.cpp                                              -*-C++-*-
//
// A libFuzzer target over the whole road of a data file: the bytes are read
// as a data file, the genotype table is built, a few simulated data sets are
// drawn, and both result file bodies are written into memory.  Any crash,
// sanitizer finding, hang or runaway allocation on the way is a fault.
//
// The simulation is capped at a few data sets whatever SIMULATIONS says: its
// cost is the one that the data file legitimately asks for, and fuzzing it
// would only measure time.  It runs in the plain form and in the program's
// fast form on one, two and three threads, which must all agree to the bit.  See
// tests/fuzz/README.md for how to run it.

#include "analysis/lineages.h"
#include "analysis/linkage.h"
#include "analysis/locuscurve.h"
#include "analysis/pairdistances.h"
#include "analysis/spatial.h"
#include "base/messagesink.h"
#include "model/datareader.h"
#include "model/mlgtable.h"
#include "model/tablebuilder.h"
#include "reports/reports.h"
#include "reports/summary.h"
#include "simulation/fastsimulation.h"
#include "support/referencesimulation.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr std::int32_t k_maxSimulations = 3;
// The permutations of LINKAGE and the subsets of LOCICURVE are capped alike.
constexpr std::int32_t k_maxRepeats = 3;

std::size_t lineCount(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Stop the run when the specified 'condition' does not hold: a report that
// contradicts the table is a fault even when nothing crashes.
void require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The console messages are part of the road; they are collected, and
    // the fast and the plain simulation must write the same ones.
    std::ostringstream output;
    std::ostringstream error;
    psex::MessageSink messages(output, error);
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    psex::DataReader reader(in, messages);
    psex::MLGTable table = psex::buildTable(reader, messages);
    table.limitSimulations(k_maxSimulations);

    // The program's fast simulation must give exactly what the plain one
    // gives, drawing the same numbers: same values, same generator state,
    // same messages, on one thread or several.
    psex::test::ReferenceGenerator plainGenerator; // the same stream for every input
    std::ostringstream plainOutput, plainError;
    psex::MessageSink plainMessages(plainOutput, plainError);
    const std::vector<double> plainValues =
        psex::test::simulatedPsexValues(table, plainGenerator, plainMessages);
    psex::PsexList values;
    for (const unsigned threads : {1u, 2u, 3u}) {
        psex::LaggedFibonacci607 generator;
        std::ostringstream fastOutput, fastError;
        psex::MessageSink fastMessages(fastOutput, fastError);
        values = psex::simulatedPsexList(table, generator, fastMessages, {}, threads);
        require(values.values() == plainValues);
        require(generator == plainGenerator);
        require(fastOutput.str() == plainOutput.str() && fastError.str() == plainError.str());
    }
    table.setPsexValues(values);
    table.assignPValues();

    std::ostringstream results;
    psex::writeSimulationResults(table, results);
    std::ostringstream fullTable;
    psex::writeFullTable(table, fullTable);

    // Every sample has one line in the full table below its column line;
    // no field can hold a line end, as the reader ends fields there.
    require(lineCount(fullTable.str()) == table.sampleNames().size() + 1);
    require(results.str().find("\nPValues," + std::to_string(table.psexValues().size()) + "\n") !=
            std::string::npos);

    // Lineages (MLLDISTANCE) with a few reference pairs, and the tidy files:
    // one row per sample, lineage numbers from 1 without gaps.
    psex::Lineages lineages = psex::singletonLineages(table);
    psex::ReferenceDistances reference;
    if (table.lineageDistance()) {
        lineages = psex::formLineages(table, *table.lineageDistance(), 2);
        reference = psex::referenceDistances(table, 20);
        // The same on the portable vector path; average and farthest
        // linkage count the same distances and only ever join MLGs that
        // single linkage joins too.
        const psex::VectorPath fastest =
            psex::PairDistances::setDefaultPath(psex::VectorPath::e_portable);
        const psex::Lineages portable = psex::formLineages(table, *table.lineageDistance(), 1);
        psex::PairDistances::setDefaultPath(fastest);
        require(portable.lineageOfMlg == lineages.lineageOfMlg);
        require(portable.observedPairs == lineages.observedPairs);
        for (const psex::LineageMethod method :
             {psex::LineageMethod::e_average, psex::LineageMethod::e_farthest}) {
            const psex::Lineages joined =
                psex::formLineages(table, *table.lineageDistance(), method, 2);
            require(joined.observedPairs == lineages.observedPairs);
            require(joined.count >= lineages.count);
            for (std::size_t a = 0; a < table.mlgs().size(); ++a) {
                for (std::size_t b = a + 1; b < table.mlgs().size(); ++b) {
                    require(joined.lineageOfMlg[a] != joined.lineageOfMlg[b] ||
                            lineages.lineageOfMlg[a] == lineages.lineageOfMlg[b]);
                }
            }
        }
        std::ostringstream distances;
        psex::writeDistances(lineages, reference, distances);
    }
    require(lineages.lineageOfMlg.size() == table.mlgs().size());
    for (const std::uint32_t lineage : lineages.lineageOfMlg) {
        require(lineage >= 1 && lineage <= lineages.count);
    }
    std::ostringstream samples;
    psex::writeSamples(table, lineages.lineageOfMlg, samples);
    require(lineCount(samples.str()) == table.sampleNames().size() + 1);
    std::ostringstream summary;
    psex::writeSummary(table, lineages, summary);

    // The analyses that header keys switch on: the same linkage on one
    // thread or two, every sample either analysed or left out, and a curve
    // whose order statistics are in order and within the MLGs.
    if (const std::optional<std::int32_t> permutations = table.settings().linkagePermutations) {
        const auto capped = static_cast<std::uint32_t>(std::min(*permutations, k_maxRepeats));
        const psex::Linkage one = psex::linkageAnalysis(table, capped, 1);
        const psex::Linkage two = psex::linkageAnalysis(table, capped, 2);
        require(one.all.pValue == two.all.pValue &&
                one.cloneCorrected.pValue == two.cloneCorrected.pValue);
        require(one.all.samples + one.all.leftOut == table.sampleNames().size());
        require(one.cloneCorrected.samples + one.cloneCorrected.leftOut == table.mlgs().size());
        std::ostringstream linkage;
        psex::writeLinkage(one, linkage);
        require(lineCount(linkage.str()) == 3);
    }
    if (const std::optional<std::int32_t> subsets = table.settings().curveSubsets) {
        const std::vector<psex::CurvePoint> curve =
            psex::locusCurve(table, static_cast<std::uint32_t>(std::min(*subsets, k_maxRepeats)));
        require(curve.size() == table.locusCount());
        for (const psex::CurvePoint& point : curve) {
            require(point.subsets >= 1 && point.least <= point.lowerQuartile &&
                    point.lowerQuartile <= point.median && point.median <= point.upperQuartile &&
                    point.upperQuartile <= point.most && point.most <= table.mlgs().size());
        }
        require(curve.empty() || curve.back().most == table.mlgs().size());
        std::ostringstream loci;
        psex::writeLocusCurve(curve, loci);
        require(lineCount(loci.str()) == curve.size() + 1);
    }
    // Where the clones are (COORDINATES), with few enough permutations to
    // keep an input cheap: one row per unit, the kinship rows of both sets.
    if (table.settings().coordinateColumns &&
        table.settings().spatialPermutations.value_or(0) <= 50) {
        const psex::SpatialAnalysis spatial = psex::analyseSpace(table, lineages, messages);
        std::ostringstream places;
        psex::writeSpatial(spatial, places);
        require(lineCount(places.str()) ==
                1 + table.mlgs().size() + (spatial.mll ? lineages.count : 0));
        std::ostringstream kinship;
        psex::writeKinship(spatial, kinship);
        std::ostringstream located;
        psex::writeSummary(table, lineages, located, &spatial);
        require(located.str().find("\nkinship_first_class,genets,") != std::string::npos);
    }
    return 0;
}
