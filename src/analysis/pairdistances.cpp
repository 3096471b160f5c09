// pairdistances.cpp                                              -*-C++-*-
#include "analysis/pairdistances.h"

#include "base/contract.h"
#include "model/mlgtable.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

namespace psex {

namespace {

// MLGs per column block of codes: the widest vector's lanes.
constexpr std::size_t k_block = 64;

// Loci added up in one byte lane: 127 diploid loci differ by at most 254.
constexpr std::uint32_t k_lociPerChunk = 127;

// MLGs b whose sums over many loci are kept at a time: a multiple of every
// vector width.
constexpr std::size_t k_tile = 256;

// The most memory the rows of one call keep their values at every locus in.
constexpr std::size_t k_rowValueBytes = 4u << 20;

// Codes of a locus compared in bytes: its alleles are 0 .. k_narrowAlleles - 1.
constexpr std::uint32_t k_narrowAlleles = 250;

// A column code for an MLG with a missing copy at the locus: no allele.
constexpr std::uint8_t k_untyped = 0xFF;

// The row's value at a locus where the row's MLG has a missing copy: it
// equals no code, so that the row shares nothing there and counts no
// untyped partner.
constexpr std::uint8_t k_matchesNothing = 0xFE;

// An allele number of a locus compared allele by allele, for a missing copy.
constexpr std::uint32_t k_wideUntyped = 0xFFFFFFFF;

// Return the number of allele copies in which two genotypes, each with its
// copies in ascending order, differ at one locus typed in both.
std::uint32_t sortedLocusDistance(std::int32_t ploidy, const std::uint32_t* x,
                                  const std::uint32_t* y) {
    if (ploidy == 1) {
        return x[0] == y[0] ? 0 : 1;
    }
    const bool first = x[0] == y[0];
    const bool second = x[1] == y[1];
    const bool crossed = !first && !second && (x[0] == y[1] || x[1] == y[0]);
    return 2 - (first ? 1 : 0) - (second ? 1 : 0) - (crossed ? 1 : 0);
}

// The allele values seen at one locus, each once and in ascending order,
// gathered MLG by MLG: kept sorted as they come while they are few (nearly
// always); past k_narrowAlleles every typed copy is kept and they are
// sorted once at the end.
class LocusValues {
    std::vector<std::int32_t> d_values;
    bool d_many = false;
    bool d_partial = false; // some MLG has a missing copy here

  public:
    void addCopy(std::int32_t value) {
        if (d_many) {
            d_values.push_back(value);
            return;
        }
        const std::uint32_t number = numberOf(value);
        if (number == d_values.size() || d_values[number] != value) {
            d_values.insert(d_values.begin() + number, value);
            d_many = d_values.size() > k_narrowAlleles;
        }
    }

    void addUntyped() { d_partial = true; }

    void finish() {
        if (d_many) {
            std::sort(d_values.begin(), d_values.end());
            d_values.erase(std::unique(d_values.begin(), d_values.end()), d_values.end());
        }
    }

    bool isNarrow() const { return d_values.size() <= k_narrowAlleles; }
    bool isPartial() const { return d_partial; }

    // Return the number of values below the specified 'value': its number
    // when it was added.  Counted without branches among a few values (a
    // SNP's two alleles come in no order a branch could guess).
    std::uint32_t numberOf(std::int32_t value) const {
        if (d_values.size() > 16) {
            return static_cast<std::uint32_t>(
                std::lower_bound(d_values.begin(), d_values.end(), value) - d_values.begin());
        }
        std::uint32_t below = 0;
        for (const std::int32_t known : d_values) {
            below += known < value ? 1 : 0;
        }
        return below;
    }
};

// Return whether the specified copies of one locus all hold an allele.
bool isTyped(const std::int32_t* copies, std::size_t ploidy,
             const std::optional<std::int32_t>& missing) {
    return !missing || std::none_of(copies, copies + ploidy,
                                    [&](std::int32_t value) { return value == *missing; });
}

} // namespace

// The comparison itself, for one vector width and ploidy.  Its functions are
// inlined into the entry points below, each compiled for its instructions.
struct PairKernel {
    template <std::size_t WIDTH>
    struct Lanes {
        typedef std::uint8_t Vector __attribute__((vector_size(WIDTH)));
        typedef signed char Signed __attribute__((vector_size(WIDTH)));
        typedef std::uint32_t Words __attribute__((vector_size(WIDTH)));
    };

