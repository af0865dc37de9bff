#ifndef TARVO_LOGLANES_H
#define TARVO_LOGLANES_H

// The genotype products of one observation for the log output: each a
// double and a separate power of two. The body is compiled twice, for the
// baseline processor and for AVX2, as lanes.h is.
//
// Only exact steps are added to the plain product: scaling by a power of
// two changes no digit of a normal double, so as long as every running
// product stays normal, each multiplication rounds exactly as the plain
// product's does at the same site.

#include <cmath>
#include <cstring>

#include "tarvo/lanes.h"

namespace {

// An error rate of 0, or between 2^-30 and 1, gives site probabilities of 0
// or between 2^-32 (eps / 4) and 1. Thirty such sites take a product that
// starts in [1, 2) no lower than 2^-960, still well clear of the
// subnormals, and no higher than 2; then it is brought back to [1, 2). Any
// other error rate (tiny, outside [0, 1], NaN) takes the slow way below.
const double TAME_EPS = 0x1p-30;
const int RUN = 30;

inline bool tame(double e)
{
    return (e >= TAME_EPS && e <= 1.0) || e == 0.0;
}

// Whether every one of e[0..n) is tame; without a branch per rate.
inline bool all_tame(const double *e, int n)
{
    bool ok = true;
    for (int s = 0; s < n; s++)
        ok &= ((e[s] >= TAME_EPS) & (e[s] <= 1.0)) | (e[s] == 0.0);
    return ok;
}

// Moves the binary exponent of each lane of m into x, leaving m in [1, 2).
// Zero, infinite and NaN lanes stay as they are. No lane is subnormal here.
inline void normal(v4 &m, m4 &x)
{
    const long long field = 0x7ffLL << 52, one = 1023LL << 52;
    m4 b = (m4)m;
    m4 e = (b >> 52) & 0x7ff;
    m4 ok = (e != 0) & (e != 0x7ff);
    x += ok & (e - 1023);
    b = (b & ~(ok & field)) | (ok & one);
    m = (v4)b;
}

// Vectors pass by reference: the baseline build may not return a 32-byte
// vector in registers.
template <typename T>
inline void pick(const picks &pk, int k, int r, const T &p, T &out)
{
#ifdef __AVX2__
    out = (T)_mm256_permutevar8x32_epi32((__m256i)p, (__m256i)pk.idx[k][r]);
#else
    T v0 = {p[0], p[0], p[0], p[0]}, vh = {p[1], p[1], p[1], p[1]},
      v1 = {p[2], p[2], p[2], p[2]};
    out = pk.one[k][r] ? v1 : pk.half[k][r] ? vh : v0;
#endif
}

// The site's three probabilities for error rate e, the same operations on
// the same operands as lanes.h.
inline void probs(double e, v4 &p)
{
#ifdef __AVX2__
    const v4 t = {0.0, 0.5, 1.0, 1.0};
    p = site(t, (v4){e, e, e, e});
#else
    double p1 = site(1.0, e);
    p = (v4){site(0.0, e), site(0.5, e), p1, p1};
#endif
}

// A site whose probabilities may be subnormal or far from 1: each is split
// into a fraction in [1/2, 1) and a power of two (frexp is exact, even for
// subnormals), and each lane takes both. A product at most 2 and at least
// 2^-960 times such a fraction stays normal.
inline void wild(const picks &pk, int k, const v4 &p, v4 *acc, m4 *ex)
{
    v4 f, q;
    m4 e, d;
    for (int l = 0; l < 4; l++) {
        int n = 0;
        f[l] = std::isfinite(p[l]) ? std::frexp(p[l], &n) : p[l];
        e[l] = n;
    }
    for (int r = 0; r < 4; r++) {
        pick(pk, k, r, f, q);
        pick(pk, k, r, e, d);
        acc[r] = acc[r] * q;
        ex[r] += d;
    }
}

// Multiplies the sites from..to into acc and ex one by one, bringing the
// products back to [1, 2) at least every RUN sites and at the end.
inline void sites(const picks &pk, const int *codes, const double *eps, int from, int to,
                  v4 *acc, m4 *ex)
{
    int run = 0;
    for (int s = from; s < to; s++) {
        int k = codes[s];
        if (k == MISSING)
            continue;
        double e = eps[s];
        v4 p, q;
        probs(e, p);
        if (tame(e)) {
            for (int r = 0; r < 4; r++) {
                pick(pk, k, r, p, q);
                acc[r] = acc[r] * q;
            }
            if (++run < RUN)
                continue;
        } else {
            wild(pk, k, p, acc, ex);
        }
        for (int r = 0; r < 4; r++)
            normal(acc[r], ex[r]);
        run = 0;
    }
    for (int r = 0; r < 4; r++)
        normal(acc[r], ex[r]);
}

// m[i * 4 + j] * 2^x[i * 4 + j] = the product over the observed sites of
// the probability of the observed allele given genotype (i, j), sites in
// ascending order.
inline void scaled_lanes(const double *table, int numalleles, const int *codes,
                         const double *eps, double *m, long long *x)
{
    picks pk;
    make_picks(table, pk);
    v4 acc[4];
    m4 ex[4];
    for (int r = 0; r < 4; r++) {
        acc[r] = (v4){1.0, 1.0, 1.0, 1.0};
        ex[r] = (m4){0, 0, 0, 0};
    }
#ifdef __AVX2__
    // Where every error rate of a chunk is tame, its probabilities are
    // computed ahead as lanes.h does, a site without an observation
    // multiplies by 1.0 instead of taking a branch, and the products are
    // brought back to [1, 2) after every RUN sites, counted with or without
    // an observation.
    for (int s0 = 0; s0 < numalleles; s0 += CHUNK) {
        int n = numalleles - s0 < CHUNK ? numalleles - s0 : CHUNK;
        if (!all_tame(eps + s0, n)) {
            sites(pk, codes, eps, s0, s0 + n, acc, ex);
            continue;
        }
        v4 p[CHUNK];
        chunk_probs(eps + s0, n, p);
        for (int b = 0; b < n; b += RUN) {
            int end = b + RUN < n ? b + RUN : n;
            for (int s = b; s < end; s++) {
                const m4 *idx = pk.idx[codes[s0 + s]];
                for (int r = 0; r < 4; r++)
                    acc[r] = acc[r] * (v4)_mm256_permutevar8x32_epi32((__m256i)p[s],
                                                                      (__m256i)idx[r]);
            }
            for (int r = 0; r < 4; r++)
                normal(acc[r], ex[r]);
        }
    }
#else
    sites(pk, codes, eps, 0, numalleles, acc, ex);
#endif
    // A zero, infinite or NaN product has no exponent of its own: 0, so that
    // both builds give the same, however often each brought it back.
    for (int r = 0; r < 4; r++) {
        m4 e = ((m4)acc[r] >> 52) & 0x7ff;
        ex[r] &= (e != 0) & (e != 0x7ff);
    }
    memcpy(m, acc, sizeof acc);
    memcpy(x, ex, sizeof ex);
}

} // namespace

#endif
