// Process control on Linux.
//
// The process list is /proc in ascending pid order; a process is listed under
// the file name of its executable (see ProcessImageName). Zombies are passed
// over: they are no longer running and cannot be ended again.
//
// KillProcessByName first sends SIGTERM, the request to close that a program
// may answer by saving its work, then, after at most the wait given, SIGKILL,
// as the direct termination does on Windows, to every matching process whose
// executable lies inside the installation: the kernel's path of the running
// executable (/proc/<pid>/exe, which has no links in it) must name a file in the installation's real
// folder or below it. A process whose executable link we may not read
// (another user's, when we are not root) is passed over, never judged by its
// comm or argv[0], which anyone can set. A process we may not signal is passed
// over and the search goes on. The signals go through a pidfd, so that a pid
// that is freed and reused between the checks and the kill is never hit;
// without pidfds the process's start time tells it from a later one. The
// second way of Windows, the console debugger ntsd, has no counterpart here
// and is left out. The updater never ends itself.
//
// RunProgram starts the program with posix_spawn, argv[0] being the path.
// The show mode has no meaning here and is ignored. Parameters, which the
// updater never passes, are split at runs of blanks and tabs into further
// arguments, without any quoting rules. There is no length limit on the path
// or the parameters. A program that is not waited for runs in a session of its
// own, so that it outlives the updater and its terminal, and is reaped by a
// background thread when it ends, so that it never lingers as a zombie.

#include "sysops/ProcessControl.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>
#include <utility>

#include "core/Errors.h"
#include "sysops/FilePrimitives_posix.h"
#include "sysops/ProcessControl_posix.h"

extern char** environ;

