#ifndef TARVO_DIGITS_H
#define TARVO_DIGITS_H

// Decimal digits eight bytes at a time, for the reader and its run
// kernels. Every trick here counts the first byte of the text as the lowest
// byte of the word, as a little-endian processor loads it; a big-endian
// build reads its numbers a byte at a time instead (fast_double).

#include <cstdint>
#include <cstring>

inline uint64_t load8(const char *p)
{
    uint64_t x;
    memcpy(&x, p, sizeof x);
    return x;
}

// How many of the eight bytes in x, first byte lowest, are digits before
// the first one that is not. A carry out of a byte that is not a digit can
// only spoil the bytes after it, which are not counted.
inline int run8(uint64_t x)
{
    uint64_t a = x ^ 0x3030303030303030;
    uint64_t nd = ((a + 0x7676767676767676) | a) & 0x8080808080808080;
    return nd ? __builtin_ctzll(nd) >> 3 : 8;
}

// The value of the first n (1 to 8) digits in x: shifting puts zeros in
// front of them, then neighbouring digits, pairs and quads are merged.
inline uint64_t val8(uint64_t x, int n)
{
    uint64_t a = (x ^ 0x3030303030303030) << (8 * (8 - n));
    a = (a * 10 + (a >> 8)) & 0x00ff00ff00ff00ff;
    a = (a * 100 + (a >> 16)) & 0x0000ffff0000ffff;
    return (a * 10000 + (a >> 32)) & 0xffffffff;
}

// Powers of ten that a double holds exactly.
const double pow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

const uint64_t ipow10[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

#endif
