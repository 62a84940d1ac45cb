#include <gtest/gtest.h>

#include "sysops/Messages.h"
#include "sysops/ProcessControl.h"

namespace ue {
namespace {

TEST(Messages, RunFailureJoinsPathAndCodeWithoutFormatting) {
    EXPECT_EQ(RunFailureMessage("C:\\App\\Main.exe", 2), "运行程序失败C:\\App\\Main.exe. 错误代码 2");
    EXPECT_EQ(RunFailureMessage("/opt/100%d%s/x", 13), "运行程序失败/opt/100%d%s/x. 错误代码 13");
    EXPECT_EQ(RunFailureMessage("", 4294967295u), "运行程序失败. 错误代码 4294967295");
}

TEST(Messages, PlatformTextLosesTrailingControlsBlanksAndStops) {
    EXPECT_EQ(TrimPlatformText("The specified module could not be found.\r\n"),
              "The specified module could not be found");
    EXPECT_EQ(TrimPlatformText("a. . \t.\x01"), "a");
    EXPECT_EQ(TrimPlatformText("No. 5 failed"), "No. 5 failed");
    EXPECT_EQ(TrimPlatformText(" .\r\n"), "");
    EXPECT_EQ(TrimPlatformText(""), "");
    // Bytes above 0x7F are text, also when char is signed.
    EXPECT_EQ(TrimPlatformText("\xD5\xD2\xB2\xBB\xB5\xBD\xA1\xA3\r\n"), "\xD5\xD2\xB2\xBB\xB5\xBD\xA1\xA3");
}

TEST(Messages, RegistrationTexts) {
    EXPECT_EQ(LoadFailureMessage("Access is denied", "C:\\App\\X%s.dll"),
              "Access is denied: C:\\App\\X%s.dll");
    EXPECT_EQ(EntryFailureMessage("C:\\App\\X.dll"), "DllRegisterServer in C:\\App\\X.dll failed.");
}

TEST(Messages, OperatingSystemError) {
    OSError e = MakeOSError(127, "The specified procedure could not be found");
    EXPECT_EQ(e.Code(), 127u);
    EXPECT_STREQ(e.what(), "System Error.  Code: 127.\r\nThe specified procedure could not be found");
    EXPECT_EQ(OSErrorMessage(0, "ignored"), "A call to an OS function failed");
    EXPECT_EQ(MakeOSError(0, "").Code(), 0u);
    // The code is printed as a signed 32-bit number, as "%d" does.
    EXPECT_EQ(OSErrorMessage(0x80070005u, "x"), "System Error.  Code: -2147024891.\r\nx");
}

}  // namespace
}  // namespace ue
