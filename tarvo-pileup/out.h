#ifndef TARVO_PILEUP_OUT_H
#define TARVO_PILEUP_OUT_H

#include "common/observation.h"

#include <cstddef>
#include <cstdint>

// A buffered output file.
struct sink {
    int fd; // -1 when there is none
    const char *name;
    char *buf;
    size_t cap;
    size_t len;
};

// The observations and, when asked for, the sites file. A site's line
// never reaches its file before its observation is written in full, so
// after any failure the sites file holds no line whose observation is
// missing from the output.
struct outputs {
    sink obs;
    sink sites;
    int n;            // sites per observation
    bool failed;      // a write of the observations failed
    uint64_t count;   // observations put
    size_t line_max;  // the longest observation line
    char *pad;        // the missing code n times, then an error rate of 0 n times
};

// Opens sites_path (nullptr for none) for observations of n sites, and
// arranges that whatever is waiting is written at any exit, failures
// included.
void out_open(outputs *o, const char *sites_path, int n);

// One observation of n sites: codes[0..used) with their Phred qualities,
// padded to n; the frequencies. And its site's line.
void put_observation(outputs *o, long used, const unsigned char *codes,
                     const unsigned char *quals, const double freq[FREQS]);
void put_site(outputs *o, const char *chrom, size_t chrom_len, uint64_t pos, long used,
              long left);

// The end of a successful run: everything written and the sites file
// closed, each step checked.
void out_close(outputs *o);

#endif
