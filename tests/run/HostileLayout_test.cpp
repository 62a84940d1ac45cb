// Hostile layouts of an installation through the real run: whoever may write
// update/ or Update.ini must not lead the run's reads and writes outside the
// installation. Each row arranges the installation and a sibling "outside"
// folder, runs, and checks that nothing outside changed. A row that expects a
// refusal also checks that nothing inside changed and nothing was logged or
// recorded. New hostile cases are new rows.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <thread>

#include "tests/run/RunFixture.h"

extern char** environ;

// While set, the next making of a folder named `name` (by path or relative
// to a descriptor) runs `swap` first: a swap after the run's checks, just
// before the folder is made.
namespace ue::test::making {
std::string name;
std::function<void()> swap;

void Before(const char* path) {
    if (!swap) return;
    std::string_view last(path);
    while (last.size() > 1 && last.back() == '/') last.remove_suffix(1);
    if (const auto slash = last.rfind('/'); slash != std::string_view::npos) last.remove_prefix(slash + 1);
    if (last != name) return;
    const std::function<void()> once = std::move(swap);
    swap = nullptr;
    once();
}
}  // namespace ue::test::making

extern "C" {
int mkdir(const char* path, mode_t mode) noexcept {
    ue::test::making::Before(path);
    return static_cast<int>(::syscall(SYS_mkdirat, AT_FDCWD, path, mode));
}
int mkdirat(int dir, const char* path, mode_t mode) noexcept {
    ue::test::making::Before(path);
    return static_cast<int>(::syscall(SYS_mkdirat, dir, path, mode));
}
}

namespace ue::test {
namespace {

namespace fs = std::filesystem;

class HostileLayoutTest;

struct Layout {
    std::string name;
    std::function<void(HostileLayoutTest&)> arrange;
    // What the run's error holds, "{base}" standing for the installation
    // directory and "{out}" for the outside folder's name; "" when the run
    // must succeed.
    std::string error = "";
    // Further checks after the run.
    std::function<void(HostileLayoutTest&)> expect = [](HostileLayoutTest&) {};
    // The refusal comes in the middle of the run (a swap while a dialog is
    // up): rows before it were applied and logged; still nothing outside
    // changes and the version is not raised.
    bool midRun = false;
};

void PrintTo(const Layout& layout, std::ostream* out) { *out << layout.name; }

class HostileLayoutTest : public RunFixture, public ::testing::WithParamInterface<Layout> {
public:
    // The rows arrange and check through the fixture.
    using RunFixture::inst;
    using RunFixture::Logged;
    using RunFixture::P;
    using RunFixture::sys;
    using RunFixture::ui;
    using RunFixture::Hold;
    using RunFixture::Free;

    TempDir outside;

    std::string Out(const std::string& relative = "") const {
        return relative.empty() ? outside.path() : outside.file(relative);
    }
    std::string OutName() const { return fs::path(outside.path()).filename().string(); }

    void PutOutside(const std::string& relative, const std::string& bytes, fs::perms mode = fs::perms(0644)) {
        fs::create_directories(fs::path(Out(relative)).parent_path());
        WriteFileBytes(Out(relative), bytes);
        fs::permissions(Out(relative), mode);
    }
    // A symbolic link at `relative` in the installation, replacing what is there.
    void Link(const std::string& relative, const std::string& target) {
        fs::create_directories(fs::path(P(relative)).parent_path());
        fs::remove(P(relative));
        fs::create_symlink(target, P(relative));
    }
    // A downloaded `name` for a row of `type` into `updatePath`.
    void Download(const std::string& name, std::int64_t type = ftReplace,
                  const std::string& updatePath = "") {
        // Whatever a row arranged in its place stays.
        if (!fs::is_symlink(P("update")) && !fs::exists(fs::symlink_status(P("update/" + name)))) {
            inst.Put("update/" + name, "new " + name);
        }
        inst.AddDownload({.aid = ++aid_, .fileName = name, .fileType = type, .updatePath = updatePath});
    }

