// The scaled genotype products built for processors with AVX2 (this file
// alone is compiled with -mavx2); every lane rounds as in the baseline
// build.

#include "tarvo/loglanes.h"
#include "tarvo/loglik.h"

void scaled_avx2(const double *table, int numalleles, const int *codes, const double *eps,
                 double *m, long long *x)
{
    scaled_lanes(table, numalleles, codes, eps, m, x);
}
