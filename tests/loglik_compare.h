#ifndef TESTS_LOGLIK_COMPARE_H
#define TESTS_LOGLIK_COMPARE_H

// Shared by the log output's unit tests and its fuzz target: what the
// scaled genotype products and the logarithms must keep on one observation.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "tarvo/likelihood.h"
#include "tarvo/loglik.h"
#include "tarvo/products.h"
#include "tests/literal_score.h"
#include "tests/util.h"

struct loglik_verdict {
    std::string error; // the first property broken, empty if none
    bool compared;     // the logs were held against the default's values
    double worst;      // the largest |difference| found then
};

// On one observation (score_observation's arguments):
// - the default products computed beside the scaled ones are the default
//   products in both builds;
// - both builds of the scaled products agree, where the processor runs
//   AVX2; which of two NaNs a product keeps depends on the order the
//   compiler puts the operands in, so NaNs agree as NaNs;
// - wherever the plain product is a normal double, the scaled product
//   keeps its digits, m in [1, 2) unless zero;
// - with frequencies and error rates in [0, 1], no logarithm is NaN and,
//   wherever every default value is a normal double, each logarithm is
//   that of the default value.
// Bit for bit, but NaNs as NaNs: which of two a product keeps depends on
// the order the compiler puts the operands in, and the NaN rule decides
// what a NaN likelihood prints.
inline bool same_or_nan(double a, double b)
{
    return bits(a) == bits(b) || (std::isnan(a) && std::isnan(b));
}

inline loglik_verdict loglik_compare(const double *table, int ploidy, int n, const int *codes,
                                     const double *eps, const double *F)
{
    loglik_verdict v{"", false, 0};
    char what[160] = "";
    double beside[16], beside2[16], want[16], want2[16], m[16], m2[16];
    long long x[16], x2[16];
    log_products_plain(table, n, codes, eps, beside, m, x);
    products_plain(table, n, codes, eps, want);
#if defined(__x86_64__)
    const bool avx2 = isa_supported(isa::avx2);
    if (avx2) {
        log_products_avx2(table, n, codes, eps, beside2, m2, x2);
        products_avx2(table, n, codes, eps, want2);
    }
#else
    const bool avx2 = false; // the AVX2 build is an x86-64 one
#endif
    for (int g = 0; g < 16 && !what[0]; g++) {
        bool normal;
        double f = literal_product<double>(table, g / 4, g % 4, n, codes, eps, &normal);
        if (!same_or_nan(beside[g], want[g]) || (avx2 && !same_or_nan(beside2[g], want2[g])))
            snprintf(what, sizeof what, "genotype %d: the default product %a, beside the scaled %a",
                     g, want[g], beside[g]);
        else if (avx2 && !(std::isnan(m[g]) && std::isnan(m2[g])) &&
            (bits(m[g]) != bits(m2[g]) || x[g] != x2[g]))
            snprintf(what, sizeof what, "genotype %d: the builds differ: %a * 2^%lld, %a * 2^%lld",
                     g, m[g], x[g], m2[g], x2[g]);
        else if (normal && !(m[g] == 0 || (std::fabs(m[g]) >= 1 && std::fabs(m[g]) < 2)))
            snprintf(what, sizeof what, "genotype %d: scaled %a, not in [1, 2)", g, m[g]);
        else if (normal && bits(f) != bits(std::ldexp(m[g], (int)x[g])))
            snprintf(what, sizeof what, "genotype %d: %a * 2^%lld, want %a", g, m[g], x[g], f);
    }

    bool in_range = true, normal = true;
    for (int k = 0; k < 8; k++)
        in_range &= F[k] >= 0 && F[k] <= 1;
    for (int g = 0; g < n; g++)
        in_range &= eps[g] >= 0 && eps[g] <= 1;
    const int ns = nstates(ploidy);
    // Scored whatever the inputs, for the sanitizers to watch.
    double L[3], lnL[3];
    score_observation(table, ploidy, n, codes, eps, F, L);
    log_observation(table, ploidy, n, codes, eps, F, lnL);
    if (!what[0] && in_range) {
        for (int s = 0; s < ns; s++) {
            normal &= std::isnormal(L[s]);
            if (std::isnan(lnL[s]) && !what[0])
                snprintf(what, sizeof what, "state %d: log nan, of %a", s, L[s]);
        }
        v.compared = normal && !what[0];
    }
    for (int s = 0; v.compared && s < ns; s++) {
        double d = std::fabs(lnL[s] - std::log(L[s]));
        v.worst = std::max(v.worst, d);
        if (!(d <= 1e-9) && !what[0])
            snprintf(what, sizeof what, "state %d: log %.17g, of %a", s, lnL[s], L[s]);
    }
    v.error = what;
    return v;
}

#endif
