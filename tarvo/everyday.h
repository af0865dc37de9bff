#ifndef TARVO_EVERYDAY_H
#define TARVO_EVERYDAY_H

#include "common/observation.h"

// The shapes the reader takes in runs without a question: the white space
// between items and the everyday allele code. The portable reader and the
// AVX2 run kernels both classify bytes by these rules and by no others.

// White space as isspace() has it in the C locale, the locale a program
// runs in until it calls setlocale(): blank, and tab to carriage return.
constexpr bool is_space(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// An everyday code is one byte, a valid code of an observation, with
// white space on both sides: scanf "%d" reads that byte alone. Any other
// code is read one at a time and judged by the program.
constexpr bool is_code(char c)
{
    return c >= '0' && c <= '9' && valid_code(c - '0');
}

// Whether p[1] is an everyday code between white space. A byte at or past the end of
// the bytes read cannot pass, as the sentinel NUL that ends them comes
// first and is not white space.
constexpr bool everyday_code(const char *p)
{
    return is_space(p[0]) && is_code(p[1]) && is_space(p[2]);
}

#endif
