#include "tarvo-hmm/gmap.h"

#include "common/error.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "tarvo-hmm/reader.h"

namespace {

// Whitespace-separated words of a line.
int words(const char *p, size_t len, const char **at, size_t *n, int max)
{
    int k = 0;
    const char *end = p + len;
    while (p < end) {
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\r'))
            p++;
        if (p == end)
            break;
        const char *w = p;
        while (p < end && *p != ' ' && *p != '\t' && *p != '\r')
            p++;
        if (k < max) {
            at[k] = w;
            n[k] = p - w;
        }
        k++;
    }
    return k;
}

} // namespace

void gmap_read(gmap *g, const char *path)
{
    g->name = path;
    int fd = open(path, O_RDONLY);
    if (fd < 0)
        error("tarvo-hmm: cannot open map %s: %s\n", path, strerror(errno));
    reader r;
    reader_open(&r, fd, path);
    const char *p;
    size_t len;
    std::vector<gmap_point> *cur = nullptr;
    std::string last;
    while (reader_next(&r, &p, &len)) {
        const char *at[4];
        size_t n[4];
        int k = words(p, len, at, n, 4);
        if (k == 0 || at[0][0] == '#')
            continue;
        if (k != 4)
            error("tarvo-hmm: %s, line %ld: %d columns; a PLINK map has 4 (chromosome, "
                  "marker, centimorgans, base position)\n",
                  path, r.line, k);
        std::string chrom(at[0], n[0]);
        double cm;
        uint64_t bp;
        auto c = std::from_chars(at[2], at[2] + n[2], cm);
        if (c.ec != std::errc() || c.ptr != at[2] + n[2] || !std::isfinite(cm))
            error("tarvo-hmm: %s, line %ld: centimorgans '%.*s' is not a number\n", path,
                  r.line, (int)n[2], at[2]);
        auto b = std::from_chars(at[3], at[3] + n[3], bp);
        if (b.ec != std::errc() || b.ptr != at[3] + n[3])
            error("tarvo-hmm: %s, line %ld: base position '%.*s' is not a whole number\n",
                  path, r.line, (int)n[3], at[3]);
        if (!cur || chrom != last) {
            if (g->chroms.count(chrom))
                error("tarvo-hmm: %s, line %ld: chromosome %s again, after others; a map "
                      "has each chromosome's rows together\n",
                      path, r.line, chrom.c_str());
            cur = &g->chroms[chrom];
            last = chrom;
        } else {
            const gmap_point &q = cur->back();
            if (bp <= q.bp)
                error("tarvo-hmm: %s, line %ld: base position %llu of %s is not above the "
                      "one before, %llu\n",
                      path, r.line, (unsigned long long)bp, chrom.c_str(),
                      (unsigned long long)q.bp);
            if (cm < q.cm)
                error("tarvo-hmm: %s, line %ld: %g cM at %s %llu is below the %g cM before\n",
                      path, r.line, cm, chrom.c_str(), (unsigned long long)bp, q.cm);
        }
        cur->push_back({bp, cm});
    }
    reader_close(&r);
    close(fd);
    for (const auto &c : g->chroms)
        if (c.second.size() < 2)
            error("tarvo-hmm: %s: chromosome %s has one point; interpolation needs two\n", path,
                  c.first.c_str());
}

bool gmap_start(const gmap *g, const std::string &chrom, gmap_walk *w)
{
    w->i = 0;
    w->rate = g->rate;
    w->pts = nullptr;
    if (g->name.empty())
        return true;
    auto it = g->chroms.find(chrom);
    if (it == g->chroms.end())
        return false;
    w->pts = &it->second;
    return true;
}

double gmap_cm(gmap_walk *w, uint64_t bp)
{
    if (!w->pts)
        return static_cast<double>(bp) * w->rate * 1e-6;
    const std::vector<gmap_point> &v = *w->pts;
    while (w->i + 2 < v.size() && v[w->i + 1].bp <= bp)
        w->i++;
    const gmap_point &a = v[w->i], &b = v[w->i + 1];
    // Signed: before the first point the first interval's rate runs backwards.
    double off = bp >= a.bp ? static_cast<double>(bp - a.bp) : -static_cast<double>(a.bp - bp);
    return a.cm + (b.cm - a.cm) * off / static_cast<double>(b.bp - a.bp);
}
