#ifndef OSTREL_OSTREL_H
#define OSTREL_OSTREL_H

#include <cstddef>
#include <cstdint>

#include "common/isa.h"

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

// Runs the kernel of active_isa() on s[0..n); the caller reports a stop
// before n that did not fill m as "Invalid base: %c\n", once the tallies
// of the lines before it are out.
size_t count_bases(const char *s, size_t n, mark *m, size_t *lines, uint32_t c[4]);

// The kernels this build has, the plain one first: sse2 and avx2 on
// x86-64, neon on aarch64. count_bases runs the one of active_isa(), which
// is always one of them.
constexpr isa ostrel_sets[] = {
    isa::plain,
#if defined(__x86_64__)
    isa::sse2,
    isa::avx2,
#elif defined(__aarch64__)
    isa::neon,
#endif
};

constexpr isa_paths ostrel_paths = {"ostrel", ostrel_sets,
                                    sizeof ostrel_sets / sizeof *ostrel_sets};

#endif
