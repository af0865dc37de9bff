#ifndef TARVO_HMM_NUMBERS_H
#define TARVO_HMM_NUMBERS_H

// The numbers of the table and of the posteriors, read and written the
// short way where that is exact, the library's way elsewhere.

// Reads [b, e) as a whole decimal number, as std::from_chars does; false
// when it is not one. tarvo -l writes -12.345678: up to 15 digits in all
// read as one integer divided by a power of ten, both exact as doubles,
// so the one rounding of the division is the correct one.
bool read_double(const char *b, const char *e, double *v);

// Writes v as printf's "%.6f" does; returns the end. out needs room for
// FMT_F_MAX bytes (tarvo/fmt.h).
char *put_f6(char *out, double v);

#endif
