#ifndef TARVO_PILEUP_PANEL_H
#define TARVO_PILEUP_PANEL_H

#include "common/lines.h"
#include "common/observation.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <deque>
#include <vector>

// One locus of the panel: the frequencies of A, C, G, T in population 0,
// then in population 1, as tarvo reads them; and, in the 6-column form,
// the reference base (0-3), or -1 in the 10-column form.
struct site {
    uint64_t pos;
    int ref;
    double freq[FREQS];
};

// Where a chromosome's lines begin, and a hash of its name, in the order
// of the file; the top bit of `at` marks a chromosome that the pileup has
// already left. With the table of slots (3 to 11 bytes a chromosome) this
// is 19 to 27 bytes a chromosome, as an assembly of a million scaffolds
// has a million; the names themselves are read back from the file where
// they are needed.
struct start {
    uint64_t hash;
    uint64_t at;
};

// The panel: its file, read a chromosome at a time from where the index
// says it begins, so that memory grows with its chromosomes, not its loci.
struct panel {
    lines in;
    int columns;              // 6 or 10
    std::deque<start> index;  // grows by blocks, without a vector's copy
    std::vector<uint32_t> slots; // by hash: 1 + an entry of index, or 0
    int shift;                // 64 less the bits of a slot's number
    size_t current;           // the chromosome being read: its index entry
    std::string chrom;        // and its name; empty when none
    site at;                  // its current locus
    bool done;                // no more loci of chrom
    bool checking;            // in the first pass, which keeps no values
    // What the first pass read: the file must stay so.
    uint64_t dev, ino, size;
    timespec mtime;
};

// Opens the file and reads it through once, checking every line and
// noting where each chromosome begins.
void panel_open(panel *pn, const char *path);

// The outcome of moving to a chromosome.
enum { CHROM_NONE, CHROM_FOUND, CHROM_AGAIN };

// Moves to the first locus of chromosome `chrom`: CHROM_NONE when the
// panel has none, CHROM_AGAIN when an earlier call moved there and another
// came between.
int panel_chrom(panel *pn, const std::string &chrom);

// Moves on to the first locus of the current chromosome at or past pos;
// true when it is at pos.
bool panel_find(panel *pn, uint64_t pos);

// The locus that panel_find last moved to.
const site &panel_site(const panel *pn);

// For messages: the panel's file, and the number of the line of its
// current locus.
const char *panel_name(const panel *pn);
long panel_line(const panel *pn);

// True when path names the panel's file.
bool panel_is(const panel *pn, const char *path);

// Ends the run if the file is no longer what the first pass read.
void panel_unchanged(const panel *pn);

#endif
