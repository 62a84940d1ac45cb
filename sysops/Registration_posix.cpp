// Self-registration on Linux: the library is a shared object, loaded with
// dlopen (all symbols bound at once, as a Windows library's imports are),
// its entry looked up with dlsym and the library closed with dlclose.
//
// All of that happens in a forked child process, so that an entry that
// crashes or never returns costs one failed registration instead of the
// updater: a crash is reported with its signal, and an entry still running
// after kEntryBound is killed. The child tells the outcome through its exit
// code and sends dlerror's text back through a pipe. After fork in a
// multi-threaded program the child does nothing but reset the crash signals,
// dlopen, dlsym, call, dlclose, write and _exit: no allocation of its own, no
// locks of the parent's, no atexit handlers, no flush of the parent's stdio
// buffers. glibc keeps malloc and the loader's lock usable in a forked child,
// which dlopen and the library's own code need. The entry's side effects on
// files and the system stay; those in the updater's memory are gone with the
// child, as nothing of a registration is meant to stay in the caller.
//
// The platform text of a failure is dlerror's text, without the leading
// "<file>: " that would repeat the path the message already ends with. dlsym
// sets no error code; a missing entry is reported with code 127, the Windows
// code for a procedure that was not found. Only the library's own entry
// counts: one that dlsym finds in a library it depends on is taken as missing,
// as Windows looks only at the library's own exports.

#include "sysops/Registration.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <system_error>

#include "core/Errors.h"
#include "sysops/Messages.h"
#include "sysops/Registration_posix.h"

