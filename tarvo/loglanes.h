#ifndef TARVO_LOGLANES_H
#define TARVO_LOGLANES_H

// The genotype products of one observation for the log output: each a
// double and a separate power of two; written once over the ops type of
// lanes.h and compiled with it, once per instruction set.
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

// A site whose probabilities may be subnormal or far from 1: each is split
// into a fraction in [1/2, 1) and a power of two (frexp is exact, even for
// subnormals), and each lane takes both. A product at most 2 and at least
// 2^-960 times such a fraction stays normal.
template <typename O>
inline void wild(const m4 *idx, const v4 &p, v4 *acc, m4 *ex)
{
    v4 f, q;
    m4 e, d;
    for (int l = 0; l < 4; l++) {
        int n = 0;
        f[l] = std::isfinite(p[l]) ? std::frexp(p[l], &n) : p[l];
        e[l] = n;
    }
    for (int r = 0; r < 4; r++) {
        O::pick(idx[r], f, q);
        O::pick(idx[r], e, d);
        acc[r] = acc[r] * q;
        ex[r] += d;
    }
}

// Multiplies the sites from..to into acc and ex one by one, bringing the
// products back to [1, 2) at least every RUN sites and at the end.
template <typename O>
inline void sites(const picks &pk, const int *codes, const double *eps, int from, int to,
                  v4 *acc, m4 *ex)
{
    int run = 0;
    for (int s = from; s < to; s++) {
        int k = codes[s];
        if (k == MISSING)
            continue;
        double e = eps[s];
        v4 p = site(T4, (v4){e, e, e, e}), q;
        if (tame(e)) {
            for (int r = 0; r < 4; r++) {
                O::pick(pk.idx[k][r], p, q);
                acc[r] = acc[r] * q;
            }
            if (++run < RUN)
                continue;
        } else {
            wild<O>(pk.idx[k], p, acc, ex);
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
template <typename O>
inline void scaled(const double *table, int numalleles, const int *codes, const double *eps,
                   double *m, long long *x)
{
    picks pk;
    make_picks<O>(table, pk);
    v4 acc[4];
    m4 ex[4];
    for (int r = 0; r < 4; r++) {
        acc[r] = (v4){1.0, 1.0, 1.0, 1.0};
        ex[r] = (m4){0, 0, 0, 0};
    }
    // Where every error rate of a chunk is tame, its probabilities are
    // computed ahead as for the plain products, a site without an
    // observation multiplies by 1.0 instead of taking a branch, and the
    // products are brought back to [1, 2) after every RUN sites, counted
    // with or without an observation. Either way only exact steps differ,
    // so both ways give the same.
    for (int s0 = 0; s0 < numalleles; s0 += CHUNK) {
        int n = numalleles - s0 < CHUNK ? numalleles - s0 : CHUNK;
        if (!all_tame(eps + s0, n)) {
            sites<O>(pk, codes, eps, s0, s0 + n, acc, ex);
            continue;
        }
        v4 p[CHUNK], q;
        chunk_probs<O>(eps + s0, n, p);
        for (int b = 0; b < n; b += RUN) {
            int end = b + RUN < n ? b + RUN : n;
            for (int s = b; s < end; s++) {
                const m4 *idx = pk.idx[codes[s0 + s]];
                for (int r = 0; r < 4; r++) {
                    O::pick(idx[r], p[s], q);
                    acc[r] = acc[r] * q;
                }
            }
            for (int r = 0; r < 4; r++)
                normal(acc[r], ex[r]);
        }
    }
    // A zero, infinite or NaN product has no exponent of its own: 0, so that
    // it is the same however often it was brought back.
    for (int r = 0; r < 4; r++) {
        m4 e = ((m4)acc[r] >> 52) & 0x7ff;
        ex[r] &= (e != 0) & (e != 0x7ff);
    }
    memcpy(m, acc, sizeof acc);
    memcpy(x, ex, sizeof ex);
}

} // namespace

#endif
