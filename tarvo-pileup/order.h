#ifndef TARVO_PILEUP_ORDER_H
#define TARVO_PILEUP_ORDER_H

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/error.h"
#include "common/lines.h"

// A position, or a depth: decimal digits alone, up to what 64 bits hold.
// Both inputs read their numbers this one way.
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

// The join walks both inputs forward once, so each holds a chromosome's
// loci in ascending position; the line last read from in breaks that when
// pos is not above before.
inline void ascending(const lines *in, const std::string &chrom, uint64_t pos, uint64_t before)
{
    if (pos <= before)
        error("tarvo-pileup: %s, line %ld: position %llu of %s is not above the one "
              "before, %llu\n",
              in->name, line_number(in), (unsigned long long)pos, chrom.c_str(),
              (unsigned long long)before);
}

// For the same reason a chromosome's loci come together: one met again
// after others, on line `line` of `name`, ends the run. In the panel the
// line where its loci began is known (began); a pileup's is not (-1).
[[noreturn]] inline void came_back(const char *name, long line, const char *chrom, long began)
{
    if (began < 0)
        error("tarvo-pileup: %s, line %ld: chromosome %s again, after others; a pileup has "
              "each chromosome's loci together\n",
              name, line, chrom);
    error("tarvo-pileup: %s, line %ld: chromosome %s again, after others; its loci must come "
          "together (they began at line %ld)\n",
          name, line, chrom, began);
}

#endif
