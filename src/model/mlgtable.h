// mlgtable.h                                                     -*-C++-*-
#ifndef PSEX_MLGTABLE_H
#define PSEX_MLGTABLE_H

// Purpose: the genotype table of one data set: its settings, its loci with
// their allele frequencies, its distinct multilocus genotypes (MLGs) with
// their samples, PGen and PSex, the list of PSex values, and the per-locus
// statistics (Ho, Fis) read off them.
//
// Samples are grouped into MLGs as they are added; the MLG list stays sorted
// by allele values.  Once every sample is in, 'computeProbabilities' fixes
// the allele frequencies (frequencies.h) and gives every MLG its PGen (the
// chance of the genotype from one sexual event) and PSex (the chance of
// seeing it at least n times among N sexually produced samples).  The same
// type holds the table read from a data file and the simulated data sets.
// A PSex is judged against the simulated list in significance.h; the
// figures of clonal richness and diversity come from diversity.h.

#include "model/familywise.h"
#include "model/locus.h"
#include "model/mlgtuple.h"
#include "model/psexlist.h"
#include "model/settings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace psex {

class MessageSink;

struct SamplePoint {
    // Where a sample was taken, when its coordinates could be read.

    double x = 0.0;
    double y = 0.0;
    bool located = false; // the coordinates are usable; otherwise x and y mean nothing

    bool operator==(const SamplePoint& other) const = default;
};

class MLGTable {
    // A value type: copying it copies every list.

    // DATA
    TableSettings d_settings;                        // what the header asks for
    std::vector<Locus> d_loci;                       // in data-file order
    std::vector<MLGTuple> d_mlgs;                    // distinct, ascending by alleles
    std::vector<std::string> d_sampleNames;          // every sample, in order added
    PsexList d_psexValues;                           // ascending
    std::optional<std::vector<double>> d_judgingFis; // Fis of the population judged against
    std::vector<SamplePoint> d_samplePoints;         // one per sample with COORDINATES, else none

  public:
    // CREATORS
    explicit MLGTable(const TableSettings& settings);
    // Create an empty table with the specified 'settings' and as many
    // unnamed loci as they count.  The behaviour is undefined unless the
    // locus count is not negative.

    // MANIPULATORS
    Locus& locus(std::uint32_t index);
    // Return the locus at 'index'.  The behaviour is undefined unless
    // 'index' is below the number of loci.

    void limitSimulations(std::int32_t maximum) {
        if (d_settings.simulations > maximum) {
            d_settings.simulations = maximum;
        }
    }
    // Lower the number of simulated data sets to the specified 'maximum'
    // when the table asks for more.  For callers that analyse arbitrary
    // input and must keep the simulation cheap whatever SIMULATIONS says,
    // such as the fuzz target; the program itself never limits it.

    void addSample(const MLGTuple& tuple);
    // Add the samples of the specified 'tuple' (normally one): they join the
    // equal MLG or found a new one at its place in the sorted list.

    void addSampleRows(std::vector<std::string> names, const std::vector<std::int32_t>& alleles);
    // Add the samples of the specified 'names', whose allele values stand
    // row by row in the specified 'alleles' (one row of ploidy x loci values
    // per name, diploid pairs in ascending order), as 'addSample' would add
    // one tuple per sample, with the same result, but holding each distinct
    // genotype once: a million samples are not a million tuples first.  The
    // behaviour is undefined unless the table has no sample yet and
    // 'alleles' holds one row per name.

    void setSamplePoints(std::vector<SamplePoint> points);
    // Give the samples, in the order of adding, the specified 'points'.  The
    // behaviour is undefined unless there is one point per sample.

    void setFrequencies(const std::vector<Locus>& loci);
    // Copy the frequencies of the specified 'loci' into this table's loci,
    // which become normalized.  The behaviour is undefined unless 'loci' has
    // as many entries as this table has loci.

    void judgeAgainst(const std::vector<Locus>& loci, const std::vector<double>& fis);
    // Give this table the allele frequencies of the specified 'loci' and,
    // under MODEL=FIS, the Fis values 'fis' (one per locus) of the table
    // they come from, so that its genotypes' PGen and PSex are those they
    // would have in that table: a chance repeat of a simulated data set is
    // judged with the real data's frequencies and the real data's Fis.
    // Without this, a table's PGen uses its own Fis.  The behaviour is
    // undefined unless 'loci' has as many entries as this table has loci,
    // and so has 'fis' under MODEL=FIS.

    void computeProbabilities(std::uint32_t sampleSize, MessageSink& messages);
    // Estimate the allele frequencies (as FREQUENCY asks, see frequencies.h)
    // unless they were copied in, give every MLG its PGen and its PSex for
    // the specified 'sampleSize' N, and make the PSex list the sorted PSex
    // values of all MLGs.  The frequency check and the rounding warning go
    // to the specified 'messages'.  Call it once, after every sample is in.

