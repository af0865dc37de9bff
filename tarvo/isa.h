#ifndef TARVO_ISA_H
#define TARVO_ISA_H

#include "common/isa.h"

// The instruction sets tarvo's vector code is built for (cmake/simd.cmake):
// the plain build that every processor runs and, on x86-64, AVX2. The
// scoring and the reader run AVX2 where active_isa() is avx2, and the
// plain build for any other set.
constexpr isa tarvo_sets[] = {
    isa::plain,
#if defined(__x86_64__)
    isa::avx2,
#endif
};

constexpr isa_paths tarvo_paths = {"tarvo", tarvo_sets, sizeof tarvo_sets / sizeof *tarvo_sets};

#endif
