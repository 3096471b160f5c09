// laggedfibonacci.cpp                                            -*-C++-*-
#include "simulation/laggedfibonacci.h"

#include "base/contract.h"
#include "simulation/fibonaccijump.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <locale>
#include <sstream>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

namespace psex {

namespace {

constexpr double k_scale = 281474976710656.0; // 2^48
constexpr std::size_t k_shortLag = k_fibonacciShortLag;
constexpr std::size_t k_n = LaggedFibonacci607::k_blockSize;
static_assert(k_n == k_fibonacciLongLag);

// Write the state of a generator as Boost's stream operators write and read
// it: the position, then every value times 2^48.  A value of an exact state
// is a whole number and is written as one; any other is written in full
// (1100 decimals hold every double times 2^48 exactly).
std::string stateText(std::uint32_t next, const double* block, bool exact) {
    std::string text = std::to_string(next);
    std::vector<char> buffer(1200);
    for (std::size_t j = 0; j < k_n; ++j) {
        const double scaled = block[j] * k_scale;
        if (exact) {
            text += ' ';
            text += std::to_string(static_cast<std::uint64_t>(scaled));
        } else {
            std::snprintf(buffer.data(), buffer.size(), " %.1100f", scaled);
            text += buffer.data();
        }
    }
    return text;
}

LaggedFibonacci607::Boost boostFromText(const std::string& text) {
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    LaggedFibonacci607::Boost generator;
    in >> generator;
    PSEX_ASSERT(!in.fail());
    return generator;
}

} // namespace

LaggedFibonacci607::LaggedFibonacci607() {
    static const LaggedFibonacci607 seeded{Boost()};
    *this = seeded;
}

LaggedFibonacci607::LaggedFibonacci607(const Boost& other) {
    // Boost writes its values in fixed notation with the stream's
    // precision: 0 decimals are exact for the multiples of 2^-48 of a seeded
    // stream; a state that does not come back equal is read again in full.
    for (const int precision : {0, 1100}) {
        std::ostringstream out;
        out.imbue(std::locale::classic());
        out.precision(precision);
        out << other;
        std::istringstream in(out.str());
        in.imbue(std::locale::classic());
        in >> d_next;
        for (double& value : d_block) {
            in >> value;
            value /= k_scale;
        }
        PSEX_ASSERT(!in.fail() && d_next <= k_n);
        if (toBoost() == other) {
            return;
        }
    }
    PSEX_ASSERT(!"a Boost state that cannot be read back");
}

namespace {

// One number of Boost's fill: the sum, less 1 when it reaches 1.
inline double fibonacciStep(double a, double b) {
    const double sum = a + b;
    return sum - (sum >= 1.0 ? 1.0 : 0.0);
}

// Boost's fill: x[j] += x[j + 334] for the first 273 values, whose partners
// are still last block's, then x[j] += x[j - 273] with partners of this
// block; a sum of 1 or more loses 1.  Two numbers at a time with SSE2.
void refillNarrow(double* x) {
#if defined(__SSE2__)
    const __m128d one = _mm_set1_pd(1.0);
    const auto step = [one](__m128d a, __m128d b) {
        const __m128d sum = _mm_add_pd(a, b);
        return _mm_sub_pd(sum, _mm_and_pd(_mm_cmpge_pd(sum, one), one));
    };
    std::size_t j = 0;
    for (; j + 2 <= k_shortLag; j += 2) {
        _mm_store_pd(x + j, step(_mm_load_pd(x + j), _mm_loadu_pd(x + j + k_n - k_shortLag)));
    }
    for (; j < k_shortLag; ++j) {
        x[j] = fibonacciStep(x[j], x[j + k_n - k_shortLag]);
    }
    for (; j + 2 <= k_n; j += 2) {
        _mm_storeu_pd(x + j, step(_mm_loadu_pd(x + j), _mm_loadu_pd(x + j - k_shortLag)));
    }
    for (; j < k_n; ++j) {
        x[j] = fibonacciStep(x[j], x[j - k_shortLag]);
    }
#else
    for (std::size_t j = 0; j < k_shortLag; ++j) {
        x[j] = fibonacciStep(x[j], x[j + k_n - k_shortLag]);
    }
    for (std::size_t j = k_shortLag; j < k_n; ++j) {
        x[j] = fibonacciStep(x[j], x[j - k_shortLag]);
    }
#endif
}

#if defined(__GNUC__) && defined(__x86_64__)
// The same four numbers at a time with AVX, for processors that have it:
// the same additions, comparisons and subtractions, so the same bits.
// Compiled for AVX here alone and called only after asking the processor.
__attribute__((target("avx"))) void refillWide(double* x) {
    const __m256d one = _mm256_set1_pd(1.0);
    std::size_t j = 0;
    for (; j + 4 <= k_shortLag; j += 4) {
        const __m256d sum =
            _mm256_add_pd(_mm256_loadu_pd(x + j), _mm256_loadu_pd(x + j + k_n - k_shortLag));
        _mm256_storeu_pd(
            x + j, _mm256_sub_pd(sum, _mm256_and_pd(_mm256_cmp_pd(sum, one, _CMP_GE_OQ), one)));
    }
    for (; j < k_shortLag; ++j) {
        x[j] = fibonacciStep(x[j], x[j + k_n - k_shortLag]);
    }
    for (; j + 4 <= k_n; j += 4) {
        const __m256d sum =
            _mm256_add_pd(_mm256_loadu_pd(x + j), _mm256_loadu_pd(x + j - k_shortLag));
        _mm256_storeu_pd(
            x + j, _mm256_sub_pd(sum, _mm256_and_pd(_mm256_cmp_pd(sum, one, _CMP_GE_OQ), one)));
    }
    for (; j < k_n; ++j) {
        x[j] = fibonacciStep(x[j], x[j - k_shortLag]);
    }
}

bool processorHasAvx() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx");
}
#else
void refillWide(double* x) {
    refillNarrow(x);
}

bool processorHasAvx() {
    return false;
}
#endif

bool& wideRefill() {
    static bool wide = processorHasAvx();
    return wide;
}

} // namespace

