// SPDX-License-Identifier: MIT
// Runs the built forked executable as a user would, then checks what every
// process it left behind wrote and how each one ended.

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

extern char** environ;

namespace {

enum class Stdout { Pipe, File, Terminal, DevFull, Closed, PipeWithoutReader };

enum Flags : unsigned {
    kEmptyEnv = 1,
    kIgnoreSigpipe = 2,
    kRefuseFork = 4,  // run as an ordinary user already at its process limit
};

struct Outcome {
    pid_t started = -1;             // the process the test itself started
    int exec_error = 0;             // why the program could not be started, if it was not
    std::map<pid_t, int> statuses;  // wait status of every process reaped
    std::string out, err;
};

constexpr uid_t kNobody = 65534;

// Set where the kernel cannot run the build under test (a 32-bit program on
// a kernel without 32-bit support): a user-mode emulator that runs it instead.
constexpr const char* kLauncher = FORKED_LAUNCHER;

#ifndef MFD_EXEC
#define MFD_EXEC 0x0010U  // older kernel headers; older kernels make every memfd executable
#endif

// An in-memory copy of the program, for an ordinary user to run: the build
// tree may be closed to that user, and a temporary folder may be mounted
// noexec. Returns -1 with errno set where the kernel allows no executable one.
int executable_copy()
{
    int fd = memfd_create("forked", MFD_CLOEXEC | MFD_EXEC);
    if (fd < 0 && errno == EINVAL) fd = memfd_create("forked", MFD_CLOEXEC);
    if (fd < 0) return -1;
    const int src = open(FORKED_PATH, O_RDONLY | O_CLOEXEC);
    if (src < 0) throw std::system_error(errno, std::generic_category(), FORKED_PATH);
    for (ssize_t n; (n = sendfile(fd, src, nullptr, 1 << 20)) != 0;)
        if (n < 0) throw std::system_error(errno, std::generic_category(), "copying " FORKED_PATH);
    close(src);
    return fd;
}

std::string drain(int fd)
{
    std::string text;
    char buf[256];
    // A terminal's master side ends with EIO rather than 0 once the last writer has gone.
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
    close(fd);
    return text;
}

std::string describe(int status)
{
    if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return std::string("signal ") + strsignal(WTERMSIG(status));
    return "status " + std::to_string(status);
}

Outcome run_forked(Stdout out, unsigned flags = 0, const std::vector<std::string>& args = {})
{
    // The child that forked makes may outlive its parent; as a subreaper this
    // process inherits the orphan, so its exit status can be checked too.
    EXPECT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);

    Outcome got;
    const int exe_fd = flags & kRefuseFork ? executable_copy() : -1;
    if (flags & kRefuseFork && exe_fd < 0) {
        got.exec_error = errno;
        return got;
    }
    std::vector<std::string> words{FORKED_PATH};
    if (*kLauncher) words.insert(words.begin(), kLauncher);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    char* no_env[] = {nullptr};

    int out_r = -1, out_w = -1, err_pipe[2], exec_pipe[2], p[2];
    EXPECT_EQ(pipe2(err_pipe, O_CLOEXEC), 0);
    // Closed by a successful exec; otherwise it carries the exec's errno.
    EXPECT_EQ(pipe2(exec_pipe, O_CLOEXEC), 0);
    switch (out) {
    case Stdout::Pipe:
    case Stdout::PipeWithoutReader:
        EXPECT_EQ(pipe2(p, O_CLOEXEC), 0);
        out_r = p[0], out_w = p[1];
        if (out == Stdout::PipeWithoutReader) close(out_r), out_r = -1;
        break;
    case Stdout::File: {
        std::string name = (std::filesystem::temp_directory_path() / "forked-out.XXXXXX").string();
        out_w = mkostemp(name.data(), O_CLOEXEC);
        out_r = open(name.c_str(), O_RDONLY | O_CLOEXEC);
        unlink(name.c_str());
        break;
    }
    case Stdout::Terminal: {
        out_r = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_TRUE(out_r >= 0 && grantpt(out_r) == 0 && unlockpt(out_r) == 0);
        out_w = open(ptsname(out_r), O_RDWR | O_NOCTTY | O_CLOEXEC);
        // Without output processing the terminal passes each byte through as written.
        termios tio{};
        EXPECT_EQ(tcgetattr(out_w, &tio), 0);
        tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        EXPECT_EQ(tcsetattr(out_w, TCSANOW, &tio), 0);
        break;
    }
    case Stdout::DevFull:
        out_w = open("/dev/full", O_WRONLY | O_CLOEXEC);
        break;
    case Stdout::Closed:
        break;
    }
    EXPECT_TRUE(out == Stdout::Closed || out_w >= 0);

