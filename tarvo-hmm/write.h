#ifndef TARVO_HMM_WRITE_H
#define TARVO_HMM_WRITE_H

#include <cstdio>

#include "tarvo-hmm/fit.h"
#include "tarvo-hmm/loci.h"

// Numbers in the output: the fixed formats, or --digits significant ones.
struct numfmt {
    int digits;
    char *put(char *at, double v, int decimals) const;
};

// The posterior lines on standard output and, where tracts is not null,
// the tracts of most probable state, in the input's order.
void write_loci(const loci &l, const double *post, const numfmt &f, FILE *tracts);

void write_summary(FILE *out, const loci &l, const estimate &e, double lnl, const numfmt &f);

#endif
