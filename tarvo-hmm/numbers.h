#ifndef TARVO_HMM_NUMBERS_H
#define TARVO_HMM_NUMBERS_H

// The numbers of the table, read the short way where that is exact, the
// library's way elsewhere. The posteriors are written by tarvo's fmt_f.

// Reads [b, e) as a whole decimal number, as std::from_chars does; false
// when it is not one. tarvo -l writes -12.345678: up to 15 digits in all
// read as one integer divided by a power of ten, both exact as doubles,
// so the one rounding of the division is the correct one.
bool read_double(const char *b, const char *e, double *v);

#endif
