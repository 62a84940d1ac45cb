// A run ended at any step, followed by a clean run, ends exactly where an
// uninterrupted run ends: same files byte for byte, same tables, same
// Update.ini, nothing downloaded lost and nothing half-written left behind.
//
// The steps are counted, not timed: the run goes on in a forked child that
// this process traces, and the child is killed on entering its n-th call
// that changes a file, for n = 1, 2, ... until a run completes. The killed
// call never happens, so every state the disk can be left in by a crash
// between two such calls is reached once, whatever the machine's speed.
#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <map>
#include <string_view>

#include "tests/run/RunFixture.h"

namespace ue::test {
namespace {

// Compressible text that differs with `seed`.
std::string Content(std::size_t size, unsigned seed) {
    static const char* const kWords[] = {"update ",  "file ",    "version ", "installation ",
                                         "payload ", "restart ", "program ", "library "};
    std::string out;
    std::uint32_t x = seed * 2654435761u + 1;
    while (out.size() < size) {
        x = x * 1664525u + 1013904223u;
        out += kWords[(x >> 16) % 8];
        if ((x >> 8) % 7 == 0) out += std::to_string(x % 1000);
    }
    out.resize(size);
    return out;
}

// The payload's expanded content: 8 writes of 64 KiB.
const std::string& Expanded() {
    static const std::string plain = Content(512 * 1024, 5);
    return plain;
}

// Every kind of row and a main program to refresh. Sizes do not matter to
// the points (a copy is one call whatever its size) but for the expansion,
// which writes its output in pieces.
void LayOut(const Installation& inst) {
    inst.SetSoftInfo(false, 4, 5);
    inst.WriteIni("[Update]\nExeFile=Main.exe\nExeFile2=Helper.exe\n");
    std::int64_t aid = 0;
    auto add = [&](const std::string& name, std::int64_t type, const std::string& dir,
                   const std::string& installed, std::size_t size, std::int64_t ver = 1) {
        if (!installed.empty()) inst.Put(dir + name, installed);
        if (size > 0) inst.Put("update/" + name, Content(size, static_cast<unsigned>(aid + 7)));
        std::string path = dir;  // the downloader writes Windows paths
        for (char& c : path) c = c == '/' ? '\\' : c;
        inst.AddDownload(
            {.aid = ++aid, .fileName = name, .fileVer = ver, .fileType = type, .updatePath = path});
    };
    add("a.dll", ftReplace, "", "old a", 8000);
    add("c.dll", ftReplace, "lib/deep/", "", 3000);  // not installed yet
    add("Main.exe", ftReplace, "", "old main", 9000);
    add("Tool.exe", ftRun, "", "old tool", 2000);
    add("x.ocx", ftRegister, "", "old ocx", 2000);
    add("readme.txt", 3, "docs/", "", 1000);
    add("a.dll", ftReplace, "", "", 0);     // the same file again: skipped
    add("a.dll", ftReplace, "", "", 0, 2);  // another version from the one copy
    add("e.dll", ftReplace, "", "", 0);     // not for this client
    inst.Exec("UPDATE DownLoadFileLog SET IsClient = 0 WHERE FileName = 'e.dll'");
    add("f.dll", ftReplace, "", "old f", 1000);  // applied before
    inst.AddApplied({{.aid = aid, .fileName = "f.dll"}});

    static const std::string payload = Installation::Compress(Expanded());
    inst.Put("data/z.dat", "old z.dat");
    inst.Put("update/z.dat", payload);
    inst.AddDownload(
        {.aid = ++aid, .fileName = "z.dat", .fileType = ftCompressed, .updatePath = "data"});
}

struct Snapshot {
    std::map<std::string, std::string> files;
    std::map<std::string, SqlRows> tables;
};

Snapshot Take(const Installation& inst) {
    Snapshot s{inst.Files(), {}};
    for (const char* t : {"CurSoftInfo", "DownLoadFileLog", "UpdateFileLog"}) {
        SqlRows rows = inst.Table(t);
        // BakPath names the installation, which is another folder each time.
        for (auto& row : rows) {
            for (auto& cell : row) {
                if (cell.rfind(inst.Base(), 0) == 0) cell = "<base>/" + cell.substr(inst.Base().size());
            }
        }
        s.tables[t] = rows;
    }
    return s;
}

// The names of what differs, rather than megabytes of bytes. The temporary
// that the settings writer leaves beside Update.ini when killed while writing
// it lies outside what the run owns: with `temporaries` given, it is counted
// there instead. The run's own temporaries (the copies' "<name>.~ue…", the
// expansion's, the journal) are recorded before they are made, so the
// converging run removes them: any left is a difference.
std::vector<std::string> Differences(Snapshot got, const Snapshot& want,
                                     int* temporaries = nullptr) {
    std::vector<std::string> out;
    for (const auto& [name, bytes] : want.files) {
        if (got.files.count(name) == 0 || got.files[name] != bytes) out.push_back("file " + name);
    }
    for (const auto& [name, bytes] : got.files) {
        const bool temporary = name.rfind("Update.ini.tmp", 0) == 0;
        if (want.files.count(name) != 0) continue;
        if (temporaries != nullptr && temporary) {
            ++*temporaries;
        } else {
            out.push_back("extra " + name);
        }
    }
    for (const auto& [table, rows] : want.tables) {
        if (got.tables[table] != rows) out.push_back("table " + table);
    }
    return out;
}

// Start-up and one run, as the program does, with nobody to answer the
// dialogs and pauses that return at once.
bool WholeRun(const Installation& inst) {
    RecordingSystem sys;
    ScriptedUI ui(sys);
    try {
        TDM_Update dm(sys, inst.Base());
        dm.SetUserInterface(&ui);
        dm.DataModuleCreate();
        dm.RunUpdate();
        dm.DataModuleDestroy();
        return true;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return false;
    }
}

// The calls that change what is on disk, each one a point: content (writes,
// in-kernel copies, size changes), durability (the syncs the run relies on
// for its order), names (create, rename, unlink, directories, links) and
// metadata (mode, owner, times). Reads, locks and closes change nothing a
// crash could leave half done. Store writes need no points of their own:
// SQLite writes a row through its journal (an open that creates it, writes,
// syncs, writes to the database, the unlink that commits), all of it here.
// Every call is a point, also each piece of a long write, but for calls
// that cannot change anything: a call on a descriptor of no file or
// directory (a message on stderr), an open that neither creates nor
// truncates, and a mkdir of a directory that exists (the run makes each
// folder of a path in turn, most of them there already).
enum class Unless { Never, NoFile, NoCreateOrTruncate, PathExists };
struct CountedCall {
    long number;
    const char* name;
    Unless unless = Unless::Never;
    int arg = 0;  // the descriptor, the open flags or the path it looks at
};

const CountedCall kCounted[] = {
#ifdef SYS_open
    {SYS_open, "open", Unless::NoCreateOrTruncate, 1},
#endif
#ifdef SYS_creat
    {SYS_creat, "creat"},
#endif
    {SYS_openat, "openat", Unless::NoCreateOrTruncate, 2},
    {SYS_write, "write", Unless::NoFile, 0},
    {SYS_pwrite64, "pwrite64", Unless::NoFile, 0},
    {SYS_writev, "writev", Unless::NoFile, 0},
    {SYS_pwritev, "pwritev", Unless::NoFile, 0},
    {SYS_pwritev2, "pwritev2", Unless::NoFile, 0},
    {SYS_copy_file_range, "copy_file_range", Unless::NoFile, 2},
    {SYS_sendfile, "sendfile", Unless::NoFile, 0},
    {SYS_ftruncate, "ftruncate", Unless::NoFile, 0},
    {SYS_truncate, "truncate"},
    {SYS_fallocate, "fallocate", Unless::NoFile, 0},
    {SYS_fsync, "fsync", Unless::NoFile, 0},
    {SYS_fdatasync, "fdatasync", Unless::NoFile, 0},
    {SYS_sync_file_range, "sync_file_range", Unless::NoFile, 0},
#ifdef SYS_rename
    {SYS_rename, "rename"},
#endif
#ifdef SYS_renameat
    {SYS_renameat, "renameat"},
#endif
    {SYS_renameat2, "renameat2"},
#ifdef SYS_unlink
    {SYS_unlink, "unlink"},
#endif
    {SYS_unlinkat, "unlinkat"},
#ifdef SYS_rmdir
    {SYS_rmdir, "rmdir"},
#endif
#ifdef SYS_mkdir
    {SYS_mkdir, "mkdir", Unless::PathExists, 0},
#endif
    {SYS_mkdirat, "mkdirat", Unless::PathExists, 1},
#ifdef SYS_link
    {SYS_link, "link"},
#endif
    {SYS_linkat, "linkat"},
#ifdef SYS_symlink
    {SYS_symlink, "symlink"},
#endif
    {SYS_symlinkat, "symlinkat"},
#ifdef SYS_chmod
    {SYS_chmod, "chmod"},
#endif
    {SYS_fchmod, "fchmod", Unless::NoFile, 0},
    {SYS_fchmodat, "fchmodat"},
#ifdef SYS_chown
    {SYS_chown, "chown"},
#endif
#ifdef SYS_lchown
    {SYS_lchown, "lchown"},
#endif
    {SYS_fchown, "fchown", Unless::NoFile, 0},
    {SYS_fchownat, "fchownat"},
    {SYS_utimensat, "utimensat"},
#ifdef SYS_utimes
    {SYS_utimes, "utimes"},
#endif
#ifdef SYS_futimesat
    {SYS_futimesat, "futimesat"},
#endif
};

// A NUL-terminated string in the stopped child's memory.
std::string ChildString(pid_t pid, std::uint64_t address) {
    std::string out;
    const int mem = ::open(("/proc/" + std::to_string(pid) + "/mem").c_str(), O_RDONLY | O_CLOEXEC);
    if (mem < 0) return out;
    char piece[256];
    while (out.size() < PATH_MAX) {
        // Never across a page: the next one may not be mapped.
        const std::uint64_t at = address + out.size();
        const std::size_t want = std::min<std::uint64_t>(sizeof piece, 4096 - at % 4096);
        const ssize_t n = ::pread(mem, piece, want, static_cast<off_t>(at));
        if (n <= 0) break;
        const std::size_t end = std::string_view(piece, static_cast<std::size_t>(n)).find('\0');
        out.append(piece, std::min<std::size_t>(end, static_cast<std::size_t>(n)));
        if (end != std::string_view::npos) break;
    }
    ::close(mem);
    return out;
}

// The counted call the child entered, or nullptr.
const CountedCall* PointAt(pid_t pid, const __ptrace_syscall_info& info) {
    const std::string proc = "/proc/" + std::to_string(pid);
    const auto arg = [&](int i) { return info.entry.args[i]; };
    for (const CountedCall& call : kCounted) {
        if (static_cast<long>(info.entry.nr) != call.number) continue;
        struct stat st;
        switch (call.unless) {
        case Unless::Never:
            break;
        case Unless::NoFile: {
            const std::string fd = proc + "/fd/" + std::to_string(static_cast<int>(arg(call.arg)));
            if (::stat(fd.c_str(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) {
                return nullptr;
            }
            break;
        }
        case Unless::NoCreateOrTruncate:
            if ((arg(call.arg) & (O_CREAT | O_TRUNC)) == 0) return nullptr;
            break;
        case Unless::PathExists: {
            // Relative to the working directory or to the directory argument before it.
            std::string path = ChildString(pid, arg(call.arg));
            if (!path.empty() && path[0] != '/') {
                const int dirFd = call.arg > 0 ? static_cast<int>(arg(call.arg - 1)) : AT_FDCWD;
                const std::string dir = dirFd == AT_FDCWD ? "cwd" : "fd/" + std::to_string(dirFd);
                path = proc + "/" + dir + "/" + path;
            }
            if (!path.empty() && ::lstat(path.c_str(), &st) == 0) return nullptr;
            break;
        }
        }
        return &call;
    }
    return nullptr;
}

int WaitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, __WALL) < 0 && errno == EINTR) {
    }
    return status;
}

// What a traced run came to.
struct TracedRun {
    bool completed = false;           // the child ended its run, with success
    int points = 0;                   // counted calls it entered
    std::string killedAt;             // the call it was killed on entering
    std::map<std::string, int> calls;  // points by call name
};

// The whole run in a forked child traced by this process, killed on
// entering its `stopAt`-th point. The child is single-threaded and starts
// nothing, so tracing it alone sees every call. Deterministic: no timing,
// only the order of the child's own calls. Forked, not started, the child
// has no start-up of its own (a sanitizer's included), and it ends with
// _exit, so no exit handler of this process runs in it.
TracedRun RunTraced(const Installation& inst, int stopAt) {
    TracedRun out;
    const pid_t pid = ::fork();
    constexpr int kCannotTrace = 125;
    if (pid == 0) {
        if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(kCannotTrace);
        ::raise(SIGSTOP);
        _exit(WholeRun(inst) ? 0 : 1);
    }
    EXPECT_GT(pid, 0);
    if (pid <= 0) return out;
    int status = WaitFor(pid);
    if (!WIFSTOPPED(status) || WSTOPSIG(status) != SIGSTOP) {
        ADD_FAILURE() << (WIFEXITED(status) && WEXITSTATUS(status) == kCannotTrace
                              ? "this system lets no process trace its child"
                              : "the child did not stop to be traced: " + std::to_string(status));
        return out;
    }
    // The child dies with us, should this test end first.
    ::ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
    int signal = 0;
    for (;;) {
        ::ptrace(PTRACE_SYSCALL, pid, nullptr, signal);
        signal = 0;
        status = WaitFor(pid);
        if (WIFEXITED(status) || WIFSIGNALED(status)) {
            out.completed = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            EXPECT_TRUE(out.completed) << "the run failed or died: " << status;
            return out;
        }
        if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
            signal = WSTOPSIG(status);  // the child's own signal, delivered as it came
            continue;
        }
        __ptrace_syscall_info info{};
        if (::ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof info, &info) <= 0 ||
            info.op != PTRACE_SYSCALL_INFO_ENTRY) {
            continue;
        }
        if (const CountedCall* call = PointAt(pid, info)) {
            ++out.calls[call->name];
            if (++out.points == stopAt) {
                // Killed in the entry stop, the call is never carried out.
                ::kill(pid, SIGKILL);
                status = WaitFor(pid);
                EXPECT_TRUE(WIFSIGNALED(status)) << status;
                out.killedAt = call->name;
                return out;
            }
        }
    }
}