    // Return the byte 'value' in every byte of a word: loaded into every
    // lane of a vector in one step.
    static std::uint32_t repeated(std::uint8_t value) { return value * 0x01010101u; }

    // What a call works on: the table's codes and the rows' side of them.
    struct Call {
        const PairDistances& pairs;
        std::size_t first;
        std::size_t last;
        std::vector<std::uint32_t> rowValues; // per row and slot: a0 (, a1), untyped code, repeated
        std::vector<std::uint32_t> rowBase;   // per row and chunk: ploidy x its typed slots
        std::int64_t reportWithin;
        const PairDistances::Report& report;
    };

    static std::size_t valuesPerSlot(const PairDistances& pairs) {
        return static_cast<std::size_t>(pairs.d_ploidy) + 1;
    }

    // Gather each row's values at every coded locus: the numbers its copies
    // are compared with, and the code of an untyped partner (which the row
    // counts only where it is typed itself).
    static void prepareRows(Call& call) {
        const PairDistances& pairs = call.pairs;
        const std::size_t rows = call.last - call.first;
        const std::size_t perSlot = valuesPerSlot(pairs);
        const std::size_t ploidy = static_cast<std::size_t>(pairs.d_ploidy);
        call.rowValues.assign(rows * pairs.d_slots * perSlot, repeated(k_matchesNothing));
        call.rowBase.assign(rows * pairs.d_chunks.size(), 0);
        for (std::size_t r = 0; r < rows; ++r) {
            const std::size_t a = call.first + r;
            const std::size_t block = a / k_block;
            std::size_t chunk = 0;
            for (std::uint32_t s = 0; s < pairs.d_slots; ++s) {
                while (pairs.d_chunks[chunk].d_endSlot <= s) {
                    ++chunk;
                }
                const std::uint8_t* column =
                    &pairs.d_codes[((block * pairs.d_slots + s) * ploidy) * k_block + a % k_block];
                if (column[0] == k_untyped) {
                    continue; // left at k_matchesNothing
                }
                std::uint32_t* values = &call.rowValues[(r * pairs.d_slots + s) * perSlot];
                for (std::size_t k = 0; k < ploidy; ++k) {
                    values[k] = repeated(column[k * k_block]);
                }
                values[ploidy] = repeated(k_untyped);
                call.rowBase[r * pairs.d_chunks.size() + chunk] +=
                    static_cast<std::uint32_t>(ploidy);
            }
        }
    }

    template <std::size_t WIDTH>
    [[gnu::always_inline]] static inline bool anyLane(const typename Lanes<WIDTH>::Vector& mask) {
        std::uint64_t words[WIDTH / 8];
        std::memcpy(words, &mask, WIDTH);
        std::uint64_t any = 0;
        for (std::size_t i = 0; i < WIDTH / 8; ++i) {
            any |= words[i];
        }
        return any != 0;
    }

