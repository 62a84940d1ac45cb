// A run killed at any moment, followed by a clean run, ends exactly where an
// uninterrupted run ends: same files byte for byte, same tables, same
// Update.ini, nothing downloaded lost and nothing half-written left behind.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

#include "tests/run/RunFixture.h"

extern char** environ;

namespace ue::test {
namespace {

using Clock = std::chrono::steady_clock;

// Bytes that differ from file to file; `words` makes them compressible.
std::string Content(std::size_t size, unsigned seed, bool words = false) {
    static const char* const kWords[] = {"update ", "file ", "version ", "installation ",
                                         "payload ", "restart ", "program ", "library "};
    std::string out;
    out.reserve(size + 16);
    std::uint32_t x = seed * 2654435761u + 1;
    while (out.size() < size) {
        x = x * 1664525u + 1013904223u;
        if (words) {
            out += kWords[(x >> 16) % 8];
            if ((x >> 8) % 7 == 0) out += std::to_string(x % 1000);
        } else {
            out.push_back(static_cast<char>(x >> 24));
        }
    }
    out.resize(size);
    return out;
}

std::string NativeDir(const std::string& path) {
    std::string dir = path;
    for (char& c : dir) c = c == '\\' ? '/' : c;
    if (!dir.empty() && dir.back() != '/') dir += '/';
    return dir;
}

// Every kind of row, files of some size so that copies and the expansion
// take measurable time, and a main program to refresh.
void LayOut(const Installation& inst) {
    inst.SetSoftInfo(false, 4, 5);
    inst.WriteIni("[Update]\nExeFile=Main.exe\nExeFile2=Helper.exe\n");
    std::int64_t aid = 0;
    auto add = [&](const std::string& name, std::int64_t type, const std::string& path,
                   const std::string& installed, std::size_t size, std::int64_t ver = 1) {
        const std::string dir = NativeDir(path);
        if (!installed.empty()) inst.Put(dir + name, installed);
        if (size > 0) inst.Put("update/" + name, Content(size, static_cast<unsigned>(aid + 7)));
        inst.AddDownload({.aid = ++aid, .fileName = name, .fileVer = ver, .fileType = type,
                          .updatePath = path});
    };
    add("a.dll", ftReplace, "", "old a", 256 * 1024);
    add("c.dll", ftReplace, "lib\\deep\\", "", 96 * 1024);  // not installed yet
    add("Main.exe", ftReplace, "", "old main", 300 * 1024);
    add("Tool.exe", ftRun, "", "old tool", 64 * 1024);
    add("x.ocx", ftRegister, "", "old ocx", 64 * 1024);
    add("readme.txt", 3, "docs", "", 1000);
    add("a.dll", ftReplace, "", "", 0);     // the same file again: skipped
    add("a.dll", ftReplace, "", "", 0, 2);  // another version from the one copy
    add("e.dll", ftReplace, "", "", 0);     // not for this client
    inst.Exec("UPDATE DownLoadFileLog SET IsClient = 0 WHERE FileName = 'e.dll'");
    add("f.dll", ftReplace, "", "old f", 1000);  // applied before
    inst.AddApplied({{.aid = aid, .fileName = "f.dll"}});

    // A payload to expand, made once: compressing takes longer than a run.
    static const std::string payload = Installation::Compress(Content(2 << 20, 5, true));
    inst.Put("data/z.dat", "old z.dat");
    inst.Put("update/z.dat", payload);
    inst.AddDownload({.aid = ++aid, .fileName = "z.dat", .fileType = ftCompressed, .updatePath = "data"});
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

// Temporary files that the copy and the settings writer leave beside their
// target when killed while writing it. The target itself is whole; these
// lie outside what the run owns, so they are counted, not failed on.
bool IsWritersTemporary(const std::string& name) {
    return name.find(".~ue") != std::string::npos || name.rfind("Update.ini.tmp", 0) == 0;
}

// The names of what differs, rather than megabytes of bytes.
std::vector<std::string> Differences(const Snapshot& got, const Snapshot& want,
                                     int* temporaries = nullptr) {
    std::vector<std::string> out;
    for (const auto& [name, bytes] : want.files) {
        auto it = got.files.find(name);
        if (it == got.files.end()) {
            out.push_back("missing " + name);
        } else if (it->second != bytes) {
            out.push_back("differs " + name);
        }
    }
    for (const auto& [name, bytes] : got.files) {
        if (want.files.count(name) != 0) continue;
        if (temporaries != nullptr && IsWritersTemporary(name)) {
            ++*temporaries;
        } else {
            out.push_back("extra " + name);
        }
    }
    for (const auto& [table, rows] : want.tables) {
        if (got.tables.at(table) != rows) out.push_back("table " + table);
    }
    return out;
}

void CleanRun(const Installation& inst) {
    RecordingSystem sys;
    ScriptedUI ui(&sys);
    TDM_Update dm(sys, inst.Base());
    dm.SetUserInterface(&ui);
    dm.DataModuleCreate();
    dm.RunUpdate();
}

pid_t StartChild(const Installation& inst) {
    std::string program = UE_RUN_CRASH_CHILD;
    std::string base = inst.Base();
    std::string divisor = "10";
    char* argv[] = {program.data(), base.data(), divisor.data(), nullptr};
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ), 0);
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
        CleanRun(inst);
        want = Take(inst);
    }