namespace ue {

namespace {

constexpr std::uint32_t kProcNotFound = 127;  // ERROR_PROC_NOT_FOUND
constexpr const char* kEntryName = "DllRegisterServer";
constexpr const char* kMissingEntryText = "undefined symbol: DllRegisterServer";
constexpr const char* kLoadFailedText = "cannot open shared object file";

// How long the entry may run before it is taken as hung.
constexpr std::chrono::milliseconds kEntryBound = std::chrono::seconds(60);

// The most of dlerror's text the child sends; the rest is cut.
constexpr std::size_t kMaxText = 4096;

// The child's exit codes. Not 0 or 1: an entry that calls exit() itself is
// not taken for one that returned.
enum ChildOutcome : int {
    kRegistered = 100,
    kEntryFailed = 101,
    kLoadFailed = 102,
    kNoEntry = 103,
};

std::string PlatformText(const std::string& error, const std::string& file) {
    std::string text = error;
    std::string prefix = file + ": ";
    if (!file.empty() && text.starts_with(prefix) && text.size() > prefix.size()) {
        text.erase(0, prefix.size());
    }
    return TrimPlatformText(text);
}

// "DllRegisterServer in <file> failed: <why>."
std::string FailureMessage(const std::string& file, const std::string& why) {
    std::string message = EntryFailureMessage(file);
    if (message.ends_with('.')) message.pop_back();
    return message + ": " + why + ".";
}

std::string DurationText(std::chrono::milliseconds bound) {
    if (bound.count() % 1000 != 0) return std::to_string(bound.count()) + " ms";
    const auto seconds = bound.count() / 1000;
    return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

// --- In the child: no allocation and no lock beyond what dlopen and the
// library themselves take. ---

void Send(int fd, const char* text) {
    std::size_t size = std::min(std::strlen(text), kMaxText);
    while (size > 0) {
        ssize_t n = write(fd, text, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text += n;
        size -= static_cast<std::size_t>(n);
    }
}

// The library's own exported function `name`, or null with the reason.
void* OwnSymbol(void* handle, const char* name, const char*& reason) {
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

[[noreturn]] void RegisterInChild(const char* file, int out) {
    // A crash ends the child by its signal, not in a handler the updater (or
    // a sanitizer) installed for itself.
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS}) {
        sigaction(sig, &byDefault, nullptr);
    }

    dlerror();
    void* handle = dlopen(file, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* err = dlerror();
        Send(out, err ? err : kLoadFailedText);
        _exit(kLoadFailed);
    }
    const char* reason = nullptr;
    void* entry = OwnSymbol(handle, kEntryName, reason);
    if (!entry) {
        Send(out, reason);  // before dlclose, which may free dlerror's text
        dlclose(handle);
        _exit(kNoEntry);
    }
    using EntryFn = std::int32_t (*)();
    std::int32_t status = reinterpret_cast<EntryFn>(entry)();
    dlclose(handle);
    _exit(status < 0 ? kEntryFailed : kRegistered);
}

// --- In the parent. ---

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { Close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    void Close() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

OSError SystemFailure(int err) {
    return MakeOSError(static_cast<std::uint32_t>(err),
                       TrimPlatformText(SystemReason(SystemError(err))));
}

// Reads what is in the pipe now, keeping up to kMaxText bytes; false at its end.
bool ReadAvailable(int fd, std::string& text) {
    char buffer[1024];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            std::size_t keep = std::min(static_cast<std::size_t>(n), kMaxText - text.size());
            text.append(buffer, keep);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return n < 0 && errno == EAGAIN;
    }
}

struct ChildEnd {
    enum { kEnded, kTimedOut, kLost } how = kLost;
    int status = 0;
    std::string text;
};

// Collects the child's text and waits for it at most `bound`, then kills it.
// The pipe's end is no sign of the child's: a process the entry started may
// hold the pipe open, so the child is waited for by its id.
ChildEnd AwaitChild(pid_t pid, int in, std::chrono::milliseconds bound) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + bound;
    ChildEnd end;
    bool open = true;
    for (;;) {
        pid_t r = waitpid(pid, &end.status, WNOHANG);
        if (r == pid) {
            end.how = ChildEnd::kEnded;
            break;
        }
        if (r < 0 && errno != EINTR) break;  // reaped by someone else: outcome unknown
        const auto now = Clock::now();
        if (now >= deadline) {
            kill(pid, SIGKILL);
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
            end.how = ChildEnd::kTimedOut;
            break;
        }
        // Short slices once the pipe is closed: the child is about to end.
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        int slice = static_cast<int>(std::min<std::int64_t>(left.count() + 1, open ? 50 : 2));
        pollfd p{in, POLLIN, 0};
        if (poll(open ? &p : nullptr, open ? 1 : 0, slice) > 0) open = ReadAvailable(in, end.text);
    }
    ReadAvailable(in, end.text);
    return end;
}

void RegisterWithin(const std::string& file, std::chrono::milliseconds bound) {
    // An empty name would give the program itself, and a NUL would cut the
    // path: neither names the library asked for.
    if (file.empty() || file.find('\0') != std::string::npos) {
        throw Error(LoadFailureMessage(TrimPlatformText(SystemReason(SystemError(ENOENT))), file));
    }
    // Close-on-exec: no program started meanwhile, by another thread or by
    // the entry, holds on to the pipe. Non-blocking: the parent never waits
    // on it beyond its bound, and the child's few bytes always fit.
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw SystemFailure(errno);
    Descriptor in(fds[0]);
    Descriptor out(fds[1]);

    const char* path = file.c_str();
    pid_t pid = fork();
    if (pid < 0) throw SystemFailure(errno);
    if (pid == 0) RegisterInChild(path, out.get());
    out.Close();

    ChildEnd end = AwaitChild(pid, in.get(), bound);
    if (end.how == ChildEnd::kTimedOut) {
        throw Error(FailureMessage(file, "it did not return within " + DurationText(bound)));
    }
    if (end.how == ChildEnd::kEnded && WIFSIGNALED(end.status)) {
        int sig = WTERMSIG(end.status);
        const char* name = sigdescr_np(sig);  // thread-safe, unlike strsignal
        throw Error(FailureMessage(file, "it crashed (signal " + std::to_string(sig) +
                                             (name ? std::string(", ") + name : "") + ")"));
    }
    int code = end.how == ChildEnd::kEnded && WIFEXITED(end.status) ? WEXITSTATUS(end.status) : -1;
    switch (code) {
    case kRegistered:
        return;
    case kLoadFailed:
        throw Error(LoadFailureMessage(PlatformText(end.text, file), file));
    case kNoEntry:
        throw MakeOSError(kProcNotFound, PlatformText(end.text, file));
    case kEntryFailed:
    case -1:
        throw Error(EntryFailureMessage(file));
    default:
        throw Error(FailureMessage(file, "it ended its process with exit code " +
                                             std::to_string(code)));
    }
}

}  // namespace

void RegisterServerLibrary(const std::string& file) { RegisterWithin(file, kEntryBound); }

namespace posix {

void RegisterServerLibraryWithin(const std::string& file, std::chrono::milliseconds bound) {
    RegisterWithin(file, bound);
}

}  // namespace posix

}  // namespace ue