    // Subtract from the specified 'shared' the copies that the row with
    // the specified 'values' shares with each MLG of the specified block of
    // codes 'column' at one locus (64 MLGs, WIDTH at a time), and load their
    // first copies into 'b0Codes'.  With copies in ascending order the row
    // shares
    //     [b0 = a0] + [b1 = a1], or where both are 0, [b1 = a0 or b0 = a1];
    // as lanes of -1 for true, the smaller of the two (signed) terms.
    template <std::size_t WIDTH, bool DIPLOID>
    [[gnu::always_inline]] static inline void
    subtractShared(const std::uint8_t* column, const std::uint32_t* values,
                   typename Lanes<WIDTH>::Vector (&shared)[k_block / WIDTH],
                   typename Lanes<WIDTH>::Vector (&b0Codes)[k_block / WIDTH]) {
        using Vector = typename Lanes<WIDTH>::Vector;
        using Signed = typename Lanes<WIDTH>::Signed;
        using Words = typename Lanes<WIDTH>::Words;
        const Vector a0 = (Vector)(Words{} + values[0]);
        const Vector a1 = (Vector)(Words{} + values[DIPLOID ? 1 : 0]);
        for (std::size_t v = 0; v < k_block / WIDTH; ++v) {
            std::memcpy(&b0Codes[v], column + v * WIDTH, WIDTH);
            if constexpr (DIPLOID) {
                Vector b1Codes;
                std::memcpy(&b1Codes, column + k_block + v * WIDTH, WIDTH);
                const Signed inPlace = (Signed)(b0Codes[v] == a0) + (Signed)(b1Codes == a1);
                const Signed crossed = (Signed)((b1Codes == a0) | (b0Codes[v] == a1));
                shared[v] += (Vector)(inPlace < crossed ? inPlace : crossed);
            } else {
                shared[v] += (Vector)(b0Codes[v] == a0);
            }
        }
    }

    // Set the specified 'sum' to the distances of row 'r' to the 64 MLGs
    // from the specified 'b0' (a multiple of 64) over the loci of the
    // specified 'chunk', in byte lanes.
    template <std::size_t WIDTH, bool DIPLOID>
    [[gnu::always_inline]] static inline void
    chunkDistances(const Call& call, std::size_t r, std::size_t b0,
                   const PairDistances::Chunk& chunk, std::size_t chunkIndex,
                   typename Lanes<WIDTH>::Vector (&sum)[k_block / WIDTH]) {
        using Vector = typename Lanes<WIDTH>::Vector;
        using Words = typename Lanes<WIDTH>::Words;
        constexpr std::size_t vectors = k_block / WIDTH;
        constexpr std::size_t ploidy = DIPLOID ? 2 : 1;
        const PairDistances& pairs = call.pairs;
        Vector shared[vectors] = {}; // minus the copies shared, and twice the untyped partners

        if (chunk.d_firstWide < chunk.d_endWide) {
            // Loci of many alleles, one pair at a time; their distances
            // are added, not subtracted.
            alignas(64) std::uint8_t distances[k_block] = {};
            const std::size_t a = call.first + r;
            const std::size_t lanes = std::min(k_block, pairs.d_mlgs - b0);
            for (std::uint32_t w = chunk.d_firstWide; w < chunk.d_endWide; ++w) {
                const std::uint32_t* numbers = &pairs.d_wide[w * pairs.d_mlgs * ploidy];
                const std::uint32_t* x = numbers + a * ploidy;
                if (x[0] == k_wideUntyped) {
                    continue;
                }
                for (std::size_t i = 0; i < lanes; ++i) {
                    const std::uint32_t* y = numbers + (b0 + i) * ploidy;
                    if (y[0] != k_wideUntyped) {
                        distances[i] = static_cast<std::uint8_t>(
                            distances[i] + sortedLocusDistance(pairs.d_ploidy, x, y));
                    }
                }
            }
            std::memcpy(shared, distances, k_block);
        }

        // (Both offsets are 0, and the vectors empty, when every locus is
        // coded wide: no element is referred to then.)
        const std::uint8_t* columns =
            pairs.d_codes.data() + b0 / k_block * pairs.d_slots * ploidy * k_block;
        const std::uint32_t* row = call.rowValues.data() + r * pairs.d_slots * (ploidy + 1);
        // Loci typed in every MLG, then those with untyped partners to
        // take out of the row's count.
        Vector b0Codes[vectors];
        for (std::uint32_t s = chunk.d_firstSlot; s < chunk.d_firstPartial; ++s) {
            subtractShared<WIDTH, DIPLOID>(columns + s * ploidy * k_block, row + s * (ploidy + 1),
                                           shared, b0Codes);
        }
        for (std::uint32_t s = chunk.d_firstPartial; s < chunk.d_endSlot; ++s) {
            const std::uint32_t* values = row + s * (ploidy + 1);
            subtractShared<WIDTH, DIPLOID>(columns + s * ploidy * k_block, values, shared, b0Codes);
            const Vector untypedCode = (Vector)(Words{} + values[ploidy]);
            for (std::size_t v = 0; v < vectors; ++v) {
                const Vector untyped = (Vector)(b0Codes[v] == untypedCode);
                shared[v] += DIPLOID ? untyped + untyped : untyped;
            }
        }
        const auto base =
            static_cast<std::uint8_t>(call.rowBase[r * pairs.d_chunks.size() + chunkIndex]);
        for (std::size_t v = 0; v < vectors; ++v) {
            sum[v] = shared[v] + base;
        }
    }

