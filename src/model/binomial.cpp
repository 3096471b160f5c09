// binomial.cpp                                                   -*-C++-*-
#include "model/binomial.h"

#include "base/contract.h"
#include "base/messagesink.h"

#include <math.h>

#include <algorithm>
#include <cmath>
#include <cstring>

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

namespace {

// One term c(N, i) g^i (1 - g)^(N - i) of the direct formula.  Every caller
// forms the terms here, so cached and fresh terms agree to the bit.
double directTerm(double coefficient, std::uint32_t sampleSize, std::uint32_t i, double pgen,
                  double complement) {
    return coefficient * std::pow(pgen, static_cast<double>(i)) *
           std::pow(complement, static_cast<double>(sampleSize - i));
}

// Return log |Gamma(x)|.  The reentrant form gives the same value as
// 'lgammal' without writing the process-wide 'signgam', which simulations
// on several threads would otherwise all write at once.
long double logGamma(long double x) {
    int sign;
    return ::lgammal_r(x, &sign);
}

// The logarithms that every log-space term of one g and one N shares.
struct LogSpaceBase {
    long double n;
    long double logG;
    long double logComplement;
    long double logGammaN;

    LogSpaceBase(std::uint32_t sampleSize, double pgen)
        : n(sampleSize), logG(std::log(static_cast<long double>(pgen))),
          logComplement(std::log1p(-static_cast<long double>(pgen))),
          logGammaN(logGamma(n + 1.0L)) {}

    long double term(std::uint32_t i) const {
        const long double k = i;
        return std::exp(logGammaN - logGamma(k + 1.0L) - logGamma(n - k + 1.0L) + k * logG +
                        (n - k) * logComplement);
    }
};

// The sum of a log-space form whose g is 0 or 1 or more, or -1 when g lies
// strictly between 0 and 1 and the terms must be added up.
double edgeLogSpaceSum(double pgen) {
    if (!(pgen > 0.0)) {
        return 1.0; // only the i = 0 term is left: 1 * 0^0 * 1^N
    }
    if (pgen >= 1.0) {
        return 0.0; // every term carries (1 - g)^(N - i) with N - i >= 1
    }
    return -1.0;
}

} // namespace

