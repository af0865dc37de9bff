// The number reader against sscanf with %n, on any bytes, on the portable
// path and on the run kernels. The first byte picks the conversions (int,
// double, a batch of doubles or of codes, seven at a time, repeating) and
// the buffer size; the rest, up to its first NUL, is the text.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/scan_compare.h"
#include "tests/util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    std::string kinds;
    for (int i = 0; i < 64; i++)
        kinds += "dfbc"[(data[0] >> (i % 7)) & 3];
    size_t cap = data[0] & 0x80 ? 256 : 1 << 18; // the smallest, or the program's
    std::string text((const char *)data + 1, size - 1);
    text = text.substr(0, text.find('\0'));
    for (bool avx2 : {false, true}) {
        if (avx2 && !cpu_avx2())
            continue;
        scan_use_avx2 = avx2;
        scan_verdict v = scan_compare(text, kinds, cap);
        if (!v.error.empty()) {
            fprintf(stderr, "reader (%s) disagrees with sscanf: %s\n",
                    avx2 ? "avx2" : "portable", v.error.c_str());
            abort();
        }
    }
    return 0;
}
