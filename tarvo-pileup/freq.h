#ifndef TARVO_PILEUP_FREQ_H
#define TARVO_PILEUP_FREQ_H

#include <cstddef>

// The number written in p[0..len) as the nearest double, read as
// std::from_chars reads it, a number beyond a double's range included
// (zero or infinity, as it rounds); false when the whole text is not one
// number.
bool read_number(const char *p, size_t len, double *v);

#endif
