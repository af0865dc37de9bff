#ifndef OSTREL_OSTREL_H
#define OSTREL_OSTREL_H

#include <cstddef>
#include <cstdint>

// Bytes asked of each read(2). On the benchmark loads 32 and 64 KiB ran up
// to 18% slower on long lines, and 128 to 512 KiB alike.
constexpr size_t read_size = 128 * 1024;

// The end of a line found by a count: the newline's index and the A, C, G
// and T before it, both counted from where the count began. A line's tally
// is the difference of two marks; its N are the rest of its length.
struct mark {
    uint32_t at;
    uint32_t c[4];
};

// Marks one count may record; more lines take more counts.
constexpr size_t max_marks = 1024;

// The kernels, one count of bases and newlines per instruction set. Each
// reads p[0..n), n below 2^32, and records a mark in m for every newline,
// up to max_marks of them. It stops at the first byte that is neither a
// base nor a newline, just after the max_marks-th newline, or at n, and
// returns that index; *lines is then the number of marks and c the A, C,
// G, T in p[0..stop). None reads outside p[0..n).
size_t count_scalar(const unsigned char *p, size_t n, mark *m, size_t *lines, uint32_t c[4]);
size_t count_sse2(const unsigned char *p, size_t n, mark *m, size_t *lines, uint32_t c[4]);
size_t count_avx2(const unsigned char *p, size_t n, mark *m, size_t *lines, uint32_t c[4]);
size_t count_neon(const unsigned char *p, size_t n, mark *m, size_t *lines, uint32_t c[4]);

// Runs the chosen kernel on s[0..n); the caller reports a stop before n
// that did not fill m as "Invalid base: %c\n", once the tallies of the
// lines before it are out.
size_t count_bases(const char *s, size_t n, mark *m, size_t *lines, uint32_t c[4]);

// The x86-64 build has sse2 and avx2, the aarch64 build neon.
enum kernel { scalar, sse2, avx2, neon };

// Whether this processor can run k.
bool kernel_supported(kernel k);

// Points count_bases at the fastest kernel this processor runs, unless one
// has been forced.
void choose_kernel();

// Makes count_bases use k from now on, whatever choose_kernel would pick;
// lets the tests run the plain path on any processor.
void force_kernel(kernel k);

#endif
