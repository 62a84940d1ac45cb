// The suite's programs as the run meets them: who holds a file, and stopping
// a program by asking it to close first. Each program is a copy of a test
// program under a name no other process has, in a folder of the test's own,
// so nothing else is touched.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "sysops/ProcessControl.h"
#include "tests/support/TempDir.h"

namespace ue {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

template <typename Done>
bool WaitFor(Done done, Clock::duration bound = 10s) {
    const auto deadline = Clock::now() + bound;
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::string UniqueName() {
    static int counter = 0;
    const auto ticks = Clock::now().time_since_epoch().count() % 1000000000;
    return "Closer" + std::to_string(ticks) + "_" + std::to_string(++counter) + ".exe";
}

// A running program holds its own program file, on both platforms: the
// dialog can name it. Windows asks the Restart Manager, which under Wine
// lists nothing; the call must then give an empty list, not fail.
TEST(ProgramsHoldingFile, NamesTheProgramRunningFromAFileButNeverOurselves) {
    test::TempDir install;
    const std::string name = UniqueName();
    const std::string exe = install.file(name);
    fs::copy_file(fs::u8path(UE_TEST_CHILD), fs::u8path(exe));
    RunProgram(exe, false, "", kShowNormal);
    ASSERT_TRUE(WaitFor([&] { return fs::exists(exe + ".report"); }));
    const std::uint32_t pid = FindProcessIdByName(name);
    ASSERT_NE(pid, 0u);

    const std::vector<RunningProgram> holders = ProgramsHoldingFile(exe);
    const std::vector<RunningProgram> none = ProgramsHoldingFile(exe, 0);
    KillProcessByName(name, install.path(), 0ms);
    EXPECT_TRUE(WaitFor([&] { return FindProcessIdByName(name) == 0; }, 5s));
    EXPECT_TRUE(none.empty());
#ifdef _WIN32
    // Windows lists the child, Wine nothing.
    for (const RunningProgram& program : holders) EXPECT_EQ(program.pid, pid) << program.name;
#else
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders[0].pid, pid);
    EXPECT_EQ(holders[0].name, name);
    EXPECT_EQ(DescribeProgram(holders[0]), name + " (pid " + std::to_string(pid) + ")");
#endif
    EXPECT_TRUE(WaitFor([&] { return ProgramsHoldingFile(exe).empty(); }, 5s)) << "ended, still listed";
    EXPECT_TRUE(ProgramsHoldingFile(install.file("missing.dll")).empty());
}

TEST(KillProcessByName, AsksToCloseFirstAndTerminatesWhatIgnoresTheRequestAfterTheWait) {
    constexpr auto bound = 1500ms;
    struct Row {
        const char* mode;
        bool closes;
    };
    for (const Row row : {Row{"close", true}, Row{"ignore", false}}) {
        SCOPED_TRACE(row.mode);
        test::TempDir install;
        const std::string name = UniqueName();
        const std::string exe = install.file(name);
        fs::copy_file(fs::u8path(UE_TEST_CLOSER), fs::u8path(exe));
        RunProgram(exe, false, row.mode, kShowNormal);
        ASSERT_TRUE(WaitFor([&] { return fs::exists(exe + ".ready") || fs::exists(exe + ".nowindow"); }));
        if (fs::exists(exe + ".nowindow")) GTEST_SKIP() << "no display: the program cannot make a window";
        ASSERT_NE(FindProcessIdByName(name), 0u);

        int pumped = 0;
        const auto start = Clock::now();
        KillProcessByName(name, install.path(), bound, [&] { ++pumped; });
        const auto took = Clock::now() - start;

        EXPECT_TRUE(WaitFor([&] { return FindProcessIdByName(name) == 0; }, 5s)) << "still running";
        EXPECT_EQ(fs::exists(exe + ".closed"), row.closes) << "closed, not killed";
        if (row.closes) {
            EXPECT_LT(took, bound) << "waited on although the program had ended";
        } else {
            EXPECT_GE(took, bound) << "terminated before the wait was over";
            EXPECT_LT(took, bound + 2s) << "the wait was not bounded";
            EXPECT_GT(pumped, 5) << "the window was not kept answering during the wait";
        }
    }
}

}  // namespace
}  // namespace ue
