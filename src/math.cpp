// math.cpp                                                       -*-C++-*-
#include "math.h"

#include "contract.h"

#include <cmath>
#include <iomanip>
#include <iostream>

namespace psex {

double binomialCoefficient(std::uint32_t n, std::uint32_t k) {
    PSEX_ASSERT(n >= k);
    double r = 1.0;
    std::uint32_t a = n;
    std::uint32_t b = k;
    while (b != 0) {
        r = r * (static_cast<double>(a) / static_cast<double>(b));
        --a;
        --b;
    }
    return r;
}

double binomialTermSum(std::uint32_t sampleSize, std::uint32_t count, double pgen) {
    PSEX_ASSERT(count <= sampleSize);
    const double complement = 1.0 - pgen;
    double sum = 0.0;
    for (std::uint32_t i = count; i-- > 0;) {
        const double term = binomialCoefficient(sampleSize, i) *
                            std::pow(pgen, static_cast<double>(i)) *
                            std::pow(complement, static_cast<double>(sampleSize - i));
        if (!std::isfinite(term)) {
            return binomialTermSumInLogSpace(sampleSize, count, pgen);
        }
        sum += term;
    }
    return sum;
}

double binomialTermSumInLogSpace(std::uint32_t sampleSize, std::uint32_t count, double pgen) {
    PSEX_ASSERT(count <= sampleSize);
    if (count == 0) {
        return 0.0;
    }
    if (!(pgen > 0.0)) {
        return 1.0; // only the i = 0 term is left: 1 * 0^0 * 1^N
    }
    if (pgen >= 1.0) {
        return 0.0; // every term carries (1 - g)^(N - i) with N - i >= 1
    }
    const long double n = sampleSize;
    const long double logG = std::log(static_cast<long double>(pgen));
    const long double logComplement = std::log1p(-static_cast<long double>(pgen));
    const long double logGammaN = std::lgamma(n + 1.0L);
    long double sum = 0.0L;
    for (std::uint32_t i = count; i-- > 0;) {
        const long double k = i;
        const long double logTerm = logGammaN - std::lgamma(k + 1.0L) - std::lgamma(n - k + 1.0L) +
                                    k * logG + (n - k) * logComplement;
        sum += std::exp(logTerm);
    }
    return static_cast<double>(sum);
}

double psexFromTermSum(double sum) {
    if (sum > 1.0) {
        if (sum - 1.0 > 1e-07) {
            std::cerr << "Warning: rounded " << std::setprecision(12) << sum << " to 1.0."
                      << std::endl;
        }
        sum = 1.0;
    }
    return 1.0 - sum;
}

} // namespace psex
