// tarvo-hmm's table reader on any lines: the first is the header. A line
// it takes must give, column by column, what the C library reads there;
// a line it refuses comes back here through error.

#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tarvo-hmm/table.h"
#include "tests/util.h"

static jmp_buf back;

void error_escape()
{
    longjmp(back, 1);
}

static void check(const std::string &line, const table &t, const row &r)
{
    if (std::string(r.chrom, r.chrom_len) != column(line, t.chrom) || r.chrom_len == 0)
        abort();
    std::string pos = column(line, t.pos);
    if (pos.empty() || pos.find_first_not_of("0123456789") != std::string::npos ||
        r.pos != strtoull(pos.c_str(), nullptr, 10) || r.pos == 0)
        abort();
    bool any = false;
    for (int s = 0; s < t.states; s++) {
        std::string f = column(line, t.lnl[s]);
        char *end;
        double v = strtod(f.c_str(), &end);
        if (f.empty() || *end || std::isnan(v) || v == HUGE_VAL)
            abort();
        if (memcmp(&v, &r.lnl[s], sizeof v) != 0)
            abort();
        any = any || v != -HUGE_VAL;
    }
    if (!any)
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    FILE *saved = stderr;
    stderr = fopen("/dev/null", "w");
    // Nothing that owns memory may be left behind by the jump back: the
    // line lives here, and each copy of it in a buffer of its own size so
    // that reading past it shows up.
    static std::string one;
    static table t;
    char *volatile copy = nullptr;
    long line = 0;
    size_t from = 0;
    t.name = "fuzz";
    if (setjmp(back) == 0) {
        while (from < text.size()) {
            size_t nl = text.find('\n', from);
            if (nl == std::string::npos)
                nl = text.size();
            one.assign(text, from, nl - from);
            free(copy);
            copy = static_cast<char *>(malloc(one.size() + 1));
            memcpy(copy, one.data(), one.size());
            if (++line == 1) {
                table_header(&t, copy, one.size());
            } else {
                row r;
                table_row(&t, copy, one.size(), line, &r);
                check(one, t, r);
            }
            from = nl + 1;
        }
    }
    free(copy);
    fclose(stderr);
    stderr = saved;
    return 0;
}
