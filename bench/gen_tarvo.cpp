// Writes a tarvo workload: numobs observations of 50 sites for ploidy 2,
// one per line, about one site in ten missing, frequencies and error rates
// with six significant digits. Deterministic for a given seed.

#include <cstdint>
#include <cstdio>
#include <cstdlib>

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

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: gen_tarvo numobs [seed] > file\n");
        return 2;
    }
    long numobs = atol(argv[1]);
    state = argc > 2 ? strtoull(argv[2], nullptr, 10) : 20261208;
    const int sites = 50;
    for (long o = 0; o < numobs; o++) {
        for (int g = 0; g < sites; g++)
            printf("%d ", next() % 10 == 0 ? 5 : (int)(next() % 4));
        for (int p = 0; p < 2; p++) {
            double f[4], sum = 0;
            for (double &x : f)
                sum += x = 0.05 + unit();
            for (double x : f)
                printf("%.6g ", x / sum);
        }
        for (int g = 0; g < sites; g++)
            printf(g < sites - 1 ? "%.6g " : "%.6g\n", 0.001 + 0.05 * unit());
    }
    if (fflush(stdout) != 0) {
        perror("gen_tarvo");
        return 2;
    }
    return 0;
}
