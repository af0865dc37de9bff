#ifndef TARVO_PILEUP_FREQ_H
#define TARVO_PILEUP_FREQ_H

#include <cstddef>

// The number written in p[0..len) as the nearest double, read as
// std::from_chars reads it, a number beyond a double's range included
// (zero or infinity, as it rounds); false when the whole text is not one
// number.
bool read_number(const char *p, size_t len, double *v);

// True when p[0..len) is a decimal that read_number takes and whose value
// lies from 0 to 1, in the forms panels write (0, 1, 0.25, .5, 1.000);
// false for any other text, which may still be such a number. A check
// that needs no value, for the panel's first pass.
bool plain_fraction(const char *p, size_t len);

#endif
