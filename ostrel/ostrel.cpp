// ostrel: writes, for each line of standard input, how many A, C, G, T and
// N it holds.
#include "ostrel/ostrel.h"

#include "common/about.h"
#include "common/error.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// One byte in front for a byte held back from the previous read.
unsigned char in[1 + read_size];

// Where the input stands, so that a seekable standard input can be left
// at exit just past the newline of the last line read, as a plain getline
// build leaves it (see give_back).
off_t in_start;    // offset of standard input at start; -1 when not a file
uint64_t in_read;  // bytes read from it since
size_t in_len;     // bytes in in[], which end at in_read
size_t line_at;    // index in in[] where the line being read or written
                   // begins: just past the last newline whose tally is
                   // out, or 0 when the line began in an earlier block
bool in_done;      // end of input or a read error: nothing more is read

// Tallies wait here and go out in blocks of this size, or one by one to a
// terminal.
constexpr size_t out_size = 64 * 1024;
// Five 20-digit counts and their separators.
constexpr size_t max_tally = 5 * 21;
char out[out_size];
size_t out_len;

mark marks[max_marks];

// Writes the waiting tallies to standard output and empties the buffer;
// false, with errno set, when a write fails.
bool write_out()
{
    size_t done = 0;
    while (done < out_len) {
        ssize_t w = write(1, out + done, out_len - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            if (w == 0) // no progress and no reason: not worth looping on
                errno = EIO;
            out_len = 0;
            return false;
        }
        done += static_cast<size_t>(w);
    }
    out_len = 0;
    return true;
}

void flush_out()
{
    if (!write_out())
        error("Error writing output: %s\n", strerror(errno));
}

// Runs at exit, which error reaches with tallies of earlier lines still
// waiting; they belong on standard output all the same. A failure here has
// no one left to report to.
void flush_at_exit()
{
    write_out();
}

