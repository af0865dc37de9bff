#include "tests/run.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int tmpfile_fd()
{
    char name[] = "/tmp/tarvo-test-XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0)
        throw std::runtime_error("mkstemp failed");
    unlink(name);
    return fd;
}

int decode(int st)
{
    if (WIFEXITED(st))
        return WEXITSTATUS(st);
    return 128 + WTERMSIG(st);
}

} // namespace

std::string read_fd(int fd)
{
    std::string s;
    char buf[65536];
    ssize_t n;
    lseek(fd, 0, SEEK_SET);
    while ((n = read(fd, buf, sizeof buf)) > 0)
        s.append(buf, n);
    close(fd);
    return s;
}

result run(const std::string &prog, const std::vector<std::string> &args,
           const std::string &in, sink out, const char *in_path)
{
    int infd = in_path ? open(in_path, O_RDONLY) : tmpfile_fd();
    if (infd < 0)
        throw std::runtime_error("cannot open input");
    if (!in_path) {
        if (write(infd, in.data(), in.size()) != (ssize_t)in.size())
            throw std::runtime_error("cannot write input");
        lseek(infd, 0, SEEK_SET);
    }
    int outfd = tmpfile_fd(), errfd = tmpfile_fd();

    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(prog.c_str()));
    for (auto &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(infd, 0);
        dup2(errfd, 2);
        if (out == sink::capture) {
            dup2(outfd, 1);
        } else if (out == sink::devfull) {
            int fd = open("/dev/full", O_WRONLY);
            dup2(fd, 1);
        } else {
            close(1);
        }
        execv(prog.c_str(), argv.data());
        _exit(127);
    }
    close(infd);
    int st;
    waitpid(pid, &st, 0);
    return {read_fd(outfd), read_fd(errfd), decode(st)};
}

std::string read_file(const std::string &path)
{
    int fd = open(path.c_str(), O_RDONLY);
    return fd < 0 ? std::string() : read_fd(fd);
}

result shell(const std::string &cmd)
{
    return run("/bin/sh", {"-c", cmd}, "");
}
