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
#include "tests/util.h"

// One double, as the program reads each: the run kernel, then the layers.
inline bool one_double(scanner *s, double *v)
{
    return scan_doubles(s, v, 1) == 1;
}

struct scan_verdict {
    int done;          // conversions that succeeded in both
    std::string error; // the first disagreement, empty if none
};

// kinds[i] tells int ('d'), double ('f'), double read in a batch with its
// neighbours of the same kind ('b') or allele code read likewise ('c') for
// conversion i. The text must hold
// no NUL byte: sscanf would take it for the end.
inline scan_verdict scan_compare(const std::string &text, const std::string &kinds, size_t cap)
{
    int fd = memfd(text);
    scanner s;
    std::vector<char> buf(cap + SCAN_SLACK);
    scan_open(&s, fd, buf.data(), cap);
    scan_verdict v{0, ""};
    size_t off = 0;
    char what[160];
    for (size_t i = 0; i < kinds.size(); i++) {
        char k = kinds[i];
        int n = -1, r;
        bool ok;
        what[0] = '\0';
        if (k == 'b') {
            size_t len = kinds.find_first_not_of('b', i);
            len = (len == std::string::npos ? kinds.size() : len) - i;
            std::vector<double> want(len), got(len);
            size_t at = off, conv = 0;
            for (; conv < len; conv++) {
                if (sscanf(text.c_str() + at, "%lf%n", &want[conv], &n) != 1)
                    break;
                at += n;
            }
            size_t did = scan_doubles(&s, got.data(), (int)len);
            if (did != conv)
                snprintf(what, sizeof what, "batch at %zu: %zu converted, want %zu", off, did,
                         conv);
            for (size_t j = 0; j < conv && j < did && !what[0]; j++)
                if (bits(want[j]) != bits(got[j]))
                    snprintf(what, sizeof what, "batch at %zu, item %zu: %a, want %a", off, j,
                             got[j], want[j]);
            if (!what[0] && conv == len && at != scan_offset(&s))
                snprintf(what, sizeof what, "batch at %zu: stopped at %zu, want %zu", off,
                         scan_offset(&s), at);
            if (what[0]) {
                v.error = what;
                break;
            }
            v.done += conv;
            if (conv < len)
                break;
            off = at;
            i += len - 1;
            continue;
        }
        if (k == 'c') {
            // A run of codes as the program reads them: scan_codes, and
            // scan_int for an item it leaves.
            size_t len = kinds.find_first_not_of('c', i);
            len = (len == std::string::npos ? kinds.size() : len) - i;
            std::vector<int> got(len);
            size_t did = scan_codes(&s, got.data(), (int)len);
            for (size_t j = 0; j < did && !what[0]; j++) {
                int want = 0;
                if (sscanf(text.c_str() + off, "%d%n", &want, &n) != 1 || want != got[j])
                    snprintf(what, sizeof what, "codes at %zu, item %zu: %d, want %d", off, j,
                             got[j], want);
                off += n;
            }
            if (!what[0] && off != scan_offset(&s))
                snprintf(what, sizeof what, "codes: stopped at %zu, want %zu", scan_offset(&s),
                         off);
            if (what[0]) {
                v.error = what;
                break;
            }
            v.done += did;
            if (did > 0) {
                i += did - 1;
                continue;
            }
            k = 'd';
        }
        if (k == 'd') {
            int want = 0, got = 0;
            r = sscanf(text.c_str() + off, "%d%n", &want, &n);
            ok = scan_int(&s, &got);
            if (r == 1 && ok && want != got)
                snprintf(what, sizeof what, "int at %zu: %d, want %d", off, got, want);
        } else {
            double want = 0, got = 0;
            r = sscanf(text.c_str() + off, "%lf%n", &want, &n);
            ok = one_double(&s, &got);
            if (r == 1 && ok && bits(want) != bits(got))
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
