#ifndef TARVO_HMM_OPTIONS_H
#define TARVO_HMM_OPTIONS_H

#include <cmath>

struct options {
    double m = NAN, T = NAN, rate = 1, thin = 0;
    const char *map = nullptr, *tracts = nullptr, *summary = nullptr, *input = nullptr;
    int digits = 0; // 0: the fixed formats
    bool verbose = false;
};

extern const char HELP[], VERSION[];

// The command line, each value checked; a bad one ends the run with a
// message.
options parse(int argc, char **argv);

#endif