    // Every entry of the outside folder: kind, permission bits and content.
    std::map<std::string, std::string> OutsideSnapshot() const {
        std::map<std::string, std::string> entries;
        for (const auto& entry : fs::recursive_directory_iterator(outside.path())) {
            const fs::file_status st = entry.symlink_status();
            std::string value = std::to_string(static_cast<int>(st.type())) + " " +
                                std::to_string(static_cast<unsigned>(st.permissions()));
            if (st.type() == fs::file_type::regular) value += " " + ReadFileBytes(entry.path().string());
            entries[fs::relative(entry.path(), outside.path()).string()] = value;
        }
        return entries;
    }

    // A harmless row ahead of the rows a layout adds: a refusal that only
    // the row's own turn made would let this one be applied first.
    void OfferHarmlessRowFirst() { inst.AddDownload({.aid = ++aid_, .fileName = "first.dll"}); }
    void PlaceHarmlessFiles() {
        inst.Put("first.dll", "old first.dll");
        if (fs::is_directory(fs::symlink_status(P("update")))) inst.Put("update/first.dll", "new first.dll");
    }

    std::string Expand(std::string text) const {
        for (const auto& [key, value] :
             {std::pair<std::string, std::string>{"{base}", inst.Base()}, {"{out}", OutName()}}) {
            for (auto at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size())) {
                text.replace(at, key.size(), value);
            }
        }
        return text;
    }

private:
    std::int64_t aid_ = 0;
};

TEST_P(HostileLayoutTest, NothingOutsideTheInstallationChanges) {
    const Layout& layout = GetParam();
    // What a link would lead the run to: a library folder, a secret, settings.
    PutOutside("lib/a.dll", "outside a.dll");
    PutOutside("secret", "secret", fs::perms(0600));
    PutOutside("update/a.dll", "outside new a.dll");
    PutOutside("Update.ini", "[Update]\r\nExeFile=Main.exe\r\n");
    PutOutside("payload", Installation::Compress("outside payload"));
    fs::create_directories(Out("bak"));
    inst.Put("a.dll", "old a.dll");
    const bool refusal = !layout.error.empty();
    if (refusal) OfferHarmlessRowFirst();
    layout.arrange(*this);
    if (refusal) PlaceHarmlessFiles();

    const auto outsideBefore = OutsideSnapshot();
    const auto insideBefore = inst.Files();
    const std::string failure = RunFailure();
    making::swap = nullptr;

    EXPECT_EQ(OutsideSnapshot(), outsideBefore);
    if (layout.error.empty()) {
        EXPECT_EQ(failure, "");
    } else {
        EXPECT_NE(failure.find(Expand(layout.error)), std::string::npos)
            << failure << "\nwanted: " << Expand(layout.error);
        if (!layout.midRun) {
            EXPECT_EQ(inst.Files(), insideBefore);
            EXPECT_TRUE(sys.calls.empty()) << sys.calls.front();
            EXPECT_TRUE(inst.Table("UpdateFileLog").empty());
        }
        EXPECT_EQ(SoftInfo(), (SqlRows{{"0", "1", "2"}}));
    }
    layout.expect(*this);
}

// Swaps made after the checks before the walk, while the file-in-use dialog
// waits for the user: the copy itself resolves its paths beneath the
// installation, and the settings write judges Update.ini when it writes.
void SwapAtTheDialog(HostileLayoutTest& t, const std::string& held, std::function<void()> swap) {
    t.Hold(held);
    t.ui.Continue([&t, held, swap] {
        t.Free(held);
        swap();
    });
}

// A swap at the row's pause before its expansion (the `n`th pause of the run):
// a compressed row shows no dialog, and its checks are done by then.
void SwapAtThePause(HostileLayoutTest& t, int n, std::function<void()> swap) {
    t.sys.onSleep = [n, swap, pauses = 0](unsigned) mutable {
        if (++pauses == n) swap();
    };
}

// A swap after a row's checks, just before its folder `name` is made.
void SwapBeforeMaking(const std::string& name, std::function<void()> swap) {
    making::name = name;
    making::swap = std::move(swap);
}

const Layout kLayouts[] = {
    {.name = "TargetFolderSwappedWhileTheDialogIsUp",
     .arrange = [](HostileLayoutTest& t) {
         t.inst.Put("lib/a.dll", "old a.dll");
         t.Download("a.dll", ftReplace, "lib");
         SwapAtTheDialog(t, "lib/a.dll", [&t] {
             fs::rename(t.P("lib"), t.P("lib.away"));
             fs::create_symlink(t.Out("lib"), t.P("lib"));
         });
     },
     .error = "The folder of {base}lib leads outside the installation directory",
     .expect = [](HostileLayoutTest& t) { EXPECT_EQ(t.inst.Read("lib.away/a.dll"), "old a.dll"); },
     .midRun = true},
    {.name = "DownloadSwappedWhileTheDialogIsUp",
     .arrange = [](HostileLayoutTest& t) {
         t.Download("a.dll");
         SwapAtTheDialog(t, "a.dll", [&t] { t.Link("update/a.dll", t.Out("secret")); });
     },
     .error = "The downloaded file {base}update/a.dll is a symbolic link",
     .expect = [](HostileLayoutTest& t) { EXPECT_EQ(t.inst.Read("a.dll"), "old a.dll"); },
     .midRun = true},
    {.name = "UpdateFolderSwappedBeforeAnExpansion",
     .arrange = [](HostileLayoutTest& t) {
         t.inst.Put("update/K.pak", Installation::Compress("genuine"));
         t.PutOutside("update/K.pak", Installation::Compress("outside payload"));
         t.Download("K.pak", ftCompressed);
         // The second pause: that of the row after the harmless one.
         SwapAtThePause(t, 2, [&t] {
             fs::rename(t.P("update"), t.P("update.away"));
             fs::create_symlink(t.Out("update"), t.P("update"));
         });
     },
     .error = "The folder of the download {base}update leads outside the installation directory",
     .expect = [](HostileLayoutTest& t) {
         EXPECT_EQ(t.inst.Read("update.away/K.pak"), Installation::Compress("genuine"));
         EXPECT_FALSE(t.inst.Exists("update.away/K.pak.ue-keep"));
     },
     .midRun = true},
    {.name = "TargetFolderParentSwappedBeforeItIsMade",
     .arrange = [](HostileLayoutTest& t) {
         fs::create_directories(t.P("lib"));
         t.Download("a.dll", ftReplace, "lib/new");
         SwapBeforeMaking("new", [&t] {
             fs::rename(t.P("lib"), t.P("lib.away"));
             fs::create_symlink(t.Out("lib"), t.P("lib"));
         });
     },
     .error = "The folder of a.dll {base}lib/new leads outside the installation directory",
     .expect = [](HostileLayoutTest& t) {
         EXPECT_TRUE(fs::is_directory(t.P("lib.away/new"))) << "made where its parent went";
         EXPECT_FALSE(t.inst.Exists("lib.away/new/a.dll"));
     },
     .midRun = true},
    {.name = "SettingsSwappedWhileTheDialogIsUp",
     .arrange = [](HostileLayoutTest& t) {
         t.Download("a.dll");
         SwapAtTheDialog(t, "a.dll", [&t] { t.Link("Update.ini", t.Out("Update.ini")); });
     },
     .error = "Update.ini",
     .midRun = true},
    {.name = "LibraryFolderLinkedOutside",
     .arrange = [](HostileLayoutTest& t) {
         t.Link("lib", t.Out("lib"));
         t.Download("a.dll", ftReplace, "lib");
     },
     .error = "The folder of a.dll {base}lib leads outside the installation directory"},
    {.name = "RelativeLinkClimbingOut",
     .arrange = [](HostileLayoutTest& t) {
         t.Link("lib", "../" + t.OutName() + "/lib");
         t.Download("a.dll", ftReplace, "lib\\");
     },
     .error = "The folder of a.dll {base}lib leads outside the installation directory"},
    {.name = "BackupFolderLinkedOutside",
     .arrange = [](HostileLayoutTest& t) {
         t.Link("bak", t.Out("bak"));
         t.Download("a.dll");
     },
     .error = "The backup folder {base}bak/V0 leads outside the installation directory"},
    {.name = "UpdateFolderLinkedOutside",
     .arrange = [](HostileLayoutTest& t) {
         t.Link("update", t.Out("update"));
         t.Download("a.dll");
     },
     .error = "The update folder {base}update leads outside the installation directory",
     .expect = [](HostileLayoutTest& t) { EXPECT_EQ(t.inst.Read("a.dll"), "old a.dll"); }},
    {.name = "DownloadLinkedToASecret",
     .arrange = [](HostileLayoutTest& t) {
         t.Link("update/Conf.txt", t.Out("secret"));
         t.Download("Conf.txt");
     },
     .error = "The downloaded file {base}update/Conf.txt is a symbolic link",
     .expect = [](HostileLayoutTest& t) { EXPECT_FALSE(t.inst.Exists("Conf.txt")); }},
    {.name = "DownloadThatIsAFolder",
     .arrange = [](HostileLayoutTest& t) {
         fs::create_directories(t.P("update/a.dll"));
         t.Download("a.dll");
     },
     .error = "The downloaded file {base}update/a.dll is not a regular file"},
    {.name = "KeptPayloadLinkedOutside",
     .arrange = [](HostileLayoutTest& t) {
         t.inst.Put("update/K.pak", Installation::Compress("genuine"));
         t.Link("update/K.pak.ue-keep", t.Out("payload"));
         t.Download("K.pak", ftCompressed);
     },
     .error = "The downloaded file {base}update/K.pak.ue-keep is a symbolic link"},
    {.name = "LeftoverNamedInAFolderLinkedOutside",
     .arrange = [](HostileLayoutTest& t) {
         t.PutOutside("lib/a.dll.~ueAbC123", "outside");
         t.Link("lib", t.Out("lib"));
         t.inst.Put(kTemporariesJournal, std::string("lib/a.dll.~ueAbC123\0", 20));
         t.Download("a.dll");
     },
     .expect = [](HostileLayoutTest& t) {
         EXPECT_EQ(t.inst.Read("a.dll"), "new a.dll");
         EXPECT_EQ(t.inst.Read(kTemporariesJournal), std::string("lib/a.dll.~ueAbC123\0", 20))
             << "stays recorded";
     }},
    {.name = "SettingsLinkedOutside",
     .arrange = [](HostileLayoutTest& t) {
         t.Link("Update.ini", t.Out("Update.ini"));
         t.Download("a.dll");
     },
     .error = "The settings file {base}Update.ini leads outside the installation directory"},
    {.name = "MainProgramAboveTheInstallation",
     .arrange = [](HostileLayoutTest& t) {
         // The update copy update/../<out>/outside.sh would go to <out>/outside.sh.
         t.inst.Put(t.OutName() + "/outside.sh", "#!/bin/sh\n");
         t.inst.WriteIni("[Update]\r\nExeFile=../" + t.OutName() + "/outside.sh\r\n");
         t.Download("a.dll");
     },
     .error = "Update.ini: ExeFile '../{out}/outside.sh' leads outside the installation directory"},
    {.name = "SecondProgramAboveTheInstallation",
     .arrange = [](HostileLayoutTest& t) {
         t.inst.WriteIni("[Update]\r\nExeFile=Main.exe\r\nExeFile2=..\\Other.exe\r\n");
         t.Download("a.dll");
     },
     .error = "Update.ini: ExeFile2 '..\\Other.exe' leads outside the installation directory"},
    {.name = "MainProgramFolderLinkedOutside",
     .arrange = [](HostileLayoutTest& t) {
         t.Link("bin", t.Out("lib"));
         t.inst.Put("update/bin/Main.exe", "new main");
         t.inst.WriteIni("[Update]\r\nExeFile=bin/Main.exe\r\n");
     },
     .error = "The folder of ExeFile {base}bin leads outside the installation directory"},

    // Links that stay inside keep working.
    {.name = "FolderLinkedInside",
     .arrange = [](HostileLayoutTest& t) {
         fs::create_directories(t.P("real"));
         t.Link("lib", "real");
         t.Link("lib2", t.P("real"));  // absolute, with the installation's path
         t.Download("a.dll", ftReplace, "lib");
         t.Download("b.dll", ftReplace, "lib2");
     },
     .expect = [](HostileLayoutTest& t) {
         EXPECT_EQ(t.inst.Read("real/a.dll"), "new a.dll");
         EXPECT_EQ(t.inst.Read("real/b.dll"), "new b.dll");
         EXPECT_EQ(t.Logged(), (Calls{"a.dll/1", "b.dll/1"}));
     }},
    {.name = "TargetsThatAreLinksBecomeFiles",
     .arrange = [](HostileLayoutTest& t) {
         t.Link("a.dll", t.Out("lib/a.dll"));
         t.inst.Put("real-b.dll", "old b.dll");
         t.Link("b.dll", "real-b.dll");
         t.Download("a.dll");
         t.Download("b.dll");
     },
     .expect = [](HostileLayoutTest& t) {
         for (const char* name : {"a.dll", "b.dll"}) {
             EXPECT_FALSE(fs::is_symlink(t.P(name))) << name;
             EXPECT_EQ(t.inst.Read(name), std::string("new ") + name);
         }
         EXPECT_EQ(t.inst.Read("real-b.dll"), "old b.dll");
         EXPECT_EQ(t.Logged(), (Calls{"a.dll/1", "b.dll/1"}));
     }},
};

// Real child processes: the suite's program running from the installation is
// stopped; a program of the same name running elsewhere is never touched.
using HostileProcessTest = RunFixture;

TEST_F(HostileProcessTest, SameNamedProgramOutsideIsNotStopped) {
    // Arrange: the suite's program runs from the installation (and so holds
    // its own file); a same-named program runs outside it and holds nothing.
    const std::string name = "zz" + std::to_string(getpid()) + ".exe";
    inst.WriteIni("[Update]\nExeFile=" + name + "\n");
    Offer(name, ftReplace);
    TempDir outsideDir;  // beside the installation, which is all of `dir`
    auto start = [](const std::string& exe) {
        fs::copy_file(UE_TEST_CHILD, exe, fs::copy_options::overwrite_existing);
        char* argv[] = {const_cast<char*>(exe.c_str()), nullptr};
        pid_t pid = 0;
        EXPECT_EQ(posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv, environ), 0);
        while (!fs::exists(exe + ".report")) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return pid;
    };
    const pid_t inside = start(P(name));
    const pid_t outside = start(outsideDir.file(name));
    struct RealKills : RecordingSystem {
        void KillProcessByName(const std::string& n, const std::string& d) override {
            RecordingSystem::KillProcessByName(n, d);
            ue::KillProcessByName(n, d);
        }
        void Sleep(unsigned ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    } real;
    TDM_Update run(real, inst.Base());
    run.SetUserInterface(&ui);
    run.DataModuleCreate();
    run.RunUpdate();

    // Expect: the one inside was stopped (asked to close, which the test
    // child does not catch) and replaced, the one outside still runs.
    int status = 0;
    EXPECT_EQ(waitpid(inside, &status, WNOHANG), inside);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(inst.Read(name), "new " + name);
    EXPECT_EQ(waitpid(outside, nullptr, WNOHANG), 0);
    kill(outside, SIGKILL);
    waitpid(outside, nullptr, 0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, HostileLayoutTest, ::testing::ValuesIn(kLayouts),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace ue::test
