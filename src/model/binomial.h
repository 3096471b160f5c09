// binomial.h                                                     -*-C++-*-
#ifndef PSEX_BINOMIAL_H
#define PSEX_BINOMIAL_H

// Purpose: the binomial arithmetic behind PSex.
//
// PSex is the upper tail of a binomial distribution: the chance that a
// genotype of probability g turns up n or more times among N sexually
// produced samples, 1 - sum_{i<n} c(N, i) g^i (1 - g)^(N - i).  The order of
// the floating-point operations is part of the result, because observed and
// simulated PSex values are later compared for equality.

#include <cstdint>
#include <limits>
#include <unordered_map>
#include <vector>

namespace psex {

class MessageSink;

double binomialCoefficient(std::uint32_t n, std::uint32_t k);
// Return c(n, k) as the running product (n / k) * ((n - 1) / (k - 1)) * ...
// * ((n - k + 1) / 1), each quotient taken in double before it is multiplied
// in.  No factorial is formed, so no integer overflows; for large 'n' the
// result may be infinite.  The behaviour is undefined unless 'n >= k'.

double binomialTermSum(std::uint32_t sampleSize, std::uint32_t count, double pgen);
// Return S = sum of c(N, i) g^i (1 - g)^(N - i) for i from 'count' - 1 down
// to 0, with N the specified 'sampleSize' and g the specified 'pgen', so
// that PSex = 1 - S.  While every term is finite the terms are formed
// directly (running-product coefficient, 'std::pow' with 0^0 = 1) and added
// in that order.  For large N the coefficient overflows while g^i
// underflows, and the direct term is not a number; the whole sum is then
// formed in log space in extended precision instead, accurate to about
// 1e-13 relative.  The behaviour is undefined unless 'count <= sampleSize'.

double binomialTermSumInLogSpace(std::uint32_t sampleSize, std::uint32_t count, double pgen);
// Return the sum of 'binomialTermSum' with every term formed as
// exp(log c(N, i) + i log g + (N - i) log(1 - g)) in long double, the log of
// the coefficient from 'lgammal'.  A 'pgen' of 0 gives 1 (only the i = 0
// term, 0^0 = 1); a 'pgen' of 1 or more gives 0.

class BinomialTail {
    // The sums of 'binomialTermSum' for one sample size N and many genotype
    // probabilities and counts, the same to the bit, but without forming the
    // same coefficient or term twice.  Simulations meet the same genotype
    // probability again and again (the same genotype drawn in many data
    // sets), so the terms are kept per probability, within a memory bound.

    static constexpr std::uint32_t k_none = std::numeric_limits<std::uint32_t>::max();
    static constexpr std::uint32_t k_uncachedCount = 4;   // cheaper to form afresh
    static constexpr std::size_t k_cacheLimit = 1u << 20; // terms kept at most

    struct Terms {
        std::vector<double> direct;            // terms 0, 1, ... while finite
        std::uint32_t firstNonFinite = k_none; // index of the first direct term that is not
        std::vector<long double> logSpace;     // terms 0, 1, ... in log-space form
        std::unordered_map<std::uint32_t, double> upperTails; // by count, where PSex is small
    };

    // DATA
    std::uint32_t d_sampleSize;
    std::vector<double> d_coefficients;               // c(N, 0), c(N, 1), ... while finite
    bool d_coefficientOverflow = false;               // the next coefficient is infinite
    std::unordered_map<std::uint64_t, Terms> d_terms; // by the bits of g
    std::size_t d_cachedTerms = 0;

  public:
    // CREATORS
    explicit BinomialTail(std::uint32_t sampleSize);
    // Create a calculator for the specified 'sampleSize' N.

    // MANIPULATORS
    double termSum(std::uint32_t count, double pgen);
    // Return 'binomialTermSum(N, count, pgen)'.  The behaviour is undefined
    // unless 'count <= N'.

    double psex(std::uint32_t count, double pgen, double sum, MessageSink& messages);
    // Return 'psexOf(N, count, pgen, sum, messages)' for the specified
    // 'sum' of 'termSum(count, pgen)', the direct upper tails kept with the
    // terms.

  private:
    bool extendCoefficients(std::uint32_t count);
    Terms& termsFor(double pgen);
};

double binomialUpperTail(std::uint32_t sampleSize, std::uint32_t count, double pgen);
// Return the upper tail sum of c(N, i) g^i (1 - g)^(N - i) for i from the
// specified 'count' n up to the 'sampleSize' N, with g the specified 'pgen',
// added term by term from i = n in extended precision: the first term in
// log space, each next one from the one before by the ratio
// (N - i) / (i + 1) * g / (1 - g), until the terms no longer count.  Where
// PSex is small this is the accurate way: 1 - S loses every digit once the
// lower sum S is within a few units of the last place of 1.  The result is
// 0 only where the tail is below the smallest positive double.  The
// behaviour is undefined unless 'count <= sampleSize'.

constexpr double k_directTailBelow = 1e-5;
// PSex below this value (a lower sum S above 1 - k_directTailBelow) is taken
// from 'binomialUpperTail' instead of 1 - S.

double psexOf(std::uint32_t sampleSize, std::uint32_t count, double pgen, double sum,
              MessageSink& messages);
// Return the PSex of a genotype of the specified 'pgen' seen 'count' times
// among 'sampleSize' samples, whose lower term sum (from
// 'binomialTermSum') is the specified 'sum': 1 - S where that is at least
// 'k_directTailBelow' (the arithmetic of 'psexFromTermSum', warning
// included), and the direct upper tail where it is smaller.

bool psexWarns(double sum);
// Return whether 'psexFromTermSum' warns about the specified term sum.

double psexFromTermSum(double sum, MessageSink& messages);
// Return PSex = 1 - S for the specified term sum S.  Rounding can carry S a
// little above 1; it is then taken as 1, and when it exceeds 1 by more than
// 1e-7 a warning with S to 12 significant digits goes to the error channel
// of the specified 'messages'.

} // namespace psex

#endif