    got.started = fork();
    if (got.started == 0) {
        if (out_w >= 0) dup2(out_w, STDOUT_FILENO);
        else close(STDOUT_FILENO);
        dup2(err_pipe[1], STDERR_FILENO);
        signal(SIGPIPE, flags & kIgnoreSigpipe ? SIG_IGN : SIG_DFL);
        if (flags & kRefuseFork) {
            // Root is exempt from the process limit, so become an ordinary user
            // first. Lowering the limit only after the switch keeps exec itself
            // from being refused, and needs no privilege.
            if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
                _exit(126);
            const rlimit none{0, 0};
            if (setrlimit(RLIMIT_NPROC, &none) != 0) _exit(126);
        }
        char** env = flags & kEmptyEnv ? no_env : environ;
        if (exe_fd >= 0) fexecve(exe_fd, argv.data(), env);
        else execve(argv[0], argv.data(), env);
        const int error = errno;
        static_cast<void>(write(exec_pipe[1], &error, sizeof error));
        _exit(127);
    }
    EXPECT_GT(got.started, 0);
    if (out_w >= 0) close(out_w);
    if (exe_fd >= 0) close(exe_fd);
    close(err_pipe[1]);
    close(exec_pipe[1]);

    // Reap everything before reading: the output is a few short lines, far
    // less than a pipe holds, so no writer can be left blocked on it.
    int status;
    for (pid_t pid; (pid = waitpid(-1, &status, 0)) > 0;) got.statuses[pid] = status;
    EXPECT_EQ(errno, ECHILD);
    if (out_r >= 0) got.out = drain(out_r);
    got.err = drain(err_pipe[0]);
    if (read(exec_pipe[0], &got.exec_error, sizeof got.exec_error) != sizeof got.exec_error) got.exec_error = 0;
    close(exec_pipe[0]);
    return got;
}

// Two processes: each wrote its own line exactly once, said nothing else and exited 0.
void expect_both_reported(const Outcome& got)
{
    ASSERT_EQ(got.statuses.size(), 2u) << got.out << got.err;
    pid_t child = -1;
    for (const auto& [pid, status] : got.statuses) {
        EXPECT_EQ(describe(status), "exit 0") << "pid " << pid;
        if (pid != got.started) child = pid;
    }
    const std::string from_parent = "fork() returns " + std::to_string(child) + "\n";
    const std::string from_child = "fork() returns 0\n";
    EXPECT_TRUE(got.out == from_parent + from_child || got.out == from_child + from_parent) << got.out;
    EXPECT_EQ(got.err, "");
}

TEST(Forked, EachProcessWritesItsLineOnceToAPipeOrFile)
{
    for (Stdout out : {Stdout::Pipe, Stdout::File}) {
        SCOPED_TRACE(out == Stdout::Pipe ? "pipe" : "file");
        expect_both_reported(run_forked(out));
        // Arguments and environment are not looked at.
        expect_both_reported(run_forked(out, kEmptyEnv, {"--help", "-x", ""}));
    }
}

TEST(Forked, EachProcessWritesItsLineToATerminal)
{
    expect_both_reported(run_forked(Stdout::Terminal));
}

TEST(Forked, RefusedForkIsReportedAsMinusOne)
{
    if (*kLauncher)
        GTEST_SKIP() << "under " << kLauncher << ", whose own threads count against the process limit: "
                     << "a limit that refuses the program's fork alone would depend on the emulator's insides";
    const Outcome got = run_forked(Stdout::Pipe, kRefuseFork);
    if (got.exec_error == EACCES || got.exec_error == EPERM)
        GTEST_SKIP() << "this kernel will not run a program held in memory (" << std::strerror(got.exec_error)
                     << "), and a copy on disk may lie where an ordinary user cannot run it";
    ASSERT_EQ(got.exec_error, 0) << std::strerror(got.exec_error);
    ASSERT_EQ(got.statuses.size(), 1u);
    EXPECT_EQ(describe(got.statuses.at(got.started)), "exit 0");
    EXPECT_EQ(got.out, "fork() returns -1\n");
    EXPECT_EQ(got.err, "");
}

TEST(Forked, EachProcessReportsItsOwnWriteFailure)
{
    const struct {
        Stdout out;
        unsigned flags;
        int error;
    } cases[] = {{Stdout::DevFull, 0, ENOSPC},
                 {Stdout::Closed, 0, EBADF},
                 {Stdout::PipeWithoutReader, kIgnoreSigpipe, EPIPE}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::strerror(c.error));
        const Outcome got = run_forked(c.out, c.flags);
        ASSERT_EQ(got.statuses.size(), 2u) << got.err;
        for (const auto& [pid, status] : got.statuses) EXPECT_EQ(describe(status), "exit 1") << "pid " << pid;
        const std::string line = std::string("forked: write error: ") + std::strerror(c.error) + "\n";
        EXPECT_EQ(got.err, line + line);
    }
}

TEST(Forked, VanishedReaderEndsEachProcessBySigpipe)
{
    const Outcome got = run_forked(Stdout::PipeWithoutReader);
    ASSERT_EQ(got.statuses.size(), 2u) << got.err;
    for (const auto& [pid, status] : got.statuses)
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) << "pid " << pid << ": " << describe(status);
    EXPECT_EQ(got.err, "");
}

}  // namespace
