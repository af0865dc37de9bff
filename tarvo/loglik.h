#ifndef TARVO_LOGLIK_H
#define TARVO_LOGLIK_H

// The natural logarithm of each state likelihood, computed without
// underflow or overflow for any number of sites.

// Scores one observation as score_observation does (same arguments) and
// writes ln of each of the nstates(ploidy) likelihoods to lnL: -inf for a
// likelihood of exactly zero, NaN where the likelihood is not a number or
// is negative.
void log_observation(const double *table, int ploidy, int numalleles,
                     const int *codes, const double *eps,
                     const double *freq, double *lnL);

// The genotype products of one observation, lane i * 4 + j, each as
// m[g] * 2^x[g], where m[g] lies in [1, 2) unless it is zero, infinite or
// NaN. Wherever the plain product of products_base is a normal double it
// equals m[g] * 2^x[g] exactly. One source built for the baseline processor
// and for AVX2, chosen by use_avx2.
void scaled_base(const double *table, int numalleles, const int *codes, const double *eps,
                 double *m, long long *x);
void scaled_avx2(const double *table, int numalleles, const int *codes, const double *eps,
                 double *m, long long *x);

#endif