void LaggedFibonacci607::refill() {
    if (wideRefill()) {
        refillWide(d_block);
    } else {
        refillNarrow(d_block);
    }
    d_next = 0;
}

bool LaggedFibonacci607::useWideVectors(bool wide) {
    const bool previous = wideRefill();
    wideRefill() = wide && processorHasAvx();
    return previous;
}

void LaggedFibonacci607::discard(std::uint64_t count, FibonacciJumps* jumps) {
    const std::uint64_t left = k_n - d_next; // numbers still in this block
    if (count <= left) {
        d_next += static_cast<std::uint32_t>(count);
        return;
    }
    // The last number drawn lies in the 'blocks'-th block from here, at
    // position 'last' of it; Boost refills only when a number is asked for,
    // so the state is that block with every number up to 'last' used.
    const std::uint64_t later = count - left;
    const std::uint64_t blocks = (later - 1) / k_n + 1;
    const std::uint32_t last = static_cast<std::uint32_t>(later - (blocks - 1) * k_n);
    if (blocks >= k_jumpFromBlocks && isExact()) {
        jumpBlocks(blocks, jumps);
    } else {
        for (std::uint64_t b = 0; b < blocks; ++b) {
            refill();
        }
    }
    d_next = last;
}

void LaggedFibonacci607::drawThrough(std::uint64_t count) {
    for (; count > 0; --count) {
        (*this)();
    }
}

void LaggedFibonacci607::jumpBlocks(std::uint64_t blocks, FibonacciJumps* jumps) {
    FibonacciBlock terms;
    for (std::size_t j = 0; j < k_n; ++j) {
        terms[j] = static_cast<std::uint64_t>(d_block[j] * k_scale);
    }
    const std::uint64_t steps = blocks * k_n;
    const FibonacciBlock jumped = jumps ? applyFibonacciJump(terms, jumps->polynomial(steps))
                                        : jumpFibonacciBlock(terms, steps);
    for (std::size_t j = 0; j < k_n; ++j) {
        d_block[j] = static_cast<double>(jumped[j]) / k_scale;
    }
}

bool LaggedFibonacci607::isExact() const {
    for (const double value : d_block) {
        const double scaled = value * k_scale;
        if (!(scaled >= 0.0 && scaled < k_scale && scaled == std::floor(scaled)) ||
            std::signbit(value)) {
            return false;
        }
    }
    return true;
}

LaggedFibonacci607::Boost LaggedFibonacci607::toBoost() const {
    return boostFromText(stateText(d_next, d_block, isExact()));
}

bool LaggedFibonacci607::operator==(const LaggedFibonacci607& other) const {
    return d_next == other.d_next && std::equal(d_block, d_block + k_n, other.d_block);
}

bool operator==(const LaggedFibonacci607& lhs, const LaggedFibonacci607::Boost& rhs) {
    return lhs.toBoost() == rhs;
}

} // namespace psex
