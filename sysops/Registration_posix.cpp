// Self-registration on Linux: the library is a shared object, loaded with
// dlopen (all symbols bound at once, as a Windows library's imports are),
// its entry looked up with dlsym and the library closed with dlclose.
//
// The parent forks and the child at once executes the registration program
// (by default /proc/self/exe: the updater's own file, even when the run has
// replaced it meanwhile), so the child shares nothing of the updater's state:
// before the exec it keeps only the standard descriptors and the report
// pipe (not the installation's lock, the display connection or the
// database), unblocks and resets every signal, goes into a process group of
// its own, and asks to be killed when the updater dies. Between fork and exec
// it makes only async-signal-safe calls. An entry that calls exit() ends a
// fresh process with nothing to tear down.
//
// The parent waits for the child by its id, never by the pipe's end (a
// process the entry started may hold it open). At the bound, and after the
// child has ended, the whole group is killed, so a helper the entry started
// does not outlive its registration; the child is reaped last, so that its
// group id cannot be reused meanwhile. A helper that leaves the group on
// purpose (setsid) escapes; it still holds none of the updater's files.
//
// The platform text of a failure is dlerror's text. dlsym sets no error
// code; a missing entry is reported with code 127, the Windows code for a
// procedure that was not found. Only the library's own entry counts: one that
// dlsym finds in a library it depends on is taken as missing, as Windows looks
// only at the library's own exports.

#include "sysops/Registration.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/Errors.h"
#include "sysops/Messages.h"

namespace ue {

namespace registration {

namespace {

constexpr std::uint32_t kProcNotFound = 127;  // ERROR_PROC_NOT_FOUND
constexpr const char* kEntryName = "DllRegisterServer";
constexpr const char* kMissingEntryText = "undefined symbol: DllRegisterServer";
constexpr const char* kLoadFailedText = "cannot open shared object file";
// What a child whose exec failed writes, followed by errno in decimal.
constexpr char kExecFailed[] = "exec ";

void WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

// --- In the child, after exec. ---

// The library's own exported function `name`, or null with the reason.
void* OwnSymbol(void* handle, const char* name, std::string& reason) {
    dlerror();
    void* sym = dlsym(handle, name);
    if (!sym) {
        const char* err = dlerror();
        reason = err ? err : kMissingEntryText;
        return nullptr;
    }
    Dl_info info{};
    link_map* from = nullptr;
    link_map* own = nullptr;
    if (dladdr1(sym, &info, reinterpret_cast<void**>(&from), RTLD_DL_LINKMAP) == 0 ||
        dlinfo(handle, RTLD_DI_LINKMAP, &own) != 0 || from != own) {
        reason = kMissingEntryText;
        return nullptr;
    }
    return sym;
}

// The report pipe named by `channel`; -1 when it names none.
int ReportDescriptor(const std::string& channel) {
    if (channel.empty() || channel.size() > 9 ||
        channel.find_first_not_of("0123456789") != std::string::npos) {
        return -1;
    }
    const int fd = std::stoi(channel);
    struct stat st {};
    if (fd < 3 || ::fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) return -1;
    // Not for the programs the entry starts.
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}

[[noreturn]] void End(int out, Outcome outcome, std::uint32_t code, const std::string& text) {
    if (out >= 0) {
        const std::string report = ReportText(outcome, code, text);
        WriteAll(out, report.data(), report.size());
    }
    std::fflush(nullptr);  // what the library printed; no exit handlers run
    ::_exit(outcome);
}

}  // namespace

void RegisterInThisProcess(const std::string& file, const std::string& channel) {
    const int out = ReportDescriptor(channel);
    // A crash ends the child by its signal, not in a handler the program (or
    // a sanitizer) installed for itself.
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS}) {
        ::sigaction(sig, &byDefault, nullptr);
    }

    dlerror();
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* err = dlerror();
        End(out, kLoadFailed, 0, err ? err : kLoadFailedText);
    }
    std::string reason;
    void* entry = OwnSymbol(handle, kEntryName, reason);
    if (!entry) {
        dlclose(handle);
        End(out, kNoEntry, kProcNotFound, reason);
    }
    using EntryFn = std::int32_t (*)();
    const std::int32_t status = reinterpret_cast<EntryFn>(entry)();
    dlclose(handle);
    End(out, status < 0 ? kEntryFailed : kRegistered, 0, "");
}

namespace {

// --- In the parent. ---

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { Close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

OSError SystemFailure(int err) {
    return MakeOSError(static_cast<std::uint32_t>(err),
                       TrimPlatformText(SystemReason(SystemError(err))));
}

// Reads what is in the pipe now, keeping up to kMaxReport bytes more than
// the report's head; false at its end.
bool ReadAvailable(int fd, std::string& text) {
    constexpr std::size_t kMax = kMaxReport + 64;
    char buffer[1024];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            const std::size_t keep = std::min(static_cast<std::size_t>(n), kMax - text.size());
            text.append(buffer, keep);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return n < 0 && errno == EAGAIN;
    }
}

// In the forked child: nothing but async-signal-safe calls up to the exec.
[[noreturn]] void ExecChild(pid_t parent, const char* program, char* const argv[], int out) {
    ::setpgid(0, 0);
    // Dies with the updater; one that died before this line is not waited for.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(kBadCommandLine);

    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &byDefault, nullptr);

