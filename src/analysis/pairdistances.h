// pairdistances.h                                                -*-C++-*-
#ifndef PSEX_PAIRDISTANCES_H
#define PSEX_PAIRDISTANCES_H

// Purpose: the distance of every pair of a table's MLGs, at about a
// nanosecond a pair at 20 loci, so that lineages can be formed among
// 100,000 genotypes.
//
// The distance of two MLGs is the one lineages use (see lineages.h): the
// number of allele copies in which they differ, over the loci typed in
// both.  The observed-distance histogram needs every one of the G (G - 1) / 2
// pairs, so the cost of a pair decides how large a study can be.
//
// The alleles of each locus are numbered 0, 1, ... and each MLG's copies
// stored in ascending order, one byte each, column by column: for 64 MLGs
// at a time, their first copies at the first locus, then their second
// copies, then the next locus.  One genotype a is compared with the 64
// genotypes b of a block, 16 or 32 at once, one vector lane each (its own
// numbers loaded once for the whole block): at a diploid locus a and b
// share
//
//     [b0 = a0] + [b1 = a1] + [neither of these, but b1 = a0 or b0 = a1]
//
// copies (with a0 <= a1 and b0 <= b1 that is the number of alleles they
// share, counting repeats), and the distance is 2 per locus typed in both
// minus what they share.  A missing copy makes the MLG's code at that locus
// a value no allele has, so that it shares nothing and the locus is taken
// out of its count.  Byte lanes hold the sum over up to 127 loci; more loci
// are added up in 32-bit sums.  A locus with more than 250 alleles (sample
// names pasted into an allele column look so) is compared allele by allele
// instead, one pair at a time.
//
// A call takes a group of rows a (all pairs (a, b) with b > a) and goes
// through the MLGs b once for the whole group, so that each column of
// codes is read from memory once per group rather than once per row.
//
// The vectors are 16 bytes wide in the build's own instructions (SSE2 on
// x86-64), or 32 bytes wide (AVX2) when the processor has AVX2: asked at run
// time, never assumed by the build.  Every path counts the same integers.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace psex {

class MLGTable;

enum class VectorPath {
    // The instructions the pairs are compared with.

    e_portable, // 16 lanes, the instructions every build has
    e_avx2      // 32 lanes, AVX2 (x86-64 processors that have it)
};

class PairDistances {
    // The MLGs of one table coded for comparing all pairs: one byte per
    // allele copy of every MLG (four at a locus compared allele by allele).

  public:
    using Report =
        std::function<void(std::uint32_t first, std::uint32_t second, std::uint32_t distance)>;
    // Told one pair of MLGs (table indices 'first' < 'second') and its
    // distance.

    static constexpr std::size_t k_rowsPerCall = 64;
    // The number of rows a call is best given: fewer cost more per pair.

  private:
    // A run of loci added up in byte lanes: at most 127 of them.
    struct Chunk {
        std::uint32_t d_firstSlot = 0;    // the chunk's coded loci ...
        std::uint32_t d_firstPartial = 0; // ... those with missing copies from here ...
        std::uint32_t d_endSlot = 0;      // ... to here
        std::uint32_t d_firstWide = 0;    // the chunk's loci compared allele by allele
        std::uint32_t d_endWide = 0;
    };

    // DATA
    std::size_t d_mlgs = 0;
    std::int32_t d_ploidy = 2;
    std::uint32_t d_largest = 0;       // the largest possible distance
    std::uint32_t d_slots = 0;         // loci coded in bytes
    std::vector<std::uint8_t> d_codes; // per 64 MLGs, slot, copy: 64 codes
    std::vector<std::uint32_t> d_wide; // per wide locus, MLG, copy: allele number
    std::vector<Chunk> d_chunks;
    VectorPath d_path = VectorPath::e_portable;

    friend struct PairKernel; // the comparison (pairdistances.cpp)

    // PRIVATE MANIPULATORS
    void makeChunks(std::uint32_t firstPartial, std::uint32_t wide);
    // Cut the coded loci (the first 'firstPartial' typed in every MLG) and
    // the specified number of 'wide' loci into chunks.

  public:
    // CREATORS
    explicit PairDistances(const MLGTable& table, VectorPath path = defaultPath());
    // Code the MLGs of the specified 'table' for comparing them on the
    // specified 'path'.  The behaviour is undefined unless the processor
    // supports 'path'.

    // ACCESSORS
    std::size_t size() const { return d_mlgs; }
    // Return the number of MLGs.

    std::uint32_t largestDistance() const { return d_largest; }
    // Return the largest distance two MLGs can have: ploidy times the
    // number of loci.

    VectorPath path() const { return d_path; }

    void compareRows(std::size_t first, std::size_t last, std::vector<std::uint64_t>& histogram,
                     std::int64_t reportWithin, const Report& report) const;
    // Compare every pair (a, b) of MLGs with the specified 'first' <= a <
    // the specified 'last' and a < b: add one to the specified 'histogram'
    // at the pair's distance, and tell the specified 'report' each pair at
    // a distance of at most the specified 'reportWithin' (none when it is
    // negative), row by row, in no particular order within a row.  The
    // behaviour is undefined unless 'first' <= 'last' <= size() and
    // 'histogram' has more than largestDistance() entries.

    // CLASS METHODS
    static bool isSupported(VectorPath path);
    // Return whether this processor runs the specified 'path'.

    static VectorPath fastestPath();
    // Return the widest path this processor runs.

    static VectorPath defaultPath();
    // Return the path tables are coded for when no path is specified: the
    // fastest, unless 'setDefaultPath' said otherwise.

    static VectorPath setDefaultPath(VectorPath path);
    // Make the specified 'path' the default (for tests and benchmarks that
    // compare the paths through the programs' own calls) and return the
    // previous default.  The behaviour is undefined unless the processor
    // supports 'path' and no other thread codes a table meanwhile.
};

} // namespace psex

#endif
