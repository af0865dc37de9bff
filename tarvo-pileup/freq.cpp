#include "tarvo-pileup/freq.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>

bool read_number(const char *p, size_t len, double *v)
{
    auto r = std::from_chars(p, p + len, *v);
    if (r.ptr != p + len)
        return false;
    if (r.ec == std::errc())
        return true;
    if (r.ec != std::errc::result_out_of_range)
        return false;
    // A number too small for a subnormal (1e-400) rounds to zero, as one
    // just within that range (1e-320) rounds to the nearest subnormal;
    // the library refuses the first and leaves the value to strtod, which
    // rounds it. The text is a plain decimal here, so both read it alike.
    char text[64];
    std::string big;
    const char *z = text;
    if (len < sizeof text) {
        memcpy(text, p, len);
        text[len] = 0;
    } else {
        big.assign(p, len);
        z = big.c_str();
    }
    *v = strtod(z, nullptr);
    return true;
}

bool plain_fraction(const char *p, size_t len)
{
#ifdef PILEUP_PLAIN
    return (void)p, (void)len, false;
#endif
    if (len == 0 || len > 64)
        return false;
    size_t i = 0;
    const char whole = p[0];
    if (whole == '0' || whole == '1')
        i = 1;
    if (i == len)
        return true;
    if (p[i] != '.' || (i == 0 && len == 1))
        return false;
    // 1 may be followed by zeros only; 0 and nothing by any digits.
    const unsigned top = whole == '1' ? 0 : 9;
    for (i++; i < len; i++)
        if ((unsigned)((unsigned char)p[i] - '0') > top)
            return false;
    return true;
}
