#ifndef OSTREL_OSTREL_H
#define OSTREL_OSTREL_H

#include <cstddef>
#include <cstdint>

// Bytes asked of each read(2). On the benchmark loads 32 and 64 KiB ran up
// to 18% slower on long lines, and 128 to 512 KiB alike.
constexpr size_t read_size = 128 * 1024;

// Adds the bases of s[0..n) that come before the first newline to c (A, C,
// G, T, N in base-code order) and returns the newline's index, or n when
// there is none. Any other byte that is not a base ends the process with
// "Invalid base: %c\n".
size_t encode(const char *s, size_t n, uint64_t c[5]);

// The scanners behind encode. Each adds to c the bases in p[0..n) before the
// first byte that is not one of A C G T N and returns that byte's index, or
// n. None reads outside p[0..n).
size_t scan_scalar(const unsigned char *p, size_t n, uint64_t c[5]);
size_t scan_sse2(const unsigned char *p, size_t n, uint64_t c[5]);
size_t scan_avx2(const unsigned char *p, size_t n, uint64_t c[5]);
size_t scan_neon(const unsigned char *p, size_t n, uint64_t c[5]);

// The x86-64 build has sse2 and avx2, the aarch64 build neon.
enum kernel { scalar, sse2, avx2, neon };

// Whether this processor can run k.
bool kernel_supported(kernel k);

// Points encode at the fastest scanner this processor runs, unless one has
// been forced.
void choose_kernel();

// Makes encode use k from now on, whatever choose_kernel would pick; lets
// the tests run the plain path on any processor.
void force_kernel(kernel k);

#endif
