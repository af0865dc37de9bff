#ifndef TESTS_UTIL_H
#define TESTS_UTIL_H

// Helpers that the unit tests and the fuzz targets share.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "ostrel/ostrel.h"
#include "tarvo/isa.h"

// The bits of a double, to compare values exactly (NaNs included, down to
// their sign and payload), and the double of given bits.
inline uint64_t bits(double d)
{
    uint64_t u;
    memcpy(&u, &d, sizeof u);
    return u;
}

inline double from_bits(uint64_t u)
{
    double d;
    memcpy(&d, &u, sizeof d);
    return d;
}

// A file in memory holding text, open for reading from its start.
inline int memfd(const std::string &text)
{
    int fd = memfd_create("test", 0);
    if (fd < 0 || write(fd, text.data(), text.size()) != (ssize_t)text.size())
        abort();
    lseek(fd, 0, SEEK_SET);
    return fd;
}

// ostrel's kernels for this processor family, the plain one first; each
// runs only where isa_supported says so.
typedef size_t count_fn(const unsigned char *, size_t, mark *, size_t *, uint32_t *);

struct kernel_fn {
    const char *name;
    count_fn *fn;
    isa k;
};

// A function rather than a table, so that a test of tarvo links without
// ostrel's kernels.
inline std::vector<kernel_fn> ostrel_kernels()
{
    return {
        {"scalar", count_scalar, isa::plain},
#if defined(__x86_64__)
        {"sse2", count_sse2, isa::sse2},
        {"avx2", count_avx2, isa::avx2},
#elif defined(__aarch64__)
        {"neon", count_neon, isa::neon},
#endif
    };
}

// For the unit tests, which include GoogleTest first; the fuzz targets
// build without it.
#ifdef TEST_P
// A suite whose every test runs twice: forced to the plain path, and to
// the AVX2 path, which is skipped where the processor has no AVX2. Each
// derives its own:
//   class Scan : public both_paths {};
class both_paths : public testing::TestWithParam<bool> {
  protected:
    void SetUp() override
    {
        if (GetParam() && !isa_supported(isa::avx2))
            GTEST_SKIP() << "no AVX2 here";
        saved = active_isa();
        force_isa(GetParam() ? isa::avx2 : isa::plain);
    }
    void TearDown() override { force_isa(saved); }
    isa saved = isa::plain;
};

// Instantiates such a suite, the two runs named `plain` and "avx2".
#define BOTH_PATHS(prefix, suite, plain)                                                      \
    INSTANTIATE_TEST_SUITE_P(prefix, suite, testing::Bool(),                                  \
                             [](const testing::TestParamInfo<bool> &i) {                       \
                                 return i.param ? "avx2" : plain;                              \
                             })
#endif

// The n-th tab-separated column of a line.
inline std::string column(const std::string &line, size_t n)
{
    size_t from = 0;
    for (size_t i = 0; i < n; i++)
        from = line.find('\t', from) + 1;
    return line.substr(from, line.find('\t', from) - from);
}

#endif
