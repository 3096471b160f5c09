// mlgtable.h                                                     -*-C++-*-
#ifndef PSEX_MLGTABLE_H
#define PSEX_MLGTABLE_H

// Purpose: the genotype table of one data set: its settings, its loci with
// their allele frequencies, its distinct multilocus genotypes (MLGs) with
// their samples, PGen and PSex, the list of PSex values, and the diversity
// and significance statistics read off all of these.
//
// Samples are grouped into MLGs as they are added; the MLG list stays sorted
// by allele values.  Once every sample is in, 'computeProbabilities' fixes
// the allele frequencies and gives every MLG its PGen (the chance of the
// genotype from one sexual event) and PSex (the chance of seeing it at least
// n times among N sexually produced samples).  The same type holds the
// table read from a data file and the simulated data sets.

#include "model/familywise.h"
#include "model/locus.h"
#include "model/mlgtuple.h"
#include "model/psexlist.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace psex {

class MessageSink;

class MLGTable {
    // A value type: copying it copies every list.

    // DATA
    std::int32_t d_ploidy;                           // 1 (haploid) or 2 (diploid)
    std::uint32_t d_locusCount;                      // number of loci
    std::vector<Locus> d_loci;                       // in data-file order
    std::vector<MLGTuple> d_mlgs;                    // distinct, ascending by alleles
    std::vector<std::string> d_sampleNames;          // every sample, in order added
    PsexList d_psexValues;                           // ascending
    std::string d_title;                             // TITLE, or empty
    std::int32_t d_simulations;                      // simulated data sets to draw
    bool d_frequencyFromSamples;                     // FREQUENCY=SAMPLE (else MLG)
    bool d_fisModel;                                 // MODEL=FIS (else HWE)
    std::optional<std::int32_t> d_missingCode;       // MISSING, if given
    std::optional<std::vector<double>> d_judgingFis; // Fis of the population judged against
    bool d_roundRobin = false;                       // FREQUENCY=ROUNDROBIN
    std::optional<std::int32_t> d_lineageDistance;   // MLLDISTANCE, if given

  public:
    // CREATORS
    MLGTable(std::int32_t ploidy, std::uint32_t locusCount, bool frequencyFromSamples,
             bool fisModel, std::int32_t simulations);
    // Create an empty table with the specified settings and 'locusCount'
    // unnamed loci.

    // MANIPULATORS
    Locus& locus(std::uint32_t index);
    // Return the locus at 'index'.  The behaviour is undefined unless
    // 'index' is below the number of loci.

    void setTitle(const std::string& title) { d_title = title; }

    void setMissingCode(std::optional<std::int32_t> code) { d_missingCode = code; }

    void setRoundRobin(bool roundRobin) { d_roundRobin = roundRobin; }
    // Estimate each locus's allele frequencies round-robin (from the
    // distinct genotypes at the other loci) when the specified 'roundRobin'
    // is true.  Such a table counts distinct genotypes for Ho, as with
    // FREQUENCY=MLG; create it without frequencies from samples.

    void setLineageDistance(std::optional<std::int32_t> distance) { d_lineageDistance = distance; }
    // Set MLLDISTANCE: the largest distance at which genotypes belong to one
    // lineage, or nothing when no lineages are to be formed.
    // Take an allele value equal to the specified 'code' for a copy that
    // could not be typed: it is grouped like any value but never counted as
    // an allele, and a locus with such a copy adds nothing to a genotype's
    // PGen.  Without a code every value is an allele.  Call it before any
    // sample is added.

    void limitSimulations(std::int32_t maximum) {
        if (d_simulations > maximum) {
            d_simulations = maximum;
        }
    }
    // Lower the number of simulated data sets to the specified 'maximum'
    // when the table asks for more.  For callers that analyse arbitrary
    // input and must keep the simulation cheap whatever SIMULATIONS says,
    // such as the fuzz target; the program itself never limits it.

    void addSample(const MLGTuple& tuple);
    // Add the samples of the specified 'tuple' (normally one): they join the
    // equal MLG or found a new one at its place in the sorted list.  Allele
    // copies are counted once per call, and only for a new MLG unless
    // frequencies come from all samples.

    void addSamples(std::vector<MLGTuple> tuples);
    // Add the specified 'tuples' as 'addSample' would one after the other,
    // with the same result, but sorting them once instead of inserting each
    // into the sorted list.

    void addSampleRows(std::vector<std::string> names, const std::vector<std::int32_t>& alleles);
    // Add the samples of the specified 'names', whose allele values stand
    // row by row in the specified 'alleles' (one row of ploidy x loci values
    // per name, diploid pairs in ascending order), as 'addSamples' would add
    // one tuple per sample, with the same result, but holding each distinct
    // genotype once: a million samples are not a million tuples first.  The
    // behaviour is undefined unless the table has no sample yet and
    // 'alleles' holds one row per name.

    void computeAlleleFrequencies(MessageSink& messages);
    // Turn the allele counts of every locus into frequencies and check
    // their sums, reporting to the specified 'messages'; nothing when the
    // loci are normalized already (frequencies copied from a table that
    // checked them).

    void checkFrequencies(MessageSink& messages) const;
    // Report on the error channel of the specified 'messages' when the
    // frequencies of any locus with alleles do not add up to one within
    // 1e-8.

