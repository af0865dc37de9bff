#include "ostrel/ostrel.h"

#include "common/error.h"

namespace {

struct code_table {
    signed char code[256];
};

constexpr code_table make_codes()
{
    code_table t{};
    for (signed char &c : t.code)
        c = -1;
    const char bases[] = "ACGTN";
    for (int k = 0; k < 5; k++)
        t.code[static_cast<unsigned char>(bases[k])] = static_cast<signed char>(k);
    return t;
}

constexpr code_table codes = make_codes();

kernel active = scalar;
bool forced = false;

} // namespace

size_t scan_scalar(const unsigned char *p, size_t n, uint64_t c[5])
{
    for (size_t i = 0; i < n; i++) {
        int k = codes.code[p[i]];
        if (k < 0)
            return i;
        c[k]++;
    }
    return n;
}

bool kernel_supported(kernel k)
{
#if defined(__x86_64__)
    // Needed when called before the constructors that would run it have.
    __builtin_cpu_init();
    if (k == avx2)
        return __builtin_cpu_supports("avx2") &&
               __builtin_cpu_supports("popcnt");
    return k != neon;
#elif defined(__aarch64__)
    // AdvSIMD is part of every aarch64 processor.
    return k == scalar || k == neon;
#else
    return k == scalar;
#endif
}

void choose_kernel()
{
    if (forced)
        return;
    active = kernel_supported(avx2) ? avx2
             : kernel_supported(sse2) ? sse2
             : kernel_supported(neon) ? neon
                                      : scalar;
}

void force_kernel(kernel k)
{
    active = k;
    forced = true;
}

size_t encode(const char *s, size_t n, uint64_t c[5])
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(s);
    size_t i;

    switch (active) {
#if defined(__x86_64__)
    case avx2:
        i = scan_avx2(p, n, c);
        break;
    case sse2:
        i = scan_sse2(p, n, c);
        break;
#elif defined(__aarch64__)
    case neon:
        i = scan_neon(p, n, c);
        break;
#endif
    default:
        i = scan_scalar(p, n, c);
        break;
    }
    if (i < n && p[i] != '\n')
        error("Invalid base: %c\n", p[i]);
    return i;
}
