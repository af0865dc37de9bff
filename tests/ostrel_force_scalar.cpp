#include "ostrel/ostrel.h"

// Runs before main, whose choose_kernel then leaves the choice alone.
static const bool pinned = (force_kernel(scalar), true);
