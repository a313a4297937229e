// SPDX-License-Identifier: MIT
// Runs the built forked executable as a user would, then checks what every
// process it left behind wrote and how each one ended.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include <elf.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

enum Flags : unsigned {
    kEmptyEnv = 1,
    kIgnoreSigpipe = 2,
    kRefuseFork = 4,  // run as an ordinary user already at its process limit
    kCloseFails = 8,  // closing standard output fails with EIO
    // Where the parent's end ends the child too: as process 1 of a PID
    // namespace of its own, or there under an init that exits as soon as
    // its one child, the program, has (as catatonit does for podman --init).
    kAsInit = 16,
    kUnderInit = 32,
    // Where the parent's end hangs up a terminal, and so ends the child: as
    // the leader of the terminal's session (script, ssh -t), or in the group
    // of a leader that ends with it (sh -c 'forked; true' there). Otherwise
    // the program is a job in a group of its own, as a shell starts one.
    kLeadsTerminal = 64,
    kUnderTerminalLeader = 128,
    kInLeadersGroup = 256,  // the intermediate's own: the program stays in its group
    // Traced, with the child it forks held stopped until the parent has ended.
    kHoldChild = 512,
};

struct Outcome {
    std::string skip_reason;              // what this environment lacks for the case; then nothing was run
    std::string exec_error;               // why the program could not be started, if it was not
    pid_t started = -1;                   // the process the test itself started
    bool ended_while_child_held = false;  // kHoldChild: the parent ended before its child had run
    std::map<pid_t, int> statuses;        // wait status of every process reaped
    std::string out, err;
};

constexpr uid_t kNobody = 65534;

// Set where the kernel cannot run the build under test (a cross build, or a
// 32-bit program on a kernel without 32-bit support): the emulator that runs
// it instead, with its arguments.
const std::vector<std::string> kLauncher = FORKED_LAUNCHER;

// Older kernel headers lack these; older kernels make every memfd executable.
#ifndef MFD_EXEC
#define MFD_NOEXEC_SEAL 0x0008U
#define MFD_EXEC 0x0010U
#endif

// A file in memory, executable or not as `how` asks where the kernel knows
// to ask; some are set to refuse a memfd that does not say.
int memory_file(const char* name, unsigned how)
{
    const int fd = memfd_create(name, MFD_CLOEXEC | how);
    return fd < 0 && errno == EINVAL ? memfd_create(name, MFD_CLOEXEC) : fd;
}

// An in-memory copy of the program, for an ordinary user to run: the build
// tree may be closed to that user, and a temporary folder may be mounted
// noexec. Returns -1 with errno set where the kernel allows no executable one.
int executable_copy()
{
    const int fd = memory_file("forked", MFD_EXEC);
    if (fd < 0) return -1;
    const int src = open(FORKED_PATH, O_RDONLY | O_CLOEXEC);
    ssize_t n = src < 0 ? -1 : 0;
    while (src >= 0 && (n = sendfile(fd, src, nullptr, 1 << 20)) > 0) {}
    const int error = errno;
    if (src >= 0) close(src);
    if (n < 0) {
        close(fd);
        throw std::system_error(error, std::generic_category(), "copying " FORKED_PATH);
    }
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
struct Channel {
    int read = -1, write = -1;
    std::string skip_reason;  // set where this environment cannot make it
};

// Why a case skips: a short name that stays, for CI to allow skips by,
// then the reason, for people.
std::string named_skip(const char* name, const std::string& why)
{
    return std::string("[") + name + "] " + why;
}

std::string lacks(const char* name, const std::string& what, const char* call)
{
    return named_skip(name, "needs " + what + ", which this environment lacks (" + call + ": " +
                                 std::strerror(errno) + ")");
}

Channel cloexec_pipe()
{
    int p[2] = {-1, -1};
    EXPECT_EQ(pipe2(p, O_CLOEXEC), 0);
    return {p[0], p[1], ""};
}

// A terminal that passes each byte through as written, with no output processing.
Channel terminal()
{
    Channel t;
    const char *failed = nullptr, *name = nullptr;
    // A root without devpts mounted on /dev/pts (a plain chroot) has no terminals to give.
    if ((t.read = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) < 0) failed = "posix_openpt";
    else if (grantpt(t.read) != 0 || unlockpt(t.read) != 0) failed = "granting it";
    else if (!(name = ptsname(t.read)) || (t.write = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC)) < 0)
        failed = "opening its other end";
    if (failed) {
        t.skip_reason = lacks("no-pty", "a pseudo-terminal", failed);
        if (t.read >= 0) close(t.read);
        t.read = -1;
        return t;
    }
    termios tio{};
    EXPECT_EQ(tcgetattr(t.write, &tio), 0);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    EXPECT_EQ(tcsetattr(t.write, TCSANOW, &tio), 0);
    return t;
}

