// tarvo-pileup: turns `samtools mpileup` text into tarvo's observations,
// one per locus of a reference panel that reads cover.

#include "common/about.h"
#include "common/error.h"
#include "tarvo-pileup/lines.h"
#include "tarvo-pileup/order.h"
#include "tarvo-pileup/out.h"
#include "tarvo-pileup/panel.h"
#include "tarvo-pileup/pileup.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const int DEFAULT_SITES = 50;
const int MAX_SITES = 1000000;

const char HELP[] =
    "tarvo-pileup: tarvo's observations from the reads of one individual. Reads\n"
    "samtools mpileup text on standard input and writes, for each locus of the\n"
    "panel that reads cover, one observation for tarvo on standard output.\n"
    "\n"
    "usage: tarvo-pileup -r panel [-n numalleles] [-s sites] [-c sample] < pileup\n"
    "\n"
    "  -r panel       the two populations' frequencies per locus, a plain file of\n"
    "                 6 columns (chrom pos ref alt af0 af1) or 10 (chrom pos and\n"
    "                 A C G T in population 0, then in population 1) (required)\n"
    "  -n numalleles  reads per observation (default 50). Give tarvo the same -n:\n"
    "                 with a larger one tarvo usually stops on line 1 with\n"
    "                 \"(tarvoprob) Error reading allele N+1 on line 1\" (N this -n);\n"
    "                 with a smaller one it misreads the numbers and may write wrong\n"
    "                 lines before it stops. Set it once: n=50, then\n"
    "                 tarvo-pileup -n $n ... | tarvo -a -n $n ...\n"
    "  -s sites       write chrom, pos, reads used, reads left out to this file,\n"
    "                 one line per observation (default: none)\n"
    "  -c sample      the sample's columns to read, from 1 (needed when the\n"
    "                 pileup has several; default: the only one)\n"
    "  --help         show this text and exit (as the first word only)\n"
    "  --version      show the version and exit (as the first word only)\n"
    "\n"
    "Exit status: 0 on success; 2 on any failure, with a message on standard error.\n"
    "Manual: man tarvo-pileup (in the sources: docs/tarvo-pileup.md)\n";
const char VERSION[] = "tarvo-pileup " TARVO_OSTREL_VERSION "\n";

[[noreturn]] void usage()
{
    error("usage: tarvo-pileup -r panel [-n numalleles] [-s sites] [-c sample] < pileup\n");
}

[[noreturn]] void say(const char *text)
{
    size_t n = strlen(text);
    if (write(1, text, n) != (ssize_t)n)
        error("tarvo-pileup: cannot write standard output: %s\n", strerror(errno));
    exit(0);
}

// An option's value: a whole number from 1 to max, or the run stops.
int count(char opt, const char *arg, long max)
{
    char *end;
    errno = 0;
    long v = strtol(arg, &end, 10);
    if (errno || end == arg || *end || v < 1 || v > max)
        error("tarvo-pileup: -%c %s: not a whole number from 1 to %ld\n", opt, arg, max);
    return (int)v;
}

// The reference base of a panel locus whose line needs it: for the
// panel's ref, or for reads that show it. Whether a line needs it is
// decided on all its reads, not on those -n keeps.
int reference(const locus *l, const char *name, long line)
{
    int base = base_code(l->ref);
    if (base < 0)
        error("tarvo-pileup: %s, line %ld: reference base %c at %.*s %llu: a pileup made "
              "without samtools mpileup -f, or a reference without a base there\n",
              name, line, l->ref, (int)l->chrom_len, l->chrom, (unsigned long long)l->pos);
    return base;
}

// A standard descriptor the caller closed would be the next file opened
// (the panel as standard input, the sites file as standard output). Each
// is held by /dev/null opened the other way, so that using it fails as
// the closed descriptor would: "Bad file descriptor".
void hold_standard()
{
    for (int fd = 0; fd <= 2; fd++)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF &&
            open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY) != fd)
            error("tarvo-pileup: cannot hold descriptor %d: %s\n", fd, strerror(errno));
}

// A sites file that is the panel would be emptied on opening.
void not_panel(const char *sites_path, const panel *pn)
{
    struct stat st;
    if (sites_path && stat(sites_path, &st) == 0 && (uint64_t)st.st_dev == pn->dev &&
        (uint64_t)st.st_ino == pn->ino)
        error("tarvo-pileup: -s %s is the panel; it would be overwritten\n", sites_path);
}

} // namespace

