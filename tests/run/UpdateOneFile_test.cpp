// What each file type comes to, with its target free or in use, on a real
// database and real files; the system's operations and the dialogs are
// recorded.
#include <filesystem>

#include "core/Errors.h"
#include "sysops/ProcessControl.h"
#include "tests/run/RunFixture.h"

namespace ue::test {
namespace {

namespace fs = std::filesystem;
using Calls = std::vector<std::string>;

class UpdateOneFileTest : public RunFixture {
protected:
    // What the end of a run adds when no restart is needed and there is no
    // update copy of the main program.
    Calls Tail() const { return {"TodayText", "Sleep 10", Run5("Main.exe")}; }
    Calls RestartTail() const { return {"TodayText", "Sleep 10", "AskRestart Cancel"}; }

    static Calls Join(Calls a, const Calls& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }

    std::string Replace(const std::string& name) const {
        return "ReplaceFileAtRestart " + P("update/" + name) + " -> " + P(name);
    }

    void ExpectLoggedOnce(const std::string& name) const {
        EXPECT_EQ(inst.Table("UpdateFileLog"),
                  (SqlRows{{"1", "1", name, "1", "1", inst.Base() + "bak/V0", "1"}}));
    }

    void ExpectVersionRaised() const { EXPECT_EQ(SoftInfo(), (SqlRows{{"1", "2", "2"}})); }

    std::string payload_ = Installation::Compress(std::string(100000, 'x') + "end");
    std::string expanded_ = std::string(100000, 'x') + "end";

    void OfferCompressed(const std::string& name) {
        inst.Put("update/" + name, payload_);
        inst.Put(name, "old");
        inst.AddDownload({.aid = NextAid(), .fileName = name, .fileType = ftCompressed});
    }
};

TEST_F(UpdateOneFileTest, ReplaceFree) {
    Offer("a.dll", ftReplace);
    Run();
    EXPECT_EQ(sys.calls, Join({"Sleep 100"}, Tail()));
    EXPECT_EQ(inst.Read("a.dll"), "new a.dll");
    EXPECT_EQ(inst.Read("update/a.dll"), "new a.dll");
    EXPECT_TRUE(ui.messages.empty());
    ExpectLoggedOnce("a.dll");
    ExpectVersionRaised();
    // The backup folder is made and recorded, and nothing is put into it.
    EXPECT_TRUE(fs::is_directory(P("bak/V0")));
    EXPECT_TRUE(fs::is_empty(P("bak/V0")));
}

TEST_F(UpdateOneFileTest, ReplaceInUseToTheEndIsLeftForTheRestart) {
    Offer("a.dll", ftReplace);
    Hold("a.dll");
    Run();
    EXPECT_EQ(ui.messages, (Calls{FirstInUseMessage(P("a.dll")), SecondInUseMessage(P("a.dll")),
                                  SecondInUseMessage(P("a.dll")), SecondInUseMessage(P("a.dll"))}));
    EXPECT_EQ(sys.calls,
              Join({"ShowFileInUseDialog", "KillProcessByName Main.exe",
                    "KillProcessByName Helper.exe", "Sleep 100", "ShowFileInUseDialog",
                    "ShowFileInUseDialog", "ShowFileInUseDialog", Replace("a.dll")},
                   RestartTail()));
    EXPECT_EQ(inst.Read("a.dll"), "old a.dll");
    ExpectLoggedOnce("a.dll");
    ExpectVersionRaised();
}

TEST_F(UpdateOneFileTest, ReplaceHeldFileFreedAfterTheFirstMessageIsCopied) {
    Offer("a.dll", ftReplace);
    Hold("a.dll");
    ui.ContinueAfter([&] { Free("a.dll"); });
    Run();
    EXPECT_EQ(ui.messages, Calls{FirstInUseMessage(P("a.dll"))});
    EXPECT_EQ(sys.calls, Join({"ShowFileInUseDialog", "KillProcessByName Main.exe",
                               "KillProcessByName Helper.exe", "Sleep 100"},
                              Tail()));
    EXPECT_EQ(inst.Read("a.dll"), "new a.dll");
    ExpectLoggedOnce("a.dll");
}

TEST_F(UpdateOneFileTest, ReplaceHeldFileFreedAtTheSecondRetryIsCopied) {
    Offer("a.dll", ftReplace);
    Hold("a.dll");
    ui.Continue().Continue().ContinueAfter([&] { Free("a.dll"); });
    Run();
    EXPECT_EQ(ui.messages.size(), 3u);
    EXPECT_EQ(sys.Count("ReplaceFileAtRestart"), 0);
    EXPECT_EQ(sys.calls.back(), Run5("Main.exe"));
    EXPECT_EQ(inst.Read("a.dll"), "new a.dll");
}

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
        if (c.rfind("KillProcessByName", 0) == 0) kills.push_back(c.substr(18));
    }
    EXPECT_EQ(kills, (Calls{"Main.exe", "Tool.Exe", "Main.exe", "b.EXE", "Main.exe", "Main.exe",
                            "Main.exe"}));
}

