#include "tarvo-hmm/out.h"

#include "common/error.h"
#include "common/io.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A temporary file not yet renamed is removed at any exit.
void remove_tmp(void *arg)
{
    unlink(static_cast<const outfile *>(arg)->tmp.c_str());
}

} // namespace

void out_open(outfile *o, const char *path)
{
    o->path = path;
    // Only a plain file is replaced by renaming onto it. Anything else
    // (/dev/stdout, a symbolic link like it, a named pipe) is written as
    // it is, appending: renaming onto /dev/stdout would replace the link
    // itself, and appending puts the lines after what standard output
    // already holds when both are one file.
    struct stat st;
    if (lstat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
        o->tmp.clear();
        o->f = fopen(path, "a");
        if (!o->f)
            error("tarvo-hmm: cannot write %s: %s\n", path, strerror(errno));
        return;
    }
    o->tmp = o->path + ".tmpXXXXXX";
    std::vector<char> name(o->tmp.begin(), o->tmp.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0)
        error("tarvo-hmm: cannot create %s: %s\n", o->tmp.c_str(), strerror(errno));
    o->tmp = name.data();
    at_exit(remove_tmp, o);
    // mkstemp makes the file private; the result is an ordinary output.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    o->f = fdopen(fd, "w");
    if (!o->f)
        error("tarvo-hmm: cannot write %s: %s\n", o->tmp.c_str(), strerror(errno));
}

void out_write(FILE *f, const char *what, const char *p, size_t n)
{
    if (fwrite(p, 1, n, f) != n)
        error("tarvo-hmm: cannot write %s: %s\n", what, strerror(errno));
}

void out_close(FILE *f, const char *what)
{
    if (fflush(f) != 0 || ferror(f))
        error("tarvo-hmm: cannot write %s: %s\n", what, strerror(errno));
}

void out_commit(outfile *o)
{
    out_close(o->f, o->path.c_str());
    if (fclose(o->f) != 0)
        error("tarvo-hmm: cannot write %s: %s\n", o->path.c_str(), strerror(errno));
    o->f = nullptr;
    if (o->tmp.empty())
        return;
    if (rename(o->tmp.c_str(), o->path.c_str()) != 0)
        error("tarvo-hmm: cannot rename %s to %s: %s\n", o->tmp.c_str(), o->path.c_str(),
              strerror(errno));
    at_exit_done(remove_tmp, o);
}
