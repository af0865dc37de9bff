#ifndef COMMON_ORDER_H
#define COMMON_ORDER_H

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/error.h"
#include "common/lines.h"

// A position, or a depth: decimal digits alone, up to what 64 bits hold.
// Every input reads its numbers this one way.
inline bool read_count(const char *p, size_t len, uint64_t *v)
{
    auto r = std::from_chars(p, p + len, *v);
    return r.ec == std::errc() && r.ptr == p + len;
}

// A locus's position counts from 1.
inline bool read_position(const char *p, size_t len, uint64_t *pos)
{
    return read_count(p, len, pos) && *pos != 0;
}

// The text p[0..len) on line `line` of `name` is not a position.
[[noreturn]] inline void not_position(const char *name, long line, const char *p, size_t len)
{
    error("tarvo-pileup: %s, line %ld: position \"%.*s\" is not a number from 1\n", name, line,
          (int)len, p);
}

// Each program walks its inputs forward once, so each holds a
// chromosome's loci in ascending position; the line last read from in
// breaks that when pos is not above before. what names the position.
inline void ascending(const lines *in, const std::string &chrom, uint64_t pos, uint64_t before,
                      const char *what = "position")
{
    if (pos <= before)
        error("%s: %s, line %ld: %s %llu of %s is not above the one before, %llu\n", in->prog,
              in->name, line_number(in), what, (unsigned long long)pos, chrom.c_str(),
              (unsigned long long)before);
}

// For the same reason a chromosome's loci come together: one met again
// after others, on line `line` of in, ends the run; rule says what the
// input should be.
[[noreturn]] inline void came_back(const lines *in, long line, const char *chrom,
                                   const char *rule)
{
    error("%s: %s, line %ld: chromosome %s again, after others; %s\n", in->prog, in->name,
          line, chrom, rule);
}

#endif
