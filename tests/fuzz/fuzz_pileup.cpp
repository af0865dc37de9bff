// The pileup reader on any lines, with the sample and the reads kept
// picked by the first two bytes. A line it takes must give the reads that
// a plain reading of the chosen sample's columns gives; a line it refuses
// comes back here through error.

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tarvo-pileup/pileup.h"
#include "tests/util.h"

static jmp_buf back;

void error_escape()
{
    longjmp(back, 1);
}

static void check(const std::string &line, const layout &lay, const locus &l, long keep,
                  const unsigned char *code, const unsigned char *qual)
{
    std::string bases = column(line, lay.first + 1), quals = column(line, lay.first + 2);
    std::vector<int> want_code, want_qual;
    size_t q = 0;
    for (size_t i = 0; i < bases.size() && bases != "*"; i++) {
        char c = bases[i];
        if (c == '^') {
            i++;
        } else if (c == '+' || c == '-') {
            size_t j = i + 1, n = strtoul(bases.c_str() + j, nullptr, 10);
            while (bases[j] >= '0' && bases[j] <= '9')
                j++;
            i = j + n - 1;
        } else if (c != '$') {
            const char *at = strchr("ACGTacgt.,", c);
            if (at) {
                want_code.push_back(at - "ACGTacgt.," < 8 ? (at - "ACGTacgt.,") % 4 : 4);
                want_qual.push_back(quals[q] - 33);
            }
            q++;
        }
    }
    if (l.reads != (long)want_code.size())
        abort();
    for (long i = 0; i < l.reads && i < keep; i++)
        if (code[i] != want_code[i] || qual[i] != want_qual[i])
            abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    layout lay{data[0] % 4, 0, 0};
    const long keep = 1 + data[1] % 8;
    std::string text(reinterpret_cast<const char *>(data) + 2, size - 2);
    unsigned char code[9], qual[9]; // keep + 1, as pileup_line asks
    locus l;
    l.code = code;
    l.qual = qual;
    FILE *saved = stderr;
    stderr = fopen("/dev/null", "w");
    long line = 0;
    size_t from = 0;
    // Nothing that owns memory may be left behind by the jump back: the
    // line lives here, and each copy of it in a buffer of its own size so
    // that reading past it shows up.
    static std::string one;
    char *volatile copy = nullptr;
    if (setjmp(back) == 0) {
        while (from < text.size()) {
            size_t nl = text.find('\n', from);
            if (nl == std::string::npos)
                nl = text.size();
            one.assign(text, from, nl - from);
            free(copy);
            copy = static_cast<char *>(malloc(one.size()));
            memcpy(copy, one.data(), one.size());
            pileup_line(copy, one.size(), "fuzz", ++line, &lay, &l, keep);
            check(one, lay, l, keep, code, qual);
            from = nl + 1;
        }
    }
    free(copy);
    fclose(stderr);
    stderr = saved;
    return 0;
}
