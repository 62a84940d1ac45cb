// Self-registration of real DLLs under Windows (or Wine). Each library is
// copied under a name of its own, so that its module can be looked for after
// the call.
#include <gtest/gtest.h>

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
    void SetUp() override { ::SetEnvironmentVariableW(L"UE_REG_LOG", Wide(log_).c_str()); }
    void TearDown() override { ::SetEnvironmentVariableW(L"UE_REG_LOG", nullptr); }
    std::string Install(const char* built, const std::string& name) {
        const std::string path = dir_.file(name);
        fs::copy_file(built, path);
        return path;
    }
    std::string Calls() { return fs::exists(log_) ? test::ReadFileBytes(log_) : ""; }
    static bool Loaded(const std::string& path) {
        return ::GetModuleHandleW(Wide(path).c_str()) != nullptr;
    }
    // The message of the error `file` raises, "OSError <code>: " before it for that kind.
    static std::string ErrorOf(const std::string& file) {
        try {
            RegisterServerLibrary(file);
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
