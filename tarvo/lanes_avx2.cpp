// The genotype products for processors with AVX2: twice the lanes per
// instruction, and a pick is one permutation. This file alone is built
// with -mavx2, and it runs only where the processor has AVX2 (tarvo/isa.h).
// AVX2 brings no fused multiply-add, and the build forbids contraction
// anyway, so every lane rounds as in the plain build.
#ifndef __AVX2__
#error "lanes_avx2.cpp must be built with -mavx2 (cmake/simd.cmake)"
#endif

#include "tarvo/products.h"

#include <immintrin.h>

#include "tarvo/loglanes.h"

namespace {

struct avx2_ops {
    // The permutation moves 32-bit halves: lane c is the pair 2c, 2c + 1.
    static m4 lanes(const m4 &c) { return 2 * c | (2 * c + 1) << 32; }

    template <typename T>
    static void pick(const m4 &idx, const T &p, T &out)
    {
        out = (T)_mm256_permutevar8x32_epi32((__m256i)p, (__m256i)idx);
    }

    static void transpose(const v4 &a, const v4 &b, const v4 &c, v4 *p)
    {
        const __m256d d = _mm256_set1_pd(1.0);
        __m256d ab0 = _mm256_unpacklo_pd((__m256d)a, (__m256d)b);
        __m256d ab1 = _mm256_unpackhi_pd((__m256d)a, (__m256d)b);
        __m256d cd0 = _mm256_unpacklo_pd((__m256d)c, d), cd1 = _mm256_unpackhi_pd((__m256d)c, d);
        p[0] = (v4)_mm256_permute2f128_pd(ab0, cd0, 0x20);
        p[1] = (v4)_mm256_permute2f128_pd(ab1, cd1, 0x20);
        p[2] = (v4)_mm256_permute2f128_pd(ab0, cd0, 0x31);
        p[3] = (v4)_mm256_permute2f128_pd(ab1, cd1, 0x31);
    }
};

} // namespace

void products_avx2(const double *table, int numalleles, const int *codes, const double *eps,
                   double *f)
{
    products<avx2_ops>(table, numalleles, codes, eps, f);
}

void log_products_avx2(const double *table, int numalleles, const int *codes,
                        const double *eps, double *f, double *m, long long *x)
{
    products_and_scaled<avx2_ops>(table, numalleles, codes, eps, f, m, x);
}
