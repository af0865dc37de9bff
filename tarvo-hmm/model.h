#ifndef TARVO_HMM_MODEL_H
#define TARVO_HMM_MODEL_H

#include <cstddef>

#include "tarvo-hmm/loci.h"

// The chain along each chromosome: each copy keeps its ancestry from one
// locus to the next with probability 1 - r, r = 1 - exp(-T d), and
// otherwise draws it afresh, population 1 with probability m; the first
// locus draws every copy so. The state is the number of copies from
// population 1.
struct pass {
    double lnl;        // -inf when some locus is impossible
    double g[2], h[3]; // d/dm, d/dtau; d2/dm2, d2/dm dtau, d2/dtau2 (tau = ln T)
    size_t bad;        // the first locus no path reaches, or NO_LOCUS
};
const size_t NO_LOCUS = static_cast<size_t>(-1);

// The log-likelihood alone.
pass forward(const loci &l, double m, double T);

// The log-likelihood with its gradient and Hessian in (m, ln T).
pass forward_d(const loci &l, double m, double T);

// Forward and backward: post gets each locus's posteriors (states per
// locus); the log-likelihood is the forward pass's.
pass posteriors(const loci &l, double m, double T, double *post);

#endif