enum class Stdout { Pipe, File, Terminal, DevFull, Closed, PipeWithoutReader };

// Each kind of standard output the program is tested with; a new kind is one
// more case here.
Channel make_stdout(Stdout kind)
{
    Channel channel;
    switch (kind) {
    case Stdout::Pipe: channel = cloexec_pipe(); break;
    case Stdout::PipeWithoutReader:
        channel = cloexec_pipe();
        close(channel.read);
        channel.read = -1;
        break;
    case Stdout::File:
        // A file held in memory needs no folder, which may be closed to the
        // user. The program writes through a path, as a shell's > opens it:
        // a memfd's own descriptor does not serialise updates of its shared
        // offset, so both processes could write at offset 0.
        if ((channel.read = memory_file("forked-out", MFD_NOEXEC_SEAL)) < 0) {
            channel.skip_reason = lacks("no-memfd", "a file in memory", "memfd_create");
            break;
        }
        channel.write = open(("/proc/self/fd/" + std::to_string(channel.read)).c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (channel.write < 0) {
            channel.skip_reason = lacks("no-proc-fd", "a file opened by path", "open /proc/self/fd");
            close(channel.read);
            channel.read = -1;
        }
        break;
    case Stdout::Terminal: channel = terminal(); break;
    case Stdout::DevFull:
        if ((channel.write = open("/dev/full", O_WRONLY | O_CLOEXEC)) < 0)
            channel.skip_reason = lacks("no-dev-full", "/dev/full", "open");
        break;
    case Stdout::Closed: break;
    }
    // Started with -1, the program would meet a closed standard output and
    // seem to fail; the fault is the test's.
    if (kind != Stdout::Closed && channel.write < 0 && channel.skip_reason.empty())
        throw std::system_error(errno, std::generic_category(), "making the program's standard output");
    return channel;
}

// What the started process is handed: its standard output (-1: closed) and
// error, where to say why the program was not run, and the program as an
// open file (-1: run it from its path).
struct StartFds {
    int out, err, not_run, exe;
};

// Sent back by a started process that did not become the program.
enum NotRun : char { kLacks = 'l', kExecFailed = 'e' };

[[noreturn]] void report_not_run(int fd, NotRun why, const std::string& what)
{
    const std::string message = static_cast<char>(why) + what;
    [[maybe_unused]] const ssize_t written = write(fd, message.data(), message.size());
    _exit(127);
}

// Leaves this process at a process limit of 0 that refuses its forks, or
// says what kept it from one. Whom the limit binds depends on the user
// namespace and the capabilities held (root in a namespace that an ordinary
// user made is bound), so this process tries a fork of its own under it.
std::string refuse_forks()
{
    // Root is exempt where it is the system's root, so first become an
    // ordinary user where that is allowed.
    const char* refused = nullptr;
    if (geteuid() == 0) {
        if (setgroups(0, nullptr) != 0) refused = "setgroups";
        else if (setgid(kNobody) != 0) refused = "setgid";
        else if (setuid(kNobody) != 0) refused = "setuid";
    }
    const std::string no_switch = refused ? std::string(refused) + ": " + std::strerror(errno) : "";
    // Lowered only after the switch, which it would otherwise refuse; lowering needs no privilege.
    const rlimit none{0, 0};
    if (setrlimit(RLIMIT_NPROC, &none) != 0) return lacks("no-nproc-limit", "a process limit", "setrlimit");
    const pid_t probe = fork();
    if (probe < 0) return "";
    if (probe == 0) _exit(0);
    waitpid(probe, nullptr, 0);
    std::string why = "needs a user whose forks a process limit of 0 refuses: user " + std::to_string(getuid()) +
                      " forks past it";
    if (refused) why += ", and the switch to user " + std::to_string(kNobody) + " was refused (" + no_switch + ")";
    return named_skip("no-refusing-user", why);
}

// close's number in each calling convention the filter below may meet: the
// program's own, a 32-bit one's on a 64-bit kernel, an emulator's. Each ABI
// fixed it for good.
struct CloseCall {
    std::uint32_t audit_arch;
    unsigned char elf_class, elf_data;
    unsigned elf_machine;
    std::uint32_t number;
};
constexpr CloseCall kCloseCalls[] = {
    {AUDIT_ARCH_X86_64, ELFCLASS64, ELFDATA2LSB, EM_X86_64, 3},
    {AUDIT_ARCH_I386, ELFCLASS32, ELFDATA2LSB, EM_386, 6},
    {AUDIT_ARCH_AARCH64, ELFCLASS64, ELFDATA2LSB, EM_AARCH64, 57},
    {AUDIT_ARCH_ARM, ELFCLASS32, ELFDATA2LSB, EM_ARM, 6},
    {AUDIT_ARCH_S390X, ELFCLASS64, ELFDATA2MSB, EM_S390, 6},
    {AUDIT_ARCH_PPC64LE, ELFCLASS64, ELFDATA2LSB, EM_PPC64, 6},
    {AUDIT_ARCH_RISCV64, ELFCLASS64, ELFDATA2LSB, EM_RISCV, 57},
    // MIPS counts each ABI's calls from a base of its own: n64's from 5000,
    // o32's from 4000.
    {AUDIT_ARCH_MIPSEL64, ELFCLASS64, ELFDATA2LSB, EM_MIPS, 5003},
    {AUDIT_ARCH_MIPSEL, ELFCLASS32, ELFDATA2LSB, EM_MIPS, 4006},
// Kernel headers before 5.19 (Debian 11's) and glibc before 2.36 know no LoongArch.
#if defined(AUDIT_ARCH_LOONGARCH64) && defined(EM_LOONGARCH)
    {AUDIT_ARCH_LOONGARCH64, ELFCLASS64, ELFDATA2LSB, EM_LOONGARCH, 57},
#endif
};

// Why the filter below cannot fail the program's close: its ELF header
// names a CPU whose close the filter does not know. Empty where it knows.
std::string unknown_cpu(const char* path)
{
    unsigned char h[EI_NIDENT + 4] = {};
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    const ssize_t n = fd < 0 ? -1 : read(fd, h, sizeof h);
    if (fd >= 0) close(fd);
    // e_machine follows e_type, both in the file's own byte order.
    const unsigned lo = h[EI_NIDENT + 2], hi = h[EI_NIDENT + 3];
    const unsigned machine = h[EI_DATA] == ELFDATA2MSB ? lo << 8 | hi : hi << 8 | lo;
    for (const CloseCall& c : kCloseCalls)
        if (n == sizeof h && c.elf_class == h[EI_CLASS] && c.elf_data == h[EI_DATA] && c.elf_machine == machine)
            return "";
    return named_skip("unknown-cpu", "needs the number of close on the program's CPU (ELF class " +
                                          std::to_string(h[EI_CLASS]) + ", machine " + std::to_string(machine) +
                                          "), which the seccomp filter does not know");
}

// From here on, in this process and whatever it execs or forks, closing
// standard output fails with EIO and every other call goes through, as on a
// file system that reports a failed write only at close. Returns what kept
// it from that; only a close of its own that failed proves it, since a
// filter sees the calls of the CPU it runs on (under an emulator, its own).
std::string fail_closes_of_stdout()
{
    if (kLauncher.empty()) {
        const std::string why = unknown_cpu(FORKED_PATH);
        if (!why.empty()) return why;
    }
    std::vector<sock_filter> f;
    const auto word = [&f](std::uint32_t offset) { f.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offset)); };
    const std::uint32_t n = sizeof kCloseCalls / sizeof kCloseCalls[0];
    for (std::uint32_t i = 0; i < n; ++i) {
        word(offsetof(seccomp_data, arch));
        f.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kCloseCalls[i].audit_arch, 0, 2));
        word(offsetof(seccomp_data, nr));
        // On to the descriptor's test, past the other conventions and the allow.
        f.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kCloseCalls[i].number,
                             static_cast<unsigned char>(4 * (n - i) - 3), 0));
    }
    f.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    // The descriptor's low half: where a 64-bit argument keeps it depends on the byte order.
    const bool big_endian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
    word(offsetof(seccomp_data, args) + (big_endian ? 4 : 0));
    f.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, STDOUT_FILENO, 0, 1));
    f.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EIO & SECCOMP_RET_DATA)));
    f.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    const sock_fprog program{static_cast<unsigned short>(f.size()), f.data()};
    // No new privileges lets an ordinary user install a filter.
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return lacks("no-seccomp", "seccomp filters", "PR_SET_NO_NEW_PRIVS");
    if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
        return lacks("no-seccomp", "seccomp filters", "PR_SET_SECCOMP");
    const long closed = syscall(SYS_close, STDOUT_FILENO);
    if (closed != 0 && errno == EIO) return "";
    return named_skip("no-seccomp", "needs a seccomp filter that sees this process's own calls, and its close of "
                                     "standard output was not failed: " +
                                         std::string(closed == 0 ? "it succeeded" : std::strerror(errno)));
}