    // Count and report the pairs of row 'r' with the 64 MLGs from 'b0'
    // whose distances the specified byte lanes 'sum' hold.
    template <std::size_t WIDTH>
    [[gnu::always_inline]] static inline void
    countBytes(const Call& call, std::size_t r, std::size_t b0,
               const typename Lanes<WIDTH>::Vector (&sum)[k_block / WIDTH],
               std::array<std::array<std::uint64_t, 256>, 4>& counts) {
        using Vector = typename Lanes<WIDTH>::Vector;
        const std::size_t a = call.first + r;
        const std::size_t from = a + 1 > b0 ? a + 1 - b0 : 0;
        const std::size_t to = std::min(k_block, call.pairs.d_mlgs - b0);
        if (from >= to) {
            return;
        }
        alignas(64) std::uint8_t d[k_block];
        std::memcpy(d, sum, k_block);
        if (call.reportWithin >= 0) {
            bool any = call.reportWithin >= call.pairs.d_largest;
            const Vector within = Vector{} + static_cast<std::uint8_t>(call.reportWithin);
            for (std::size_t v = 0; v < k_block / WIDTH && !any; ++v) {
                any = anyLane<WIDTH>((Vector)(sum[v] <= within));
            }
            if (any) {
                for (std::size_t i = from; i < to; ++i) {
                    if (d[i] <= call.reportWithin) {
                        call.report(static_cast<std::uint32_t>(a),
                                    static_cast<std::uint32_t>(b0 + i), d[i]);
                    }
                }
            }
        }
        // Four tallies, so that equal distances in a row do not wait for
        // each other's increments.
        std::size_t i = from;
        for (; i + 4 <= to; i += 4) {
            ++counts[0][d[i]];
            ++counts[1][d[i + 1]];
            ++counts[2][d[i + 2]];
            ++counts[3][d[i + 3]];
        }
        for (; i < to; ++i) {
            ++counts[0][d[i]];
        }
    }

    // The same for distances summed over several chunks in 32-bit lanes.
    static void countSums(const Call& call, std::size_t r, std::size_t b0,
                          const std::uint32_t* sums, std::vector<std::uint64_t>& histogram) {
        const std::size_t a = call.first + r;
        const std::size_t from = a + 1 > b0 ? a + 1 - b0 : 0;
        const std::size_t to = std::min(k_block, call.pairs.d_mlgs - b0);
        for (std::size_t i = from; i < to; ++i) {
            const std::uint32_t d = sums[i];
            PSEX_ASSERT(d <= call.pairs.d_largest);
            ++histogram[d];
            if (call.reportWithin >= 0 && d <= call.reportWithin) {
                call.report(static_cast<std::uint32_t>(a), static_cast<std::uint32_t>(b0 + i), d);
            }
        }
    }

