// The kernels against the plain one, on any bytes, whole and from an
// offset the first byte of the input picks: the same stop, the same marks
// and the same counts.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "ostrel/ostrel.h"
#include "tests/util.h"

namespace {

struct outcome {
    size_t stop, lines;
    uint32_t c[4];
    mark m[max_marks];
};

outcome got, want;

void run(count_fn *fn, const unsigned char *p, size_t n, outcome *o)
{
    memset(o, 0, sizeof *o);
    o->stop = fn(p, n, o->m, &o->lines, o->c);
}

bool same(const outcome &a, const outcome &b)
{
    return a.stop == b.stop && a.lines == b.lines && memcmp(a.c, b.c, sizeof a.c) == 0 &&
           memcmp(a.m, b.m, a.lines * sizeof a.m[0]) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const unsigned char *p = data + 1;
    size_t n = size - 1;
    size_t from = n ? data[0] % (n + 1) : 0;
    static const std::vector<kernel_fn> kernels = ostrel_kernels();
    for (size_t at : {size_t{0}, from}) {
        run(count_scalar, p + at, n - at, &want);
        for (auto &k : kernels) {
            if (k.k == isa::plain || !isa_supported(k.k))
                continue;
            run(k.fn, p + at, n - at, &got);
            if (!same(got, want)) {
                fprintf(stderr, "%s, from %zu: stop %zu, want %zu; %zu lines, want %zu\n",
                        k.name, at, got.stop, want.stop, got.lines, want.lines);
                abort();
            }
        }
    }
    return 0;
}
