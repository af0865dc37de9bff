// The base scanners against the plain one, on any bytes and any split of
// them into two calls: the same counts and the same first byte that is not
// a base. The first byte of the input picks the split.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "ostrel/ostrel.h"

namespace {

struct outcome {
    uint64_t c[5];
    size_t stop; // index of the first byte that is not a base, or n
};

outcome scan_split(size_t (*scan)(const unsigned char *, size_t, uint64_t *),
                   const unsigned char *p, size_t n, size_t split)
{
    outcome o{{0, 0, 0, 0, 0}, 0};
    size_t k = scan(p, split, o.c);
    o.stop = k < split ? k : split + scan(p + split, n - split, o.c);
    return o;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const unsigned char *p = data + 1;
    size_t n = size - 1;
    size_t split = n ? data[0] % (n + 1) : 0;
    outcome want = scan_split(scan_scalar, p, n, n);
    struct {
        const char *name;
        size_t (*scan)(const unsigned char *, size_t, uint64_t *);
        kernel k;
    } kernels[] = {
#if defined(__x86_64__)
        {"sse2", scan_sse2, sse2},
        {"avx2", scan_avx2, avx2},
#elif defined(__aarch64__)
        {"neon", scan_neon, neon},
#endif
    };
    for (auto &k : kernels) {
        if (!kernel_supported(k.k))
            continue;
        for (size_t at : {n, split}) {
            outcome got = scan_split(k.scan, p, n, at);
            if (got.stop != want.stop || memcmp(got.c, want.c, sizeof got.c) != 0) {
                fprintf(stderr, "%s, split at %zu: stop %zu, want %zu\n", k.name, at, got.stop,
                        want.stop);
                abort();
            }
        }
    }
    return 0;
}
