// math.h                                                         -*-C++-*-
#ifndef PSEX_MATH_H
#define PSEX_MATH_H

// Purpose: the binomial arithmetic behind PSex.
//
// PSex is the upper tail of a binomial distribution: the chance that a
// genotype of probability g turns up n or more times among N sexually
// produced samples, 1 - sum_{i<n} c(N, i) g^i (1 - g)^(N - i).  The order of
// the floating-point operations is part of the result, because observed and
// simulated PSex values are later compared for equality.

#include <cstdint>

namespace psex {

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

double psexFromTermSum(double sum);
// Return PSex = 1 - S for the specified term sum S.  Rounding can carry S a
// little above 1; it is then taken as 1, and when it exceeds 1 by more than
// 1e-7 a warning with S to 12 significant digits goes to standard error
// (that precision stays set on the stream).

} // namespace psex

#endif
