#ifndef TARVO_LANES_H
#define TARVO_LANES_H

// The genotype products of one observation, the costly part of scoring,
// written once over an ops type and compiled once per instruction set: each
// lanes_*.cpp file supplies the few operations that differ and includes
// this (and loglanes.h). Everything here has internal linkage, so the AVX2
// build of it never stands in for the plain one at link time.
//
// O gives: lanes(c), how a pick names lane c[l] of a site's four values;
// pick(idx, p, out) for v4 and m4, lane l of out taking the lane of p that
// lane l of idx names; and transpose(a, b, c, p), which turns the values
// of four sites, a = p(0), b = p(1/2), c = p(1) lane by lane, into
// p[s] = {a[s], b[s], c[s], 1.0}.

#include <cstring>

#include "tarvo/likelihood.h"
#include "tarvo/terms.h"

namespace {

// Four lanes of doubles and of their bits. Without AVX the compiler splits
// each operation into two SSE2 ones; either way every lane's product is the
// same single rounded multiplication.
typedef double v4 __attribute__((vector_size(32)));
typedef long long m4 __attribute__((vector_size(32)));
// For arithmetic on the bits of a double, which must wrap, not overflow.
typedef unsigned long long u4 __attribute__((vector_size(32)));

// Sites whose probabilities are computed ahead, in one go.
enum { CHUNK = 64 };

// A site's four values: p(0), p(1/2), p(1) and the 1.0 that a site without
// an observation multiplies by, so that it takes no branch.
const v4 T4 = {0.0, 0.5, 1.0, 1.0};

// p[s] = the four values for the error rates e[0..n), n at most CHUNK:
// four sites to a vector, each lane with the same operations as one site
// alone, then side by side per site.
template <typename O>
inline void chunk_probs(const double *e, int n, v4 *p)
{
    const v4 zero = {0.0, 0.0, 0.0, 0.0}, half = {0.5, 0.5, 0.5, 0.5}, one = {1.0, 1.0, 1.0, 1.0};
    int s = 0;
    for (; s + 4 <= n; s += 4) {
        v4 x;
        memcpy(&x, e + s, sizeof x);
        v4 a = site(zero, x), b = site(half, x), c = site(one, x);
        O::transpose(a, b, c, p + s);
    }
    for (; s < n; s++) {
        v4 x = {e[s], e[s], e[s], e[s]};
        p[s] = site(T4, x);
        p[s][3] = 1.0;
    }
}

// For each allele code k and row r (genotype i = r, lanes j), which of a
// site's four values each lane takes: the table holds only 0, 1/2 and 1,
// and a site without an observation takes the 1.0.
struct picks {
    m4 idx[MISSING + 1][4];
};

template <typename O>
inline void make_picks(const double *table, picks &pk)
{
    const m4 none = {3, 3, 3, 3};
    for (int r = 0; r < 4; r++) {
        for (int k = 0; k < 4; k++) {
            v4 t;
            memcpy(&t, table + k * 16 + r * 4, sizeof t);
            m4 c = ((t == 0.5) & 1) + ((t == 1.0) & 2);
            pk.idx[k][r] = O::lanes(c);
        }
        pk.idx[4][r] = pk.idx[MISSING][r] = O::lanes(none);
    }
}

// With one copy the table does not depend on j, so one vector, lane i for
// genotype i, does the work of four, picking by the column j = 0.
inline bool one_copy(const double *table, picks &pk)
{
    bool single = true;
    for (int r = 0; r < 16; r++)
        single &= table[r * 4] == table[r * 4 + 1] && table[r * 4] == table[r * 4 + 2] &&
                  table[r * 4] == table[r * 4 + 3];
    if (single)
        for (int k = 0; k <= MISSING; k++)
            for (int i = 0; i < 4; i++)
                pk.idx[k][0][i] = pk.idx[k][i][0];
    return single;
}

// f[i * 4 + j] = the product over the observed sites of the probability of
// the observed allele given genotype (i, j).
//
// A site has at most three distinct probabilities. They are computed once
// per site, a chunk of sites ahead, and each genotype picks its own: the
// same operations on the same operands as evaluating the site probability
// per genotype. A site without an observation picks 1.0, which leaves
// every product as it is.
template <typename O>
inline void products(const double *table, int numalleles, const int *codes, const double *eps,
                     double *f)
{
    v4 acc[4];
    for (auto &q : acc)
        q = (v4){1.0, 1.0, 1.0, 1.0};
    picks pk;
    make_picks<O>(table, pk);
    const bool single = one_copy(table, pk);
    for (int s0 = 0; s0 < numalleles; s0 += CHUNK) {
        int n = numalleles - s0 < CHUNK ? numalleles - s0 : CHUNK;
        v4 p[CHUNK], q;
        chunk_probs<O>(eps + s0, n, p);
        if (single)
            for (int s = 0; s < n; s++) {
                O::pick(pk.idx[codes[s0 + s]][0], p[s], q);
                acc[0] = acc[0] * q;
            }
        else
            for (int s = 0; s < n; s++) {
                int k = codes[s0 + s];
                for (int r = 0; r < 4; r++) {
                    O::pick(pk.idx[k][r], p[s], q);
                    acc[r] = acc[r] * q;
                }
            }
    }
    if (single) {
        v4 a = acc[0];
        for (int i = 0; i < 4; i++)
            acc[i] = (v4){a[i], a[i], a[i], a[i]};
    }
    memcpy(f, acc, sizeof acc);
}

} // namespace

#endif
