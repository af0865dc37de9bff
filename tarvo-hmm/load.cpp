#include "tarvo-hmm/load.h"

#include "common/error.h"
#include "common/lines.h"
#include "common/order.h"
#include "tarvo-hmm/table.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <unordered_set>

namespace {

// Where the walk along the table is: the chromosomes done, the one it is
// in, its last position and the map position of its last kept locus.
struct walk {
    std::unordered_set<std::string> done;
    std::string chrom;
    gmap_walk w{};
    uint64_t last = 0;
    double kept_cm = 0;
};

// Whether r begins a chromosome; if so, checks that it has not come
// before and is in the map, and starts it in l.
bool starts_chrom(const options &o, gmap &g, const lines *in, const row &r, walk *k, loci *l)
{
    if (r.chrom_len == k->chrom.size() && memcmp(r.chrom, k->chrom.data(), k->chrom.size()) == 0)
        return false;
    if (!k->chrom.empty())
        k->done.insert(k->chrom);
    k->chrom.assign(r.chrom, r.chrom_len);
    if (k->done.count(k->chrom))
        came_back(in, in->line, k->chrom.c_str(), "the table has each chromosome's loci together");
    if (!gmap_start(&g, k->chrom, &k->w))
        error("tarvo-hmm: %s, line %ld: chromosome %s is not in the map %s\n", in->name, in->line,
              k->chrom.c_str(), o.map);
    l->chroms.push_back({k->chrom, l->n, 0});
    return true;
}

void read_loci(const options &o, gmap &g, lines *in, loci *l)
{
    const char *p;
    size_t len;
    table t;
    t.name = in->name;
    if (!next_line(in, &p, &len))
        error("tarvo-hmm: %s, line 1: no header; the input is empty\n", in->name);
    table_header(&t, p, len);
    loci_init(l, t.states);

    walk k;
    row r;
    while (next_line(in, &p, &len)) {
        table_row(&t, p, len, in->line, &r);
        const bool first = starts_chrom(o, g, in, r, &k, l);
        if (!first)
            ascending(in, k.chrom, r.pos, k.last);
        // Without a map the distance comes from the positions' difference,
        // exact whatever their size.
        double cm = o.map ? gmap_cm(&k.w, r.pos) : 0;
        double step = first  ? 0
                      : o.map ? cm - k.kept_cm
                              : static_cast<double>(r.pos - l->pos[l->n - 1]) * o.rate * 1e-6;
        k.last = r.pos;
        if (!first && step < o.thin) {
            l->left_out++;
            continue;
        }
        loci_add(l, r.lnl, first ? 0 : step / 100, r.pos);
        l->chroms.back().count++;
        k.kept_cm = cm;
    }
    if (l->n == 0)
        error("tarvo-hmm: %s, line %ld: no loci; the table ends after its header\n", in->name,
              in->line + 1);
}

} // namespace

const char *load(const options &o, gmap &g, loci *l)
{
    int fd = 0;
    const char *name = "standard input";
    if (o.input) {
        fd = open(o.input, O_RDONLY);
        if (fd < 0)
            error("tarvo-hmm: cannot open %s: %s\n", o.input, strerror(errno));
        name = o.input;
    }
    static lines in;
    lines_open(&in, fd, name, "tarvo-hmm");
    read_loci(o, g, &in, l);
    lines_close(&in);
    if (fd)
        close(fd);
    return name;
}