// Waits for the program and ends as it did, so that whoever waits for this
// process sees the program's end: as an init in front of it, or as an
// intermediate. An init outlives a signal it sends itself, so it exits
// with the status a shell would report.
[[noreturn]] void end_as(pid_t program, const StartFds& h)
{
    int status = 0;
    while (program > 0 && waitpid(program, &status, 0) < 0 && errno == EINTR) {}
    if (program < 0) report_not_run(h.not_run, kExecFailed, std::string("fork: ") + std::strerror(errno));
    if (!WIFSIGNALED(status)) _exit(WEXITSTATUS(status));
    sigset_t just;
    sigemptyset(&just);
    sigaddset(&just, WTERMSIG(status));
    signal(WTERMSIG(status), SIG_DFL);
    sigprocmask(SIG_UNBLOCK, &just, nullptr);
    raise(WTERMSIG(status));
    _exit(128 + WTERMSIG(status));
}

// Goes on in a new PID namespace: as its process 1 for kAsInit, as the
// child of an init there for kUnderInit. An ordinary user may make one only
// in a user namespace of its own, where the kernel allows that.
void enter_pid_namespace(const StartFds& h, unsigned flags)
{
    const char* refused = nullptr;
    if (unshare(CLONE_NEWPID) != 0) {
        refused = "unshare(CLONE_NEWPID)";
        if (errno == EPERM)
            refused = unshare(CLONE_NEWUSER | CLONE_NEWPID) == 0 ? nullptr : "unshare(CLONE_NEWUSER | CLONE_NEWPID)";
    }
    if (refused) report_not_run(h.not_run, kLacks, lacks("no-pid-namespace", "a PID namespace of its own", refused));
    // The first process this one forks is process 1 there. This one then
    // leaves, and the test, a subreaper, inherits that process and sees it end.
    const pid_t first = fork();
    if (first < 0) report_not_run(h.not_run, kExecFailed, std::string("fork: ") + std::strerror(errno));
    if (first > 0) _exit(0);
    if (flags & kUnderInit) {
        const pid_t program = fork();
        if (program != 0) end_as(program, h);
    }
}

