#ifndef TARVO_HMM_FIT_H
#define TARVO_HMM_FIT_H

#include "tarvo-hmm/loci.h"

// The bounds searched: T in [1, 10000] generations, m in [M_MIN, 1 - M_MIN].
const double T_MIN = 1, T_MAX = 10000, M_MIN = 1e-6;

// Half the 0.95 quantile of chi-square with one degree of freedom: the
// drop in log-likelihood that bounds a 95% profile interval.
const double DROP = 1.920729410347062;

struct estimate {
    double m, T;
    bool m_fixed, T_fixed;
    double m_lo, m_hi, T_lo, T_hi;      // the 95% intervals (estimated ones)
    bool m_edge, T_edge;                // the maximum lies on a bound
    int passes_fit, passes_interval;    // forward passes with derivatives
    size_t bad;                         // a locus no path reaches at the start, or NO_LOCUS
};

// Maximises the likelihood over the parameters not fixed (m or T given as
// NaN are free) and finds their profile intervals.
estimate fit(const loci &l, double m, double T, bool verbose);

#endif