// Stream offset just past the newline that ends the line at in[line_at],
// reading on without storing when that line runs past the bytes read; the
// end of what can be read when no newline comes.
uint64_t past_line()
{
    const unsigned char *p = in + line_at, *e = in + in_len;
    uint64_t at = in_read - in_len; // offset of in[0]
    for (;;) {
        const void *nl = memchr(p, '\n', static_cast<size_t>(e - p));
        if (nl)
            return at + static_cast<uint64_t>(static_cast<const unsigned char *>(nl) - in) + 1;
        ssize_t r = read(0, in, read_size);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return in_read;
        at = in_read;
        in_read += static_cast<uint64_t>(r);
        p = in;
        e = in + r;
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

// Runs at every exit. A line is read whole before it is checked and its
// tally written, so an invalid base or a write error leaves the input past
// the newline that ends the line concerned. At the end of input, or after a
// read error, every byte read has been consumed, so the input stays past
// them: a plain build's getline has taken them into its line. A pipe or
// terminal cannot be moved back and keeps what was read ahead.
void give_back()
{
    if (in_start >= 0)
        lseek(0, in_start + static_cast<off_t>(in_done ? in_read : past_line()), SEEK_SET);
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

void put_tally(const uint64_t c[5])
{
    if (out_size - out_len < max_tally)
        flush_out();
    char *q = out + out_len;
    for (int b = 0; b < 5; b++) {
        q = put_count(q, c[b]);
        *q++ = b < 4 ? '\t' : '\n';
    }
    out_len = static_cast<size_t>(q - out);
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
void put_short(const uint32_t c[5])
{
    if (out_size - out_len < max_tally)
        flush_out();
    char *q = out + out_len;
    for (int b = 0; b < 5; b++) {
        memcpy(q, counts.text[c[b]], 4);
        q += counts.digits[c[b]] + 1;
    }
    q[-1] = '\n';
    out_len = static_cast<size_t>(q - out);
}

// Writes the tallies of the lines that end at m[0..lines), marks of one
// scan that began at in[at], the first line adding the bases that earlier
// scans counted in part; part is then empty.
void put_lines(const mark *m, size_t lines, uint64_t part[5], bool tty, size_t at)
{
    uint32_t prev[4] = {0, 0, 0, 0}, from = 0;
    for (size_t k = 0; k < lines; k++) {
        // A write that fails leaves the input past this line.
        line_at = at + from;
        uint32_t c[5], len = m[k].at - from;
        c[4] = len;
        for (int b = 0; b < 4; b++) {
            c[b] = m[k].c[b] - prev[b];
            c[4] -= c[b];
        }
        if (k == 0 && part[0] + part[1] + part[2] + part[3] + part[4] != 0) {
            for (int b = 0; b < 5; b++)
                part[b] += c[b];
            put_tally(part);
            memset(part, 0, 5 * sizeof part[0]);
        } else if (len < short_line) {
            put_short(c);
        } else {
            uint64_t w[5] = {c[0], c[1], c[2], c[3], c[4]};
            put_tally(w);
        }
        if (tty)
            flush_out();
        memcpy(prev, m[k].c, sizeof prev);
        from = m[k].at + 1;
    }
}

// Reads up to n bytes of standard input into p; 0 means end of input.
size_t fill(unsigned char *p, size_t n)
{
    for (;;) {
        ssize_t r = read(0, p, n);
        if (r > 0) {
            in_read += static_cast<uint64_t>(r);
            return static_cast<size_t>(r);
        }
        if (r == 0) {
            in_done = true;
            return 0;
        }
        if (errno != EINTR) {
            in_done = true;
            error("Error reading input: %s\n", strerror(errno));
        }
    }
}

const char HELP[] =
    "ostrel: the counts of the bases A, C, G, T and N on each line of standard\n"
    "input, one line of five tab-separated counts per line on standard output.\n"
    "\n"
    "usage: ostrel < inputfile\n"
    "\n"
    "  no options; other words on the command line are ignored\n"
    "  --help     show this text and exit (as the first word only)\n"
    "  --version  show the version and exit (as the first word only)\n"
    "\n"
    "Exit status: 0 at the end of the input; 2 on any failure, with a message\n"
    "on standard error.\n"
    "Manual: man ostrel\n";
const char VERSION[] = "ostrel " TARVO_OSTREL_VERSION "\n";

// Prints what --help or --version asks for, and ends the run.
[[noreturn]] void say(const char *text)
{
    out_len = strlen(text);
    memcpy(out, text, out_len);
    flush_out();
    exit(0);
}

} // namespace

int main(int argc, char **argv)
{
    if (const char *text = about(argc, argv, HELP, VERSION))
        say(text);
    choose_kernel();
    // The fuzz harness runs main many times in one process, and a run it
    // ended early may have left tallies waiting.
    out_len = 0;
    in_start = seekable_file(0) ? lseek(0, 0, SEEK_CUR) : -1;
    in_read = in_len = line_at = 0;
    in_done = false;
    static bool registered = false;
    if (!registered && atexit(flush_at_exit) == 0 && atexit(give_back) == 0)
        registered = true;
    const bool tty = isatty(1);
    // The bases of the line under way that earlier scans have counted.
    uint64_t part[5] = {0, 0, 0, 0, 0};
    size_t held = 0;

    for (;;) {
        size_t n = held + fill(in + held, read_size);
        if (n == held)
            break;
        // The last byte of the input is dropped unchecked, so a last byte
        // other than a newline waits until the next read tells whether it
        // is the last of all.
        size_t end = in[n - 1] == '\n' ? n : n - 1;
        const char *s = reinterpret_cast<const char *>(in);
        size_t i = 0;
        in_len = n;
        line_at = 0;
        while (i < end) {
            size_t lines;
            uint32_t c[4], prev[4] = {0, 0, 0, 0};
            // A scan begins at the start of the block or just after a
            // newline; its first mark ends the line under way.
            size_t stop = encode(s + i, end - i, marks, &lines, c);
            put_lines(marks, lines, part, tty, i);
            if (lines) {
                line_at = i + marks[lines - 1].at + 1;
                memcpy(prev, marks[lines - 1].c, sizeof prev);
            }
            if (stop < end - i && lines < max_marks)
                error("Invalid base: %c\n", in[i + stop]);
            i += stop;
            uint64_t acgt = 0;
            for (int b = 0; b < 4; b++) {
                part[b] += c[b] - prev[b];
                acgt += c[b] - prev[b];
            }
            part[4] += i - line_at - acgt;
        }
        held = n - end;
        if (held)
            in[0] = in[n - 1];
    }
    // A final line without a newline, its last byte dropped.
    if (held)
        put_tally(part);
    flush_out();
    return 0;
}
