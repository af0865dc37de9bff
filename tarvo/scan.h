#ifndef TARVO_SCAN_H
#define TARVO_SCAN_H

#include <cstddef>

// A stream of numbers read from a file descriptor, converted as the C
// library's scanf "%d" and "%lf" convert them: each conversion skips white
// space, consumes exactly the characters scanf consumes and yields the same
// value. Everyday codes and ordinary decimal numbers take a fast path;
// everything else is handed to the C library itself (scan.cpp tells the
// layers).
struct scanner {
    int fd;
    char *buf;     // cap bytes plus a NUL sentinel
    size_t cap;
    size_t pos;    // next unread byte
    size_t end;    // end of the bytes read so far
    bool eof;      // no more bytes will come (end of input or read error)
    int err;       // errno of a failed read, 0 if none
    size_t handed; // bytes given to the C library during one conversion
    size_t base;   // stream offset of buf[0]
    size_t slowed; // conversions left to the C library, for --debug
    bool replay;   // the C library is giving back what it put back
};

// Bytes a buffer needs beyond its capacity: a sentinel, and room for one
// eight-byte load that starts at it.
enum { SCAN_SLACK = 16 };

// Prepares s to read fd through buf, which holds cap + SCAN_SLACK bytes;
// cap is at least 256.
void scan_open(scanner *s, int fd, char *buf, size_t cap);

// Returns true and stores the value when exactly one item converted.
// Either way the read position ends just past what scanf would consume,
// including what a failed conversion reads and does not put back.
bool scan_int(scanner *s, int *v);

// Reads up to n doubles, each as "%lf" converts it; returns how many
// converted before the first failure (n when all did), the read position
// left as scan_int leaves it.
int scan_doubles(scanner *s, double *v, int n);

// Reads up to n everyday codes (everyday.h) and stops before anything
// else, which scan_int then reads one at a time. Returns how many it read.
int scan_codes(scanner *s, int *v, int n);

// The run kernels behind scan_codes and scan_doubles: each converts the
// leading items of p[0..e) that it can prove scanf converts alike, at most
// n, and sets *stop past the last one. They classify a block of 64 bytes
// at a time, so e must leave SCAN_SLACK readable bytes behind it. The
// reader runs them where active_isa() (tarvo/isa.h) is AVX2.
int codes_avx2(const char *p, const char *e, int *v, int n, const char **stop);
int doubles_avx2(const char *p, const char *e, double *v, int n, const char **stop);

// Skips white space, as every conversion does first, and tells whether the
// input ends there. A failed read is not an end: the next conversion fails
// on it.
bool scan_ended(scanner *s);

// Stream offset of the next unread byte.
inline size_t scan_offset(const scanner *s)
{
    return s->base + s->pos;
}

#endif