[[noreturn]] void run_as_intermediate(char* const argv[], const StartFds& h, unsigned flags);

// A session of its own whose controlling terminal is standard output, as
// script and sshd make one, led by the program or by an intermediate.
void enter_terminal_session(char* const argv[], const StartFds& h, unsigned flags)
{
    if (setsid() < 0 || ioctl(h.out, TIOCSCTTY, 0) != 0)
        report_not_run(h.not_run, kExecFailed, std::string("making a terminal's session: ") + std::strerror(errno));
    if (flags & kUnderTerminalLeader) run_as_intermediate(argv, h, (flags & ~kUnderTerminalLeader) | kInLeadersGroup);
}

// Descriptors, and signals as a shell starts a program, whatever the tests blocked.
void hand_over(const StartFds& h, unsigned flags)
{
    if (h.out >= 0) dup2(h.out, STDOUT_FILENO);
    else close(STDOUT_FILENO);
    dup2(h.err, STDERR_FILENO);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, flags & kIgnoreSigpipe ? SIG_IGN : SIG_DFL);
}

// Execs the in-memory copy of the program. Where it cannot, returns what
// this environment lacks for it, or "" with errno saying how the exec failed.
// fexecve runs it by its descriptor, which some kernels (Debian 11's
// 5.10.0-32, Linux 5.10.223) refuse with ENOENT for any file while /dev/fd
// is missing, as under a bare devtmpfs; the same file runs by its path
// under /proc.
std::string exec_copy(int exe, char* const argv[], char* const env[])
{
    fexecve(exe, argv, env);
    int error = errno;
    const char* call = "fexecve";
    const std::string path = "/proc/self/fd/" + std::to_string(exe);
    if (error == ENOENT) {
        execve(path.c_str(), argv, env);
        error = errno;
        call = "execve of /proc/self/fd";
    }
    // Refused, or without the /proc path to name it by.
    const bool cannot = error == EACCES || error == EPERM || (error == ENOENT && access(path.c_str(), F_OK) != 0);
    errno = error;
    return cannot ? lacks("no-exec-memfd", "a way to run a program held in memory", call) : "";
}

