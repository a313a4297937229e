// SPDX-License-Identifier: MIT
// forked: fork once and have each resulting process say what fork() gave it.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

int main()
{
    // Fork before anything is written: output still sitting in a stdio buffer
    // would be copied into the child and appear twice.
    const pid_t pid = fork();

    // A refused fork (-1) is part of the report, not an error, so the value is
    // printed as it came back. printf only fills the buffer when output is a
    // file or pipe; the write itself happens at the flush, where a full disk
    // or a closed descriptor shows. Some filesystems (NFS, or with disk
    // quotas) report a failed write only when the file is closed, so each
    // process closes its standard output itself rather than leave it to exit,
    // which would pass over the error.
    const bool failed = std::printf("fork() returns %d\n", pid) < 0 || std::fclose(stdout) == EOF;
    if (failed) {
        // Should standard error fail as well, the exit status still tells.
        static_cast<void>(std::fprintf(stderr, "forked: write error: %s\n", std::strerror(errno)));
    }

    // When process 1 of a PID namespace ends, the kernel kills the rest of
    // the namespace; an init in front of the program (a container's, or
    // systemd-nspawn's), or a service manager, does the same once its own
    // child has ended. Either would take the child with the parent before
    // it has written, so there, and only there, the parent waits. A shell
    // does not wait for the child and need not. Process 1 of a namespace
    // sees its parent, outside, as 0: one call tells both cases, where a
    // second would cost a start as much again as the rest of the program.
    if (pid > 0 && getppid() <= 1) {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    return failed ? 1 : 0;
}
