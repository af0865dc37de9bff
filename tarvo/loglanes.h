#ifndef TARVO_LOGLANES_H
#define TARVO_LOGLANES_H

// The genotype products of one observation for the log output: the
// default ones and, in the same pass, each as a double and a separate
// power of two; written once over the ops type of lanes.h and compiled
// with it, once per instruction set.
//
// Only exact steps are added to the plain product: scaling by a power of
// two changes no digit of a normal double, so as long as every running
// product stays normal, each multiplication rounds exactly as the plain
// product's does at the same site.

#include <cmath>
#include <cstdint>
#include <cstring>

#include "tarvo/lanes.h"

namespace {

// A safe error rate, 0 or between 2^-30 and 1, gives site probabilities
// of 0 or between 2^-32 (eps / 4) and 1. Thirty such sites take a product
// that starts in [1, 2) no lower than 2^-960, still well clear of the
// subnormals, and no higher than 2; then it is brought back to [1, 2). Any
// other error rate (tiny, outside [0, 1], NaN) takes the slow way below.
const double SAFE_EPS = 0x1p-30;
const int RUN = 30;

inline bool safe_rate(double e)
{
    return (e >= SAFE_EPS && e <= 1.0) || e == 0.0;
}

// Whether every one of e[0..n) is a safe rate; without a branch per rate.
// Four rates to a vector, as the compiler does not vectorize the scalar
// loop by itself.
inline bool all_safe(const double *e, int n)
{
    const v4 lo = {SAFE_EPS, SAFE_EPS, SAFE_EPS, SAFE_EPS}, hi = {1.0, 1.0, 1.0, 1.0};
    m4 bad = {0, 0, 0, 0};
    int s = 0;
    for (; s + 4 <= n; s += 4) {
        v4 x;
        memcpy(&x, e + s, sizeof x);
        bad |= ~(((x >= lo) & (x <= hi)) | (x == 0.0));
    }
    bool ok = !(bad[0] | bad[1] | bad[2] | bad[3]);
    for (; s < n; s++)
        ok &= ((e[s] >= SAFE_EPS) & (e[s] <= 1.0)) | (e[s] == 0.0);
    return ok;
}

// Moves the binary exponent of each lane of m into x, leaving m in [1, 2).
// Zero, infinite and NaN lanes stay as they are. No lane is subnormal here.
inline void renormalise(v4 &m, m4 &x)
{
    const long long field = 0x7ffLL << 52, one = 1023LL << 52;
    m4 b = (m4)m;
    m4 e = (b >> 52) & 0x7ff;
    m4 ok = (e != 0) & (e != 0x7ff);
    x += ok & (e - 1023);
    b = (b & ~(ok & field)) | (ok & one);
    m = (v4)b;
}

// A site whose probabilities may be subnormal or far from 1: the plain
// products take them as they are; for the scaled ones each is split into a
// fraction in [1/2, 1) and a power of two (frexp is exact, even for
// subnormals), and each lane takes both. A product at most 2 and at least
// 2^-960 times such a fraction stays normal.
template <typename O, int R>
inline void split_site(const m4 *idx, const v4 &p, v4 *plain, v4 *acc, m4 *ex)
{
    v4 f, q;
    m4 e, d;
    for (int l = 0; l < 4; l++) {
        int n = 0;
        f[l] = std::isfinite(p[l]) ? std::frexp(p[l], &n) : p[l];
        e[l] = n;
    }
    for (int r = 0; r < R; r++) {
        O::pick(idx[r], p, q);
        plain[r] = plain[r] * q;
        O::pick(idx[r], f, q);
        O::pick(idx[r], e, d);
        acc[r] = acc[r] * q;
        ex[r] += d;
    }
}

// Multiplies the sites from..to into plain, and into acc and ex, one by
// one, bringing the scaled products back to [1, 2) at least every RUN
// sites and at the end.
template <typename O, int R>
inline void each_site(const picks &pk, const int *codes, const double *eps, int from, int to,
                  v4 *plain, v4 *acc, m4 *ex)
{
    int run = 0;
    for (int s = from; s < to; s++) {
        int k = codes[s];
        if (k == MISSING)
            continue;
        double e = eps[s];
        v4 p = site(T4, (v4){e, e, e, e}), q;
        if (safe_rate(e)) {
            for (int r = 0; r < R; r++) {
                O::pick(pk.idx[k][r], p, q);
                plain[r] = plain[r] * q;
                acc[r] = acc[r] * q;
            }
            if (++run < RUN)
                continue;
        } else {
            split_site<O, R>(pk.idx[k], p, plain, acc, ex);
        }
        for (int r = 0; r < R; r++)
            renormalise(acc[r], ex[r]);
        run = 0;
    }
    for (int r = 0; r < R; r++)
        renormalise(acc[r], ex[r]);
}

// Whether every plain product is zero, or a normal double equal to its
// scaled one (not so once it was subnormal, rounded apart, and sites of
// other rates brought it back), and stays so through the n safe sites of
// e, none of them -0. Each of a safe site's values is 0, at least 1/8 or e / 4
// (computed exactly), and at most 1, so the products only fall, and the n
// sites take a normal product at least 2^-1022 * 2^(2 - low) to no less
// than 2^-1022, the 2 leaving room for the roundings. Then the plain
// product is the scaled one with its exponent put back, so only the
// scaled ones need computing: most observations are done so.
template <int R>
inline bool stays_normal(const v4 *plain, const v4 *acc, const m4 *ex, const double *e, int n)
{
    long long low = 0;
    uint64_t minus = 0;
    for (int s = 0; s < n; s++) {
        uint64_t u;
        memcpy(&u, &e[s], sizeof u);
        long long x = (long long)(u >> 52) - 1023 - 2; // e / 4 >= 2^x
        low += e[s] == 0.0 || x > -3 ? -3 : x;
        minus |= u >> 63; // -0, which would turn the sign of a zero
    }
    if (minus)
        return false;
    const long long floor_field = 3 - low; // 2^-1022 * 2^(2 - low), biased
    bool ok = true;
    for (int r = 0; r < R; r++) {
        m4 field = ((m4)plain[r] >> 52) & 0x7ff;
        m4 same = (m4)plain[r] == (m4)((u4)acc[r] + ((u4)ex[r] << 52));
        m4 good = ((field >= floor_field) & (field != 0x7ff) & same) | (plain[r] == 0.0);
        for (int l = 0; l < 4; l++)
            ok &= good[l] != 0;
    }
    return ok;
}

// The plain product of a lane that stayed zero or normal: the zero it was,
// the zero it became (the scaled one, of the same sign), or m * 2^x.
inline v4 unscaled(const v4 &plain, const v4 &m, const m4 &x)
{
    m4 was = plain == 0.0, became = ~was & (m == 0.0);
    m4 b = (m4)((u4)m + ((u4)x << 52));
    return (v4)((was & (m4)plain) | (became & (m4)m) | (~was & ~became & b));
}

// The sites into R rows of products: plain, and the same as acc * 2^ex.
template <typename O, int R>
inline void multiply_rows(const picks &pk, int numalleles, const int *codes, const double *eps,
                          v4 *plain, v4 *acc, m4 *ex)
{
    // Where every error rate of a chunk is safe, its probabilities are
    // computed ahead as for the plain products, a site without an
    // observation multiplies by 1.0 instead of taking a branch, and the
    // products are brought back to [1, 2) after every RUN sites, counted
    // with or without an observation. Either way only exact steps differ,
    // so both ways give the same.
    for (int s0 = 0; s0 < numalleles; s0 += CHUNK) {
        int n = numalleles - s0 < CHUNK ? numalleles - s0 : CHUNK;
        if (!all_safe(eps + s0, n)) {
            each_site<O, R>(pk, codes, eps, s0, s0 + n, plain, acc, ex);
            continue;
        }
        v4 p[CHUNK], q;
        chunk_probs<O>(eps + s0, n, p);
        for (int b = 0; b < n; b += RUN) {
            int end = b + RUN < n ? b + RUN : n;
            const bool both = !stays_normal<R>(plain, acc, ex, eps + s0 + b, end - b);
            for (int s = b; s < end; s++) {
                const m4 *idx = pk.idx[codes[s0 + s]];
                for (int r = 0; r < R; r++) {
                    O::pick(idx[r], p[s], q);
                    if (both)
                        plain[r] = plain[r] * q;
                    acc[r] = acc[r] * q;
                }
            }
            for (int r = 0; r < R; r++) {
                renormalise(acc[r], ex[r]);
                if (!both)
                    plain[r] = unscaled(plain[r], acc[r], ex[r]);
            }
        }
    }
}

// In one pass over the sites, ascending: f[i * 4 + j] = the product over
// the observed sites of the probability of the observed allele given
// genotype (i, j), as products() gives it, and the same product as
// m[i * 4 + j] * 2^x[i * 4 + j]. Each site's probability is picked once
// and multiplies both, or only the scaled product where the plain one
// follows from it. With one copy, one row of genotypes does the work of
// four, as in products().
template <typename O>
inline void products_and_scaled(const double *table, int numalleles, const int *codes,
                                const double *eps, double *f, double *m, long long *x)
{
    picks pk;
    make_picks<O>(table, pk);
    const bool single = one_copy(table, pk);
    v4 plain[4], acc[4];
    m4 ex[4];
    for (int r = 0; r < 4; r++) {
        plain[r] = acc[r] = (v4){1.0, 1.0, 1.0, 1.0};
        ex[r] = (m4){0, 0, 0, 0};
    }
    if (single)
        multiply_rows<O, 1>(pk, numalleles, codes, eps, plain, acc, ex);
    else
        multiply_rows<O, 4>(pk, numalleles, codes, eps, plain, acc, ex);
    // A zero, infinite or NaN product has no exponent of its own: 0, so that
    // it is the same however often it was brought back.
    for (int r = 0; r < 4; r++) {
        m4 e = ((m4)acc[r] >> 52) & 0x7ff;
        ex[r] &= (e != 0) & (e != 0x7ff);
    }
    if (single)
        for (int i = 3; i >= 0; i--) {
            plain[i] = (v4){plain[0][i], plain[0][i], plain[0][i], plain[0][i]};
            acc[i] = (v4){acc[0][i], acc[0][i], acc[0][i], acc[0][i]};
            ex[i] = (m4){ex[0][i], ex[0][i], ex[0][i], ex[0][i]};
        }
    memcpy(f, plain, sizeof plain);
    memcpy(m, acc, sizeof acc);
    memcpy(x, ex, sizeof ex);
}

} // namespace

#endif
