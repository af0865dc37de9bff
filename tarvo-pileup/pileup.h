#ifndef TARVO_PILEUP_PILEUP_H
#define TARVO_PILEUP_PILEUP_H

#include "common/observation.h"

#include <cstddef>
#include <cstdint>

// Base codes of the reads kept from a pileup line: A, C, G, T as in the
// observations, and BASE_REF for `.` or `,`, the reference base, which is
// only looked up where a locus needs it.
enum { BASE_REF = NBASES };

// 0-3 for the bases A, C, G, T in either case; -1 for any other byte.
int base_code(char c);

// One line of `samtools mpileup` text, for the chosen sample: the reads
// that show a base, in pileup order. Only the first `keep` are stored; the
// rest are counted.
struct locus {
    const char *chrom; // in the line's buffer, not NUL-terminated
    size_t chrom_len;
    uint64_t pos;
    char ref;          // the reference base, as written
    long reads;        // reads showing a base
    long ref_reads;    // of which showing the reference base (. or ,)
    unsigned char *code; // the first min(reads, keep) of them: BASE_*
    unsigned char *qual; // and their Phred qualities, 0 to 93; both keep + 1
                         // long, the last a scratch slot
};

// Where the chosen sample's columns are: decided on the first line from
// its number of columns, which every later line must repeat.
struct layout {
    int sample;      // the sample asked for (-c), from 1; 0 when not given
    size_t columns;  // columns of every line; 0 before the first
    size_t first;    // index of the sample's depth column, from 0
};

// Reads line number `line` of the file `name` (for messages) into l,
// storing up to keep reads in l->code and l->qual, which hold one more.
// Any fault in the line ends the run with a message naming it.
void pileup_line(const char *p, size_t len, const char *name, long line, layout *lay,
                 locus *l, long keep);

#endif
