#include "tarvo-pileup/freq.h"

#include <charconv>
#include <cstdint>

namespace {

// Powers of ten that a double holds exactly.
constexpr double exact[16] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                              1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

} // namespace

bool read_number(const char *p, size_t len, double *v)
{
    // A frequency is mostly a short decimal such as 0.25 or 0.018: with at
    // most 15 digits both its digits as a whole number and the power of
    // ten below them are exact doubles, so one division rounds once, to
    // the nearest double, as the full conversion would.
    uint64_t m = 0;
    size_t digits = 0, frac = 0, i = 0;
    bool point = false;
    for (; i < len && digits <= 15; i++) {
        unsigned d = (unsigned char)p[i] - '0';
        if (d < 10) {
            m = 10 * m + d;
            digits++;
            frac += point;
        } else if (p[i] == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (i == len && digits > 0 && digits <= 15) {
        *v = (double)m / exact[frac];
        return true;
    }
    auto r = std::from_chars(p, p + len, *v);
    return r.ec == std::errc() && r.ptr == p + len;
}
