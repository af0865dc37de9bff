#include "tarvo-hmm/numbers.h"

#include <charconv>
#include <cstdint>

namespace {

const double POW10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7,
                        1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

bool slow(const char *b, const char *e, double *v)
{
    auto r = std::from_chars(b, e, *v);
    return r.ec == std::errc() && r.ptr == e && b != e;
}

} // namespace

bool read_double(const char *b, const char *e, double *v)
{
    const char *p = b;
    bool neg = p < e && *p == '-';
    p += neg;
    uint64_t n = 0;
    const char *start = p;
    while (p < e && *p >= '0' && *p <= '9')
        n = n * 10 + static_cast<unsigned>(*p++ - '0');
    int digits = static_cast<int>(p - start), frac = 0;
    bool whole = digits > 0;
    if (p < e && *p == '.') {
        const char *f = ++p;
        while (p < e && *p >= '0' && *p <= '9')
            n = n * 10 + static_cast<unsigned>(*p++ - '0');
        frac = static_cast<int>(p - f);
        whole = whole && frac > 0;
        digits += frac;
    }
    if (p != e || !whole || digits > 15)
        return slow(b, e, v);
    double x = static_cast<double>(n) / POW10[frac];
    *v = neg ? -x : x;
    return true;
}
