// A run killed at any moment, followed by a clean run, ends exactly where an
// uninterrupted run ends: same files byte for byte, same tables, same
// Update.ini, nothing downloaded lost and nothing half-written left behind.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

#include "tests/run/RunFixture.h"

namespace ue::test {
namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

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

// Every kind of row, files of some size so that copies and the expansion
// take measurable time, and a main program to refresh.
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
    add("a.dll", ftReplace, "", "old a", 256 * 1024);
    add("c.dll", ftReplace, "lib/deep/", "", 96 * 1024);  // not installed yet
    add("Main.exe", ftReplace, "", "old main", 300 * 1024);
    add("Tool.exe", ftRun, "", "old tool", 64 * 1024);
    add("x.ocx", ftRegister, "", "old ocx", 64 * 1024);
    add("readme.txt", 3, "docs/", "", 1000);
    add("a.dll", ftReplace, "", "", 0);     // the same file again: skipped
    add("a.dll", ftReplace, "", "", 0, 2);  // another version from the one copy
    add("e.dll", ftReplace, "", "", 0);     // not for this client
    inst.Exec("UPDATE DownLoadFileLog SET IsClient = 0 WHERE FileName = 'e.dll'");
    add("f.dll", ftReplace, "", "old f", 1000);  // applied before
    inst.AddApplied({{.aid = aid, .fileName = "f.dll"}});

    // A payload to expand, made once: compressing takes longer than a run.
    static const std::string payload = Installation::Compress(Content(2 << 20, 5));
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

// The names of what differs, rather than megabytes of bytes. Temporary files
// that the copy and the settings writer leave beside their target when killed
// while writing it lie outside what the run owns: with `temporaries` given,
// they are counted there instead.
std::vector<std::string> Differences(Snapshot got, const Snapshot& want,
                                     int* temporaries = nullptr) {
    std::vector<std::string> out;
    for (const auto& [name, bytes] : want.files) {
        if (got.files.count(name) == 0 || got.files[name] != bytes) out.push_back("file " + name);
    }
    for (const auto& [name, bytes] : got.files) {
        const bool temporary =
            name.find(".~ue") != std::string::npos || name.rfind("Update.ini.tmp", 0) == 0;
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
// dialogs; `pauseDivisor` > 0 makes the pauses really sleep that much shorter.
bool WholeRun(const Installation& inst, unsigned pauseDivisor = 0) {
    RecordingSystem sys;
    ScriptedUI ui(sys);
    if (pauseDivisor > 0) {
        sys.onSleep = [=](unsigned ms) {
            std::this_thread::sleep_for(std::chrono::microseconds(ms * 1000 / pauseDivisor));
        };
    }
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

// The run in a child process, with pauses a tenth as long, to be killed.
pid_t StartChild(const Installation& inst) {
    const pid_t pid = ::fork();
    if (pid == 0) _exit(WholeRun(inst, 10) ? 0 : 1);
    EXPECT_GT(pid, 0);
    return pid;
}

int WaitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

TEST(CrashRecovery, RunKilledAtAnyMomentConvergesToTheUninterruptedResult) {
    Snapshot want;
    {
        TempDir dir;
        Installation inst(dir.path());
        LayOut(inst);
        ASSERT_TRUE(WholeRun(inst));
        want = Take(inst);
    }

    // One whole run in the child: it must agree with the run in-process and
    // tells how long a run takes.
    Clock::duration whole;
    {
        TempDir dir;
        Installation inst(dir.path());
        LayOut(inst);
        const auto start = Clock::now();
        const int status = WaitFor(StartChild(inst));
        whole = Clock::now() - start;
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        ASSERT_EQ(Differences(Take(inst), want), std::vector<std::string>{});
    }
    const auto wholeMs = std::chrono::duration_cast<Ms>(whole).count();
    std::printf("an uninterrupted run takes %lld ms\n", static_cast<long long>(wholeMs));

    constexpr int kKills = 30;
    int killedMidRun = 0;
    int temporaries = 0;
    for (int i = 0; i < kKills; ++i) {
        TempDir dir;
        Installation inst(dir.path());
        LayOut(inst);
        const auto at = whole * (i + 1) / (kKills + 1);
        const pid_t pid = StartChild(inst);
        std::this_thread::sleep_for(at);
        ::kill(pid, SIGKILL);
        killedMidRun += WIFSIGNALED(WaitFor(pid)) ? 1 : 0;

        ASSERT_TRUE(WholeRun(inst));
        EXPECT_EQ(Differences(Take(inst), want, &temporaries), std::vector<std::string>{})
            << "killed after " << std::chrono::duration_cast<Ms>(at).count() << " ms of "
            << wholeMs;
    }
    // How many land inside depends on the machine's load; some always do.
    EXPECT_GT(killedMidRun, 0);
    std::printf("%d of %d kills landed inside the run; %d writer temporaries left behind\n",
                killedMidRun, kKills, temporaries);
}

// The narrow windows around the save of FileType 0, set up directly: the
// payload expanded in place and the download kept beside it, once before the
// save (z.dat, FileType still 5) and once after it (y.dat, FileType 0).
using CrashWindowTest = RunFixture;

TEST_F(CrashWindowTest, AroundTheSaveOfTheExpandedFileType) {
    const std::string plain = Content(50000, 3);
    for (const char* name : {"z.dat", "y.dat"}) {
        inst.Put(name, "old");
        inst.Put("update/" + std::string(name), plain);
        inst.Put("update/" + std::string(name) + kKeptPayloadSuffix, Installation::Compress(plain));
    }
    inst.AddDownloads({{.aid = 1, .fileName = "z.dat", .fileType = ftCompressed},
                       {.aid = 2, .fileName = "y.dat", .fileType = ftReplace}});
    Run();
    for (const char* name : {"z.dat", "y.dat"}) {
        EXPECT_EQ(inst.Read(name), plain) << name;
        EXPECT_EQ(inst.Read("update/" + std::string(name)), plain) << name;
        EXPECT_FALSE(inst.Exists("update/" + std::string(name) + kKeptPayloadSuffix)) << name;
    }
    EXPECT_EQ(FileTypeOf(1), "0");
    EXPECT_EQ(Logged(), (Calls{"z.dat/1", "y.dat/1"}));
}

}  // namespace
}  // namespace ue::test
