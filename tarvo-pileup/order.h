#ifndef TARVO_PILEUP_ORDER_H
#define TARVO_PILEUP_ORDER_H

#include <cstdint>
#include <string>

#include "common/error.h"
#include "tarvo-pileup/lines.h"

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

#endif
