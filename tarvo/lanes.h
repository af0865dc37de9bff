#ifndef TARVO_LANES_H
#define TARVO_LANES_H

// The genotype products of one observation, the costly part of scoring. The
// body is compiled twice, for the baseline processor and for AVX2, so it
// has internal linkage: each build keeps its own copy.

#include <cstring>
#ifdef __AVX2__
#include <immintrin.h>
#endif

#include "tarvo/likelihood.h"

namespace {

// Four lanes of doubles and of their bits. Without AVX the compiler splits
// each operation into two SSE2 ones; either way every lane's product is the
// same single rounded multiplication.
typedef double v4 __attribute__((vector_size(32)));
typedef long long m4 __attribute__((vector_size(32)));

// The probability of the observed allele given table entry t; the order of
// the operations fixes the rounding of every result. For a double, lane by
// lane for four, or under the NaN rule (tarvo/nanrule.h).
template <typename T>
inline T site(T t, T e)
{
    return (1.0 - (e * 3.0) * 0.25) * t + ((1.0 - t) * e) * 0.25;
}

// f[i * 4 + j] = the product over the observed sites of the probability of
// the observed allele given genotype (i, j).
//
// The table holds only 0, 1/2 and 1, so a site has at most three distinct
// probabilities. They are computed once per site, and each genotype picks
// its own by bit masks: the same operations on the same operands as
// evaluating the site probability per genotype. With one copy the lanes
// j > 0 are computed and unused.
inline void lanes(const double *table, int numalleles, const int *codes, const double *eps,
                  double *f)
{
    v4 acc[4];
    for (auto &q : acc)
        q = (v4){1.0, 1.0, 1.0, 1.0};
#ifdef __AVX2__
    // The three probabilities side by side in one vector, computed lane by
    // lane with the same operations, and each lane of a row picks its own
    // with one permutation: index pairs select the 32-bit halves of the
    // wanted double.
    m4 pick[4][4];
    for (int k = 0; k < 4; k++)
        for (int q = 0; q < 4; q++) {
            v4 t;
            memcpy(&t, table + k * 16 + q * 4, sizeof t);
            m4 c = (2 * ((t == 0.5) & 1)) + (4 * ((t == 1.0) & 1)); // 2 * class
            pick[k][q] = c | ((c + 1) << 32);
        }
    const v4 t = {0.0, 0.5, 1.0, 1.0};
    for (int s = 0; s < numalleles; s++) {
        int k = codes[s];
        if (k == MISSING)
            continue;
        v4 e = {eps[s], eps[s], eps[s], eps[s]};
        v4 p = site(t, e);
        for (int q = 0; q < 4; q++)
            acc[q] = acc[q] * (v4)_mm256_permutevar8x32_epi32((__m256i)p, (__m256i)pick[k][q]);
    }
#else
    m4 half[4][4], one[4][4];
    for (int k = 0; k < 4; k++)
        for (int q = 0; q < 4; q++) {
            v4 t;
            memcpy(&t, table + k * 16 + q * 4, sizeof t);
            half[k][q] = t == 0.5;
            one[k][q] = t == 1.0;
        }
    for (int s = 0; s < numalleles; s++) {
        int k = codes[s];
        if (k == MISSING)
            continue;
        double e = eps[s];
        double p0 = site(0.0, e), ph = site(0.5, e), p1 = site(1.0, e);
        v4 v0 = {p0, p0, p0, p0}, vh = {ph, ph, ph, ph}, v1 = {p1, p1, p1, p1};
        for (int q = 0; q < 4; q++)
            acc[q] = acc[q] * (one[k][q] ? v1 : half[k][q] ? vh : v0);
    }
#endif
    memcpy(f, acc, sizeof acc);
}

} // namespace

#endif
