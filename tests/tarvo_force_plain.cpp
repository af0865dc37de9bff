#include "tarvo/isa.h"

// Runs before main; the choice at start-up leaves a forced one alone.
static const bool pinned = (force_isa(isa::plain), true);
