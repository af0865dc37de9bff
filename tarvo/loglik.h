#ifndef TARVO_LOGLIK_H
#define TARVO_LOGLIK_H

// The natural logarithm of each state likelihood, for any number of sites,
// by one rule that never contradicts the default output. With L the value
// score_observation gives for a state: where L is NaN, L itself; where it is
// negative (-inf too), a NaN that prints as nan; where it is a positive
// normal number, ln L; where it is +0, subnormal or +inf, ln of the exact
// value of the same sums and products (the same double site probabilities
// and weights, nothing rounded after them; within 1e-6; -inf where that
// value is 0, a NaN where it is negative), or ln L where a frequency or error
// rate the state uses is infinite.

// Scores one observation as score_observation does (same arguments) and
// writes the logarithm of each of the nstates(ploidy) likelihoods to lnL,
// by the rule above.
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
