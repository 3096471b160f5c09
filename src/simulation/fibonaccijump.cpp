// fibonaccijump.cpp                                              -*-C++-*-
#include "simulation/fibonaccijump.h"

#include <algorithm>
#include <bit>

namespace psex {

namespace {

constexpr std::size_t k_n = k_fibonacciLongLag;
constexpr std::size_t k_wide = 2 * k_n - 1;

using Wide = std::array<std::uint64_t, k_wide>;

// Fold the terms of degree 607 and above of the specified 'wide' polynomial
// back with z^607 = z^334 + 1 (that is, z^k = z^(k - 273) + z^(k - 607)),
// from the top down, and store the result in 'out'.
void reduce(Wide& wide, FibonacciBlock& out) {
    for (std::size_t k = k_wide - 1; k >= k_n; --k) {
        wide[k - k_fibonacciShortLag] += wide[k];
        wide[k - k_n] += wide[k];
    }
    std::copy(wide.begin(), wide.begin() + k_n, out.begin());
}

// Karatsuba's step: with a = a0 + z^h a1 and b = b0 + z^h b1, 'out' holds
// a0 b0 in its first 2h - 1 terms and a1 b1 from term 2h on, and 'middle'
// holds (a0 + a1)(b0 + b1) (2h - 1 terms, spoiled here); add the cross
// terms a0 b1 + a1 b0 = middle - a0 b0 - a1 b1 at z^h.  'high' is the
// number of terms of a1 and b1.
void addCrossTerms(std::uint64_t* out, std::uint64_t* middle, std::size_t h, std::size_t high) {
    for (std::size_t i = 0; i < 2 * h - 1; ++i) {
        middle[i] -= out[i];
    }
    for (std::size_t i = 0; i < 2 * high - 1; ++i) {
        middle[i] -= out[2 * h + i];
    }
    for (std::size_t i = 0; i < 2 * h - 1; ++i) {
        out[h + i] += middle[i];
    }
}

// The scratch space 'multiply' and 'square' need for 607 terms, in words:
// each level takes less than four times its half, and the halves shrink.
constexpr std::size_t k_scratch = 8 * k_n;

// Write to 'out' (2 * count - 1 terms) the product of the polynomials 'a'
// and 'b' of 'count' terms: Karatsuba down to small blocks, whose products
// are formed directly, with temporaries in 'scratch'.  All arithmetic wraps
// mod 2^64.
void multiply(const std::uint64_t* a, const std::uint64_t* b, std::size_t count, std::uint64_t* out,
              std::uint64_t* scratch) {
    if (count <= 32) {
        std::fill(out, out + 2 * count - 1, 0);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t ai = a[i];
            std::uint64_t* row = out + i;
            for (std::size_t j = 0; j < count; ++j) {
                row[j] += ai * b[j];
            }
        }
        return;
    }
    const std::size_t h = (count + 1) / 2;
    const std::size_t high = count - h;
    std::uint64_t* sumA = scratch;
    std::uint64_t* sumB = sumA + h;
    std::uint64_t* middle = sumB + h;
    std::uint64_t* deeper = middle + 2 * h - 1;
    for (std::size_t i = 0; i < h; ++i) {
        sumA[i] = a[i] + (i < high ? a[h + i] : 0);
        sumB[i] = b[i] + (i < high ? b[h + i] : 0);
    }
    multiply(a, b, h, out, deeper);
    out[2 * h - 1] = 0;
    multiply(a + h, b + h, high, out + 2 * h, deeper);
    multiply(sumA, sumB, h, middle, deeper);
    addCrossTerms(out, middle, h, high);
}

// Write to 'out' the square of the polynomial 'a' of 'count' terms:
// 'multiply' with a = b, where each product of two different coefficients
// is formed once and doubled.
void square(const std::uint64_t* a, std::size_t count, std::uint64_t* out, std::uint64_t* scratch) {
    if (count <= 32) {
        std::fill(out, out + 2 * count - 1, 0);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t twice = 2 * a[i];
            std::uint64_t* row = out + i;
            for (std::size_t j = i + 1; j < count; ++j) {
                row[j] += twice * a[j];
            }
            out[2 * i] += a[i] * a[i];
        }
        return;
    }
    const std::size_t h = (count + 1) / 2;
    const std::size_t high = count - h;
    std::uint64_t* sum = scratch;
    std::uint64_t* middle = sum + h;
    std::uint64_t* deeper = middle + 2 * h - 1;
    for (std::size_t i = 0; i < h; ++i) {
        sum[i] = a[i] + (i < high ? a[h + i] : 0);
    }
    square(a, h, out, deeper);
    out[2 * h - 1] = 0;
    square(a + h, high, out + 2 * h, deeper);
    square(sum, h, middle, deeper);
    addCrossTerms(out, middle, h, high);
}

