// The kernel for processors with AVX2: 32 bytes a step. This file alone is
// built with -mavx2 -mpopcnt, and it runs only where isa_supported finds
// both; the code it shares with the SSE2 kernel has internal linkage.
#if !defined(__AVX2__) || !defined(__POPCNT__)
#error "kernel_avx2.cpp must be built with -mavx2 -mpopcnt (cmake/simd.cmake)"
#endif
#include "ostrel/ostrel.h"

#include <immintrin.h>

#include "ostrel/kernel.h"

namespace {

struct avx2_ops {
    typedef __m256i reg;
    static constexpr size_t width = 32;
    static reg splat(char b) { return _mm256_set1_epi8(b); }
    static reg zero() { return _mm256_setzero_si256(); }
    static reg load(const unsigned char *p) { return _mm256_loadu_si256(reinterpret_cast<const reg *>(p)); }
    static reg eq(reg a, reg b) { return _mm256_cmpeq_epi8(a, b); }
    static reg either(reg a, reg b) { return _mm256_or_si256(a, b); }
    static reg sub(reg a, reg b) { return _mm256_sub_epi8(a, b); }
    static uint32_t mask(reg a) { return static_cast<uint32_t>(_mm256_movemask_epi8(a)); }

    static uint64_t sums(reg a, reg c, reg g, reg t)
    {
        const reg z = zero();
        // A quarter's sum is at most 8 * 255, so the four sums share one
        // 64-bit lane as 16-bit fields and the four quarters add without
        // carries.
        reg s = _mm256_or_si256(
            _mm256_or_si256(_mm256_sad_epu8(a, z), _mm256_slli_epi64(_mm256_sad_epu8(c, z), 16)),
            _mm256_or_si256(_mm256_slli_epi64(_mm256_sad_epu8(g, z), 32),
                            _mm256_slli_epi64(_mm256_sad_epu8(t, z), 48)));
        __m128i h = _mm_add_epi64(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
        h = _mm_add_epi64(h, _mm_unpackhi_epi64(h, h));
        return static_cast<uint64_t>(_mm_cvtsi128_si64(h));
    }
};

} // namespace

size_t count_avx2(const unsigned char *p, size_t n, mark *m, size_t *lines, uint32_t c[4])
{
    return count_vec<avx2_ops>(p, n, m, lines, c);
}
