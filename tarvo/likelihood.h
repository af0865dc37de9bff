#ifndef TARVO_LIKELIHOOD_H
#define TARVO_LIKELIHOOD_H

#include "common/observation.h"

// Entries of the genotype table, indexed [k][i][j]: the probability that an
// allele drawn from genotype (i, j) is allele k.
enum { TABLE_SIZE = 64 };

// Fills table[64] for ploidy 1 or 2.
void build_table(int ploidy, double *table);

// Scores one observation: numalleles sites with their allele codes (0-3 or
// MISSING) and error rates, against freq[2][4]; writes nstates(ploidy)
// likelihoods to L. A likelihood that is NaN follows the NaN rule of
// tarvo/nanrule.h on every build and processor.
void score_observation(const double *table, int ploidy, int numalleles,
                       const int *codes, const double *eps,
                       const double *freq, double *L);

// The same likelihoods from the observation's genotype products fg
// (tarvo/products.h), already computed.
void score_products(const double *table, int ploidy, int numalleles, const int *codes,
                    const double *eps, const double *freq, const double *fg, double *L);

#endif