    // One whole run in the child: it must agree with the run in-process and
    // tells how long a run takes.
    Clock::duration whole;
    {
        TempDir dir;
        Installation inst(dir.path());
        LayOut(inst);
        auto start = Clock::now();
        int status = WaitFor(StartChild(inst));
        whole = Clock::now() - start;
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        ASSERT_EQ(Differences(Take(inst), want), std::vector<std::string>{});
    }
    std::printf("an uninterrupted run takes %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(whole).count()));

    constexpr int kKills = 30;
    int killedMidRun = 0;
    int temporaries = 0;
    for (int i = 0; i < kKills; ++i) {
        TempDir dir;
        Installation inst(dir.path());
        LayOut(inst);
        const auto at = whole * (i + 1) / (kKills + 1);
        pid_t pid = StartChild(inst);
        std::this_thread::sleep_for(at);
        ::kill(pid, SIGKILL);
        int status = WaitFor(pid);
        killedMidRun += WIFSIGNALED(status) ? 1 : 0;

        CleanRun(inst);
        EXPECT_EQ(Differences(Take(inst), want, &temporaries), std::vector<std::string>{})
            << "killed after " << std::chrono::duration_cast<std::chrono::milliseconds>(at).count()
            << " ms of " << std::chrono::duration_cast<std::chrono::milliseconds>(whole).count();
    }
    // How many land inside depends on the machine's load; some always do.
    EXPECT_GT(killedMidRun, 0);
    std::printf("%d of %d kills landed inside the run; %d writer temporaries left behind\n",
                killedMidRun, kKills, temporaries);
}

// The narrow window between the expansion and the save of FileType 0, set up
// directly: the payload is expanded in place and the download kept beside it.
class CrashWindowTest : public RunFixture {
protected:
    std::string plain_ = Content(50000, 3, true);
    std::string payload_ = Installation::Compress(plain_);
    std::string kept_ = "update/z.dat" + std::string(kKeptPayloadSuffix);

    void SetUp() override {
        RunFixture::SetUp();
        inst.Put("z.dat", "old");
    }
};

TEST_F(CrashWindowTest, ExpandedButFileTypeNotYetSaved) {
    inst.Put("update/z.dat", plain_);
    inst.Put(kept_, payload_);
    inst.AddDownload({.aid = 1, .fileName = "z.dat", .fileType = ftCompressed});
    Run();
    EXPECT_EQ(inst.Read("z.dat"), plain_);
    EXPECT_EQ(inst.Read("update/z.dat"), plain_);
    EXPECT_FALSE(inst.Exists(kept_));
    EXPECT_EQ(FileTypeOf(1), "0");
    EXPECT_EQ(Logged(), std::vector<std::string>{"z.dat/1"});
}

TEST_F(CrashWindowTest, FileTypeSavedButTheKeptDownloadNotYetRemoved) {
    inst.Put("update/z.dat", plain_);
    inst.Put(kept_, payload_);
    inst.AddDownload({.aid = 1, .fileName = "z.dat", .fileType = ftReplace});
    Run();
    EXPECT_EQ(inst.Read("z.dat"), plain_);
    EXPECT_FALSE(inst.Exists(kept_));
}

TEST_F(CrashWindowTest, VersionNotYetSavedAfterTheSettingsWereWritten) {
    // Everything applied and Update.ini written; CurSoftInfo still pending.
    inst.Put("update/Main.exe", "new main");
    inst.Put("Main.exe", "old main");
    inst.WriteIni("[Update]\nExeFile=Main.exe\nCurVer=2\nUpdateTime=2008-05-09\n");
    Run();
    EXPECT_EQ(inst.Read("Main.exe"), "new main");
    EXPECT_EQ(SoftInfo(), (SqlRows{{"1", "2", "2"}}));
}

}  // namespace
}  // namespace ue::test