    template <std::size_t WIDTH, bool DIPLOID>
    [[gnu::always_inline]] static inline void
    run(const PairDistances& pairs, std::size_t first, std::size_t last,
        std::vector<std::uint64_t>& histogram, std::int64_t reportWithin,
        const PairDistances::Report& report) {
        using Vector = typename Lanes<WIDTH>::Vector;
        Call call{pairs, first, last, {}, {}, reportWithin, report};
        prepareRows(call);
        const std::size_t chunks = pairs.d_chunks.size();
        const std::size_t start = (first + 1) / k_block * k_block;
        // Rows from b0 + 63 on have no partner among the 64 MLGs from b0.
        const auto rowsBefore = [&](std::size_t b0) {
            return std::min(last, b0 + k_block - 1) - first;
        };
        std::array<std::array<std::uint64_t, 256>, 4> counts{};

        if (chunks == 1) {
            for (std::size_t b0 = start; b0 < pairs.d_mlgs; b0 += k_block) {
                for (std::size_t r = 0; r < rowsBefore(b0); ++r) {
                    Vector sum[k_block / WIDTH];
                    chunkDistances<WIDTH, DIPLOID>(call, r, b0, pairs.d_chunks[0], 0, sum);
                    countBytes<WIDTH>(call, r, b0, sum, counts);
                }
            }
        } else {
            // Many loci: the sums of a tile of MLGs b, chunk by chunk, so
            // that a chunk's values of the rows serve the whole tile.
            std::vector<std::uint32_t> sums((last - first) * k_tile);
            for (std::size_t t0 = start; t0 < pairs.d_mlgs; t0 += k_tile) {
                const std::size_t tileEnd = std::min(t0 + k_tile, pairs.d_mlgs);
                std::fill(sums.begin(), sums.end(), 0u);
                for (std::size_t c = 0; c < chunks; ++c) {
                    for (std::size_t b0 = t0; b0 < tileEnd; b0 += k_block) {
                        for (std::size_t r = 0; r < rowsBefore(b0); ++r) {
                            Vector sum[k_block / WIDTH];
                            chunkDistances<WIDTH, DIPLOID>(call, r, b0, pairs.d_chunks[c], c, sum);
                            alignas(64) std::uint8_t d[k_block];
                            std::memcpy(d, sum, k_block);
                            std::uint32_t* rowSums = &sums[r * k_tile + (b0 - t0)];
                            for (std::size_t i = 0; i < k_block; ++i) {
                                rowSums[i] += d[i];
                            }
                        }
                    }
                }
                for (std::size_t b0 = t0; b0 < tileEnd; b0 += k_block) {
                    for (std::size_t r = 0; r < rowsBefore(b0); ++r) {
                        countSums(call, r, b0, &sums[r * k_tile + (b0 - t0)], histogram);
                    }
                }
            }
        }
        for (std::size_t d = 0; d < 256; ++d) {
            const std::uint64_t count = counts[0][d] + counts[1][d] + counts[2][d] + counts[3][d];
            if (count > 0) {
                PSEX_ASSERT(d <= pairs.d_largest);
                histogram[d] += count;
            }
        }
    }
};

namespace {

using Entry = void (*)(const PairDistances&, std::size_t, std::size_t, std::vector<std::uint64_t>&,
                       std::int64_t, const PairDistances::Report&);

void portableDiploid(const PairDistances& pairs, std::size_t first, std::size_t last,
                     std::vector<std::uint64_t>& histogram, std::int64_t within,
                     const PairDistances::Report& report) {
    PairKernel::run<16, true>(pairs, first, last, histogram, within, report);
}

void portableHaploid(const PairDistances& pairs, std::size_t first, std::size_t last,
                     std::vector<std::uint64_t>& histogram, std::int64_t within,
                     const PairDistances::Report& report) {
    PairKernel::run<16, false>(pairs, first, last, histogram, within, report);
}

#if defined(__GNUC__) && defined(__x86_64__)
// Compiled for AVX2 here alone and called only after asking the processor.
__attribute__((target("avx2"))) void avx2Diploid(const PairDistances& pairs, std::size_t first,
                                                 std::size_t last,
                                                 std::vector<std::uint64_t>& histogram,
                                                 std::int64_t within,
                                                 const PairDistances::Report& report) {
    PairKernel::run<32, true>(pairs, first, last, histogram, within, report);
}

__attribute__((target("avx2"))) void avx2Haploid(const PairDistances& pairs, std::size_t first,
                                                 std::size_t last,
                                                 std::vector<std::uint64_t>& histogram,
                                                 std::int64_t within,
                                                 const PairDistances::Report& report) {
    PairKernel::run<32, false>(pairs, first, last, histogram, within, report);
}

bool processorHasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
#else
void avx2Diploid(const PairDistances& pairs, std::size_t first, std::size_t last,
                 std::vector<std::uint64_t>& histogram, std::int64_t within,
                 const PairDistances::Report& report) {
    portableDiploid(pairs, first, last, histogram, within, report);
}

void avx2Haploid(const PairDistances& pairs, std::size_t first, std::size_t last,
                 std::vector<std::uint64_t>& histogram, std::int64_t within,
                 const PairDistances::Report& report) {
    portableHaploid(pairs, first, last, histogram, within, report);
}

bool processorHasAvx2() {
    return false;
}
#endif

} // namespace

PairDistances::PairDistances(const MLGTable& table, VectorPath path)
    : d_mlgs(table.mlgs().size()), d_ploidy(table.ploidy()),
      d_largest(static_cast<std::uint32_t>(table.ploidy()) * table.locusCount()), d_path(path) {
    PSEX_ASSERT(isSupported(path));
    PSEX_ASSERT(d_ploidy == 1 || d_ploidy == 2);
    const std::size_t ploidy = static_cast<std::size_t>(d_ploidy);

    // The alleles of every locus, reading each MLG's values in order (the
    // genotypes of a large table do not fit a cache; a locus across all of
    // them would be read a cache line per MLG).
    const std::size_t loci = table.locusCount();
    const std::optional<std::int32_t>& missing = table.missingCode();
    std::vector<LocusValues> values(loci);
    for (const MLGTuple& mlg : table.mlgs()) {
        const std::int32_t* copies = mlg.alleles().data();
        for (std::size_t j = 0; j < loci; ++j, copies += ploidy) {
            if (!isTyped(copies, ploidy, missing)) {
                values[j].addUntyped();
                continue;
            }
            for (std::size_t k = 0; k < ploidy; ++k) {
                values[j].addCopy(copies[k]);
            }
        }
    }

    // Loci in the order they are added up: typed in every MLG, then with
    // missing copies, then those of many alleles (the order of a sum does
    // not change it); -1 - w for the wide locus w.
    std::vector<std::int64_t> place(loci);
    std::uint32_t firstPartial = 0;
    std::uint32_t wide = 0;
    for (std::size_t j = 0; j < loci; ++j) {
        values[j].finish();
        firstPartial += values[j].isNarrow() && !values[j].isPartial() ? 1 : 0;
    }
    std::uint32_t nextComplete = 0;
    std::uint32_t nextPartial = firstPartial;
    for (std::size_t j = 0; j < loci; ++j) {
        if (!values[j].isNarrow()) {
            place[j] = -1 - static_cast<std::int64_t>(wide++);
        } else {
            place[j] = values[j].isPartial() ? nextPartial++ : nextComplete++;
        }
    }
    d_slots = nextPartial;
    makeChunks(firstPartial, wide);

    // The codes, 64 MLGs at a time; the lanes past the last MLG hold
    // untyped codes and are never counted.
    const std::size_t blocks = (d_mlgs + k_block - 1) / k_block;
    d_codes.assign(blocks * d_slots * ploidy * k_block, k_untyped);
    d_wide.assign(wide * d_mlgs * ploidy, k_wideUntyped);
    // Each MLG's copies at a locus as numbers in ascending order: at the
    // coded locus 'place' (the lane of the MLG's block at 'lane'), or at
    // the wide locus -1 - 'place'.
    const auto code = [&](const std::int32_t* copies, const LocusValues& locus, std::int64_t place,
                          std::size_t mlg, std::uint8_t* lane) {
        std::uint32_t numbers[2] = {};
        for (std::size_t k = 0; k < ploidy; ++k) {
            numbers[k] = locus.numberOf(copies[k]);
        }
        if (ploidy == 2) {
            const std::uint32_t low = std::min(numbers[0], numbers[1]);
            numbers[1] = std::max(numbers[0], numbers[1]);
            numbers[0] = low;
        }
        if (place < 0) {
            std::copy(numbers, numbers + ploidy,
                      &d_wide[(static_cast<std::size_t>(-1 - place) * d_mlgs + mlg) * ploidy]);
            return;
        }
        for (std::size_t k = 0; k < ploidy; ++k) {
            lane[(static_cast<std::size_t>(place) * ploidy + k) * k_block] =
                static_cast<std::uint8_t>(numbers[k]);
        }
    };
    // Written 64 MLGs and 128 loci at a time, so that the codes being
    // written stay in the cache.
    constexpr std::size_t lociPerTile = 128;
    for (std::size_t m0 = 0; m0 < d_mlgs; m0 += k_block) {
        // No byte codes at all when every locus is coded wide.
        std::uint8_t* block =
            d_codes.empty() ? nullptr : d_codes.data() + m0 / k_block * d_slots * ploidy * k_block;
        for (std::size_t j0 = 0; j0 < loci; j0 += lociPerTile) {
            const std::size_t j1 = std::min(loci, j0 + lociPerTile);
            for (std::size_t m = m0; m < std::min(d_mlgs, m0 + k_block); ++m) {
                const std::int32_t* copies = table.mlgs()[m].alleles().data() + j0 * ploidy;
                for (std::size_t j = j0; j < j1; ++j, copies += ploidy) {
                    if (isTyped(copies, ploidy, missing)) {
                        code(copies, values[j], place[j], m,
                             block == nullptr ? nullptr : block + m % k_block);
                    }
                }
            }
        }
    }
}

void PairDistances::makeChunks(std::uint32_t firstPartial, std::uint32_t wide) {
    const std::uint32_t loci = d_slots + wide;
    for (std::uint32_t from = 0; from < std::max(loci, 1u); from += k_lociPerChunk) {
        const std::uint32_t to = std::min(loci, from + k_lociPerChunk);
        Chunk chunk;
        chunk.d_firstSlot = std::min(from, d_slots);
        chunk.d_endSlot = std::min(to, d_slots);
        chunk.d_firstPartial = std::clamp(firstPartial, chunk.d_firstSlot, chunk.d_endSlot);
        chunk.d_firstWide = std::max(from, d_slots) - d_slots;
        chunk.d_endWide = std::max(to, d_slots) - d_slots;
        d_chunks.push_back(chunk);
    }
}

void PairDistances::compareRows(std::size_t first, std::size_t last,
                                std::vector<std::uint64_t>& histogram, std::int64_t reportWithin,
                                const Report& report) const {
    PSEX_ASSERT(first <= last && last <= d_mlgs);
    PSEX_ASSERT(histogram.size() > d_largest);
    if (first == last) {
        return;
    }
    Entry entry = nullptr;
    if (d_path == VectorPath::e_avx2) {
        entry = d_ploidy == 2 ? avx2Diploid : avx2Haploid;
    } else {
        entry = d_ploidy == 2 ? portableDiploid : portableHaploid;
    }
    // The rows' values at every locus are gathered for the rows compared
    // together: with very many loci, fewer rows at a time.
    const std::size_t perRow = std::max<std::size_t>(
        1, d_slots * (static_cast<std::size_t>(d_ploidy) + 1) * sizeof(std::uint32_t));
    const std::size_t together = std::clamp<std::size_t>(k_rowValueBytes / perRow, 1, last - first);
    for (std::size_t from = first; from < last; from += together) {
        entry(*this, from, std::min(last, from + together), histogram, reportWithin, report);
    }
}

bool PairDistances::isSupported(VectorPath path) {
    static const bool avx2 = processorHasAvx2();
    return path == VectorPath::e_portable || (path == VectorPath::e_avx2 && avx2);
}

VectorPath PairDistances::fastestPath() {
    return isSupported(VectorPath::e_avx2) ? VectorPath::e_avx2 : VectorPath::e_portable;
}

namespace {

VectorPath& defaultPathSetting() {
    static VectorPath path = PairDistances::fastestPath();
    return path;
}

} // namespace

VectorPath PairDistances::defaultPath() {
    return defaultPathSetting();
}

VectorPath PairDistances::setDefaultPath(VectorPath path) {
    PSEX_ASSERT(isSupported(path));
    const VectorPath previous = defaultPathSetting();
    defaultPathSetting() = path;
    return previous;
}

} // namespace psex
