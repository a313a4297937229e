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
        // Both processes may report at once, to one pipe. An unbuffered
        // stream may go out in pieces (Cygwin's does), and the other's
        // message can land between them; buffered and flushed, each message
        // is one write. Static: the stream keeps its buffer until the end.
        static char buffer[BUFSIZ];
        const int error = errno;
        static_cast<void>(std::setvbuf(stderr, buffer, _IOFBF, sizeof buffer));
        // Should standard error fail as well, the exit status still tells.
        static_cast<void>(std::fprintf(stderr, "forked: write error: %s\n", std::strerror(error)));
        static_cast<void>(std::fflush(stderr));
    }

    // The parent ends without waiting only where it leads its own process
    // group but not its session, under a parent that is not process 1, as a
    // job-control shell (among others) places a job. There its end takes
    // nothing along, and a shell's prompt may come before the child's line.
    // Anywhere else its end can take the child along before it has written:
    // a session leader's end hangs up its terminal, whose SIGHUP kills the
    // group; a shell or init that leads the group may end right after it,
    // with the same effect, or signal the group; process 1's end kills its
    // PID namespace, and an init or service manager that is its parent stops
    // what it leaves. Process 1 of a namespace sees its parent outside as 0.
    if (pid > 0) {
        const pid_t self = getpid();
        const bool job = getpgrp() == self && getsid(0) != self && getppid() > 1;
        while (!job && waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    return failed ? 1 : 0;
}
