#include "common/io.h"

#include "common/error.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

ssize_t read_some(int fd, void *p, size_t n)
{
    ssize_t r;
    do
        r = read(fd, p, n);
    while (r < 0 && errno == EINTR);
    return r;
}

bool write_all(int fd, const void *p, size_t n)
{
    const char *b = static_cast<const char *>(p);
    size_t done = 0;
    while (done < n) {
        ssize_t w = write(fd, b + done, n - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            if (w == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<size_t>(w);
    }
    return true;
}

void say(const char *text, const char *failure)
{
    if (!write_all(1, text, strlen(text)))
        error("%s: %s\n", failure, strerror(errno));
    exit(0);
}

namespace {

// A fixed table, neither allocated nor destroyed: it must outlive every
// static object a hook may reach, whatever order exit destroys them in.
struct hooks {
    static const int MAX = 8;
    exit_hook fn[MAX];
    void *arg[MAX];
    int n;
    bool armed; // run_hooks is registered with atexit
};
hooks table;

void run_hooks()
{
    // A hook disarmed on the way, or one armed by another, changes only
    // the entries not yet run.
    while (table.n > 0) {
        table.n--;
        table.fn[table.n](table.arg[table.n]);
    }
}

} // namespace

void at_exit(exit_hook hook, void *arg)
{
    for (int i = 0; i < table.n; i++)
        if (table.fn[i] == hook && table.arg[i] == arg)
            return;
    if (table.n == hooks::MAX)
        abort(); // the programs arm two at most: a fault of the code, not of a run
    // atexit is asked once; should it refuse, the next arming asks again,
    // and until then the hooks wait in the table.
    if (!table.armed && atexit(run_hooks) == 0)
        table.armed = true;
    table.fn[table.n] = hook;
    table.arg[table.n] = arg;
    table.n++;
}

void at_exit_done(exit_hook hook, void *arg)
{
    for (int i = 0; i < table.n; i++)
        if (table.fn[i] == hook && table.arg[i] == arg) {
            memmove(table.fn + i, table.fn + i + 1, (table.n - i - 1) * sizeof table.fn[0]);
            memmove(table.arg + i, table.arg + i + 1, (table.n - i - 1) * sizeof table.arg[0]);
            table.n--;
            return;
        }
}