int main(int argc, char **argv)
{
    const char *panel_path = nullptr, *sites_path = nullptr;
    int n = DEFAULT_SITES, c;
    layout lay{0, 0, 0};

    hold_standard();
    if (const char *text = about(argc, argv, HELP, VERSION))
        say(text);
    while ((c = getopt(argc, argv, "r:n:s:c:")) != -1) {
        switch (c) {
        case 'r':
            panel_path = optarg;
            break;
        case 'n':
            n = count('n', optarg, MAX_SITES);
            break;
        case 's':
            sites_path = optarg;
            break;
        case 'c':
            lay.sample = count('c', optarg, 1000000);
            break;
        default:
            usage();
        }
    }
    if (!panel_path || optind != argc)
        usage();

    // The inputs and outputs live for the run, past main's return: the
    // exit handler writes what waits in the outputs.
    static panel pn;
    panel_open(&pn, panel_path);
    not_panel(sites_path, &pn);
    static outputs out;
    out_open(&out, sites_path, n);

    const char *name = "standard input";
    static lines in;
    lines_open(&in, 0, name);
    std::vector<unsigned char> codes(n + 1), quals(n + 1);
    locus l;
    l.code = codes.data();
    l.qual = quals.data();

    // The chromosome under way. One that comes back after others would
    // need the panel read again: the panel's index marks those left.
    // Chromosomes the panel lacks give nothing, so their order is free.
    std::string chrom;
    bool in_panel = false, met = false, any = false;
    uint64_t last = 0;
    const char *p;
    size_t len;
    while (next_line(&in, &p, &len)) {
        const long line = in.line;
        any = true;
        pileup_line(p, len, name, line, &lay, &l, n);
        if (l.chrom_len != chrom.size() || memcmp(l.chrom, chrom.data(), chrom.size()) != 0) {
            chrom.assign(l.chrom, l.chrom_len);
            int found = panel_chrom(&pn, chrom);
            if (found == CHROM_AGAIN)
                error("tarvo-pileup: %s, line %ld: chromosome %s again, after others; a "
                      "pileup has each chromosome's loci together\n",
                      name, line, chrom.c_str());
            in_panel = found == CHROM_FOUND;
            met = met || in_panel;
        } else {
            ascending(&in, chrom, l.pos, last);
        }
        last = l.pos;
        if (!in_panel || !panel_find(&pn, l.pos))
            continue;

        const site &s = pn.at;
        if (s.ref >= 0 || l.ref_reads > 0) {
            int ref = reference(&l, name, line);
            if (s.ref >= 0 && ref != s.ref)
                error("tarvo-pileup: %s, line %ld: reference base %c at %s %llu, but %s "
                      "line %ld has ref %c: the two were made on different references\n",
                      name, line, l.ref, chrom.c_str(), (unsigned long long)l.pos,
                      pn.in.name, line_number(&pn.in), "ACGT"[s.ref]);
            for (long i = 0, kept = l.reads < n ? l.reads : n; i < kept; i++)
                if (codes[i] == BASE_REF)
                    codes[i] = (unsigned char)ref;
        }
        if (l.reads == 0)
            continue;
        long used = l.reads < n ? l.reads : n;
        put_observation(&out, used, codes.data(), quals.data(), s.freq);
        put_site(&out, l.chrom, l.chrom_len, l.pos, used, l.reads - used);
    }
    panel_unchanged(&pn);
    out_close(&out);
    // Chromosomes named one way in the reads and another in the panel
    // (chr1 and 1) would otherwise give an empty result that looks like
    // no coverage; the run still succeeds, since a pileup of other
    // chromosomes alone is not wrong.
    if (any && !met)
        fprintf(stderr, "tarvo-pileup: warning: no chromosome of the pileup (the last was %s) "
                        "is in %s; are they named alike (chr1 or 1)?\n",
                chrom.c_str(), panel_path);
    else if (out.count == 0)
        fprintf(stderr, "tarvo-pileup: warning: no observation written: %s; check that the "
                        "reads and %s name the chromosomes alike (chr1 or 1) and are on the "
                        "same reference build, and that samtools mpileup -l was given the "
                        "panel's loci\n",
                any ? "no read shows a base at a locus of the panel" : "the pileup is empty",
                panel_path);
    return 0;
}
