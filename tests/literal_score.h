#ifndef TESTS_LITERAL_SCORE_H
#define TESTS_LITERAL_SCORE_H

// The scoring rules read literally, the reference for the scoring core and
// for the plain build of the whole program: every genotype, every site, a
// table lookup and each operation of the site probability one at a time.
// table is [k][i][j], F is [population][allele].
//
// Each operation follows the NaN rule (tarvo/nanrule.h), applied as the
// formulas are written: with plain doubles, which NaN survives would be the
// compiler's choice (on NaN-heavy input gcc -O2 follows the written order
// and -O3 does not) and the processor's.

#include <cmath>

#include "tarvo/nanrule.h"

// The product over the observed sites of genotype (i, j)'s site
// probabilities. With normal given, it also tells whether every running
// product stayed a normal double or became exactly zero through a zero
// factor.
template <typename T>
T literal_product(const double *table, int i, int j, int n, const int *codes,
                  const double *eps, bool *normal = nullptr)
{
    T f = 1.0;
    if (normal)
        *normal = true;
    for (int g = 0; g < n; g++) {
        if (codes[g] == 5)
            continue;
        T t = table[codes[g] * 16 + i * 4 + j], e = eps[g];
        T a = e * 3.0;
        a = a * 0.25;
        a = 1.0 - a;
        a = a * t;
        T b = 1.0 - t;
        b = b * e;
        b = b * 0.25;
        T q = a + b, next = f * q;
        if (normal) {
            double x = static_cast<double>(next);
            *normal &= std::isnormal(x) || (x == 0 && (static_cast<double>(f) == 0 ||
                                                       static_cast<double>(q) == 0));
        }
        f = next;
    }
    return f;
}

inline void literal_score(const double *table, int ploidy, int n, const int *codes,
                          const double *eps, const double *F, double *L)
{
    int ns = ploidy == 2 ? 3 : 2;
    ruled R[3];
    for (int s = 0; s < ns; s++)
        R[s] = 0.0;
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < (ploidy == 2 ? 4 : 1); j++) {
            ruled f = literal_product<ruled>(table, i, j, n, codes, eps);
            ruled w[3] = {};
            if (ploidy == 2) {
                w[0] = ruled(F[j]) * F[i];
                w[1] = ruled(F[i]) * F[4 + j];
                w[2] = ruled(F[4 + j]) * F[4 + i];
            } else {
                w[0] = F[i];
                w[1] = F[4 + i];
            }
            for (int s = 0; s < ns; s++)
                R[s] = w[s] * f + R[s];
        }
    for (int s = 0; s < ns; s++)
        L[s] = static_cast<double>(R[s]);
}

#endif