    void clearPsexValues() { d_psexValues = PsexList(); }
    void setPsexValues(const PsexList& values) { d_psexValues = values; }
    void setPsexValues(const std::vector<double>& values) { d_psexValues = PsexList(values); }
    // Replace the PSex list by the specified 'values'.  The behaviour is
    // undefined unless 'values' is in ascending order.

    void assignPValues();
    // Give every MLG seen more than once its p-value: the share of the PSex
    // list below its PSex.

    void assignFamilywisePValues(const FamilywiseCounter& smallest);
    // Give every MLG seen more than once its family-wise p-value from the
    // specified count of the 'smallest' PSex of each simulated data set,
    // made for the PSex values of these MLGs.

    // ACCESSORS
    const TableSettings& settings() const { return d_settings; }
    const std::vector<Locus>& loci() const { return d_loci; }
    const std::vector<MLGTuple>& mlgs() const { return d_mlgs; }
    const std::vector<std::string>& sampleNames() const { return d_sampleNames; }
    const PsexList& psexValues() const { return d_psexValues; }
    const std::vector<SamplePoint>& samplePoints() const { return d_samplePoints; }
    // Return where each sample (in the order of adding) was taken: empty
    // unless the samples come with coordinates (COORDINATES, its columns in
    // place).

    // The settings that most readers of a table ask for:
    std::int32_t ploidy() const { return d_settings.ploidy; }
    std::uint32_t locusCount() const { return static_cast<std::uint32_t>(d_loci.size()); }
    const std::string& title() const { return d_settings.title; }
    std::int32_t simulations() const { return d_settings.simulations; }
    bool fisModel() const { return d_settings.fisModel; }
    const std::optional<std::int32_t>& missingCode() const { return d_settings.missingCode; }
    const std::optional<std::int32_t>& lineageDistance() const {
        return d_settings.lineageDistance;
    }
    bool isMissing(std::int32_t allele) const { return d_settings.isMissing(allele); }

    bool isTyped(const MLGTuple& tuple, std::uint32_t locusIndex) const;
    // Return whether every copy of the specified 'tuple' at a locus holds an
    // allele (none is missing).

    std::uint32_t typedCount(std::uint32_t locusIndex) const;
    // Return the number of samples (with FREQUENCY SAMPLE) or of distinct
    // genotypes (otherwise) typed at every copy of a locus: the denominator
    // of Ho.

    std::uint32_t heterozygoteCount(std::uint32_t locusIndex) const;
    // Return the number of heterozygous samples at a locus (with FREQUENCY
    // SAMPLE) or of heterozygous distinct genotypes (otherwise), typed at
    // both copies; 0 for haploid data.

    double pgen(const MLGTuple& tuple) const;
    // Return the PGen of the specified 'tuple' under this table's model and
    // frequencies: per locus 2pq for a heterozygote and p^2 for a homozygote
    // (p for a haploid), corrected by the locus's Fis under MODEL=FIS.  A
    // locus term that the correction would make negative counts as 0; a
    // locus with a missing copy adds nothing (factor 1).

    std::vector<double> repeatedPsexValues() const;
    // Return the PSex of every MLG seen more than once, in table order.

    std::vector<std::uint32_t> mlgSizes() const;
    // Return the number of samples of every MLG, in table order.

    std::vector<std::uint32_t> mlgNumbersOfSamples() const;
    // Return, for every sample in the order of adding, the number (from 1,
    // in table order) of the MLG that holds it.

    double observedHeterozygosity(std::uint32_t locusIndex) const;
    // Return Ho, the share of heterozygous samples (FREQUENCY SAMPLE) or
    // distinct genotypes (otherwise) among those typed at a locus, or NaN
    // when there are none.

    std::vector<double> modelFis() const;
    // Return the Fis values that PGen uses under MODEL=FIS (those given to
    // 'judgeAgainst', else this table's own), or nothing under HWE.

    double fis(std::uint32_t locusIndex) const;
    // Return Fis = (He - Ho) / He, or 1 when He is not above 0; NaN when Ho
    // is undefined.  The behaviour is undefined unless 'locusIndex' is below
    // the number of loci.

  private:
    double pgen(const MLGTuple& tuple, const std::vector<double>& fisByLocus) const;
};

double genotypeTerm(std::int32_t ploidy, bool heterozygous, double firstFrequency,
                    double secondFrequency, bool fisModel, double fis);
// Return one locus's factor of PGen: p (haploid, 'secondFrequency' unused),
// p * p (homozygote) or 2 p q (heterozygote) from the frequencies of the
// genotype's first and second allele; under the 'fisModel' corrected by the
// specified locus 'fis': (1 - F) 2pq for a heterozygote, F p + (1 - F) p^2
// for a homozygote or haploid.  A term that the correction makes negative
// is 0.

} // namespace psex

#endif