    // Only the standard descriptors and the report pipe go along.
    ::fcntl(out, F_SETFD, 0);
    if (out > 3) ::close_range(3, static_cast<unsigned>(out) - 1, 0);
    ::close_range(static_cast<unsigned>(out) + 1, ~0u, 0);

    ::execve(program, argv, environ);

    // errno in decimal, without allocating.
    char text[32];
    std::size_t size = sizeof kExecFailed - 1;
    std::memcpy(text, kExecFailed, size);
    char digits[12];
    std::size_t count = 0;
    for (unsigned value = static_cast<unsigned>(errno); count == 0 || value > 0; value /= 10) {
        digits[count++] = static_cast<char>('0' + value % 10);
    }
    while (count > 0) text[size++] = digits[--count];
    WriteAll(out, text, size);
    ::_exit(kBadCommandLine);
}

// Collects the child's report and waits for it at most `bound`; then kills
// its group and reaps it.
ChildEnd AwaitChild(pid_t pid, int in, std::chrono::milliseconds bound) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + bound;
    ChildEnd end;
    bool open = true;
    bool reapable = false;
    for (;;) {
        // WNOWAIT: the ended child stays a zombie, so its group id stays ours.
        siginfo_t info{};
        const int r = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
        if (r == 0 && info.si_pid == pid) {
            reapable = true;
            break;
        }
        if (r < 0 && errno != EINTR) break;  // reaped by someone else: outcome unknown
        const auto now = Clock::now();
        if (now >= deadline) {
            end.how = ChildEnd::How::TimedOut;
            reapable = true;
            break;
        }
        // Short slices once the pipe is closed: the child is about to end.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        const int slice = static_cast<int>(std::min<std::int64_t>(left.count() + 1, open ? 50 : 2));
        pollfd p{in, POLLIN, 0};
        if (::poll(open ? &p : nullptr, open ? 1 : 0, slice) > 0) open = ReadAvailable(in, end.report);
    }
    ReadAvailable(in, end.report);
    if (!reapable) return end;

    // The child, when it still runs, and whatever the entry started.
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ReadAvailable(in, end.report);
    if (end.how == ChildEnd::How::TimedOut) return end;
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        const char* name = sigdescr_np(sig);
        end.how = ChildEnd::How::Crashed;
        end.crash = "signal " + std::to_string(sig) + (name ? std::string(", ") + name : "");
    } else {
        end.how = ChildEnd::How::Exited;
        end.exitCode = static_cast<std::uint32_t>(WEXITSTATUS(status));
    }
    return end;
}

}  // namespace

}  // namespace registration

void RegisterServerLibraryWithin(const std::string& file, std::chrono::milliseconds bound) {
    using namespace registration;
    // An empty name would give the program itself, and a NUL would cut the
    // path: neither names the library asked for.
    if (file.empty() || file.find('\0') != std::string::npos) {
        throw Error(LoadFailureMessage(TrimPlatformText(SystemReason(SystemError(ENOENT))), file));
    }
    const std::string& chosen = RegistrationProgram();
    const std::string program = chosen.empty() ? "/proc/self/exe" : chosen;

    // Close-on-exec: no program started meanwhile by another thread holds on
    // to the pipe. The child's end is made inheritable in the child alone.
    // The parent's end does not block: the parent never waits on it beyond
    // its bound.
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw SystemFailure(errno);
    Descriptor in(fds[0]);
    Descriptor out(fds[1]);
    if (::fcntl(in.get(), F_SETFL, O_NONBLOCK) != 0) throw SystemFailure(errno);

    // Everything the child needs is made before the fork.
    std::string option = kRegisterLibraryOption;
    std::string path = file;
    std::string channel = std::to_string(out.get());
    std::string name = program;
    char* argv[] = {name.data(), option.data(), path.data(), channel.data(), nullptr};

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) throw SystemFailure(errno);
    if (pid == 0) ExecChild(parent, program.c_str(), argv, out.get());
    ::setpgid(pid, pid);  // also here, so that the group exists before any kill
    out.Close();

    ChildEnd end = AwaitChild(pid, in.get(), bound);
    end.program = program;
    if (end.report.starts_with(kExecFailed)) {
        end.how = ChildEnd::How::NotStarted;
        end.exitCode = static_cast<std::uint32_t>(
            std::strtoul(end.report.c_str() + sizeof kExecFailed - 1, nullptr, 10));
    }
    RaiseUnlessRegistered(file, end, bound);
}

}  // namespace ue
