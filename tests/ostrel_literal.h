#ifndef TESTS_OSTREL_LITERAL_H
#define TESTS_OSTREL_LITERAL_H

// The base tally rules read plainly, shared by the end-to-end tests and the
// whole-stream fuzz target, and random lines for the tests.

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "tests/run.h"

// What a getline loop over `in` writes, with status 0 at a normal end: the
// last byte of each line dropped, the rest checked, then the tally.
inline result ostrel_literal(const std::string &in)
{
    const std::string_view bases("ACGTN");
    result r{"", "", 0};
    for (size_t i = 0; i < in.size();) {
        size_t nl = in.find('\n', i);
        size_t next = nl == std::string::npos ? in.size() : nl + 1;
        uint64_t c[5] = {0, 0, 0, 0, 0};
        for (size_t j = i; j + 1 < next; j++) {
            size_t b = bases.find(in[j]);
            if (b == std::string_view::npos)
                return {r.out, "Invalid base: " + std::string(1, in[j]) + "\n", 2};
            c[b]++;
        }
        for (int b = 0; b < 5; b++)
            r.out += std::to_string(c[b]) + (b < 4 ? "\t" : "\n");
        i = next;
    }
    return r;
}

// n bases, about one in fifty an N.
inline std::string random_bases(std::mt19937_64 &rng, size_t n)
{
    std::string s(n, 'A');
    for (char &ch : s)
        ch = rng() % 50 == 0 ? 'N' : "ACGT"[rng() % 4];
    return s;
}

#endif
