// The whole base tally program on any input, fed through a pipe in pieces
// whose sizes the first byte of the input picks, against a plain reading
// of the rules: the same tallies, the same message for the first byte that
// is not a base. The program's failures come back here instead of ending
// the process.

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>

#include "tests/ostrel_literal.h"
#include "tests/run.h"
#include "tests/util.h"

int ostrel_main(int argc, char **argv);

static jmp_buf back;

void error_escape()
{
    longjmp(back, 1);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t *p = data + 1;
    size_t n = size - 1, piece = 1 + data[0] * 7;

    int pipefd[2], outfd = memfd("");
    if (pipe(pipefd) != 0)
        abort();
    int saved_in = dup(0), saved_out = dup(1);
    dup2(pipefd[0], 0);
    close(pipefd[0]);
    dup2(outfd, 1);
    std::thread writer([&] {
        for (size_t i = 0; i < n; i += piece)
            if (write(pipefd[1], p + i, n - i < piece ? n - i : piece) < 0)
                break;
        close(pipefd[1]);
    });
    char *errbuf = nullptr;
    size_t errlen = 0;
    FILE *saved_err = stderr;
    stderr = open_memstream(&errbuf, &errlen);
    char name[] = "ostrel";
    char *argv[] = {name, nullptr};
    bool failed = setjmp(back) != 0;
    if (!failed)
        ostrel_main(1, argv);
    fclose(stderr);
    stderr = saved_err;
    // Drain what a failure left unread, so the writer can finish.
    char sink[4096];
    while (read(0, sink, sizeof sink) > 0) {
    }
    writer.join();
    dup2(saved_in, 0);
    dup2(saved_out, 1);
    close(saved_in);
    close(saved_out);

    std::string out = read_fd(outfd), err(errbuf, errlen);
    free(errbuf);
    result want = ostrel_literal(std::string((const char *)p, n));
    const std::string &want_out = want.out, &want_err = want.err;
    // Tallies still waiting in the program's buffer when a failure came
    // back here never reach the output, so then only a prefix is checked.
    bool ok = err == want_err && failed == !want_err.empty() &&
              (failed ? want_out.compare(0, out.size(), out) == 0 : out == want_out);
    if (!ok) {
        fprintf(stderr, "ostrel: stdout [%s] want [%s], stderr [%s] want [%s]\n", out.c_str(),
                want_out.c_str(), err.c_str(), want_err.c_str());
        abort();
    }
    return 0;
}