// Replace 'poly' (reduced) by its square modulo f.
void squareModulo(FibonacciBlock& poly) {
    Wide wide;
    std::array<std::uint64_t, k_scratch> scratch;
    square(poly.data(), k_n, wide.data(), scratch.data());
    reduce(wide, poly);
}

// Replace 'poly' (reduced) by z times it modulo f.
void timesZModulo(FibonacciBlock& poly) {
    const std::uint64_t top = poly[k_n - 1];
    std::copy_backward(poly.begin(), poly.end() - 1, poly.end());
    poly[0] = top;
    poly[k_n - k_fibonacciShortLag] += top;
}

} // namespace

FibonacciBlock fibonacciJumpPolynomial(std::uint64_t steps) {
    // Left to right over the bits of 'steps': the leading bits, while the
    // power stays below 2^10 > 2 * 607, give a monomial directly; each
    // further bit squares, and a set bit multiplies by z.
    const int bits = std::bit_width(steps);
    const int leading = std::min(bits, 10);
    int next = bits - leading;
    Wide wide{};
    wide[static_cast<std::size_t>(steps >> next)] = 1;
    FibonacciBlock poly;
    reduce(wide, poly);
    while (next-- > 0) {
        squareModulo(poly);
        if ((steps >> next) & 1) {
            timesZModulo(poly);
        }
    }
    for (std::uint64_t& c : poly) {
        c &= k_fibonacciModulusMask;
    }
    return poly;
}

void advanceFibonacciBlock(FibonacciBlock& block) {
    for (std::size_t j = 0; j < k_fibonacciShortLag; ++j) {
        block[j] = (block[j] + block[j + k_n - k_fibonacciShortLag]) & k_fibonacciModulusMask;
    }
    for (std::size_t j = k_fibonacciShortLag; j < k_n; ++j) {
        block[j] = (block[j] + block[j - k_fibonacciShortLag]) & k_fibonacciModulusMask;
    }
}

FibonacciBlock jumpFibonacciBlock(const FibonacciBlock& block, std::uint64_t steps) {
    return applyFibonacciJump(block, fibonacciJumpPolynomial(steps));
}

FibonacciBlock applyFibonacciJump(const FibonacciBlock& block, const FibonacciBlock& polynomial) {
    // X[n + steps + s] = sum_j c_j X[n + j + s] for s = 0 .. 606 needs the
    // terms X[n] .. X[n + 1212]: this block and the next.  With the
    // coefficients reversed, c'_k = c_(606 - k), the sum is the coefficient
    // 606 + s of the product c' * X, formed half of X at a time.
    FibonacciBlock reversed;
    std::reverse_copy(polynomial.begin(), polynomial.end(), reversed.begin());
    FibonacciBlock following = block;
    advanceFibonacciBlock(following);
    Wide first;
    Wide second;
    std::array<std::uint64_t, k_scratch> scratch;
    multiply(reversed.data(), block.data(), k_n, first.data(), scratch.data());
    multiply(reversed.data(), following.data(), k_n, second.data(), scratch.data());
    FibonacciBlock result;
    result[0] = first[k_n - 1] & k_fibonacciModulusMask;
    for (std::size_t s = 1; s < k_n; ++s) {
        result[s] = (first[k_n - 1 + s] + second[s - 1]) & k_fibonacciModulusMask;
    }
    return result;
}

const FibonacciBlock& FibonacciJumps::polynomial(std::uint64_t steps) {
    auto found = d_polynomials.find(steps);
    if (found == d_polynomials.end()) {
        if (d_polynomials.size() >= k_capacity) {
            d_polynomials.clear();
        }
        found = d_polynomials.emplace(steps, fibonacciJumpPolynomial(steps)).first;
    }
    return found->second;
}

} // namespace psex
