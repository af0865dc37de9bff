// The formatter against the C library's printf "%e" on any double: each
// eight bytes of the input are the bits of one value.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tarvo/fmt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    for (size_t at = 0; at + 8 <= size; at += 8) {
        double v;
        memcpy(&v, data + at, sizeof v);
        char want[64], got[FMT_E_MAX + 1];
        snprintf(want, sizeof want, "%e", v);
        *fmt_e(got, v) = '\0';
        if (strcmp(want, got) != 0) {
            fprintf(stderr, "fmt_e wrote %s, printf %s (%a)\n", got, want, v);
            abort();
        }
    }
    return 0;
}