namespace ue {

namespace posix {

namespace {

std::string ProcPath(pid_t pid, const char* entry) {
    return "/proc/" + std::to_string(pid) + "/" + entry;
}

std::vector<pid_t> ListProcesses() {
    std::vector<pid_t> pids;
    DIR* dir = opendir("/proc");
    if (!dir) return pids;
    while (dirent* e = readdir(dir)) {
        const char* name = e->d_name;
        if (*name == '\0' || std::strspn(name, "0123456789") != std::strlen(name)) continue;
        long value = std::strtol(name, nullptr, 10);
        if (value > 0) pids.push_back(static_cast<pid_t>(value));
    }
    closedir(dir);
    std::sort(pids.begin(), pids.end());
    return pids;
}

std::optional<std::string> ReadLink(const std::string& path) {
    char buf[4097];
    ssize_t n = readlink(path.c_str(), buf, sizeof buf);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof buf) return std::nullopt;
    return std::string(buf, static_cast<std::size_t>(n));
}

// Reads at most `limit` bytes of a small /proc file.
std::optional<std::string> ReadProcFile(const std::string& path, std::size_t limit) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string out;
    char buf[4096];
    while (out.size() < limit) {
        ssize_t n = read(fd, buf, std::min(sizeof buf, limit - out.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    return out;
}

std::string FileNameOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A process that ended but was not reaped yet, or that is gone.
bool IsDefunct(pid_t pid) {
    auto stat = ReadProcFile(ProcPath(pid, "stat"), 1024);
    if (!stat) return true;
    auto close = stat->rfind(')');  // the command name may itself hold ')'
    if (close == std::string::npos || close + 2 >= stat->size()) return true;
    char state = (*stat)[close + 2];
    return state == 'Z' || state == 'X' || state == 'x';
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

struct Executable {
    std::string path;
    bool replaced = false;  // removed or renamed over while running
};

// The running executable of `pid` as the kernel names it. One that was
// removed or renamed over while running is shown with " (deleted)" appended,
// which is taken off unless a file of that whole name really is the running
// executable. Nothing when the link cannot be read: another user's process
// (EACCES), a kernel thread, a process that is gone.
std::optional<Executable> ExecutableOf(pid_t pid) {
    const std::string link = ProcPath(pid, "exe");
    auto path = ReadLink(link);
    if (!path) return std::nullopt;
    static const std::string kDeleted = " (deleted)";
    if (path->size() > kDeleted.size() && path->ends_with(kDeleted) && !SameFile(link, *path)) {
        path->resize(path->size() - kDeleted.size());
        return Executable{*path, true};
    }
    return Executable{*path, false};
}

// The real path of the folder `dir`, ending in one '/'; nothing when it
// cannot be resolved.
std::optional<std::string> RealFolder(const std::string& dir) {
    if (dir.empty() || dir.find('\0') != std::string::npos) return std::nullopt;
    char* real = realpath(dir.c_str(), nullptr);
    if (!real) return std::nullopt;
    std::string out(real);
    std::free(real);
    if (out.empty() || out.back() != '/') out += '/';
    return out;
}

// Whether `pid` is a running program listed under `imageName` whose executable
// lies in the folder `realInstallDir` (a RealFolder) or below it.
bool RunsFromInside(pid_t pid, const std::string& imageName, const std::string& realInstallDir) {
    auto exe = ExecutableOf(pid);
    if (!exe || !ImageNameMatches(FileNameOf(exe->path), imageName) || IsDefunct(pid)) return false;
    // A path that names another file than the running one is a view from
    // another mount namespace, where the same folder names mean other folders.
    // A replaced executable has no file left to compare: its folder decides.
    if (!exe->replaced && !SameFile(ProcPath(pid, "exe"), exe->path)) return false;
    auto folder = RealFolder(exe->path.substr(0, exe->path.rfind('/') + 1));
    return folder && folder->starts_with(realInstallDir);
}

// The start time of `pid` in clock ticks since boot (field 22 of its stat);
// 0 when it is gone.
unsigned long long StartTime(pid_t pid) {
    auto stat = ReadProcFile(ProcPath(pid, "stat"), 1024);
    if (!stat) return 0;
    auto close = stat->rfind(')');
    if (close == std::string::npos) return 0;
    const char* p = stat->c_str() + close + 1;
    for (int field = 3; field < 22 && *p != '\0'; ++field) {
        while (*p == ' ') ++p;
        while (*p != ' ' && *p != '\0') ++p;
    }
    return std::strtoull(p, nullptr, 10);
}

// One process held from its checks to its end: by a pidfd, or where there is
// none, by its pid and start time.
class HeldProcess {
public:
    explicit HeldProcess(pid_t pid)
        : pid_(pid), fd_(static_cast<int>(syscall(SYS_pidfd_open, pid, 0))), start_(StartTime(pid)) {}
    ~HeldProcess() {
        if (fd_ >= 0) close(fd_);
    }
    HeldProcess(HeldProcess&& other) noexcept
        : pid_(other.pid_), fd_(std::exchange(other.fd_, -1)), start_(other.start_) {}
    HeldProcess(const HeldProcess&) = delete;
    HeldProcess& operator=(const HeldProcess&) = delete;
    HeldProcess& operator=(HeldProcess&&) = delete;

    bool Ended() const {
        if (fd_ >= 0) {
            // Readable once the process has ended, reaped or not.
            pollfd p{fd_, POLLIN, 0};
            return poll(&p, 1, 0) != 0;
        }
        return start_ == 0 || StartTime(pid_) != start_ || IsDefunct(pid_);
    }
    // EPERM (not ours) and ESRCH (gone) alike leave nothing to do.
    void Signal(int signal) const {
        if (fd_ >= 0) syscall(SYS_pidfd_send_signal, fd_, signal, nullptr, 0);
        else if (!Ended()) kill(pid_, signal);
    }

private:
    pid_t pid_;
    int fd_;
    unsigned long long start_;
};

}  // namespace

void KillIf(pid_t pid, const std::function<bool()>& stoppable) {
    const HeldProcess process(pid);
    if (!process.Ended() && stoppable()) process.Signal(SIGKILL);
}

std::string ProcessImageName(pid_t pid) {
    if (auto exe = ExecutableOf(pid)) return FileNameOf(exe->path);
    auto comm = ReadProcFile(ProcPath(pid, "comm"), 64);
    if (!comm) return {};
    if (!comm->empty() && comm->back() == '\n') comm->pop_back();
    constexpr std::size_t kCommCut = 15;  // TASK_COMM_LEN - 1
    if (comm->size() == kCommCut) {
        if (auto cmdline = ReadProcFile(ProcPath(pid, "cmdline"), 64 * 1024)) {
            std::string arg0 = FileNameOf(cmdline->substr(0, cmdline->find('\0')));
            if (arg0.size() > kCommCut && arg0.starts_with(*comm)) return arg0;
        }
    }
    return *comm;
}

std::uint32_t FindProcessIdByNameExcept(const std::string& imageName, std::uint32_t excluded) {
    for (pid_t pid : ListProcesses()) {
        if (static_cast<std::uint32_t>(pid) == excluded) continue;
        std::string listed = ProcessImageName(pid);
        if (listed.empty() || !ImageNameMatches(listed, imageName)) continue;
        if (IsDefunct(pid)) continue;
        return static_cast<std::uint32_t>(pid);
    }
    return 0;
}

std::vector<std::string> CurrentEnvironment() {
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) env.emplace_back(*e);
    return env;
}

int Spawn(const std::string& file, const std::vector<std::string>& args,
          const std::vector<std::string>& env, bool newSession, pid_t& pid) {
    // A NUL would cut the path and start another program than the one named.
    if (file.find('\0') != std::string::npos) return ENOENT;
    for (const auto& a : args) {
        if (a.find('\0') != std::string::npos) return EINVAL;
    }
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
    if (int rc = posix_spawnattr_init(&attr)) return rc;
    if (int rc = posix_spawn_file_actions_init(&actions)) {
        posix_spawnattr_destroy(&attr);
        return rc;
    }
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (newSession) flags |= POSIX_SPAWN_SETSID;
    int rc = posix_spawnattr_setflags(&attr, flags);
    if (rc == 0) rc = posix_spawnattr_setsigmask(&attr, &none);
    if (rc == 0) rc = posix_spawnattr_setsigdefault(&attr, &all);
    // Like a process started without inheriting handles: only the standard
    // descriptors go along, so the child holds none of the updater's files.
    if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (rc == 0) rc = posix_spawn(&pid, file.c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return rc;
}

void ReapInBackground(pid_t pid) {
    try {
        std::thread([pid] {
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the child stays a zombie until the updater ends.
    }
}

std::optional<int> WaitWithin(pid_t pid, std::chrono::milliseconds bound) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return status;
        if (r < 0 && errno != EINTR) return std::nullopt;  // not ours to wait for
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ReapInBackground(pid);
    return std::nullopt;
}

}  // namespace posix

std::uint32_t FindProcessIdByName(const std::string& imageName) {
    return posix::FindProcessIdByNameExcept(imageName, 0);
}

void KillProcessByName(const std::string& imageName, const std::string& installDir,
                       std::chrono::milliseconds closeWait,
                       const std::function<void()>& whileWaiting) {
    const auto realInstallDir = posix::RealFolder(installDir);
    if (!realInstallDir) return;  // no installation: nothing runs from it
    const pid_t self = getpid();
    std::vector<posix::HeldProcess> asked;
    for (pid_t pid : posix::ListProcesses()) {
        if (pid == self) continue;
        // The name first, cheaply; every check is made again once the process is held.
        auto exe = posix::ExecutableOf(pid);
        if (!exe || !ImageNameMatches(posix::FileNameOf(exe->path), imageName)) continue;
        posix::HeldProcess process(pid);
        if (process.Ended() || !posix::RunsFromInside(pid, imageName, *realInstallDir)) continue;
        process.Signal(SIGTERM);
        asked.push_back(std::move(process));
    }
    const auto allEnded = [&] {
        return std::all_of(asked.begin(), asked.end(), [](const posix::HeldProcess& p) { return p.Ended(); });
    };
    const auto deadline = std::chrono::steady_clock::now() + closeWait;
    while (!asked.empty() && !allEnded()) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) break;
        if (whileWaiting) whileWaiting();
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, kClosePoll));
    }
    for (const posix::HeldProcess& process : asked) {
        if (!process.Ended()) process.Signal(SIGKILL);
    }
}

