// A plain reading of the likelihood program with scanf and printf, one
// number per call, kept as the reference the real program is compared with
// on random and broken inputs.

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

#include "common/error.h"
#include "tests/literal_score.h"

int main(int argc, char **argv)
{
    int ploidy = -1, numobs = 0, numalleles = 50, c;
    while ((c = getopt(argc, argv, "p:t:n:")) != -1) {
        switch (c) {
        case 'p':
            ploidy = (int)strtol(optarg, nullptr, 10);
            break;
        case 't':
            numobs = (int)strtol(optarg, nullptr, 10);
            break;
        case 'n':
            numalleles = (int)strtol(optarg, nullptr, 10);
            break;
        default:
            error("tarvo -t numobs -p ploidy < inputfile\n");
        }
    }
    if (numobs <= 0 || (ploidy != 1 && ploidy != 2))
        error("tarvo -t numobs -p ploidy < inputfile\n");

    double table[4][4][4];
    for (int k = 0; k < 4; k++)
        for (int i = 0; i < 4; i++)
            for (int j = 0; j < 4; j++)
                table[k][i][j] = (double)((k == i) + (ploidy == 2 ? (k == j) : 0)) / (double)ploidy;
    int nstates = ploidy == 2 ? 3 : 2;
    std::vector<int> codes(numalleles > 0 ? numalleles : 0);
    std::vector<double> eps(codes.size());
    double F[2][4], L[3];

    for (int r = 0; r < numobs; r++) {
        for (int g = 0; g < numalleles; g++) {
            if (scanf("%d", &codes[g]) != 1)
                error("(tarvoprob) Error reading allele %d on line %d\n", g, r + 1);
            if ((codes[g] < 0 || codes[g] > 3) && codes[g] != 5)
                error("(tarvoprob) Invalid allele code %d for allele %d on line %d\n", codes[g], g,
                      r + 1);
        }
        for (int p = 0; p < 2; p++)
            for (int a = 0; a < 4; a++)
                if (scanf("%lf", &F[p][a]) != 1)
                    error("(tarvoprob) Error reading probability of allele %d in population %d "
                          "on line %d\n", a, p, r + 1);
        for (int g = 0; g < numalleles; g++)
            if (scanf("%lf", &eps[g]) != 1)
                error("(tarvoprob) Error reading eps of allele %d on line %d\n", g, r + 1);

        literal_score(&table[0][0][0], ploidy, numalleles, codes.data(), eps.data(), &F[0][0],
                      L);
        for (int s = 0; s < nstates; s++)
            printf("%e%s", L[s], s < nstates - 1 ? "\t" : "\n");
    }
    return 0;
}
