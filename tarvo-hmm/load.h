#ifndef TARVO_HMM_LOAD_H
#define TARVO_HMM_LOAD_H

#include "tarvo-hmm/gmap.h"
#include "tarvo-hmm/loci.h"
#include "tarvo-hmm/options.h"

// Reads the per-locus table named by the options (standard input without
// one) into l, keeping the loci that thinning leaves; returns the name its
// messages use.
const char *load(const options &o, gmap &g, loci *l);

#endif