std::vector<RunningProgram> ProgramsHoldingFile(const std::string& path, std::size_t limit) {
    std::vector<RunningProgram> programs;
    try {
        for (pid_t pid : posix::ProcessesHoldingFile(path, limit)) {
            std::string name = posix::ProcessImageName(pid);
            if (!name.empty()) programs.push_back({static_cast<std::uint32_t>(pid), std::move(name)});
        }
    } catch (const std::exception&) {
        // A help only: what was found so far stands.
    }
    return programs;
}

std::uint32_t RunProgram(const std::string& file, bool wait, const std::string& parameters,
                         int /*showMode*/) {
    std::vector<std::string> args{file};
    std::size_t pos = 0;
    while ((pos = parameters.find_first_not_of(" \t", pos)) != std::string::npos) {
        std::size_t end = parameters.find_first_of(" \t", pos);
        args.push_back(parameters.substr(pos, end - pos));
        pos = end;
    }

    pid_t pid = 0;
    if (int err = posix::Spawn(file, args, posix::CurrentEnvironment(), !wait, pid)) {
        throw Error(RunFailureMessage(file, static_cast<std::uint32_t>(err)));
    }
    if (!wait) {
        posix::ReapInBackground(pid);
        return 0;
    }
    int status = 0;
    pid_t r;
    while ((r = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    if (r != pid) return 0;  // the wait failed: no exit code to fetch
    if (WIFEXITED(status)) return static_cast<std::uint32_t>(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return 128u + static_cast<std::uint32_t>(WTERMSIG(status));
    return 0;
}

}  // namespace ue
