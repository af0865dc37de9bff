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

// Sites whose probabilities are computed ahead, in one go.
enum { CHUNK = 64 };

// The probability of the observed allele given table entry t; the order of
// the operations fixes the rounding of every result. For a double, lane by
// lane for four, or under the NaN rule (tarvo/nanrule.h).
template <typename T>
inline T site(T t, T e)
{
    return (1.0 - (e * 3.0) * 0.25) * t + ((1.0 - t) * e) * 0.25;
}

#ifdef __AVX2__
// p[s] = {p(0), p(1/2), p(1), 1.0} for the error rates e[0..n), n at most
// CHUNK: the probabilities of a chunk of sites come first, four sites to a
// vector, each lane with the same operations as one site alone; a
// transposition then puts each site's three side by side. The fourth lane
// is what a site without an observation multiplies by.
inline void chunk_probs(const double *e, int n, v4 *p)
{
    const v4 zero = {0.0, 0.0, 0.0, 0.0}, half = {0.5, 0.5, 0.5, 0.5}, one = {1.0, 1.0, 1.0, 1.0};
    const v4 t = {0.0, 0.5, 1.0, 1.0};
    int s = 0;
    for (; s + 4 <= n; s += 4) {
        v4 x;
        memcpy(&x, e + s, sizeof x);
        __m256d a = (__m256d)site(zero, x), b = (__m256d)site(half, x);
        __m256d c = (__m256d)site(one, x), d = (__m256d)one;
        __m256d ab0 = _mm256_unpacklo_pd(a, b), ab1 = _mm256_unpackhi_pd(a, b);
        __m256d cd0 = _mm256_unpacklo_pd(c, d), cd1 = _mm256_unpackhi_pd(c, d);
        p[s] = (v4)_mm256_permute2f128_pd(ab0, cd0, 0x20);
        p[s + 1] = (v4)_mm256_permute2f128_pd(ab1, cd1, 0x20);
        p[s + 2] = (v4)_mm256_permute2f128_pd(ab0, cd0, 0x31);
        p[s + 3] = (v4)_mm256_permute2f128_pd(ab1, cd1, 0x31);
    }
    for (; s < n; s++) {
        v4 x = {e[s], e[s], e[s], e[s]};
        p[s] = site(t, x);
        p[s][3] = 1.0;
    }
}
#endif

// Which of a site's three values, held as {p(0), p(1/2), p(1), p(1)},
// lane l of row r takes when the site shows allele k: the table holds
// only 0, 1/2 and 1.
struct picks {
#ifdef __AVX2__
    // Pairs of 32-bit halves for one permutation; a site without an
    // observation takes the fourth lane, 1.0 after chunk_probs.
    m4 idx[MISSING + 1][4];
#else
    m4 half[4][4], one[4][4];
#endif
};

inline void make_picks(const double *table, picks &pk)
{
#ifdef __AVX2__
    for (int k = 4; k <= MISSING; k++)
        for (int r = 0; r < 4; r++)
            pk.idx[k][r] = (m4){6, 6, 6, 6} | ((m4){7, 7, 7, 7} << 32);
#endif
    for (int k = 0; k < 4; k++)
        for (int r = 0; r < 4; r++) {
            v4 t;
            memcpy(&t, table + k * 16 + r * 4, sizeof t);
#ifdef __AVX2__
            m4 c = (2 * ((t == 0.5) & 1)) + (4 * ((t == 1.0) & 1));
            pk.idx[k][r] = c | ((c + 1) << 32);
#else
            pk.half[k][r] = t == 0.5;
            pk.one[k][r] = t == 1.0;
#endif
        }
}

// f[i * 4 + j] = the product over the observed sites of the probability of
// the observed allele given genotype (i, j).
//
// The table holds only 0, 1/2 and 1, so a site has at most three distinct
// probabilities. They are computed once per site, and each genotype picks
// its own by bit masks: the same operations on the same operands as
// evaluating the site probability per genotype.
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
    // wanted double. A site without an observation picks the fourth lane,
    // 1.0, which leaves every product as it is: no branch to mispredict.
    picks pk;
    make_picks(table, pk);
    // With one copy the table does not depend on j, so one vector, lane i
    // for genotype i, does the work of four, picking by the column j = 0.
    bool single = true;
    for (int r = 0; r < 16; r++)
        single &= table[r * 4] == table[r * 4 + 1] && table[r * 4] == table[r * 4 + 2] &&
                  table[r * 4] == table[r * 4 + 3];
    if (single)
        for (int k = 0; k <= MISSING; k++)
            for (int i = 0; i < 4; i++)
                pk.idx[k][0][i] = pk.idx[k][i][0];
    for (int s0 = 0; s0 < numalleles; s0 += CHUNK) {
        int n = numalleles - s0 < CHUNK ? numalleles - s0 : CHUNK;
        v4 p[CHUNK];
        chunk_probs(eps + s0, n, p);
        int s;
        if (single)
            for (s = 0; s < n; s++)
                acc[0] = acc[0] * (v4)_mm256_permutevar8x32_epi32((__m256i)p[s],
                                                                  (__m256i)pk.idx[codes[s0 + s]][0]);
        else
            for (s = 0; s < n; s++) {
                int k = codes[s0 + s];
                for (int q = 0; q < 4; q++)
                    acc[q] = acc[q] * (v4)_mm256_permutevar8x32_epi32((__m256i)p[s],
                                                                      (__m256i)pk.idx[k][q]);
            }
    }
    if (single) {
        v4 a = acc[0];
        for (int i = 0; i < 4; i++)
            acc[i] = (v4){a[i], a[i], a[i], a[i]};
    }
#else
    picks pk;
    make_picks(table, pk);
    for (int s = 0; s < numalleles; s++) {
        int k = codes[s];
        if (k == MISSING)
            continue;
        double e = eps[s];
        double p0 = site(0.0, e), ph = site(0.5, e), p1 = site(1.0, e);
        v4 v0 = {p0, p0, p0, p0}, vh = {ph, ph, ph, ph}, v1 = {p1, p1, p1, p1};
        for (int q = 0; q < 4; q++)
            acc[q] = acc[q] * (pk.one[k][q] ? v1 : pk.half[k][q] ? vh : v0);
    }
#endif
    memcpy(f, acc, sizeof acc);
}

} // namespace

#endif
