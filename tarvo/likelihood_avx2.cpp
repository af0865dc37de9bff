// The genotype products built for processors with AVX2: twice the lanes per
// instruction. AVX2 brings no fused multiply-add, and the build forbids
// contraction anyway, so every lane rounds exactly as the baseline build.
#pragma GCC target("avx2")
#define LANES_AVX2 1 // the pragma does not announce itself to the preprocessor

#include "tarvo/lanes.h"

void products_avx2(const double *table, int numalleles, const int *codes, const double *eps,
                   double *f)
{
    lanes(table, numalleles, codes, eps, f);
}
