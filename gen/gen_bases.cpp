// gen_bases LINE_BASES TOTAL_BYTES [SEED]
//
// Writes as many lines of LINE_BASES random bases as fit in TOTAL_BYTES
// (at least one), about 2% N and the rest A, C, G, T evenly, the same for
// the same seed on any machine. Prints the sums of the A, C, G, T and N
// counts to standard error, for checking ostrel's output.
#include "common/about.h"
#include "common/io.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

uint64_t state;

// splitmix64: fixed, and good enough to keep runs of one base short.
uint64_t next()
{
    uint64_t z = (state += 0x9e3779b97f4a7c15);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
    z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
    return z ^ (z >> 31);
}

char buf[1 << 20];
size_t len;

void drain()
{
    if (!write_all(1, buf, len)) {
        perror("gen_bases: write");
        exit(1);
    }
    len = 0;
}

const char usage[] =
    "usage: gen_bases LINE_BASES TOTAL_BYTES [SEED] > file\n"
    "\n"
    "Writes as many lines of LINE_BASES random bases as fit in TOTAL_BYTES (at\n"
    "least one), about 2% N, the same for the same seed (default 1) on any\n"
    "machine, and the sums of the A, C, G, T and N counts to standard error.\n";

} // namespace

int main(int argc, char **argv)
{
    if (const char *text = about(argc, argv, usage, "gen_bases " TARVO_OSTREL_VERSION "\n"))
        say(text, "gen_bases: cannot write standard output");
    if (argc < 3) {
        fputs(usage, stderr);
        return 1;
    }
    uint64_t line = strtoull(argv[1], nullptr, 10);
    uint64_t total = strtoull(argv[2], nullptr, 10);
    state = argc > 3 ? strtoull(argv[3], nullptr, 10) : 1;
    uint64_t lines = total / (line + 1);
    if (lines == 0)
        lines = 1;

    uint64_t sum[5] = {0, 0, 0, 0, 0};
    for (uint64_t l = 0; l < lines; l++) {
        uint64_t left = line, r = 0;
        int bits = 0;
        while (left > 0) {
            if (bits == 0) {
                r = next();
                bits = 64;
            }
            // 5 of 256 byte values give N: 1.95%.
            unsigned v = r & 0xff;
            r >>= 8;
            bits -= 8;
            int b = v < 5 ? 4 : v & 3;
            buf[len++] = "ACGTN"[b];
            sum[b]++;
            left--;
            if (len == sizeof buf)
                drain();
        }
        buf[len++] = '\n';
        if (len == sizeof buf)
            drain();
    }
    drain();
    fprintf(stderr, "%llu %llu %llu %llu %llu\n", (unsigned long long)sum[0],
            (unsigned long long)sum[1], (unsigned long long)sum[2],
            (unsigned long long)sum[3], (unsigned long long)sum[4]);
    return 0;
}