// Runs in the process the test forked; execs the program or reports why not.
// The steps keep their order: an init's or intermediate's fork before the
// process limit of 0 that would refuse it and the tracer that would take it
// for the program's, a close of standard output before the filter failing it.
[[noreturn]] void exec_program(char* const argv[], const StartFds& h, unsigned flags)
{
    const auto lack = [&h](const std::string& why) { if (!why.empty()) report_not_run(h.not_run, kLacks, why); };
    if (flags & (kAsInit | kUnderInit)) enter_pid_namespace(h, flags);
    if (flags & (kLeadsTerminal | kUnderTerminalLeader)) enter_terminal_session(argv, h, flags);
    else if (!(flags & kInLeadersGroup)) setpgid(0, 0);
    hand_over(h, flags);
    if (flags & kRefuseFork) lack(refuse_forks());
    if (flags & kCloseFails) lack(fail_closes_of_stdout());
    if (flags & kHoldChild) {
        if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) lack(lacks("no-ptrace", "a tracer", "PTRACE_TRACEME"));
        // Stopped until the test has asked to follow the program's fork.
        raise(SIGSTOP);
    }
    // A sanitizer build's leak check at exit runs in a thread, which a
    // process limit of 0 refuses, and traces the process, which a tracer
    // already does. The program allocates nothing for it to find.
    const char* asan = getenv("ASAN_OPTIONS");
    if (flags & (kRefuseFork | kHoldChild))
        setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":detect_leaks=0").c_str(), 1);
    char* no_env[] = {nullptr};
    char** env = flags & kEmptyEnv ? no_env : environ;
    // A launcher named without a path is looked up on PATH, as ctest does.
    if (h.exe < 0) execvpe(argv[0], argv, env);
    else lack(exec_copy(h.exe, argv, env));
    report_not_run(h.not_run, kExecFailed, std::strerror(errno));
}

// Stands between the test and the program: where the test is process 1 (a
// container's entry point), so that the program does not see process 1 for
// its parent and wait, hiding its child from the test; and as a shell that
// leads a terminal's session, has the program in its group and ends with it.
[[noreturn]] void run_as_intermediate(char* const argv[], const StartFds& h, unsigned flags)
{
    const pid_t program = fork();
    if (program == 0) exec_program(argv, h, flags);
    end_as(program, h);
}

pid_t start(const std::vector<std::string>& args, const StartFds& h, unsigned flags)
{
    std::vector<std::string> words = kLauncher;
    words.push_back(FORKED_PATH);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const bool test_is_init = getpid() == 1;
    const pid_t pid = fork();
    if (pid == 0 && test_is_init) run_as_intermediate(argv.data(), h, flags);
    if (pid == 0) exec_program(argv.data(), h, flags);
    EXPECT_GT(pid, 0);
    return pid;
}