TEST_F(UpdateOneFileTest, CompressedFreeIsExpandedRewrittenAndCopied) {
    OfferCompressed("z.dat");
    Run();
    EXPECT_EQ(sys.calls, Join({"Sleep 100", "Sleep 100"}, Tail()));
    EXPECT_EQ(inst.Read("update/z.dat"), expanded_);
    EXPECT_EQ(inst.Read("z.dat"), expanded_);
    EXPECT_EQ(FileTypeOf(1), "0");
    EXPECT_FALSE(inst.Exists("update/z.dat" + std::string(kKeptPayloadSuffix)));
    EXPECT_FALSE(inst.Exists("update/z.datbakr"));
    ExpectLoggedOnce("z.dat");
}

TEST_F(UpdateOneFileTest, CompressedInUseSkipsTheFirstMessageAndIsLeftForTheRestart) {
    OfferCompressed("z.dat");
    Hold("z.dat");
    Run();
    EXPECT_EQ(ui.messages, Calls(3, SecondInUseMessage(P("z.dat"))));
    EXPECT_EQ(sys.calls, Join({"Sleep 100", "Sleep 100", "ShowFileInUseDialog",
                               "ShowFileInUseDialog", "ShowFileInUseDialog", Replace("z.dat")},
                              RestartTail()));
    EXPECT_EQ(inst.Read("update/z.dat"), expanded_);
    EXPECT_EQ(inst.Read("z.dat"), "old");
    EXPECT_EQ(FileTypeOf(1), "0");
    ExpectLoggedOnce("z.dat");
}

TEST_F(UpdateOneFileTest, CompressedWithoutPayloadIsOnlyLogged) {
    inst.Put("z.dat", "old");
    inst.AddDownload({.aid = 1, .fileName = "z.dat", .fileType = ftCompressed});
    Hold("z.dat");  // in use or not: the same
    Run();
    EXPECT_EQ(sys.calls, Join({"Sleep 100"}, Tail()));
    EXPECT_EQ(FileTypeOf(1), "5");
    EXPECT_EQ(inst.Read("z.dat"), "old");
    ExpectLoggedOnce("z.dat");
}

TEST_F(UpdateOneFileTest, ProgramIsCopiedThenStarted) {
    Offer("Tool.exe", ftRun);
    Run();
    EXPECT_EQ(sys.calls, Join({"Sleep 100", Run1("Tool.exe")}, Tail()));
    EXPECT_EQ(inst.Read("Tool.exe"), "new Tool.exe");
    ExpectLoggedOnce("Tool.exe");
}

TEST_F(UpdateOneFileTest, ProgramInUseIsStartedAsItIs) {
    Offer("Tool.exe", ftRun);
    Hold("Tool.exe");
    Run();
    EXPECT_EQ(sys.calls, Join({"Sleep 100", Run1("Tool.exe")}, Tail()));
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(inst.Read("Tool.exe"), "old Tool.exe");
    ExpectLoggedOnce("Tool.exe");
}

TEST_F(UpdateOneFileTest, ProgramThatCannotStartEndsTheRunUnlogged) {
    inst.AddDownload({.aid = 1, .fileName = "Tool.exe", .fileType = ftRun});
    sys.failingPrograms.insert(P("Tool.exe"));
    Create();
    try {
        dm->RunUpdate();
        FAIL() << "the start error must end the run";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), RunFailureMessage(P("Tool.exe"), 2));
    }
    EXPECT_EQ(sys.calls, (Calls{"Sleep 100", Run1("Tool.exe")}));
    EXPECT_TRUE(inst.Table("UpdateFileLog").empty());
    EXPECT_EQ(SoftInfo(), (SqlRows{{"0", "1", "2"}}));
    EXPECT_EQ(inst.Read("Update.ini").find("CurVer"), std::string::npos);
}

TEST_F(UpdateOneFileTest, LibraryIsCopiedThenRegistered) {
    Offer("x.ocx", ftRegister);
    Run();
    EXPECT_EQ(sys.calls, Join({"Sleep 100", "RegisterServerLibrary " + P("x.ocx")}, Tail()));
    EXPECT_EQ(inst.Read("x.ocx"), "new x.ocx");
    ExpectLoggedOnce("x.ocx");
}

