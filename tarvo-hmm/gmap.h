#ifndef TARVO_HMM_GMAP_H
#define TARVO_HMM_GMAP_H

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

// Genetic positions: a PLINK .map read whole (chromosome, marker id,
// centimorgans, base position), interpolated linearly, its first and last
// intervals' rates carried on beyond its ends; or, without a map, a
// constant rate in centimorgans per megabase.
struct gmap_point {
    uint64_t bp;
    double cm;
};

// Where a chromosome's rows begin in the map file.
struct gmap_span {
    uint64_t off;
    long line;
};

// A map that can be read again is read through once to check it and note
// where each chromosome begins, then a chromosome at a time as the table
// needs it, so memory follows the largest chromosome's rows; one that
// cannot (a pipe) is held whole.
struct gmap {
    std::string name; // the map file, for messages; empty: constant rate
    double rate;      // cM per Mb when there is no map
    int fd = -1;      // open while the map is read a chromosome at a time
    std::unordered_map<std::string, gmap_span> index;
    std::unordered_map<std::string, std::vector<gmap_point>> chroms; // a map held whole
    std::vector<gmap_point> cur; // the chromosome under way, read again
};

void gmap_read(gmap *g, const char *path);

// Walks one chromosome's positions in ascending order.
struct gmap_walk {
    const std::vector<gmap_point> *pts; // null: the constant rate
    double rate;
    size_t i; // pts[i].bp <= bp < pts[i + 1].bp, clamped to the end intervals
};

// Starts a chromosome; false when the map lacks it.
bool gmap_start(gmap *g, const std::string &chrom, gmap_walk *w);

// Centimorgans at bp, which is not below the last one asked of w.
double gmap_cm(gmap_walk *w, uint64_t bp);

#endif
