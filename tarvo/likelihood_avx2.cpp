// The genotype products built for processors with AVX2 (this file alone is
// compiled with -mavx2): twice the lanes per instruction. AVX2 brings no
// fused multiply-add, and the build forbids contraction anyway, so every
// lane rounds exactly as the baseline build.

#include "tarvo/lanes.h"

void products_avx2(const double *table, int numalleles, const int *codes, const double *eps,
                   double *f)
{
    lanes(table, numalleles, codes, eps, f);
}
