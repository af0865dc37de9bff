// The log output's properties (tests/loglik_compare.h) on any observation.
// The first byte picks the ploidy and how often each site repeats (long
// observations from short inputs); then 8 frequencies of 8 bytes each, then
// per site a code byte and 8 bytes of error rate.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tests/loglik_compare.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 + 64)
        return 0;
    const int ploidy = 1 + (data[0] & 1), repeat = 1 + ((data[0] >> 1) & 63);
    double F[8];
    memcpy(F, data + 1, sizeof F);
    std::vector<int> codes;
    std::vector<double> eps;
    for (size_t at = 65; at + 9 <= size; at += 9) {
        double e;
        memcpy(&e, data + at + 1, sizeof e);
        for (int k = 0; k < repeat; k++) {
            codes.push_back(data[at] % 5 == 4 ? (int)MISSING : data[at] % 5);
            eps.push_back(e);
        }
    }
    double table[TABLE_SIZE];
    build_table(ploidy, table);
    loglik_verdict v =
        loglik_compare(table, ploidy, (int)codes.size(), codes.data(), eps.data(), F);
    if (!v.error.empty()) {
        fprintf(stderr, "%s\n", v.error.c_str());
        abort();
    }
    return 0;
}