// Follows the traced program's fork and holds the child stopped, before
// its first instruction, until the parent has ended (one that has not in
// 5 s waits for it, and is killed); then lets it go. The test, as tracer,
// sees the parent's end here.
void hold_child(Outcome& got)
{
    const pid_t parent = got.started;
    int status = 0;
    // Stopped by itself before its exec, unless it could not be traced.
    if (waitpid(parent, &status, 0) != parent || !WIFSTOPPED(status)) {
        got.statuses[parent] = status;
        return;
    }
    ptrace(PTRACE_SETOPTIONS, parent, nullptr, PTRACE_O_TRACEFORK | PTRACE_O_EXITKILL);
    ptrace(PTRACE_CONT, parent, nullptr, nullptr);
    pid_t pid, child = -1;
    bool stopped = false;
    for (int ms = 0; (pid = waitpid(-1, &status, __WALL | WNOHANG)) != parent || WIFSTOPPED(status);) {
        if (pid < 0) return;
        if (pid == 0) {
            if (++ms == 5000) kill(parent, SIGKILL);
            poll(nullptr, 0, 1);
        } else if (pid != parent) {
            child = pid;  // its first stop
            stopped = true;
        } else {
            unsigned long forked = 0;
            if (status >> 8 == (SIGTRAP | PTRACE_EVENT_FORK << 8) &&
                ptrace(PTRACE_GETEVENTMSG, parent, nullptr, &forked) == 0)
                child = static_cast<pid_t>(forked);
            // The exec's SIGTRAP is the tracer's; any other signal goes on.
            const intptr_t signal = WSTOPSIG(status) == SIGTRAP ? 0 : WSTOPSIG(status);
            ptrace(PTRACE_CONT, parent, nullptr, reinterpret_cast<void*>(signal));
        }
    }
    got.statuses[parent] = status;
    got.ended_while_child_held = child > 0 && !(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    if (child < 0) return;
    // A child follows its fork event with a stop of its own.
    if (!stopped) waitpid(child, &status, __WALL);
    ptrace(PTRACE_DETACH, child, nullptr, nullptr);
}

// Reaps everything before reading: the output is a few short lines, far less
// than a pipe holds, so no writer can be left blocked on it.
void collect(Outcome& got, int out_fd, int err_fd, int not_run_fd)
{
    int status;
    for (pid_t pid; (pid = waitpid(-1, &status, 0)) > 0;) got.statuses[pid] = status;
    EXPECT_EQ(errno, ECHILD);
    // A file is read from its start; a pipe or terminal cannot seek, nor needs to.
    if (out_fd >= 0) {
        lseek(out_fd, 0, SEEK_SET);
        got.out = drain(out_fd);
    }
    got.err = drain(err_fd);
    const std::string not_run = drain(not_run_fd);
    if (not_run.empty()) return;
    if (not_run[0] == kLacks) got.skip_reason = not_run.substr(1);
    else got.exec_error = not_run.substr(1);
}

// Runs the program as a user would: make_stdout gives it the chosen standard
// output, start forks and execs it, and collect reaps every process it left
// and reads what they wrote.
Outcome run_forked(Stdout out, unsigned flags = 0, const std::vector<std::string>& args = {})
{
    // The child may outlive its parent; as a subreaper this process inherits
    // the orphan and sees its end too. An ignored SIGCHLD, inherited from
    // whoever started the tests, would have the kernel reap them all unseen.
    // Some emulators refuse the prctl (Debian 12's qemu-user 7.2 does).
    Outcome got;
    if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
        got.skip_reason =
            lacks("no-subreaper", "subreapers, to wait for the orphaned child", "prctl(PR_SET_CHILD_SUBREAPER)");
        return got;
    }
    signal(SIGCHLD, SIG_DFL);

    const Channel output = make_stdout(out);
    got.skip_reason = output.skip_reason;
    const int exe_fd = flags & kRefuseFork ? executable_copy() : -1;
    if (flags & kRefuseFork && exe_fd < 0)
        got.skip_reason = lacks("no-exec-memfd", "an executable file in memory", "memfd_create");
    if (!got.skip_reason.empty()) {
        for (int fd : {output.read, output.write, exe_fd})
            if (fd >= 0) close(fd);
        return got;
    }
    const Channel err = cloexec_pipe();
    // Closed by a successful exec; otherwise it says why there was none.
    const Channel not_run = cloexec_pipe();
    got.started = start(args, {output.write, err.write, not_run.write, exe_fd}, flags);
    for (int fd : {output.write, exe_fd, err.write, not_run.write})
        if (fd >= 0) close(fd);
    if (flags & kHoldChild) hold_child(got);
    collect(got, output.read, err.read, not_run.read);
    return got;
}

// What a process writes for the value fork() gave it.
std::string line(long value)
{
    return "fork() returns " + std::to_string(value) + "\n";
}

