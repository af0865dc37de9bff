// The whole likelihood program on any input. The first byte picks the
// ploidy, the number of sites and of observations; the rest is standard
// input. The program's failures come back here instead of ending the
// process; its output and messages go to /dev/null.

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "tests/util.h"

int tarvo_main(int argc, char **argv);

static jmp_buf back;

void error_escape()
{
    longjmp(back, 1);
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    stdout = fopen("/dev/null", "w");
    stderr = fopen("/dev/null", "w");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    int fd = memfd(std::string((const char *)data + 1, size - 1));
    dup2(fd, 0);
    close(fd);

    std::string p = std::to_string(1 + (data[0] & 1));
    std::string n = std::to_string((int)((data[0] >> 1) & 7) - 1);
    std::string t = std::to_string(1 + (data[0] >> 4));
    char *argv[] = {(char *)"tarvo", (char *)"-t", &t[0], (char *)"-p", &p[0],
                    (char *)"-n", &n[0], nullptr};
    optind = 0; // a fresh getopt for every run
    if (!setjmp(back))
        tarvo_main(7, argv);
    fflush(stdout);
    return 0;
}