// The two narrowest states of a run, around the save of the expanded
// payload's FileType: expanded in place with the download kept beside it and
// FileType still 5, and FileType 0 saved with the download still beside it.
// Each lasts one call; the sweep must stop in both. Reading the table rolls
// back a write the kill left unfinished, as the clean run's first read would.
enum Window { kExpandedUnsaved = 1, kSavedKeptBeside = 2 };

int WindowOf(const Installation& inst) {
    const std::string kept = std::string("update/z.dat") + kKeptPayloadSuffix;
    if (!inst.Exists(kept)) return 0;
    const std::string type =
        inst.Query("SELECT FileType FROM DownLoadFileLog WHERE FileName = 'z.dat'").at(0).at(0);
    if (type == "5" && inst.Read("update/z.dat") == Expanded()) return kExpandedUnsaved;
    if (type == "0") return kSavedKeptBeside;
    return 0;
}

// Where the installations lie: in memory (tmpfs) where the machine has it. A
// killed process leaves the page cache as it was, so the syncs, which matter
// only to a power cut, change nothing this test looks at; on a disk they take
// nearly all of its time. They count as points all the same.
std::string InstallationsParent() {
    struct stat st;
    if (::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && ::access("/dev/shm", W_OK) == 0) {
        return "/dev/shm";
    }
    return "";
}