double binomialTermSum(std::uint32_t sampleSize, std::uint32_t count, double pgen) {
    PSEX_ASSERT(count <= sampleSize);
    const double complement = 1.0 - pgen;
    double sum = 0.0;
    for (std::uint32_t i = count; i-- > 0;) {
        const double term =
            directTerm(binomialCoefficient(sampleSize, i), sampleSize, i, pgen, complement);
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
    const double edge = edgeLogSpaceSum(pgen);
    if (edge >= 0.0) {
        return edge;
    }
    const LogSpaceBase base(sampleSize, pgen);
    long double sum = 0.0L;
    for (std::uint32_t i = count; i-- > 0;) {
        sum += base.term(i);
    }
    return static_cast<double>(sum);
}

BinomialTail::BinomialTail(std::uint32_t sampleSize) : d_sampleSize(sampleSize) {}

bool BinomialTail::extendCoefficients(std::uint32_t count) {
    while (!d_coefficientOverflow && d_coefficients.size() < count) {
        const double c =
            binomialCoefficient(d_sampleSize, static_cast<std::uint32_t>(d_coefficients.size()));
        if (!std::isfinite(c)) {
            d_coefficientOverflow = true;
        } else {
            d_coefficients.push_back(c);
        }
    }
    return d_coefficients.size() >= count;
}

BinomialTail::Terms& BinomialTail::termsFor(double pgen) {
    std::uint64_t key;
    static_assert(sizeof key == sizeof pgen);
    std::memcpy(&key, &pgen, sizeof key);
    if (d_cachedTerms > k_cacheLimit) {
        d_terms.clear();
        d_cachedTerms = 0;
    }
    return d_terms[key];
}

double BinomialTail::termSum(std::uint32_t count, double pgen) {
    PSEX_ASSERT(count <= d_sampleSize);
    if (count <= k_uncachedCount) {
        return binomialTermSum(d_sampleSize, count, pgen);
    }
    Terms& terms = termsFor(pgen);
    if (extendCoefficients(count) && terms.firstNonFinite >= count) {
        const double complement = 1.0 - pgen;
        while (terms.direct.size() < count && terms.firstNonFinite == k_none) {
            const std::uint32_t i = static_cast<std::uint32_t>(terms.direct.size());
            const double term = directTerm(d_coefficients[i], d_sampleSize, i, pgen, complement);
            if (!std::isfinite(term)) {
                terms.firstNonFinite = i;
                break;
            }
            terms.direct.push_back(term);
            ++d_cachedTerms;
        }
        if (terms.firstNonFinite >= count) {
            double sum = 0.0;
            for (std::uint32_t i = count; i-- > 0;) {
                sum += terms.direct[i];
            }
            return sum;
        }
    }

    // Some direct term is not finite: the whole sum in log space.
    const double edge = edgeLogSpaceSum(pgen);
    if (edge >= 0.0) {
        return edge;
    }
    if (terms.logSpace.size() < count) {
        const LogSpaceBase base(d_sampleSize, pgen);
        while (terms.logSpace.size() < count) {
            terms.logSpace.push_back(base.term(static_cast<std::uint32_t>(terms.logSpace.size())));
            ++d_cachedTerms;
        }
    }
    long double sum = 0.0L;
    for (std::uint32_t i = count; i-- > 0;) {
        sum += terms.logSpace[i];
    }
    return static_cast<double>(sum);
}

namespace {

// Return log c(N, m), accurate to a few units of the last place of a long
// double's mantissa even where c(N, m) overflows every floating type.
long double logBinomialCoefficient(std::uint32_t sampleSize, std::uint32_t count) {
    const std::uint32_t m = std::min(count, sampleSize - count); // c(N, m) = c(N, N - m)
    constexpr std::uint32_t k_summedUpTo = 100000;
    if (m > k_summedUpTo) {
        const long double n = sampleSize;
        const long double k = m;
        return logGamma(n + 1.0L) - logGamma(k + 1.0L) - logGamma(n - k + 1.0L);
    }
    // log of the product of (N - m + k) / k for k = 1 ... m: every factor
    // is exact to the last place, and so is the sum of a few logarithms.
    long double sum = 0.0L;
    for (std::uint32_t k = 1; k <= m; ++k) {
        sum += std::log(static_cast<long double>(sampleSize - m + k) / static_cast<long double>(k));
    }
    return sum;
}

} // namespace

double binomialUpperTail(std::uint32_t sampleSize, std::uint32_t count, double pgen) {
    PSEX_ASSERT(count <= sampleSize);
    if (count == 0 || pgen >= 1.0) {
        return 1.0; // every outcome is at least 0; or the genotype is certain
    }
    if (!(pgen > 0.0)) {
        return 0.0; // the genotype never arises
    }
    const long double g = pgen;
    const long double logFirst = logBinomialCoefficient(sampleSize, count) +
                                 static_cast<long double>(count) * std::log(g) +
                                 static_cast<long double>(sampleSize - count) * std::log1p(-g);
    long double term = std::exp(logFirst);
    long double sum = term;
    const long double odds = g / (1.0L - g);
    for (std::uint32_t i = count; i < sampleSize; ++i) {
        const long double ratio =
            static_cast<long double>(sampleSize - i) / static_cast<long double>(i + 1) * odds;
        term *= ratio;
        sum += term;
        // Past the mode the terms fall at least geometrically: once one no
        // longer changes the sum, none after it will.
        if (ratio < 1.0L && term <= sum * 1e-21L) {
            break;
        }
    }
    return static_cast<double>(sum);
}

double psexOf(std::uint32_t sampleSize, std::uint32_t count, double pgen, double sum,
              MessageSink& messages) {
    const double psex = psexFromTermSum(sum, messages);
    if (sum > 1.0 - k_directTailBelow) {
        return binomialUpperTail(sampleSize, count, pgen);
    }
    return psex;
}

double BinomialTail::psex(std::uint32_t count, double pgen, double sum, MessageSink& messages) {
    const double fromSum = psexFromTermSum(sum, messages);
    if (!(sum > 1.0 - k_directTailBelow)) {
        return fromSum;
    }
    Terms& terms = termsFor(pgen);
    const auto known = terms.upperTails.find(count);
    if (known != terms.upperTails.end()) {
        return known->second;
    }
    const double tail = binomialUpperTail(d_sampleSize, count, pgen);
    terms.upperTails.emplace(count, tail);
    ++d_cachedTerms;
    return tail;
}

bool psexWarns(double sum) {
    return sum > 1.0 && sum - 1.0 > 1e-07;
}

double psexFromTermSum(double sum, MessageSink& messages) {
    if (sum > 1.0) {
        if (psexWarns(sum)) {
            messages.error("Warning: rounded " + formatNumber(sum, 12) + " to 1.0.");
        }
        sum = 1.0;
    }
    return 1.0 - sum;
}

} // namespace psex