// Both lines, each once, in either order and nothing else; the parent's
// names the child, or any process where the test cannot know it (0).
bool both_lines(const std::string& out, pid_t child)
{
    const size_t end = out.find('\n') + 1;
    std::string first = out.substr(0, end), second = out.substr(end);
    if (first != line(0)) std::swap(first, second);
    if (first != line(0) || second.size() < first.size()) return false;
    // The parent's ID read back from where the child's line has its 0.
    const long id = child > 0 ? child : std::strtol(second.c_str() + first.size() - 2, nullptr, 10);
    return id > 0 && second == line(id);
}

// As a job, the parent ends without waiting: the test saw the parent and the
// child end, each exit 0, and each wrote its line once and nothing else.
void expect_reported_as_job(const Outcome& got)
{
    if (!got.skip_reason.empty()) GTEST_SKIP() << got.skip_reason;
    ASSERT_EQ(got.exec_error, "");
    ASSERT_EQ(got.statuses.size(), 2u) << got.out << got.err;
    pid_t child = -1;
    for (const auto& [pid, status] : got.statuses) {
        EXPECT_EQ(describe(status), "exit 0") << "pid " << pid;
        if (pid != got.started) child = pid;
    }
    EXPECT_TRUE(both_lines(got.out, child)) << got.out;
    EXPECT_EQ(got.err, "");
}

TEST(Forked, EachProcessWritesItsLineOnceToAPipeOrFile)
{
    for (Stdout out : {Stdout::Pipe, Stdout::File}) {
        SCOPED_TRACE(out == Stdout::Pipe ? "pipe" : "file");
        expect_reported_as_job(run_forked(out));
        // Arguments and environment are not looked at.
        expect_reported_as_job(run_forked(out, kEmptyEnv, {"--help", "-x", ""}));
    }
}

TEST(Forked, EachProcessWritesItsLineToATerminal)
{
    expect_reported_as_job(run_forked(Stdout::Terminal));
}

TEST(Forked, RefusedForkIsReportedAsMinusOne)
{
    if (!kLauncher.empty())
        GTEST_SKIP() << "[emulated] needs the program started directly: an emulator (here " << kLauncher[0]
                     << ") may start threads of its own, which count against the process limit, so a limit "
                     << "that refuses the program's fork alone would depend on the emulator's insides";
    const Outcome got = run_forked(Stdout::Pipe, kRefuseFork);
    if (!got.skip_reason.empty()) GTEST_SKIP() << got.skip_reason;
    ASSERT_EQ(got.exec_error, "");
    ASSERT_EQ(got.statuses.size(), 1u);
    EXPECT_EQ(describe(got.statuses.at(got.started)), "exit 0");
    EXPECT_EQ(got.out, line(-1));
    EXPECT_EQ(got.err, "");
}

// A case that must start the program many times to catch a fault shares
// its runs over the passes of a repeat; under an emulator or a sanitizer,
// where a run costs ten times as much or more, a fifth: plain builds catch it.
int runs_per_pass(int runs)
{
#if defined(__SANITIZE_ADDRESS__)
    const bool slow = true;
#elif defined(__has_feature)
    const bool slow = !kLauncher.empty() || __has_feature(address_sanitizer);
#else
    const bool slow = !kLauncher.empty();
#endif
#ifdef GTEST_FLAG_GET
    const int repeat = std::max(1, static_cast<int>(GTEST_FLAG_GET(repeat)));
#else
    const int repeat = std::max(1, static_cast<int>(::testing::GTEST_FLAG(repeat)));
#endif
    return ((slow ? runs / 5 : runs) + repeat - 1) / repeat;
}

// Settings where the parent's end would end the child, so it waits, each
// tried so often that one that does not wait cannot pass: each run both
// lines once (the child's ID unseen), nothing else, each end seen exit 0.
struct Setting {
    unsigned flags;
    const char* how;
    int runs;
    size_t seen;  // processes
};
void expect_reported_after_wait(const std::vector<Setting>& settings, Stdout out)
{
    for (const Setting& s : settings) {
        SCOPED_TRACE(s.how);
        for (int run = 1, runs = runs_per_pass(s.runs); run <= runs && !::testing::Test::HasFailure(); ++run) {
            const Outcome got = run_forked(out, s.flags);
            if (!got.skip_reason.empty()) GTEST_SKIP() << got.skip_reason;
            SCOPED_TRACE("run " + std::to_string(run));
            ASSERT_EQ(got.exec_error, "");
            EXPECT_EQ(got.statuses.size(), s.seen);
            for (const auto& [pid, status] : got.statuses) EXPECT_EQ(describe(status), "exit 0") << "pid " << pid;
            EXPECT_TRUE(both_lines(got.out, 0)) << got.out;
            EXPECT_EQ(got.err, "");
        }
    }
}

