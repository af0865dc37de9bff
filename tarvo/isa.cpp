#include "tarvo/isa.h"

bool isa_supported(isa k)
{
#if defined(__x86_64__)
    if (k == isa::avx2) {
        // Needed when called before the constructors that would run it have.
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2");
    }
#endif
    return k == isa::plain;
}

isa isa_state::active = isa::plain;

namespace {

// Constant-initialized, as active is, so both hold before any start-up code
// runs: whichever of choose and a force_isa made before main runs first,
// the force wins.
bool forced = false;

bool choose()
{
    if (!forced)
        isa_state::active = isa_supported(isa::avx2) ? isa::avx2 : isa::plain;
    return true;
}

const bool chosen = choose();

} // namespace

void force_isa(isa k)
{
    isa_state::active = k;
    forced = true;
}
