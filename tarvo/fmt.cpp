#include "tarvo/fmt.h"

#include <charconv>

// std::to_chars with a precision is exact and rounds ties to even, as the
// C library's printf does in the default rounding mode, and spells the
// special values as printf does; the tests hold the two equal over random
// bit patterns. It costs a fraction of printf.
char *fmt_e(char *out, double v)
{
    return std::to_chars(out, out + FMT_E_MAX, v, std::chars_format::scientific, 6).ptr;
}

char *fmt_f(char *out, double v)
{
    return std::to_chars(out, out + FMT_F_MAX, v, std::chars_format::fixed, 6).ptr;
}