TEST_F(UpdateOneFileTest, LibraryThatFailsToRegisterIsLoggedWithoutAMessage) {
    Offer("x.ocx", ftRegister);
    sys.registerError = "DllRegisterServer failed";
    Run();
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(sys.calls.back(), Run5("Main.exe"));
    ExpectLoggedOnce("x.ocx");
    ExpectVersionRaised();
}

TEST_F(UpdateOneFileTest, LibraryInUseIsLeftForTheRestartWithoutDialogOrRegistration) {
    Offer("x.ocx", ftRegister);
    Hold("x.ocx");
    Run();
    EXPECT_EQ(sys.calls, Join({"Sleep 100", Replace("x.ocx")}, RestartTail()));
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(inst.Read("x.ocx"), "old x.ocx");
    ExpectLoggedOnce("x.ocx");
}

TEST_F(UpdateOneFileTest, OtherAndNullTypesOnlyMakeTheFoldersAndTheLogRow) {
    Offer("t3.dat", 3, 1, "three");
    Offer("t4.dat", 4, 1, "four\\");
    Offer("tn.dat", std::nullopt, 1, "nul");
    Run();
    EXPECT_EQ(sys.calls, Join({"Sleep 100", "Sleep 100", "Sleep 100"}, Tail()));
    EXPECT_TRUE(fs::is_directory(P("three")));
    EXPECT_TRUE(fs::is_directory(P("four")));
    EXPECT_EQ(inst.Read("t3.dat"), "old t3.dat");
    EXPECT_FALSE(inst.Exists("three/t3.dat"));
    EXPECT_EQ(Logged(), (Calls{"t3.dat/1", "t4.dat/1", "tn.dat/1"}));
}

TEST_F(UpdateOneFileTest, RowNotForThisClientIsLeftAloneOnEveryRun) {
    inst.Put("update/a.dll", "new");
    inst.AddDownload({.aid = 1, .fileName = "a.dll", .isClient = false, .updatePath = "sub"});
    inst.AddDownload({.aid = 2, .fileName = "b.dll", .isClient = std::nullopt, .updatePath = "sub"});
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

TEST_F(UpdateOneFileTest, TargetFolderComesFromUpdatePathWithOneTrailingSeparatorDropped) {
    Offer("a.dll", ftReplace, 1, "sub\\deep\\", "sub/deep/");
    Offer("b.dll", ftReplace, 1, "sub\\deep", "sub/deep/");
    Offer("c.dll", ftReplace, 1, "");
    inst.Put("update/new.dll", "fresh");
    inst.AddDownload({.aid = 9, .fileName = "new.dll", .updatePath = "not\\yet\\there"});
    Run();
    EXPECT_EQ(inst.Read("sub/deep/a.dll"), "new a.dll");
    EXPECT_EQ(inst.Read("sub/deep/b.dll"), "new b.dll");
    EXPECT_EQ(inst.Read("c.dll"), "new c.dll");
    EXPECT_EQ(inst.Read("not/yet/there/new.dll"), "fresh");
    EXPECT_TRUE(ui.messages.empty());
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

TEST(InUseMessages, AreTheDialogTextsByteForByte) {
    auto unhex = [](const std::string& hex) {
        std::string out;
        for (std::size_t i = 0; i < hex.size(); i += 2) {
            out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        }
        return out;
    };
    EXPECT_EQ(FirstInUseMessage("T"),
              unhex("e99c80e8a681e58d87e7baa7e69bbfe68da2e79a84e7a88be5ba8f") + "T" +
                  unhex("e6ada3e59ca8e8bf90e8a18c2ce58d87e7baa7e7a88be5ba8fe5b086e5b09de8af95e5819c"
                        "e6ada2e8afa5e7a88be5ba8fe38082") +
                  "\r\n" +
                  unhex("e5a682e69c89e695b0e68daee69caae4bf9de68c81efbc8ce8afb7e6898be58aa8e585b3e9"
                        "97ade8afa5e7a88be5ba8fe784b6e5908ee782b9e7bba7e7bbade58d87e7baa721"));
    EXPECT_EQ(SecondInUseMessage("T"),
              unhex("e99c80e8a681e69bb4e696b0e79a84e7a88be5ba8f") + "T" +
                  unhex("e6ada3e59ca8e8bf90e8a18c2c") + "\r\n" +
                  unhex("e58d87e7baa7e7a88be5ba8fe697a0e6b395e4b8ade6ada2e8afa5e7a88be5ba8f2ce8afb7"
                        "e6898be58aa8e585b3e997ade8afa5e7a88be5ba8f2ce782b95be7bba7e7bbad5de5ae8c"
                        "e68890e69687e4bbb6e58d87e7baa7e69bbfe68da221"));
}

}  // namespace
}  // namespace ue::test
