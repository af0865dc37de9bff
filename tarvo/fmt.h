#ifndef TARVO_FMT_H
#define TARVO_FMT_H

// Longest text fmt_e writes: "-1.797693e+308".
enum { FMT_E_MAX = 16 };

// Writes v as printf's "%e" writes it (no terminating NUL); returns the
// end of what it wrote. out needs room for FMT_E_MAX bytes.
char *fmt_e(char *out, double v);

#endif
