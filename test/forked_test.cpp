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

// A way from the program to the test: the end the program writes to and the
// end the test reads, -1 where there is none.
struct Ends {
    int read = -1, write = -1;
};

Ends cloexec_pipe()
{
    int p[2] = {-1, -1};
    EXPECT_EQ(pipe2(p, O_CLOEXEC), 0);
    return {p[0], p[1]};
}

// A terminal that passes each byte through as written, with no output processing.
Ends terminal()
{
    Ends t;
    t.read = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_TRUE(t.read >= 0 && grantpt(t.read) == 0 && unlockpt(t.read) == 0);
    t.write = open(ptsname(t.read), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    EXPECT_EQ(tcgetattr(t.write, &tio), 0);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    EXPECT_EQ(tcsetattr(t.write, TCSANOW, &tio), 0);
    return t;
}

enum class Stdout { Pipe, File, Terminal, DevFull, Closed, PipeWithoutReader };

// Each kind of standard output the program is tested with; a new kind is one
// more case here.
Ends make_stdout(Stdout kind)
{
    Ends ends;
    switch (kind) {
    case Stdout::Pipe: ends = cloexec_pipe(); break;
    case Stdout::PipeWithoutReader:
        ends = cloexec_pipe();
        close(ends.read), ends.read = -1;
        break;
    case Stdout::File: {
        std::string name = (std::filesystem::temp_directory_path() / "forked-out.XXXXXX").string();
        ends.write = mkostemp(name.data(), O_CLOEXEC);
        ends.read = open(name.c_str(), O_RDONLY | O_CLOEXEC);
        unlink(name.c_str());
        break;
    }
    case Stdout::Terminal: ends = terminal(); break;
    case Stdout::DevFull: ends.write = open("/dev/full", O_WRONLY | O_CLOEXEC); break;
    case Stdout::Closed: break;
    }
    EXPECT_TRUE(kind == Stdout::Closed || ends.write >= 0);
    return ends;
}

// What the started process is handed: its standard output (-1: closed) and
// error, where to report a failed exec, and the program as an open file (-1:
// run it from its path).
struct Handles {
    int out, err, exec_error, exe;
};

// Runs in the process the test forked; execs the program or reports why not.
[[noreturn]] void exec_program(char* const argv[], const Handles& h, unsigned flags)
{
    if (h.out >= 0) dup2(h.out, STDOUT_FILENO);
    else close(STDOUT_FILENO);
    dup2(h.err, STDERR_FILENO);
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
    char* no_env[] = {nullptr};
    char** env = flags & kEmptyEnv ? no_env : environ;
    if (h.exe >= 0) fexecve(h.exe, argv, env);
    else execve(argv[0], argv, env);
    const int error = errno;
    if (write(h.exec_error, &error, sizeof error) < 0) {}  // GCC ignores a cast to void here
    _exit(127);
}

pid_t start(const std::vector<std::string>& args, const Handles& h, unsigned flags)
{
    std::vector<std::string> words{FORKED_PATH};
    if (*kLauncher) words.insert(words.begin(), kLauncher);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) exec_program(argv.data(), h, flags);
    EXPECT_GT(pid, 0);
    return pid;
}

// Reaps everything before reading: the output is a few short lines, far less
// than a pipe holds, so no writer can be left blocked on it.
void collect(Outcome& got, int out_fd, int err_fd, int exec_error_fd)
{
    int status;
    for (pid_t pid; (pid = waitpid(-1, &status, 0)) > 0;) got.statuses[pid] = status;
    EXPECT_EQ(errno, ECHILD);
    if (out_fd >= 0) got.out = drain(out_fd);
    got.err = drain(err_fd);
    if (read(exec_error_fd, &got.exec_error, sizeof got.exec_error) != sizeof got.exec_error) got.exec_error = 0;
    close(exec_error_fd);
}

// Runs the program as a user would: make_stdout gives it the chosen standard
// output, start forks and execs it (at a process limit of 0, for
// kRefuseFork), and collect reaps every process it left and reads what they
// wrote.
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
    const Ends stdout_ends = make_stdout(out);
    const Ends err = cloexec_pipe();
    // Closed by a successful exec; otherwise it carries the exec's errno.
    const Ends exec_error = cloexec_pipe();
    got.started = start(args, {stdout_ends.write, err.write, exec_error.write, exe_fd}, flags);
    for (int fd : {stdout_ends.write, exe_fd, err.write, exec_error.write})
        if (fd >= 0) close(fd);
    collect(got, stdout_ends.read, err.read, exec_error.read);
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
