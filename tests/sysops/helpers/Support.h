// Small helpers shared by the Linux suites of this folder.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>

#include "core/Errors.h"

namespace ue::test {

// Sets (or with nullopt unsets) an environment variable for the life of a
// test and restores it after.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        Set(value);
    }
    ~ScopedEnv() { Set(old_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void Set(const std::optional<std::string>& value) {
        if (value) ::setenv(name_.c_str(), value->c_str(), 1);
        else ::unsetenv(name_.c_str());
    }
    std::string name_;
    std::optional<std::string> old_;
};

// The names of the entries of `dir`: shows what a call left behind.
inline std::set<std::string> EntryNames(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// The text of the ue::Error that `call` raises; a marker instead when it
// raises none or one of the more specific type `Other`.
template <typename Other, typename Call>
std::string PlainErrorOf(Call call) {
    try {
        call();
    } catch (const Other& e) {
        return std::string("unexpected error type (") + e.what() + ")";
    } catch (const Error& e) {
        return e.what();
    }
    return "no error";
}

// Polls `done` until it holds or `bound` has passed; false on time-out.
template <typename Done>
bool WaitUntil(Done done, std::chrono::milliseconds bound = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// True once `pid` has left /proc: ended and reaped, not lingering as a zombie.
inline bool Reaped(pid_t pid) {
    return WaitUntil([pid] { return !std::filesystem::exists("/proc/" + std::to_string(pid)); });
}

// Permission tests: root may write what the user may not, so the code under
// test runs in a forked child that is an ordinary user, nobody (65534) when we
// are root. The fixture hands that user what it must own.
constexpr uid_t kUnprivilegedId = 65534;

inline void HandToUnprivileged(const std::string& path) {
    if (::geteuid() == 0 && ::lchown(path.c_str(), kUnprivilegedId, kUnprivilegedId) != 0)
        throw std::runtime_error("cannot hand " + path + " to nobody");
}

// Sets or clears an inode flag (FS_IMMUTABLE_FL, FS_APPEND_FL); false where
// we may not (it takes root) or the file system keeps none.
inline bool SetInodeFlag(const std::string& path, int flag, bool on) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = on ? flags | flag : flags & ~flag;
        done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
}

// Runs `body`, which returns a std::string, in a forked child without root's
// rights, and returns that string ("exception: ..." when it raised). nullopt
// when the child could not give up root (then skip the test). The child shares
// nothing with the test but the files: no assertion may be made in `body`.
template <typename Body>
std::optional<std::string> RunUnprivileged(Body body) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        ::close(fds[0]);
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(kUnprivilegedId) != 0 ||
                                 ::setuid(kUnprivilegedId) != 0)) {
            ::_exit(77);
        }
        std::string out;
        try {
            out = body();
        } catch (const std::exception& e) {
            out = std::string("exception: ") + e.what();
        }
        for (std::size_t done = 0; done < out.size();) {
            const ssize_t n = ::write(fds[1], out.data() + done, out.size() - done);
            if (n <= 0) ::_exit(1);
            done += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n > 0) out.append(buffer, static_cast<std::size_t>(n));
        else if (n == 0 || errno != EINTR) break;
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) return std::nullopt;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "the child failed: " + out;
    return out;
}

}  // namespace ue::test
