#include "tarvo-hmm/states.h"

std::string state_name(int ploidy, int k)
{
    std::string s;
    for (int c = 0; c < ploidy; c++) {
        if (c)
            s += '_';
        s += c < ploidy - k ? "pop0" : "pop1";
    }
    return s;
}
