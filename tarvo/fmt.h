#ifndef TARVO_FMT_H
#define TARVO_FMT_H

// Longest text fmt_e writes: "-1.797693e+308".
enum { FMT_E_MAX = 16 };

// Writes v as printf's "%e" writes it (no terminating NUL); returns the
// end of what it wrote. out needs room for FMT_E_MAX bytes.
char *fmt_e(char *out, double v);

// Longest text fmt_f writes: "-" and the 309 digits of DBL_MAX, ".", six
// decimals.
enum { FMT_F_MAX = 317 };

// Writes v as printf's "%.6f" writes it (no terminating NUL); returns the
// end of what it wrote. out needs room for FMT_F_MAX bytes.
char *fmt_f(char *out, double v);

#endif
