// Process control on real child processes under Windows (or Wine). Every
// child is a copy of the test child under a name that holds this test
// process's id, so that no other process can match; each is stopped at the
// end of its test.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "core/Errors.h"
#include "sysops/ProcessControl.h"
#include "sysops/ProcessControl_win32.h"
#include "tests/sysops/helpers/Win32Support.h"

namespace ue {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Child;
using test::CopyChild;
using test::TempDir;

std::string Unique(const std::string& stem) {
    static int counter = 0;
    return stem + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(++counter);
}

TEST(FindProcessIdByName, MatchesTheImageNameInAnyLetterCaseAndNothingElse) {
    TempDir dir;
    const std::string stem = Unique("Main");
    Child child(CopyChild(dir.file(stem + ".exe")));
    ASSERT_TRUE(test::AwaitReport(dir.file(stem + ".exe")));

    EXPECT_EQ(FindProcessIdByName(stem + ".exe"), child.id());
    EXPECT_EQ(FindProcessIdByName(text::UpperAscii(stem) + ".EXE"), child.id());
    EXPECT_EQ(FindProcessIdByName(text::LowerAscii(stem) + ".exe"), child.id());
    for (const std::string& other :
         {" " + stem + ".exe", stem + ".exe ", dir.file(stem + ".exe"), stem + ".ex"}) {
        EXPECT_EQ(FindProcessIdByName(other), 0u) << other;
    }
}

// Which programs KillProcessByName stops, '%' standing for a number no other
// process's name holds. The installation is "inst"; "out" lies beside it and
// "inst-old" begins like it.
struct KillCase {
    const char* title;
    std::vector<std::pair<const char*, bool>> programs;  // where one runs; whether it is stopped
    const char* argument = "Main%.exe";
    const char* installDir = "inst";
    const char* caller = nullptr;  // a copy of the helper there makes the call
};

const KillCase kKillCases[] = {
    {"InsideIsStoppedSameNameElsewhereIsNot",
     {{"inst\\Main%.exe", true}, {"out\\Main%.exe", false}, {"inst-old\\Main%.exe", false}}},
    {"EveryOneInsideIsStoppedInFoldersBelowToo",
     {{"inst\\Main%.exe", true}, {"inst\\a\\Main%.exe", true}, {"inst\\a\\b\\Main%.exe", true}}},
    {"NameAndFolderInAnyLetterCaseOtherNamesNot",
     {{"inst\\Main%.exe", true}, {"inst\\Main%.ex", false}, {"inst\\Main%.exe.bak", false}},
     "MAIN%.EXE", "INST\\"},
    {"NoInstallationNothingStopped", {{"inst\\Main%.exe", false}}, "Main%.exe", "missing"},
    {"CallerItselfIsNeverStopped", {{"inst\\sub\\Main%.exe", true}}, "Main%.exe", "inst",
     "inst\\Main%.exe"},
};

void PrintTo(const KillCase& c, std::ostream* os) { *os << c.title; }

class KillTest : public testing::TestWithParam<KillCase> {};

TEST_P(KillTest, StopsOnlyProgramsRunningFromTheInstallation) {
    const KillCase& c = GetParam();
    TempDir dir;
    const std::string id = Unique("");
    auto at = [&](std::string path) {
        if (auto pct = path.find('%'); pct != std::string::npos) path.replace(pct, 1, id);
        return dir.file(path);
    };
    fs::create_directories(at("inst"));
    std::vector<std::unique_ptr<Child>> children;
    for (const auto& [path, stopped] : c.programs) {
        children.push_back(std::make_unique<Child>(CopyChild(at(path))));
        ASSERT_TRUE(test::AwaitReport(at(path))) << path;
    }

    const std::string argument = at(c.argument).substr(dir.path().size() + 1);
    if (c.caller) {
        fs::copy_file(UE_TEST_HELPER, at(c.caller));
        Child caller(at(c.caller), "kill " + argument + " \"" + at(c.installDir) + "\"");
        EXPECT_EQ(caller.Ended(), 0u);
    } else {
        KillProcessByName(argument, at(c.installDir));
    }

    for (std::size_t i = 0; i < children.size(); ++i) {
        if (c.programs[i].second) {
            EXPECT_EQ(children[i]->Ended(), 0u) << c.programs[i].first;
        }
    }
    std::this_thread::sleep_for(50ms);
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (!c.programs[i].second) {
            EXPECT_TRUE(children[i]->Alive()) << c.programs[i].first;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(, KillTest, testing::ValuesIn(kKillCases),
                         [](const auto& info) { return std::string(info.param.title); });

TEST(PathIsWithin, FolderBoundariesAndLetterCase) {
    using win32::PathIsWithin;
    EXPECT_TRUE(PathIsWithin(L"\\\\?\\C:\\App", L"\\\\?\\C:\\App"));
    EXPECT_TRUE(PathIsWithin(L"\\\\?\\C:\\APP\\bin\\", L"\\\\?\\c:\\app\\"));
    EXPECT_TRUE(PathIsWithin(L"\\\\?\\C:\\App\\x", L"\\\\?\\C:\\"));
    EXPECT_FALSE(PathIsWithin(L"\\\\?\\C:\\App-old", L"\\\\?\\C:\\App"));
    EXPECT_FALSE(PathIsWithin(L"\\\\?\\C:\\Ap", L"\\\\?\\C:\\App"));
    EXPECT_FALSE(PathIsWithin(L"\\\\?\\D:\\App", L"\\\\?\\C:\\App"));
    EXPECT_FALSE(PathIsWithin(L"\\\\?\\C:\\App", L""));
    // Final paths without a volume, as the beneath check compares them.
    EXPECT_FALSE(PathIsWithin(L"\\suite-old\\lib", L"\\suite"));
    EXPECT_TRUE(PathIsWithin(L"\\SUITE\\lib", L"\\suite"));
    EXPECT_TRUE(PathIsWithin(L"\\Ä 升级;1\\lib", L"\\ä 升级;1"));
    EXPECT_FALSE(PathIsWithin(L"\\ä 升级;1-old", L"\\ä 升级;1"));
    EXPECT_TRUE(PathIsWithin(L"\\x", L"\\"));
}

TEST(RunProgram, PassesThePathAndParametersAndReturnsTheExitCode) {
    TempDir dir;
    const std::string exe = CopyChild(dir.file("100% sure\\Main.exe"));
    ASSERT_TRUE(::SetEnvironmentVariableW(L"UE_CHILD_EXIT_CODE", L"7"));
    EXPECT_EQ(RunProgram(exe, true, "", kShowNormal), 7u);
    auto report = test::AwaitReport(exe);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->commandLine, "\"" + exe + "\"");

    fs::remove(exe + ".report");
    EXPECT_EQ(RunProgram(exe, true, "-a b 100%d", kShow), 7u);
    report = test::AwaitReport(exe);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->commandLine, "\"" + exe + "\" -a b 100%d");

    // Without waiting: at once, and the program runs on.
    ASSERT_TRUE(::SetEnvironmentVariableW(L"UE_CHILD_EXIT_CODE", nullptr));
    fs::remove(exe + ".report");
    EXPECT_EQ(RunProgram(exe, false, "", kShow), 0u);
    report = test::AwaitReport(exe);
    ASSERT_TRUE(report);
    HANDLE started = ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, report->pid);
    ASSERT_NE(started, nullptr);
    EXPECT_EQ(::WaitForSingleObject(started, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    ::TerminateProcess(started, 0);
    ::CloseHandle(started);
}

// CreateProcessW cannot start a program whose path is MAX_PATH long or
// longer; it is started by its short form.
TEST(RunProgram, StartsAProgramWhosePathIsLongerThanMaxPath) {
    TempDir dir;
    std::string deep = dir.path();
    for (int i = 0; i < 7; ++i) deep += "\\" + std::string(40, static_cast<char>('a' + i));
    const std::string exe = deep + "\\Main.exe";
    ASSERT_GT(exe.size(), 300u);
    const fs::path extended(L"\\\\?\\" + Wide(exe));
    fs::create_directories(extended.parent_path());
    fs::copy_file(UE_TEST_CHILD, extended);
    ASSERT_TRUE(::SetEnvironmentVariableW(L"UE_CHILD_EXIT_CODE", L"7"));
    EXPECT_EQ(RunProgram(exe, true, "", kShowNormal), 7u);
    ASSERT_TRUE(::SetEnvironmentVariableW(L"UE_CHILD_EXIT_CODE", nullptr));
}

TEST(RunProgram, FailureToStartRaisesWithPathAndTheSystemsCode) {
    TempDir dir;
    auto message = [](const std::string& file) {
        try {
            RunProgram(file, false, "", kShowNormal);
        } catch (const OSError& e) {
            return std::string("OSError ") + e.what();
        } catch (const Error& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    fs::create_directory(dir.file("100%d%s"));
    for (const std::string& missing : {dir.file("Missing.exe"), dir.file("100%d%s\\Missing.exe")})
        EXPECT_EQ(message(missing), "运行程序失败" + missing + ". 错误代码 2");
    EXPECT_EQ(message(""), "运行程序失败. 错误代码 2");
    // A missing folder is code 3 on Windows (ERROR_PATH_NOT_FOUND).
    EXPECT_EQ(message(dir.file("NoDir\\Missing.exe")),
              "运行程序失败" + dir.file("NoDir\\Missing.exe") + ". 错误代码 3");
    // A NUL would cut the path to that of a program that exists.
    const std::string cut = CopyChild(dir.file("Main.exe"));
    // (The error's text ends at the NUL.)
    EXPECT_EQ(message(cut + std::string(1, '\0') + "x"), "运行程序失败" + cut);
    EXPECT_FALSE(fs::exists(cut + ".report"));
    const std::string textFile = dir.file("Text.exe");
    test::WriteFileBytes(textFile, "no program\n");
    EXPECT_EQ(message(textFile).rfind("运行程序失败" + textFile + ". 错误代码 ", 0), 0u);
}

}  // namespace
}  // namespace ue
