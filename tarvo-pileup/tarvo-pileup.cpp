// tarvo-pileup: turns `samtools mpileup` text into tarvo's observations,
// one per locus of a reference panel that reads cover.

#include "common/about.h"
#include "common/error.h"
#include "common/io.h"
#include "common/lines.h"
#include "common/observation.h"
#include "common/order.h"
#include "tarvo-pileup/out.h"
#include "tarvo-pileup/panel.h"
#include "tarvo-pileup/pileup.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

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
    "  -n numalleles  reads per observation (default " DEFAULT_SITES_TEXT
    "). Give tarvo the same -n:\n"
    "                 with a larger one tarvo usually stops on line 1 with\n"
    "                 \"(tarvoprob) Error reading allele N+1 on line 1\" (N this -n);\n"
    "                 with a smaller one it misreads the numbers and may write wrong\n"
    "                 lines before it stops. Set it once: n=" DEFAULT_SITES_TEXT ", then\n"
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

// An option's value: a whole number from 1 to max, or the run stops.
int option_number(char opt, const char *arg, long max)
{
    char *end;
    errno = 0;
    long v = strtol(arg, &end, 10);
    if (errno || end == arg || *end || v < 1 || v > max)
        error("tarvo-pileup: -%c %s: not a whole number from 1 to %ld\n", opt, arg, max);
    return (int)v;
}

struct options {
    const char *panel_path = nullptr;
    const char *sites_path = nullptr;
    int n = DEFAULT_SITES;
    int sample = 0; // -c, from 1; 0 when not given
};

options read_options(int argc, char **argv)
{
    options o;
    int c;
    while ((c = getopt(argc, argv, "r:n:s:c:")) != -1) {
        switch (c) {
        case 'r':
            o.panel_path = optarg;
            break;
        case 'n':
            o.n = option_number('n', optarg, MAX_SITES);
            break;
        case 's':
            o.sites_path = optarg;
            break;
        case 'c':
            o.sample = option_number('c', optarg, 1000000);
            break;
        default:
            usage();
        }
    }
    if (!o.panel_path || optind != argc)
        usage();
    return o;
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
    if (sites_path && panel_is(pn, sites_path))
        error("tarvo-pileup: -s %s is the panel; it would be overwritten\n", sites_path);
}

// Where the pileup is: the chromosome under way, and whether the panel
// has it. One that comes back after others would need the panel read
// again: the panel marks those left. Chromosomes the panel lacks give
// nothing, so their order is free.
struct place {
    std::string chrom;
    bool in_panel = false;
    bool met = false; // any chromosome of the panel
    bool any = false; // any line
    uint64_t last = 0;
};

// Moves the panel to l's chromosome when the pileup reaches a new one,
// checking the order of the loci (in, the pileup, for messages); true
// when the panel has the chromosome.
bool follow(place *at, panel *pn, const lines *in, const locus &l)
{
    at->any = true;
    if (l.chrom_len != at->chrom.size() ||
        memcmp(l.chrom, at->chrom.data(), at->chrom.size()) != 0) {
        at->chrom.assign(l.chrom, l.chrom_len);
        int found = panel_chrom(pn, at->chrom);
        if (found == CHROM_AGAIN)
            came_back(in, line_number(in), at->chrom.c_str(),
                      "a pileup has each chromosome's loci together");
        at->in_panel = found == CHROM_FOUND;
        at->met = at->met || at->in_panel;
    } else {
        ascending(in, at->chrom, l.pos, at->last);
    }
    at->last = l.pos;
    return at->in_panel;
}

// The reads that show the reference base get its code, once the panel's
// ref, where it has one, is found to be that base.
void resolve_reference(locus *l, long kept, const panel *pn, const lines *in)
{
    const site &s = panel_site(pn);
    if (s.ref < 0 && l->ref_reads == 0)
        return;
    const int ref = reference(l, in->name, line_number(in));
    if (s.ref >= 0 && ref != s.ref)
        error("tarvo-pileup: %s, line %ld: reference base %c at %.*s %llu, but %s "
              "line %ld has ref %c: the two were made on different references\n",
              in->name, line_number(in), l->ref, (int)l->chrom_len, l->chrom,
              (unsigned long long)l->pos, panel_name(pn), panel_line(pn), BASES[s.ref]);
    // A local, as a store of a byte may alias l->code itself.
    unsigned char *const codes = l->code;
    for (long i = 0; i < kept; i++)
        if (codes[i] == BASE_REF)
            codes[i] = (unsigned char)ref;
}

// A pileup locus at the panel's current locus: its observation and site
// line, when reads show a base there.
void join_locus(outputs *out, locus *l, const panel *pn, const lines *in, int n)
{
    const long used = l->reads < n ? l->reads : n;
    resolve_reference(l, used, pn, in);
    if (l->reads == 0)
        return;
    put_observation(out, used, l->code, l->qual, panel_site(pn).freq);
    put_site(out, l->chrom, l->chrom_len, l->pos, used, l->reads - used);
}

// Chromosomes named one way in the reads and another in the panel (chr1
// and 1) would otherwise give an empty result that looks like no
// coverage; the run still succeeds, since a pileup of other chromosomes
// alone is not wrong.
void warn_if_empty(const place &at, const outputs &out, const char *panel_path)
{
    if (at.any && !at.met)
        fprintf(stderr, "tarvo-pileup: warning: no chromosome of the pileup (the last was %s) "
                        "is in %s; are they named alike (chr1 or 1)?\n",
                at.chrom.c_str(), panel_path);
    else if (out.count == 0)
        fprintf(stderr, "tarvo-pileup: warning: no observation written: %s; check that the "
                        "reads and %s name the chromosomes alike (chr1 or 1) and are on the "
                        "same reference build, and that samtools mpileup -l was given the "
                        "panel's loci\n",
                at.any ? "no read shows a base at a locus of the panel" : "the pileup is empty",
                panel_path);
}

} // namespace

int main(int argc, char **argv)
{
    hold_standard();
    if (const char *text = about(argc, argv, HELP, VERSION))
        say(text, "tarvo-pileup: cannot write standard output");
    const options o = read_options(argc, argv);

    // The inputs and outputs live for the run, past main's return: the
    // exit handler writes what waits in the outputs.
    static panel pn;
    panel_open(&pn, o.panel_path);
    not_panel(o.sites_path, &pn);
    static outputs out;
    out_open(&out, o.sites_path, o.n);
    static lines in;
    lines_open(&in, 0, "standard input", "tarvo-pileup");

    layout lay{o.sample, 0, 0};
    std::vector<unsigned char> codes(o.n + 1), quals(o.n + 1);
    locus l;
    l.code = codes.data();
    l.qual = quals.data();
    place at;
    const char *p;
    size_t len;
    while (next_line(&in, &p, &len)) {
        pileup_line(p, len, in.name, line_number(&in), &lay, &l, o.n);
        if (follow(&at, &pn, &in, l) && panel_find(&pn, l.pos))
            join_locus(&out, &l, &pn, &in, o.n);
    }
    panel_unchanged(&pn);
    out_close(&out);
    warn_if_empty(at, out, o.panel_path);
    return 0;
}
