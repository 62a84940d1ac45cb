// Self-registration of real DLLs under Windows (or Wine). Each library is
// copied under a name of its own, so that its module can be looked for after
// the call. The test program does not take the child's option: the helper,
// which does, is the child.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "core/Errors.h"
#include "sysops/Registration.h"
#include "tests/sysops/helpers/Win32Support.h"

namespace ue {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

class RegisterServerLibraryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { SetRegistrationProgram(UE_TEST_HELPER); }
    static void TearDownTestSuite() { SetRegistrationProgram(""); }
    void SetUp() override { ::SetEnvironmentVariableW(L"UE_REG_LOG", Wide(log_).c_str()); }
    void TearDown() override { ::SetEnvironmentVariableW(L"UE_REG_LOG", nullptr); }
    std::string Install(const char* built, const std::string& name) {
        const std::string path = dir_.file(name);
        EXPECT_TRUE(::CopyFileW(Wide(built).c_str(), Wide(path).c_str(), FALSE)) << path;
        return path;
    }
    std::string Calls() { return fs::exists(log_) ? test::ReadFileBytes(log_) : ""; }
    static bool Loaded(const std::string& path) {
        return ::GetModuleHandleW(Wide(path).c_str()) != nullptr;
    }
    // The message of the error `file` raises, "OSError <code>: " before it for that kind.
    static std::string ErrorOf(const std::string& file,
                               std::chrono::milliseconds bound = std::chrono::seconds(60)) {
        try {
            RegisterServerLibraryWithin(file, bound);
        } catch (const OSError& e) {
            return "OSError " + std::to_string(e.Code()) + ": " + e.what();
        } catch (const Error& e) {
            return e.what();
        }
        return "no error";
    }

    TempDir dir_;
    std::string log_ = dir_.file("calls.log");
};

TEST_F(RegisterServerLibraryTest, StatusDecidesAndTheLibraryIsAlwaysUnloaded) {
    const std::string zero = Install(UE_REG_OK, "Reg Zero.dll");
    const std::string one = Install(UE_REG_ONE, "RegOne.dll");
    const std::string fail = Install(UE_REG_FAIL, "100%s Fail.dll");
    EXPECT_EQ(ErrorOf(zero), "no error");
    EXPECT_EQ(ErrorOf(one), "no error");
    EXPECT_EQ(ErrorOf(fail), "DllRegisterServer in " + fail + " failed.");
    EXPECT_EQ(Calls(), "0\n1\n-2147483648\n");
    for (const auto& lib : {zero, one, fail}) EXPECT_FALSE(Loaded(lib)) << lib;
}

// Whatever the entry does, the caller carries on soon, with an error naming
// the file when the entry does not return its status. The program itself is
// the child as well as the helper, and the path goes through its command
// line intact.
TEST_F(RegisterServerLibraryTest, EntryThatDoesNotReturnFailsWithoutHarmingTheCaller) {
    using std::chrono::milliseconds;
    struct Case {
        const char* built;
        const char* name;
        milliseconds bound;
        std::string failure;  // after "DllRegisterServer in <file>"; empty: none
        std::string calls;
        const char* program = UE_TEST_HELPER;
    };
    const Case cases[] = {
        {UE_REG_OK, "注册 a;b.dll", milliseconds(60000), "", "0\n"},
        {UE_REG_CRASH, "Crash.dll", milliseconds(60000),
         " failed: it crashed (exception 0xC0000005).", "crash\n"},
        {UE_REG_HANG, "Hang.dll", milliseconds(3000), " failed: it did not return within 3 seconds.",
         "crash\n"},
        // exit() is not success: the entry never returned its status.
        {UE_REG_EXIT, "Exit.dll", milliseconds(60000),
         " failed: it ended its process with exit code 0.", "crash\n"},
#ifdef UE_UPDATEEXE
        {UE_REG_OK, "注册 a;b.dll", milliseconds(60000), "", "0\n", UE_UPDATEEXE},
        {UE_REG_CRASH, "Crash.dll", milliseconds(60000),
         " failed: it crashed (exception 0xC0000005).", "crash\n", UE_UPDATEEXE},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " run by " + c.program);
        SetRegistrationProgram(c.program);
        const std::string lib = Install(c.built, c.name);
        const auto start = std::chrono::steady_clock::now();
        const std::string message = ErrorOf(lib, c.bound);
        EXPECT_LT(std::chrono::steady_clock::now() - start, c.bound + std::chrono::seconds(10));
        EXPECT_EQ(message,
                  c.failure.empty() ? "no error" : "DllRegisterServer in " + lib + c.failure);
        EXPECT_EQ(Calls(), c.calls);
        EXPECT_FALSE(Loaded(lib));
        ::DeleteFileW(Wide(log_).c_str());
    }
    SetRegistrationProgram(UE_TEST_HELPER);
}

TEST_F(RegisterServerLibraryTest, MissingEntryRaisesTheOperatingSystemError) {
    const std::string none = Install(UE_REG_NONE, "None.dll");
    const std::string message = ErrorOf(none);
    const std::string head = "OSError 127: System Error.  Code: 127.\r\n";
    ASSERT_EQ(message.rfind(head, 0), 0u) << message;
    const std::string text = message.substr(head.size());
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '.');
    EXPECT_FALSE(Loaded(none));
    EXPECT_EQ(Calls(), "");
}

TEST_F(RegisterServerLibraryTest, FileThatIsNoLibraryRaisesLoadFailure) {
    const std::string textFile = dir_.file("Text.dll");
    test::WriteFileBytes(textFile, "not a library\n");
    for (const std::string& path :
         {dir_.file("Missing.dll"), textFile, dir_.path(), std::string()}) {
        const std::string message = ErrorOf(path);
        const std::string tail = ": " + path;
        ASSERT_TRUE(message.size() > tail.size() && message.ends_with(tail)) << message;
        const std::string platform = message.substr(0, message.size() - tail.size());
        EXPECT_EQ(platform.find("OSError"), std::string::npos) << message;
        const unsigned char last = static_cast<unsigned char>(platform.back());
        EXPECT_TRUE(last > 32 && last != '.') << message;
    }
    EXPECT_EQ(Calls(), "");
}

}  // namespace
}  // namespace ue
