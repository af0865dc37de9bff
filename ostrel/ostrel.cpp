// ostrel: writes, for each line of standard input, how many A, C, G, T and
// N it holds.
#include "ostrel/ostrel.h"

#include "common/about.h"
#include "common/error.h"
#include "common/io.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Standard input: the bytes of the last read and where the input stands,
// so that a seekable standard input can be left at exit just past the
// newline of the last line read, as a plain getline build leaves it (see
// give_back).
struct input {
    // One byte in front for a byte held back from the previous read.
    unsigned char buf[1 + read_size];
    size_t len;      // bytes in buf, which end at total
    uint64_t total;  // bytes read from standard input since start
    off_t start;     // offset of standard input at start; -1 when not a file
    size_t line_at;  // index in buf where the line being read or written
                     // begins: just past the last newline whose tally is
                     // out, or 0 when the line began in an earlier buffer
    bool done;       // end of input or a read error: nothing more is read
};

// Tallies wait here and go out out_size bytes at a time, or one by one to
// a terminal.
constexpr size_t out_size = 64 * 1024;
// Five 20-digit counts and their separators.
constexpr size_t max_tally = 5 * 21;

struct output {
    char buf[out_size];
    size_t len;
    bool tty; // standard output is a terminal
};

// Writes the waiting tallies to standard output and empties the buffer;
// false, with errno set, when a write fails.
bool write_out(output &out)
{
    bool ok = write_all(1, out.buf, out.len);
    out.len = 0;
    return ok;
}

void flush_out(output &out)
{
    if (!write_out(out))
        error("Error writing output: %s\n", strerror(errno));
}

// Stream offset just past the newline that ends the line at
// buf[line_at], reading on without storing when that line runs past the
// bytes read; the end of what can be read when no newline comes.
uint64_t past_line(input &in)
{
    const unsigned char *p = in.buf + in.line_at, *e = in.buf + in.len;
    uint64_t at = in.total - in.len; // offset of buf[0]
    for (;;) {
        const void *nl = memchr(p, '\n', static_cast<size_t>(e - p));
        if (nl)
            return at + static_cast<uint64_t>(static_cast<const unsigned char *>(nl) - in.buf) + 1;
        ssize_t r = read_some(0, in.buf, read_size);
        if (r <= 0)
            return in.total;
        at = in.total;
        in.total += static_cast<uint64_t>(r);
        p = in.buf;
        e = in.buf + r;
    }
}

// Whether fd is a file or a disk, whose offset is a place in its data. A
// device such as /dev/zero also takes lseek, but reading on through it for
// the end of a line might never end.
bool seekable_file(int fd)
{
    struct stat st;
    return fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode));
}

// A line is read whole before it is checked and its tally written, so an
// invalid base or a write error leaves the input past the newline that
// ends the line concerned. At the end of input, or after a read error,
// every byte read has been consumed, so the input stays past them: a plain
// build's getline has taken them into its line. A pipe or terminal cannot
// be moved back and keeps what was read ahead.
void give_back(input &in)
{
    if (in.start >= 0)
        lseek(0, in.start + static_cast<off_t>(in.done ? in.total : past_line(in)), SEEK_SET);
}

// What a run keeps, in one place for the exit handler to reach.
struct streams {
    input in;
    output out;
};

// Runs at every exit once main has armed it: error ends a run from
// wherever it fails, with tallies of earlier lines still waiting and the
// input read ahead. The waiting tallies belong on standard output all the
// same; a failure to write them has no one left to report to.
void settle(void *arg)
{
    streams *s = static_cast<streams *>(arg);
    give_back(s->in);
    write_out(s->out);
}

// "00" to "99", so that a count takes one division per two digits.
constexpr char pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

char *put_count(char *q, uint64_t v)
{
    if (v < 10) {
        *q = static_cast<char>('0' + v);
        return q + 1;
    }
    if (v < 100) {
        memcpy(q, pairs + 2 * v, 2);
        return q + 2;
    }
    char digits[20];
    size_t k = sizeof digits;
    while (v >= 100) {
        k -= 2;
        memcpy(digits + k, pairs + 2 * (v % 100), 2);
        v /= 100;
    }
    if (v >= 10) {
        k -= 2;
        memcpy(digits + k, pairs + 2 * v, 2);
    } else {
        digits[--k] = static_cast<char>('0' + v);
    }
    memcpy(q, digits + k, sizeof digits - k);
    return q + (sizeof digits - k);
}

void put_tally(output &out, const uint64_t c[5])
{
    if (out_size - out.len < max_tally)
        flush_out(out);
    char *q = out.buf + out.len;
    for (int b = 0; b < 5; b++) {
        q = put_count(q, c[b]);
        *q++ = b < 4 ? '\t' : '\n';
    }
    out.len = static_cast<size_t>(q - out.buf);
}

// Counts below this, which are all the counts of a line shorter than it,
// are written by table.
constexpr uint32_t short_line = 1000;

// Each count below short_line as its digits and a tab, in four bytes, and
// the number of digits.
struct count_table {
    char text[short_line][4];
    unsigned char digits[short_line];
};

constexpr count_table make_counts()
{
    count_table t{};
    for (uint32_t v = 0; v < short_line; v++) {
        unsigned d = v < 10 ? 1 : v < 100 ? 2 : 3;
        for (unsigned k = 0, x = v; k < d; k++, x /= 10)
            t.text[v][d - 1 - k] = static_cast<char>('0' + x % 10);
        t.text[v][d] = '\t';
        t.digits[v] = static_cast<unsigned char>(d);
    }
    return t;
}

constexpr count_table counts = make_counts();

