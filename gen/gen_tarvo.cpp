// Writes a tarvo workload: numobs observations of 50 sites for ploidy 2,
// one per line, about one site in ten missing, frequencies and error rates
// with six significant digits. Deterministic for a given seed. With a third
// argument "odd", about one number in four hundred is an extreme or special value,
// for comparing builds on more than the everyday arithmetic; with "nan", one
// in eight is NaN of either sign, an infinity or zero, so that most results
// are NaN and NaNs of both signs meet; with "shortest", every frequency and
// error rate in the shortest form that reads back as the same double, as
// tarvo-pileup, Python's repr and std::to_chars write them.

#include "common/about.h"
#include "common/io.h"
#include "common/observation.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static uint64_t state;

static uint64_t next()
{
    uint64_t z = (state += 0x9e3779b97f4a7c15);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
    z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
    return z ^ (z >> 31);
}

static double unit()
{
    return (double)(next() >> 11) / 9007199254740992.0;
}

static bool odd, nans, shortest;

static void real(double x, const char *sep)
{
    static const char *const nan_heavy[] = {"nan", "-nan", "inf", "-inf", "0", "-0"};
    if (nans && next() % 8 == 0) {
        printf("%s%s", nan_heavy[next() % 6], sep);
        return;
    }
    static const char *const special[] = {"inf", "-inf", "nan", "-nan", "1e-310", "4.9e-324",
                                          "1e308", "-1e308", "0", "-0", "1", "2.5e-200",
                                          "0x1.fffffffffffffp-1", "1e-30", "1e30", "7"};
    if (odd && next() % 400 == 0) {
        printf("%s%s", special[next() % 16], sep);
    } else if (shortest) {
        char text[32];
        *std::to_chars(text, text + sizeof text - 1, x).ptr = '\0';
        printf("%s%s", text, sep);
    } else {
        printf("%.6g%s", x, sep);
    }
}

// One observation's parts, drawn as they are written.
struct observation {
    const int sites = DEFAULT_SITES;

    void codes()
    {
        for (int g = 0; g < sites; g++)
            printf("%d ", next() % 10 == 0 ? MISSING : (int)(next() % NBASES));
    }

    void freqs()
    {
        for (int p = 0; p < POPULATIONS; p++) {
            double f[NBASES], sum = 0;
            for (double &x : f)
                sum += x = 0.05 + unit();
            for (double x : f)
                real(x / sum, " ");
        }
    }

    void eps()
    {
        for (int g = 0; g < sites; g++)
            real(0.001 + 0.05 * unit(), g < sites - 1 ? " " : "\n");
    }
};

const char usage[] =
    "usage: gen_tarvo numobs [seed [odd|nan|shortest]] > file\n"
    "\n"
    "Writes numobs tarvo observations for ploidy 2 of " DEFAULT_SITES_TEXT " sites each (tarvo -t\n"
    "numobs -p 2), one per line, about one site in ten missing; the same for\n"
    "the same seed (default 20261208) on any machine. odd: about one number\n"
    "in 400 an extreme or special value; nan: one in eight NaN of either\n"
    "sign, an infinity or zero; shortest: frequencies and error rates in the\n"
    "shortest form that reads back as the same double (most have 16 or 17\n"
    "significant digits) instead of six significant digits.\n";

int main(int argc, char **argv)
{
    if (const char *text = about(argc, argv, usage, "gen_tarvo " TARVO_OSTREL_VERSION "\n"))
        say(text, "gen_tarvo: cannot write standard output");
    if (argc < 2) {
        fputs(usage, stderr);
        return 2;
    }
    long numobs = atol(argv[1]);
    state = argc > 2 ? strtoull(argv[2], nullptr, 10) : 20261208;
    odd = argc > 3 && argv[3][0] == 'o';
    nans = argc > 3 && argv[3][0] == 'n';
    shortest = argc > 3 && argv[3][0] == 's';
    observation ob;
    for (long o = 0; o < numobs; o++)
        each_part(ob);
    if (fflush(stdout) != 0) {
        perror("gen_tarvo");
        return 2;
    }
    return 0;
}