TEST(Forked, EachProcessWritesItsLineWhereTheParentsEndEndsTheChild)
{
    // Not waiting, the parent lost the child's line in about three runs in
    // four as process 1 and in one in twenty under the init. The test sees
    // the process it started end, and process 1 there.
    expect_reported_after_wait({{kAsInit, "as process 1 of a PID namespace", 100, 2},
                                {kUnderInit, "under an init that exits as soon as its child has", 500, 2}},
                               Stdout::Pipe);
}

TEST(Forked, EachProcessWritesItsLineWhereTheParentsEndHangsUpItsTerminal)
{
    // Not waiting, the parent lost the child's line, to the SIGHUP of the
    // hangup, in some nine runs in ten leading the session and one in three
    // in the leader's group. Waiting, it reaps its child, so the test sees
    // one process end: the program, or the intermediate that ended as it did.
    expect_reported_after_wait({{kLeadsTerminal, "leading its terminal's session", 20, 1},
                                {kUnderTerminalLeader, "in the group of its terminal's session leader", 100, 1}},
                               Stdout::Terminal);
}

TEST(Forked, AsAShellsJobTheParentEndsWithoutWaitingForItsChild)
{
    // Held stopped, the child cannot end first, whatever the scheduler does.
    if (getpid() == 1)
        GTEST_SKIP() << "[test-is-init] needs a test that is not process 1, whose child can be the program it traces: "
                        "as process 1 the test starts the program through an intermediate";
    const Outcome got = run_forked(Stdout::Pipe, kHoldChild);
    if (!got.skip_reason.empty()) GTEST_SKIP() << got.skip_reason;
    EXPECT_TRUE(got.ended_while_child_held) << "the parent did not end while its child was held";
    expect_reported_as_job(got);
}

// Two processes: each said why its write failed, and exited 1.
void expect_both_failed(const Outcome& got, int error)
{
    ASSERT_EQ(got.exec_error, "");
    ASSERT_EQ(got.statuses.size(), 2u) << got.err;
    for (const auto& [pid, status] : got.statuses) EXPECT_EQ(describe(status), "exit 1") << "pid " << pid;
    const std::string line = std::string("forked: write error: ") + std::strerror(error) + "\n";
    EXPECT_EQ(got.err, line + line);
}

TEST(Forked, EachProcessReportsItsOwnWriteFailure)
{
    const struct {
        Stdout out;
        unsigned flags;
        int error;
    } cases[] = {
        {Stdout::DevFull, 0, ENOSPC}, {Stdout::Closed, 0, EBADF}, {Stdout::PipeWithoutReader, kIgnoreSigpipe, EPIPE}};
    std::string skipped;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::strerror(c.error));
        const Outcome got = run_forked(c.out, c.flags);
        // The other cases still run where one cannot.
        if (got.skip_reason.empty()) expect_both_failed(got, c.error);
        else skipped = got.skip_reason;
    }
    if (!skipped.empty()) GTEST_SKIP() << skipped;
}

TEST(Forked, EachProcessReportsAFailedClose)
{
    // Every write goes through and only the close fails, as on NFS or
    // with disk quotas.
    const Outcome got = run_forked(Stdout::Pipe, kCloseFails);
    if (!got.skip_reason.empty()) GTEST_SKIP() << got.skip_reason;
    expect_both_failed(got, EIO);
}

TEST(Forked, VanishedReaderEndsEachProcessBySigpipe)
{
    const Outcome got = run_forked(Stdout::PipeWithoutReader);
    if (!got.skip_reason.empty()) GTEST_SKIP() << got.skip_reason;
    ASSERT_EQ(got.statuses.size(), 2u) << got.err;
    for (const auto& [pid, status] : got.statuses)
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) << "pid " << pid << ": " << describe(status);
    EXPECT_EQ(got.err, "");
}

}  // namespace
