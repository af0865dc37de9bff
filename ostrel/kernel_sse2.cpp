// The scanner for every x86-64 processor: 16 bytes a step.
#include "ostrel/ostrel.h"

#include <emmintrin.h>

#include "ostrel/kernel.h"

namespace {

struct sse2_ops {
    typedef __m128i reg;
    static constexpr size_t width = 16;
    static reg splat(char b) { return _mm_set1_epi8(b); }
    static reg load(const unsigned char *p) { return _mm_loadu_si128(reinterpret_cast<const reg *>(p)); }
    static reg eq(reg a, reg b) { return _mm_cmpeq_epi8(a, b); }
    static uint32_t mask(reg a) { return static_cast<uint32_t>(_mm_movemask_epi8(a)); }
};

} // namespace

size_t scan_sse2(const unsigned char *p, size_t n, mark *m, size_t *lines, uint32_t c[4])
{
    return scan_vec<sse2_ops>(p, n, m, lines, c);
}