// Writes the tally of a line of fewer than short_line bases: a fixed store
// per count, with no branch on its number of digits.
void put_short(output &out, const uint32_t c[5])
{
    if (out_size - out.len < max_tally)
        flush_out(out);
    char *q = out.buf + out.len;
    for (int b = 0; b < 5; b++) {
        memcpy(q, counts.text[c[b]], 4);
        q += counts.digits[c[b]] + 1;
    }
    q[-1] = '\n';
    out.len = static_cast<size_t>(q - out.buf);
}

// Writes the tallies of the lines that end at m[0..lines), marks of one
// count that began at in.buf[at], the first line adding the bases that
// earlier counts found in part; part is then empty.
void put_lines(output &out, input &in, const mark *m, size_t lines, uint64_t part[5], size_t at)
{
    uint32_t prev[4] = {0, 0, 0, 0}, from = 0;
    for (size_t k = 0; k < lines; k++) {
        // A write that fails leaves the input past this line.
        in.line_at = at + from;
        uint32_t c[5], len = m[k].at - from;
        c[4] = len;
        for (int b = 0; b < 4; b++) {
            c[b] = m[k].c[b] - prev[b];
            c[4] -= c[b];
        }
        if (k == 0 && part[0] + part[1] + part[2] + part[3] + part[4] != 0) {
            for (int b = 0; b < 5; b++)
                part[b] += c[b];
            put_tally(out, part);
            memset(part, 0, 5 * sizeof part[0]);
        } else if (len < short_line) {
            put_short(out, c);
        } else {
            uint64_t w[5] = {c[0], c[1], c[2], c[3], c[4]};
            put_tally(out, w);
        }
        if (out.tty)
            flush_out(out);
        memcpy(prev, m[k].c, sizeof prev);
        from = m[k].at + 1;
    }
}

// Reads up to read_size bytes of standard input into in.buf[at..]; 0 means
// end of input.
size_t fill(input &in, size_t at)
{
    ssize_t r = read_some(0, in.buf + at, read_size);
    if (r > 0) {
        in.total += static_cast<uint64_t>(r);
        return static_cast<size_t>(r);
    }
    in.done = true;
    if (r < 0)
        error("Error reading input: %s\n", strerror(errno));
    return 0;
}

// Reads standard input a buffer at a time and writes the tally of each
// line, stopping the run at the first byte that is not a base.
void tally_input(input &in, output &out)
{
    mark marks[max_marks];
    // The bases of the line under way that earlier counts have found.
    uint64_t part[5] = {0, 0, 0, 0, 0};
    size_t held = 0;

    for (;;) {
        size_t n = held + fill(in, held);
        if (n == held)
            break;
        // The last byte of the input is dropped unchecked, so a last byte
        // other than a newline waits until the next read tells whether it
        // is the last of all.
        size_t end = in.buf[n - 1] == '\n' ? n : n - 1;
        const char *s = reinterpret_cast<const char *>(in.buf);
        size_t i = 0;
        in.len = n;
        in.line_at = 0;
        while (i < end) {
            size_t lines;
            uint32_t c[4], prev[4] = {0, 0, 0, 0};
            // A count begins at the start of the buffer or just after a
            // newline; its first mark ends the line under way.
            size_t stop = count_bases(s + i, end - i, marks, &lines, c);
            put_lines(out, in, marks, lines, part, i);
            if (lines) {
                in.line_at = i + marks[lines - 1].at + 1;
                memcpy(prev, marks[lines - 1].c, sizeof prev);
            }
            if (stop < end - i && lines < max_marks)
                error("Invalid base: %c\n", in.buf[i + stop]);
            i += stop;
            uint64_t acgt = 0;
            for (int b = 0; b < 4; b++) {
                part[b] += c[b] - prev[b];
                acgt += c[b] - prev[b];
            }
            part[4] += i - in.line_at - acgt;
        }
        held = n - end;
        if (held)
            in.buf[0] = in.buf[n - 1];
    }
    // A final line without a newline, its last byte dropped.
    if (held)
        put_tally(out, part);
}

const char HELP[] =
    "ostrel: the counts of the bases A, C, G, T and N on each line of standard\n"
    "input, one line of five tab-separated counts per line on standard output.\n"
    "\n"
    "usage: ostrel < inputfile\n"
    "\n"
    "  --isa=NAME  run the kernel of the instruction set NAME: plain, sse2 or\n"
    "              avx2 on x86-64, plain or neon on aarch64, or best, the best\n"
    "              this processor runs (default: best)\n"
    "  --debug     write the instruction set that runs on standard error\n"
    "  --help      show this text and exit (as the first word only)\n"
    "  --version   show the version and exit (as the first word only)\n"
    "  other words on the command line are ignored\n"
    "\n"
    "Exit status: 0 at the end of the input; 2 on any failure, with a message\n"
    "on standard error.\n"
    "Manual: man ostrel (in the sources: docs/ostrel.md)\n";
const char VERSION[] = "ostrel " TARVO_OSTREL_VERSION "\n";

} // namespace

int main(int argc, char **argv)
{
    // Static for their size; the fuzz harness runs main many times in one
    // process, so each run sets every field, and a run it ended early may
    // have left tallies waiting.
    static streams s;
    if (const char *text = about(argc, argv, HELP, VERSION))
        say(text, "Error writing output");
    const isa_request r = isa_switch(argc, argv, "", ostrel_paths);
    if (r.refused)
        error("%s", r.refused);
    if (r.debug)
        isa_report(ostrel_paths);
    s.out.len = 0;
    s.out.tty = isatty(1);
    s.in.start = seekable_file(0) ? lseek(0, 0, SEEK_CUR) : -1;
    s.in.total = s.in.len = s.in.line_at = 0;
    s.in.done = false;
    at_exit(settle, &s);
    tally_input(s.in, s.out);
    flush_out(s.out);
    return 0;
}
