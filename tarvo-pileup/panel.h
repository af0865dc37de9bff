#ifndef TARVO_PILEUP_PANEL_H
#define TARVO_PILEUP_PANEL_H

#include "tarvo-pileup/lines.h"

#include <cstdint>
#include <string>
#include <unordered_map>

// One locus of the panel: the frequencies of A, C, G, T in population 0,
// then in population 1, as tarvo reads them; and, in the 6-column form,
// the reference base (0-3), or -1 in the 10-column form.
struct site {
    uint64_t pos;
    int ref;
    double freq[8];
};

// Where a chromosome's lines begin.
struct start {
    uint64_t offset;
    long line;
};

// The panel: its file, read a chromosome at a time from where the index
// says it begins, so that memory grows with its chromosomes, not its loci.
struct panel {
    lines in;
    int columns; // 6 or 10
    std::unordered_map<std::string, start> index;
    std::string chrom; // the chromosome being read; empty when none
    site at;           // its current locus
    bool done;         // no more loci of chrom
};

// Opens the file and reads it through once, checking every line and
// noting where each chromosome begins.
void panel_open(panel *pn, const char *path);

// Moves to the first locus of chromosome `chrom`; false when the panel
// has none.
bool panel_chrom(panel *pn, const std::string &chrom);

// Moves on to the first locus of the current chromosome at or past pos;
// true when it is at pos.
bool panel_find(panel *pn, uint64_t pos);

#endif
