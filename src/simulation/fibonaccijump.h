// fibonaccijump.h                                                -*-C++-*-
#ifndef PSEX_FIBONACCIJUMP_H
#define PSEX_FIBONACCIJUMP_H

// Purpose: move the lagged Fibonacci sequence of the random stream forward
// by any number of terms without producing the terms in between.
//
// The random stream is the sequence x[n] = x[n - 607] + x[n - 273] mod 1.
// Its values are multiples of 2^-48, so with X[n] = x[n] * 2^48 it is the
// sequence X[n] = X[n - 607] + X[n - 273] over the integers mod 2^48: a
// linear recurrence whose characteristic polynomial is
// f(z) = z^607 - z^334 - 1.  When z^m = c_0 + c_1 z + ... + c_606 z^606
// modulo f (coefficients mod 2^48), every term m places ahead is the same
// combination of 607 consecutive terms: X[n + m] = sum_j c_j X[n + j].  The
// polynomial comes from about log2(m) squarings modulo f, each a few tens
// of thousands of integer multiplications, so a jump over 2^40 terms costs
// well under a millisecond where drawing through would take minutes.
//
// Integer arithmetic mod 2^64 wraps and agrees with arithmetic mod 2^48 in
// the low 48 bits, so everything is computed mod 2^64 and masked at the
// end: the results are exact on every machine.

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>

namespace psex {

constexpr std::size_t k_fibonacciLongLag = 607;
constexpr std::size_t k_fibonacciShortLag = 273;
constexpr std::uint64_t k_fibonacciModulusMask = (std::uint64_t(1) << 48) - 1;

using FibonacciBlock = std::array<std::uint64_t, k_fibonacciLongLag>;
// 607 consecutive terms of the integer sequence, each below 2^48.

FibonacciBlock fibonacciJumpPolynomial(std::uint64_t steps);
// Return the coefficients (mod 2^48, lowest first) of z^'steps' modulo
// f(z) = z^607 - z^334 - 1.

void advanceFibonacciBlock(FibonacciBlock& block);
// Replace the specified 'block' of 607 consecutive terms by the 607 terms
// that follow it.

FibonacciBlock jumpFibonacciBlock(const FibonacciBlock& block, std::uint64_t steps);
// Return the 607 consecutive terms that start the specified 'steps' places
// after the first term of the specified 'block'.  The behaviour is
// undefined unless every term of 'block' is below 2^48.

FibonacciBlock applyFibonacciJump(const FibonacciBlock& block, const FibonacciBlock& polynomial);
// Return the 607 consecutive terms that start m places after the first
// term of the specified 'block', where the specified 'polynomial' is
// 'fibonacciJumpPolynomial(m)'.

class FibonacciJumps {
    // The jump polynomials of the distances met so far.  Simulations on
    // several threads jump again and again over the same few distances (the
    // data sets other threads take in between); the squarings are then done
    // once per distance, and a jump costs only the combination of terms.

    static constexpr std::size_t k_capacity = 64; // polynomials kept at most

    // DATA
    std::map<std::uint64_t, FibonacciBlock> d_polynomials; // by distance

  public:
    // MANIPULATORS
    const FibonacciBlock& polynomial(std::uint64_t steps);
    // Return 'fibonacciJumpPolynomial(steps)', computed once.  The
    // reference is valid until the next call.
};

} // namespace psex

#endif
