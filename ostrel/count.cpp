#include "ostrel/ostrel.h"

#include <cstring>

namespace {

// Not a base code: the plain kernel's sign of the end of a line.
constexpr signed char newline = 5;

struct code_table {
    signed char code[256];
};

constexpr code_table make_codes()
{
    code_table t{};
    for (signed char &c : t.code)
        c = -1;
    const char bases[] = "ACGTN";
    for (int k = 0; k < 5; k++)
        t.code[static_cast<unsigned char>(bases[k])] = static_cast<signed char>(k);
    t.code[static_cast<unsigned char>('\n')] = newline;
    return t;
}

constexpr code_table codes = make_codes();

} // namespace

size_t count_scalar(const unsigned char *p, size_t n, mark *m, size_t *lines, uint32_t c[4])
{
    uint32_t t[5] = {0, 0, 0, 0, 0};
    size_t k = 0, i = 0;

    for (; i < n; i++) {
        int b = codes.code[p[i]];
        if (b < 0)
            break;
        if (b == newline) {
            m[k].at = static_cast<uint32_t>(i);
            memcpy(m[k].c, t, sizeof m[k].c);
            if (++k == max_marks) {
                i++;
                break;
            }
            continue;
        }
        t[b]++;
    }
    *lines = k;
    memcpy(c, t, 4 * sizeof t[0]);
    return i;
}

size_t count_bases(const char *s, size_t n, mark *m, size_t *lines, uint32_t c[4])
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(s);

    switch (active_isa()) {
#if defined(__x86_64__)
    case isa::avx2:
        return count_avx2(p, n, m, lines, c);
    case isa::sse2:
        return count_sse2(p, n, m, lines, c);
#elif defined(__aarch64__)
    case isa::neon:
        return count_neon(p, n, m, lines, c);
#endif
    default:
        return count_scalar(p, n, m, lines, c);
    }
}
