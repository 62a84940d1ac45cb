// What each file type comes to, with its target free or in use, on a real
// database and real files; the system's operations and the dialogs are
// recorded.
#include <algorithm>
#include <filesystem>

#include "sysops/ProcessControl.h"
#include "tests/run/RunFixture.h"

namespace ue::test {
namespace {

namespace fs = std::filesystem;

// Over 64 KiB, so that an expansion takes more than one write.
const std::string kNew = std::string(100000, 'x') + " new";

// One row for f.dll, installed as "old" and downloaded as kNew (a zlib stream
// of it for type 5). `calls` names what the run records, in order; the end of
// the run follows.
struct TypeCase {
    const char* name;
    std::optional<std::int64_t> type;
    bool held;
    Calls calls;
    bool copied;
    int freedAtDialog = 0;  // the held target is freed while this dialog is open
    bool noDownload = false;
    bool registerFails = false;
    // The run ends before the row's files are touched, with an error naming the
    // download when there is none, else the target; nothing logged.
    bool fails = false;
    bool readOnly = false;  // the installed file and the download are read-only
};

const TypeCase kTypeCases[] = {
    {"ReplaceFree", ftReplace, false, {"pause"}, true},
    {"ReplaceHeldToTheEnd", ftReplace, true,
     {"first", "kills", "pause", "second", "second", "second", "queue"}, false},
    {"ReplaceFreedAtTheFirstMessage", ftReplace, true, {"first", "kills", "pause"}, true, 1},
    // Read-only files are replaced, and neither the copy nor the one queued
    // for the restart is read-only.
    {"ReplaceReadOnly", ftReplace, false, {"pause"}, true, 0, false, false, false, true},
    {"ReplaceReadOnlyHeldToTheEnd", ftReplace, true,
     {"first", "kills", "pause", "second", "second", "second", "queue"}, false, 0, false, false, false, true},
    {"ReplaceFreedAtTheSecondRetry", ftReplace, true,
     {"first", "kills", "pause", "second", "second"}, true, 3},
    {"CompressedFree", ftCompressed, false, {"pause", "pause"}, true},
    {"CompressedHeldToTheEnd", ftCompressed, true,
     {"pause", "pause", "second", "second", "second", "queue"}, false},
    {"CompressedFreedAtTheFirstRetry", ftCompressed, true, {"pause", "pause", "second"}, true, 1},
    // A payload that is not there is never recorded as applied.
    {"CompressedWithoutDownloadFree", ftCompressed, false, {}, false, 0, true, false, true},
    {"CompressedWithoutDownloadHeld", ftCompressed, true, {}, false, 0, true, false, true},
    {"ProgramFree", ftRun, false, {"pause", "run"}, true},
    // A running program holds its file: the dialog's road, never an error.
    {"ProgramHeldToTheEnd", ftRun, true,
     {"first", "kills", "pause", "second", "second", "second", "queue"}, false},
    {"ProgramFreedAtTheFirstMessage", ftRun, true, {"first", "kills", "pause", "run"}, true, 1},
    {"LibraryFree", ftRegister, false, {"pause", "register"}, true},
    {"LibraryFailingToRegister", ftRegister, false, {"pause", "register"}, true, 0, false, true},
    {"LibraryHeld", ftRegister, true, {"pause", "queue"}, false},
    {"Type3Free", 3, false, {"pause"}, false},
    {"Type4Held", 4, true, {"pause"}, false},
    {"NullTypeFree", std::nullopt, false, {"pause"}, false},
};

class PerTypeTest : public RunFixture, public testing::WithParamInterface<TypeCase> {};

TEST_P(PerTypeTest, CallsFilesAndLogRow) {
    const TypeCase& c = GetParam();
    const std::string target = P("f.dll");
    inst.Put("f.dll", "old");
    if (!c.noDownload) {
        inst.Put("update/f.dll", c.type == ftCompressed ? Installation::Compress(kNew) : kNew);
    }
    inst.AddDownload({.aid = 1, .fileName = "f.dll", .fileType = c.type});
    const auto writeBits = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    const auto readOnly = [&](const std::string& path) {
        return (fs::status(path).permissions() & fs::perms::owner_write) == fs::perms::none;
    };
    if (c.readOnly) {
        fs::permissions(target, writeBits, fs::perm_options::remove);
        fs::permissions(P("update/f.dll"), writeBits, fs::perm_options::remove);
    }
    if (c.held) Hold("f.dll");
    for (int i = 1; i < c.freedAtDialog; ++i) ui.Continue();
    if (c.freedAtDialog > 0) ui.Continue([&] { Free("f.dll"); });
    if (c.registerFails) sys.registerError = "DllRegisterServer failed";
    const std::string failure = RunFailure();
    if (c.fails) {
        EXPECT_NE(failure.find(c.noDownload ? P("update/f.dll") : target), std::string::npos)
            << failure;
    } else {
        EXPECT_EQ(failure, "");
    }

    const std::map<std::string, Calls> named = {
        {"pause", {"Sleep 100"}},
        {"first", {Dialog(FirstInUseMessage(target))}},
        {"kills",
         {"KillProcessByName Main.exe in " + P(""), "KillProcessByName Helper.exe in " + P("")}},
        {"second", {Dialog(SecondInUseMessage(target))}},
        {"queue", {"ReplaceFileAtRestart " + target + ".~urXXXXXX -> " + target}},
        {"run", {RunEntry(target, 1)}},
        {"register", {"RegisterServerLibrary " + target}}};
    Calls want;
    for (const std::string& name : c.calls) {
        want.insert(want.end(), named.at(name).begin(), named.at(name).end());
    }
    // A file left for the restart brings the restart question instead of the main program.
    const bool queued = std::find(c.calls.begin(), c.calls.end(), "queue") != c.calls.end();
    if (!c.fails) {
        for (const std::string& call : queued ? RestartTail() : Tail()) want.push_back(call);
    }
    EXPECT_EQ(sys.calls, want);

    // The download stays (expanded in place) with nothing left beside it, and
    // the backup folder is made and stays empty.
    auto files = inst.Files();
    files.erase("Update.ini");
    // A queued file waits beside its target as a copy of the download.
    std::string queuedCopy;
    for (auto it = files.begin(); it != files.end();) {
        if (it->first.starts_with("f.dll.~ur")) {
            queuedCopy = it->second;
            EXPECT_FALSE(readOnly(P(it->first))) << it->first;
            it = files.erase(it);
        } else {
            ++it;
        }
    }
    EXPECT_EQ(queuedCopy, queued ? kNew : "");
    std::map<std::string, std::string> wantFiles = {{"update/", ""}, {"f.dll", c.copied ? kNew : "old"}};
    if (!c.fails) wantFiles.insert({{"bak/", ""}, {"bak/V0/", ""}});
    if (!c.noDownload) wantFiles["update/f.dll"] = kNew;
    EXPECT_EQ(files, wantFiles);
    if (c.readOnly) {
        EXPECT_EQ(readOnly(target), !c.copied);
        EXPECT_TRUE(readOnly(P("update/f.dll")));
    }

    const bool expanded = c.type == ftCompressed && !c.noDownload;
    EXPECT_EQ(FileTypeOf(1), expanded ? "0" : c.type ? std::to_string(*c.type) : "NULL");
    if (c.fails) {
        EXPECT_EQ(Logged(), Calls{});
        EXPECT_EQ(SoftInfo(), (SqlRows{{"0", "1", "2"}}));
        return;
    }
    EXPECT_EQ(inst.Table("UpdateFileLog"),
              (SqlRows{{"1", "1", "f.dll", "1", "1", P("bak/V0"), "1"}}));
    EXPECT_EQ(SoftInfo(), (SqlRows{{"1", "2", "2"}}));
}

INSTANTIATE_TEST_SUITE_P(, PerTypeTest, testing::ValuesIn(kTypeCases),
                         [](const auto& info) { return std::string(info.param.name); });

using UpdateOneFileTest = RunFixture;

TEST_F(UpdateOneFileTest, ProgramsOfTheSuiteAndAFileNamedExeAreStoppedByName) {
    // Only ExeFile when ExeFile2 is empty; the file itself when its last
    // extension is EXE in any letter case.
    inst.WriteIni("[Update]\nExeFile=Main.exe\n");
    for (const char* name : {"Tool.Exe", "b.EXE", "c.exe.bak", "exe", "d.exex"}) {
        Offer(name, ftReplace);
        Hold(name);
    }
    Run();
    Calls kills;
    for (const auto& c : sys.calls) {
        if (c.rfind("KillProcessByName ", 0) == 0) kills.push_back(c);
    }
    // Each only where it runs from the installation.
    Calls want;
    for (const char* name :
         {"Main.exe", "Tool.Exe", "Main.exe", "b.EXE", "Main.exe", "Main.exe", "Main.exe"}) {
        want.push_back("KillProcessByName " + std::string(name) + " in " + P(""));
    }
    EXPECT_EQ(kills, want);
}

TEST_F(UpdateOneFileTest, ProgramThatCannotStartEndsTheRunUnlogged) {
    inst.Put("Tool.exe", "installed");
    inst.AddDownload({.aid = 1, .fileName = "Tool.exe", .fileType = ftRun});
    sys.failingPrograms.insert(P("Tool.exe"));
    EXPECT_EQ(RunFailure(), RunFailureMessage(P("Tool.exe"), 2));
    EXPECT_EQ(sys.calls, (Calls{"Sleep 100", RunEntry(P("Tool.exe"), 1)}));
    EXPECT_TRUE(inst.Table("UpdateFileLog").empty());
    EXPECT_EQ(SoftInfo(), (SqlRows{{"0", "1", "2"}}));
    EXPECT_EQ(inst.Read("Update.ini").find("CurVer"), std::string::npos);
}

TEST_F(UpdateOneFileTest, RowNotForThisClientIsLeftAloneOnEveryRun) {
    inst.Put("update/a.dll", "new");
    inst.AddDownloads(
        {{.aid = 1, .fileName = "a.dll", .isClient = false, .updatePath = "sub"},
         {.aid = 2, .fileName = "b.dll", .isClient = std::nullopt, .updatePath = "sub"}});
    for (int run = 0; run < 2; ++run) {
        inst.SetSoftInfo(false, 1, 2);
        sys.calls.clear();
        Run();
        EXPECT_EQ(sys.calls, Tail());
        EXPECT_FALSE(inst.Exists("sub"));
        EXPECT_FALSE(inst.Exists("bak"));
        EXPECT_TRUE(inst.Table("UpdateFileLog").empty());
    }
}

TEST_F(UpdateOneFileTest, TargetFolderIsTheInstallationFolderPlusUpdatePath) {
    // One trailing separator is dropped; a leading one or a "." step is
    // harmless text; rows that will not be applied are not examined.
    Offer("a.dll", ftReplace, 1, "sub\\deep\\", "sub/deep/");
    Offer("b.dll", ftReplace, 1, "sub\\deep", "sub/deep/");
    Offer("c.dll", ftReplace, 1, "");
    Offer("d.dll", ftReplace, 1, "\\abs\\dir\\", "abs/dir/");
    Offer("e.dll", ftReplace, 1, "./here", "here/");
    Offer("t3.dat", 3, 1, "three\\");
    inst.Put("update/new.dll", "fresh");
    inst.AddDownloads({{.aid = 20, .fileName = "new.dll", .updatePath = "not\\yet\\there"},
                       {.aid = 21, .fileName = "x.dll", .isClient = false, .updatePath = "..\\.."},
                       {.aid = 22, .fileName = "../y.dll", .fileVer = 3}});
    inst.AddApplied({{.aid = 22, .fileName = "../y.dll", .fileVer = 3}});
    Run();
    for (const char* path :
         {"sub/deep/a.dll", "sub/deep/b.dll", "c.dll", "abs/dir/d.dll", "here/e.dll"}) {
        EXPECT_EQ(inst.Read(path), "new " + fs::path(path).filename().string()) << path;
    }
    EXPECT_EQ(inst.Read("not/yet/there/new.dll"), "fresh");
    // A type without file work still gets its folder.
    EXPECT_TRUE(fs::is_directory(P("three")));
    EXPECT_FALSE(inst.Exists("three/t3.dat"));
    EXPECT_EQ(sys.Count("ShowFileInUseDialog"), 0);
    EXPECT_EQ(Logged().size(), 8u);
}

TEST_F(UpdateOneFileTest, NullFileNameIsLookedUpEmptyAndLoggedAgainOnEveryRun) {
    inst.AddDownload({.aid = 1, .fileName = std::nullopt, .fileType = 3});
    for (int run = 0; run < 2; ++run) {
        inst.SetSoftInfo(false, 1, 2);
        Run();
    }
    EXPECT_EQ(inst.Query("SELECT count(*) FROM UpdateFileLog WHERE FileName IS NULL"),
              (SqlRows{{"2"}}));
}

// Which commas and stops are full-width matters: the texts are compared byte for byte.
TEST(InUseMessages, AreTheDialogTextsByteForByte) {
    EXPECT_EQ(FirstInUseMessage("T"),
              "需要升级替换的程序T正在运行,升级程序将尝试停止该程序。\r\n"
              "如有数据未保持，请手动关闭该程序然后点继续升级!");
    EXPECT_EQ(SecondInUseMessage("T"),
              "需要更新的程序T正在运行,\r\n"
              "升级程序无法中止该程序,请手动关闭该程序,点[继续]完成文件升级替换!");
}

}  // namespace
}  // namespace ue::test
