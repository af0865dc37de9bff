// The kernel for every x86-64 processor: 16 bytes a step.
#include "ostrel/ostrel.h"

#include <emmintrin.h>

#include "ostrel/kernel.h"

namespace {

struct sse2_ops {
    typedef __m128i reg;
    static constexpr size_t width = 16;
    static reg splat(char b) { return _mm_set1_epi8(b); }
    static reg zero() { return _mm_setzero_si128(); }
    static reg load(const unsigned char *p) { return _mm_loadu_si128(reinterpret_cast<const reg *>(p)); }
    static reg eq(reg a, reg b) { return _mm_cmpeq_epi8(a, b); }
    static reg either(reg a, reg b) { return _mm_or_si128(a, b); }
    static reg sub(reg a, reg b) { return _mm_sub_epi8(a, b); }
    static uint32_t mask(reg a) { return static_cast<uint32_t>(_mm_movemask_epi8(a)); }

    static uint64_t sums(reg a, reg c, reg g, reg t)
    {
        const reg z = zero();
        // A half's sum is at most 8 * 255, so the four sums share one 64-bit
        // lane as 16-bit fields and the two halves add without carries.
        reg s = _mm_or_si128(
            _mm_or_si128(_mm_sad_epu8(a, z), _mm_slli_epi64(_mm_sad_epu8(c, z), 16)),
            _mm_or_si128(_mm_slli_epi64(_mm_sad_epu8(g, z), 32),
                         _mm_slli_epi64(_mm_sad_epu8(t, z), 48)));
        s = _mm_add_epi64(s, _mm_unpackhi_epi64(s, s));
        return static_cast<uint64_t>(_mm_cvtsi128_si64(s));
    }
};

} // namespace

size_t count_sse2(const unsigned char *p, size_t n, mark *m, size_t *lines, uint32_t c[4])
{
    return count_vec<sse2_ops>(p, n, m, lines, c);
}
