#ifndef TARVO_ISA_H
#define TARVO_ISA_H

// The instruction sets tarvo's vector code is built for: the plain build
// that every processor runs and, on x86-64, AVX2 (cmake/simd.cmake). One
// choice for the scoring and the reader alike.
enum class isa { plain, avx2 };

// Whether this processor runs k.
bool isa_supported(isa k);

// Makes the scoring and the reader run k from now on, whatever the
// processor offers; lets the tests run the plain path on any processor. It
// may be called before main, before or after the choice at start-up.
void force_isa(isa k);

namespace isa_state {
extern isa active; // written by isa.cpp alone
}

// The instruction set the scoring and the reader run: the best one this
// processor supports, chosen once at start-up, unless one was forced.
// Inline, so that a dispatch costs one load.
inline isa active_isa()
{
    return isa_state::active;
}

#endif
