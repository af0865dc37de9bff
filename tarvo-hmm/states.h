#ifndef TARVO_HMM_STATES_H
#define TARVO_HMM_STATES_H

#include <string>

// The name of state k (copies from population 1) at ploidy p: pop0 and
// pop1 for one copy, pop0_pop0, pop0_pop1 and pop1_pop1 for two. Every
// column header and tract label is made from it.
std::string state_name(int ploidy, int k);

#endif
