#ifndef TARVO_HMM_TABLE_H
#define TARVO_HMM_TABLE_H

#include "common/observation.h"

#include <cstddef>
#include <cstdint>

// The per-locus table: a `#` header naming the columns, then one line per
// locus. Columns are found by name, so the pipeline's four leading columns
// are optional beside `chrom` and `pos`; the `lnL_` columns name the states
// and so the ploidy.

struct table {
    const char *name; // for messages
    int columns;
    int chrom, pos;          // their columns, from 0
    int lnl[MAX_STATES];     // the column of each state's log-likelihood
    int states;              // 2 (ploidy 1) or 3 (ploidy 2)
};

struct row {
    const char *chrom;
    size_t chrom_len;
    uint64_t pos;
    double lnl[MAX_STATES];
};

// Reads the header line (line 1); a header the table cannot be read by
// ends the run with a message.
void table_header(table *t, const char *p, size_t len);

// Reads locus line number `line` into r; a line that is not a locus ends
// the run with a message. -inf is a log-likelihood; NaN and +inf are not.
void table_row(const table *t, const char *p, size_t len, long line, row *r);

#endif
