// The scanner for processors with AVX2: 32 bytes a step. This file alone is
// built with -mavx2 -mpopcnt, and it runs only where choose_kernel finds
// both; the code it shares with the SSE2 scanner has internal linkage.
#include "ostrel/ostrel.h"

#include <immintrin.h>

#include "ostrel/kernel.h"

namespace {

struct avx2_ops {
    typedef __m256i reg;
    static constexpr size_t width = 32;
    static reg splat(char b) { return _mm256_set1_epi8(b); }
    static reg load(const unsigned char *p) { return _mm256_loadu_si256(reinterpret_cast<const reg *>(p)); }
    static reg eq(reg a, reg b) { return _mm256_cmpeq_epi8(a, b); }
    static uint32_t mask(reg a) { return static_cast<uint32_t>(_mm256_movemask_epi8(a)); }
};

} // namespace

size_t scan_avx2(const unsigned char *p, size_t n, mark *m, size_t *lines, uint32_t c[4])
{
    return scan_vec<avx2_ops>(p, n, m, lines, c);
}
