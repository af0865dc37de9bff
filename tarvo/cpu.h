#ifndef TARVO_CPU_H
#define TARVO_CPU_H

// Whether this processor runs AVX2; never on other processor families. It
// may run before main, perhaps before the library's own set-up, so it sets
// up the processor check itself.
inline bool cpu_avx2()
{
#if defined(__x86_64__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

#endif
