// The number reader against sscanf with %n, on any bytes. The first byte
// picks the conversions (int or double, eight at a time, repeating) and the
// buffer size; the rest, up to its first NUL, is the text.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/scan_compare.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    std::string kinds;
    for (int i = 0; i < 64; i++)
        kinds += (data[0] >> (i % 7)) & 1 ? 'd' : 'f';
    size_t cap = data[0] & 0x80 ? 256 : 1 << 16;
    std::string text((const char *)data + 1, size - 1);
    text = text.substr(0, text.find('\0'));
    scan_verdict v = scan_compare(text, kinds, cap);
    if (!v.error.empty()) {
        fprintf(stderr, "reader disagrees with sscanf: %s\n", v.error.c_str());
        abort();
    }
    return 0;
}