    bool frequenciesSumToOne() const;
    // Return whether the frequencies of every locus with alleles add up to
    // one within 1e-8, the test of 'checkFrequencies'.  A locus without any
    // typed copy has no frequencies to add up: it adds nothing to PGen.

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
    // Fix the allele frequencies, give every MLG its PGen and its PSex for
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
    std::int32_t ploidy() const { return d_ploidy; }
    std::uint32_t locusCount() const { return d_locusCount; }
    const std::vector<Locus>& loci() const { return d_loci; }
    const std::vector<MLGTuple>& mlgs() const { return d_mlgs; }
    const std::vector<std::string>& sampleNames() const { return d_sampleNames; }
    const PsexList& psexValues() const { return d_psexValues; }
    const std::string& title() const { return d_title; }
    std::int32_t simulations() const { return d_simulations; }
    bool frequencyFromSamples() const { return d_frequencyFromSamples; }
    bool fisModel() const { return d_fisModel; }
    const std::optional<std::int32_t>& missingCode() const { return d_missingCode; }
    bool roundRobin() const { return d_roundRobin; }
    const std::optional<std::int32_t>& lineageDistance() const { return d_lineageDistance; }

    MLGTable emptyCopy() const;
    // Return a table with this table's settings (ploidy, loci, FREQUENCY,
    // MODEL, SIMULATIONS, missing code) and nothing else: no names, no
    // frequencies, no samples.

    bool isMissing(std::int32_t allele) const {
        return d_missingCode.has_value() && allele == *d_missingCode;
    }
    // Return whether the specified 'allele' value stands for a copy that
    // could not be typed.

    bool isTyped(const MLGTuple& tuple, std::uint32_t locusIndex) const;
    // Return whether every copy of the specified 'tuple' at a locus holds an
    // allele (none is missing).

    std::uint32_t typedCount(std::uint32_t locusIndex) const;
    // Return the number of samples (with FREQUENCY SAMPLE) or of distinct
    // genotypes (with MLG) typed at every copy of a locus: the denominator
    // of Ho.

    std::uint32_t heterozygoteCount(std::uint32_t locusIndex) const;
    // Return the number of heterozygous samples at a locus (with FREQUENCY
    // SAMPLE) or of heterozygous distinct genotypes (with MLG), typed at
    // both copies; 0 for haploid data.

    double pgen(const MLGTuple& tuple) const;
    // Return the PGen of the specified 'tuple' under this table's model and
    // frequencies: per locus 2pq for a heterozygote and p^2 for a homozygote
    // (p for a haploid), corrected by the locus's Fis under MODEL=FIS.  A
    // locus term that the correction would make negative counts as 0; a
    // locus with a missing copy adds nothing (factor 1).

    double clonalRichness() const;
    // Return R = (G - 1) / (N - 1), or NaN (undefined) when N <= 1.

    double pd() const;
    // Return Pd = G / N, or NaN when N = 0.

    std::vector<double> repeatedPsexValues() const;
    // Return the PSex of every MLG seen more than once, in table order.

    std::vector<std::uint32_t> mlgSizes() const;
    // Return the number of samples of every MLG, in table order.

    std::vector<std::uint32_t> mlgNumbersOfSamples() const;
    // Return, for every sample in the order of adding, the number (from 1,
    // in table order) of the MLG that holds it.

    std::uint32_t singleMLGCount() const;
    // Return the number of MLGs carried by exactly one sample.

    std::uint32_t clonalMLGCount() const;
    // Return the number of all other MLGs.

    double observedHeterozygosity(std::uint32_t locusIndex) const;
    // Return Ho, the share of heterozygous samples (FREQUENCY SAMPLE) or
    // distinct genotypes (MLG) among those typed at a locus, or NaN when
    // there are none.

    std::vector<double> fisValues() const;
    // Return the Fis of every locus, in table order.

    std::vector<double> modelFis() const;
    // Return the Fis values that PGen uses under MODEL=FIS (those given to
    // 'judgeAgainst', else this table's own), or nothing under HWE.

    double fis(std::uint32_t locusIndex) const;
    // Return Fis = (He - Ho) / He, or 1 when He is not above 0; NaN when Ho
    // is undefined.  The behaviour is undefined unless 'locusIndex' is below
    // the number of loci.

    double significanceThreshold(double significanceLevel) const;
    // Return the PSex list entry at index floor(level * (M - 1)), or 1.0 for
    // an empty list.  The behaviour is undefined unless the specified
    // 'significanceLevel' lies in [0, 1].

    double realizedSignificanceLevel(double significanceLevel) const;
    // Return the level the threshold really reaches: (r - 1) / M with r the
    // level times M rounded half up, never below 0; 0 for an empty list.

    double psexSignificance(double psex) const;
    // Return the share of the PSex list strictly below the specified 'psex';
    // 0 for an empty list.

    std::string significanceCode(double psex) const;
    // Return "ns", "*", "**" or "***": one star for a 'psex' below the 0.05
    // threshold, two when also below the 0.01 one, three when also below the
    // 0.001 one (all strictly).

  private:
    void countAlleles(const MLGTuple& tuple);
    void computeRoundRobinFrequencies();
    double pgen(const MLGTuple& tuple, const std::vector<double>& fisByLocus) const;
};

double fixationIndex(double expectedHeterozygosity, double observedHeterozygosity);
// Return Fis = (He - Ho) / He for the specified heterozygosities, 1 when He
// is not above 0, and NaN when Ho is NaN (undefined).

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
