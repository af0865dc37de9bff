#ifndef TESTS_SCAN_COMPARE_H
#define TESTS_SCAN_COMPARE_H

// Shared by the reader's unit tests and its fuzz target: reads a text as a
// sequence of conversions through the scanner and through sscanf with %n.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "tarvo/scan.h"

struct scan_verdict {
    int done;          // conversions that succeeded in both
    std::string error; // the first disagreement, empty if none
};

inline uint64_t scan_bits(double d)
{
    uint64_t u;
    memcpy(&u, &d, sizeof u);
    return u;
}

// kinds[i] tells int ('d') or double (anything else) for conversion i. The
// text must hold no NUL byte: sscanf would take it for the end.
inline scan_verdict scan_compare(const std::string &text, const std::string &kinds, size_t cap)
{
    int fd = memfd_create("scan", 0);
    if (fd < 0 || write(fd, text.data(), text.size()) != (ssize_t)text.size())
        abort();
    lseek(fd, 0, SEEK_SET);
    scanner s;
    std::vector<char> buf(cap + SCAN_SLACK);
    scan_open(&s, fd, buf.data(), cap);
    scan_verdict v{0, ""};
    size_t off = 0;
    char what[160];
    for (char k : kinds) {
        int n = -1, r;
        bool ok;
        what[0] = '\0';
        if (k == 'd') {
            int want = 0, got = 0;
            r = sscanf(text.c_str() + off, "%d%n", &want, &n);
            ok = scan_int(&s, &got);
            if (r == 1 && ok && want != got)
                snprintf(what, sizeof what, "int at %zu: %d, want %d", off, got, want);
        } else {
            double want = 0, got = 0;
            r = sscanf(text.c_str() + off, "%lf%n", &want, &n);
            ok = scan_double(&s, &got);
            if (r == 1 && ok && scan_bits(want) != scan_bits(got))
                snprintf(what, sizeof what, "double at %zu: %a, want %a", off, got, want);
        }
        if ((r == 1) != ok)
            snprintf(what, sizeof what, "conversion at %zu: %s, want %s", off,
                     ok ? "success" : "failure", r == 1 ? "success" : "failure");
        else if (r == 1 && off + n != scan_offset(&s))
            snprintf(what, sizeof what, "conversion at %zu: stopped at %zu, want %zu", off,
                     scan_offset(&s), off + n);
        if (what[0] != '\0') {
            v.error = what;
            break;
        }
        if (r != 1)
            break;
        off += n;
        v.done++;
    }
    close(fd);
    return v;
}

#endif