TEST(CrashRecovery, RunKilledAtEveryStepConvergesToTheUninterruptedResult) {
    Snapshot want;
    {
        TempDir dir(InstallationsParent());
        Installation inst(dir.path());
        LayOut(inst);
        ASSERT_TRUE(WholeRun(inst));
        want = Take(inst);
    }

    // One whole traced run: it must agree with the run in-process, and
    // counts the points.
    TracedRun whole;
    {
        TempDir dir(InstallationsParent());
        Installation inst(dir.path());
        LayOut(inst);
        whole = RunTraced(inst, INT_MAX);
        ASSERT_TRUE(whole.completed);
        ASSERT_EQ(Differences(Take(inst), want), std::vector<std::string>{});
    }
    ASSERT_GT(whole.points, 0);

    const auto start = std::chrono::steady_clock::now();
    int temporaries = 0;
    int windows = 0;
    int stopAt = 1;
    for (;; ++stopAt) {
        ASSERT_LE(stopAt, whole.points + 1) << "more points than in the whole run";
        TempDir dir(InstallationsParent());
        Installation inst(dir.path());
        LayOut(inst);
        const TracedRun run = RunTraced(inst, stopAt);
        if (run.completed) break;
        ASSERT_EQ(run.points, stopAt);
        windows |= WindowOf(inst);

        ASSERT_TRUE(WholeRun(inst)) << "killed at point " << stopAt << ", " << run.killedAt;
        ASSERT_EQ(Differences(Take(inst), want, &temporaries), std::vector<std::string>{})
            << "killed at point " << stopAt << " of " << whole.points << ", " << run.killedAt;
    }
    EXPECT_EQ(stopAt, whole.points + 1) << "the points differ from run to run";
    EXPECT_EQ(windows, kExpandedUnsaved | kSavedKeptBeside);

    std::string calls;
    for (const auto& [name, count] : whole.calls) {
        calls += " " + name + " " + std::to_string(count);
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    std::printf("killed at each of %d points (%s) in %lld ms; %d writer temporaries left behind\n",
                whole.points, calls.c_str() + 1, static_cast<long long>(ms.count()), temporaries);
    ::testing::Test::RecordProperty("points", whole.points);
}

}  // namespace
}  // namespace ue::test
