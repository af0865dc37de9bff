#ifndef TARVO_PRODUCTS_H
#define TARVO_PRODUCTS_H

// The genotype products of one observation, lane i * 4 + j: one source
// (tarvo/lanes.h) built for each instruction set of tarvo/isa.h.

#include "tarvo/isa.h"

// f[g] = the product over the observed sites of the probability of the
// observed allele given genotype g.
void products_plain(const double *table, int numalleles, const int *codes, const double *eps,
                    double *f);
void products_avx2(const double *table, int numalleles, const int *codes, const double *eps,
                   double *f);

// The same products f for the log output, and in the same pass each as
// m[g] * 2^x[g], where m[g] lies in [1, 2) unless it is zero, infinite or
// NaN. Wherever f[g] is a normal double it equals m[g] * 2^x[g] exactly.
void log_products_plain(const double *table, int numalleles, const int *codes,
                        const double *eps, double *f, double *m, long long *x);
void log_products_avx2(const double *table, int numalleles, const int *codes,
                       const double *eps, double *f, double *m, long long *x);

// Each runs the build of active_isa().
inline void genotype_products(const double *table, int numalleles, const int *codes,
                              const double *eps, double *f)
{
#if defined(__x86_64__)
    if (active_isa() == isa::avx2)
        return products_avx2(table, numalleles, codes, eps, f);
#endif
    products_plain(table, numalleles, codes, eps, f);
}

inline void log_products(const double *table, int numalleles, const int *codes,
                         const double *eps, double *f, double *m, long long *x)
{
#if defined(__x86_64__)
    if (active_isa() == isa::avx2)
        return log_products_avx2(table, numalleles, codes, eps, f, m, x);
#endif
    log_products_plain(table, numalleles, codes, eps, f, m, x);
}

#endif
