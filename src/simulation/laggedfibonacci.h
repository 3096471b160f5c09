// laggedfibonacci.h                                              -*-C++-*-
#ifndef PSEX_LAGGEDFIBONACCI_H
#define PSEX_LAGGEDFIBONACCI_H

// Purpose: the program's random stream: exactly the numbers of Boost's
// 'lagged_fibonacci607', made faster and able to jump ahead.
//
// Every published simulation result depends on this stream, so it must stay
// Boost's to the last bit: the same recurrence x[n] = x[n - 607] +
// x[n - 273], minus 1 when the sum reaches 1, on the same 607 doubles, from
// the same default seed (331), handing the numbers out in the same order.
// Boost refills its block of 607 numbers with a branch on every number that
// the processor cannot predict; here the block is refilled two numbers at a
// time with SSE2 (part of every x86-64 processor) and without a branch: add,
// compare, subtract 1 or 0.  Subtracting 0 leaves any double as it is, so
// the bits are Boost's for every state, exact or not.  Where the processor
// has AVX (asked at run time, never assumed by the build), the same
// operations run four numbers at a time, with the same bits.
//
// Jumping ahead: the values of a seeded stream are multiples of 2^-48, and
// the recurrence is then exact integer arithmetic mod 2^48 (see
// fibonaccijump.h), so 'discard' moves the state over any number of draws
// at the cost of a few squarings.  Whether the state has that exactness is
// checked every time; a state that lacks it (one read from a stream, say)
// is drawn through instead, number by number.
//
// The state is Boost's: the block of 607 values and the position of the
// next number in it.  A generator converts to and from a Boost one, and two
// generators compare equal exactly when Boost's would.

#include <boost/random/lagged_fibonacci.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace psex {

class FibonacciJumps;

class LaggedFibonacci607 {
    // A value type: copy it to fork the stream.

  public:
    // TYPES
    using Boost = boost::random::lagged_fibonacci607;

    // CONSTANTS
    static constexpr std::size_t k_blockSize = 607;
    static constexpr std::uint64_t k_jumpFromBlocks = 512;
    // Below this many blocks drawing through is cheaper than a jump.

  private:
    // DATA
    alignas(16) double d_block[k_blockSize]; // the current block of the stream
    std::uint32_t d_next;                    // position of the next number; 607: used up

  public:
    // CREATORS
    LaggedFibonacci607();
    // Create a generator with Boost's default seed (331).

    explicit LaggedFibonacci607(const Boost& other);
    // Create a generator in the state of the specified 'other': it yields
    // the numbers that 'other' would yield.

    // MANIPULATORS
    double operator()() {
        // Return the next number of the stream, uniform in [0, 1).
        if (d_next >= k_blockSize) {
            refill();
        }
        return d_block[d_next++];
    }

    void take(double* out, std::size_t count) {
        // Store the next 'count' numbers of the stream in 'out'.  A caller's
        // own array lets its loop keep the position in a register.
        while (count > 0) {
            if (d_next >= k_blockSize) {
                refill();
            }
            const std::size_t now = std::min<std::size_t>(count, k_blockSize - d_next);
            std::copy(d_block + d_next, d_block + d_next + now, out);
            d_next += static_cast<std::uint32_t>(now);
            out += now;
            count -= now;
        }
    }

    const double* next(std::size_t count, double* buffer) {
        // Return the next 'count' numbers of the stream: in place when the
        // current block holds them all, else copied into the specified
        // 'buffer' of at least 'count' numbers.  The numbers stay valid
        // until the generator is used again.
        if (count <= k_blockSize - d_next) {
            const double* numbers = d_block + d_next;
            d_next += static_cast<std::uint32_t>(count);
            return numbers;
        }
        take(buffer, count);
        return buffer;
    }

    void discard(std::uint64_t count, FibonacciJumps* jumps = nullptr);
    // Advance the stream by the specified 'count' numbers, leaving the
    // state that drawing them one by one would leave.  An exact state (see
    // 'isExact') jumps, with the jump polynomials of the optionally
    // specified 'jumps' when given; any other state is drawn through.

    void drawThrough(std::uint64_t count);
    // Advance the stream by 'count' numbers by producing every block in
    // between.

    static bool useWideVectors(bool wide);
    // Refill blocks four numbers at a time with AVX if the specified 'wide'
    // is true and the processor has AVX, else two at a time with SSE2, and
    // return whether the wide form was in use.  The numbers are the same
    // either way; the program uses the wide form where it can, and tests
    // check both against Boost.

    // ACCESSORS
    bool isExact() const;
    // Return whether every value of the state is a multiple of 2^-48 in
    // [0, 1): the condition under which the stream is the integer
    // recurrence mod 2^48 and can jump.

    Boost toBoost() const;
    // Return a Boost generator in this state.

    bool operator==(const LaggedFibonacci607& other) const;
    // Return whether the two generators are in the same state (the same
    // position in equal blocks), as Boost's own comparison decides.

  private:
    void refill();
    void jumpBlocks(std::uint64_t blocks, FibonacciJumps* jumps);
};

bool operator==(const LaggedFibonacci607& lhs, const LaggedFibonacci607::Boost& rhs);
// Return whether the specified 'lhs' is in the state of the Boost generator
// 'rhs'.

} // namespace psex

#endif
