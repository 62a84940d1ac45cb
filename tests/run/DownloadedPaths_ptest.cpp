#include <gtest/gtest.h>

#include <string>

#include "core/Errors.h"
#include "run/DownloadedPaths.h"

namespace ue {
namespace {

// What CheckDownloadedPaths says of a row; empty when it takes the row.
std::string Refusal(const std::string& fileName, const std::string& updatePath) {
    try {
        CheckDownloadedPaths(fileName, updatePath);
        return {};
    } catch (const Error& e) {
        return e.what();
    }
}

// One database serves both platforms: a name Windows reads as a drive, a
// share, a device or a data stream, or trims, is refused on both.
TEST(DownloadedPaths, WindowsFormsOfEscapeAreRefusedAndPlainNamesTaken) {
    struct Case {
        const char* fileName;
        const char* updatePath;
        const char* refusal;  // a part of the message; empty: taken
    };
    const Case cases[] = {
        {"a.dll", "", ""},
        {"Tool.Exe", "\\lib", ""},
        {"readme.txt", "/lib/deep/", ""},
        {"a.dll", "lib\\deep\\", ""},
        {"a.dll", "data\\.\\x", ""},
        {"my file v1.2.dll", "my data\\sub dir", ""},
        // 主程序.exe in 数据
        {"\xE4\xB8\xBB\xE7\xA8\x8B\xE5\xBA\x8F.exe", "\xE6\x95\xB0\xE6\x8D\xAE", ""},
        {"console.dll", "com10\\lpt\\nul_\\auxiliary\\CONFIG", ""},
        {"", "", ""},
        // Drives, shares and device paths.
        {"a.dll", "C:", "leads outside"},
        {"a.dll", "c:\\x", "leads outside"},
        {"a.dll", "C:x", "leads outside"},
        {"a.dll", "\\\\server\\share", "leads outside"},
        {"a.dll", "//server/share", "leads outside"},
        {"a.dll", "\\\\?\\C:\\x", "leads outside"},
        {"a.dll", "\\\\.\\NUL", "leads outside"},
        {"a.dll", "lib\\..\\..", "leads outside"},
        {"C:a.dll", "", "holds ':'"},
        // Alternate data streams.
        {"a.dll:evil", "", "holds ':'"},
        {"a.dll::$DATA", "", "holds ':'"},
        {"a.dll", "lib:evil\\x", "the folder 'lib:evil' holds ':'"},
        // Devices, in any letter case, with an extension, with blanks.
        {"CON", "", "names the device CON"},
        {"nul.txt", "", "names the device NUL"},
        {"COM1.dll", "", "names the device COM1"},
        {"lpt9", "", "names the device LPT9"},
        {"Aux .tar.gz", "", "names the device AUX"},
        {"prn", "", "names the device PRN"},
        {"COM\xC2\xB9", "", "names the device COM\xC2\xB9"},
        {"a.dll", "lib\\nul\\x", "the folder 'nul' names the device NUL"},
        {"a.dll", "/Com3.d/", "the folder 'Com3.d' names the device COM3"},
        // Trailing dots and blanks, which Windows drops.
        {"a.dll.", "", "ends with a dot or blank"},
        {"a.dll ", "", "ends with a dot or blank"},
        {"nul.", "", "ends with a dot or blank"},
        {"a.dll", "lib. \\x", "the folder 'lib. ' ends with a dot or blank"},
        {"a.dll", "lib.", "the folder 'lib.' ends with a dot or blank"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("FileName '") + c.fileName + "' in '" + c.updatePath + "'");
        const std::string refusal = Refusal(c.fileName, c.updatePath);
        if (*c.refusal == '\0') {
            EXPECT_EQ(refusal, "");
        } else {
            EXPECT_NE(refusal.find(c.refusal), std::string::npos) << refusal;
        }
    }
}

// The suite's programs in Update.ini are started and copied under the same
// rules as a row's UpdatePath and FileName: no drive, share, data stream or
// device reaches the start or the refresh.
TEST(DownloadedPaths, ProgramNamesTakeTheSameWindowsRules) {
    struct Case {
        const char* name;
        const char* refusal;  // a part of the message; empty: taken
    };
    const Case cases[] = {
        {"Main.exe", ""},
        {"bin\\Main.exe", ""},
        {"bin/tools/Main v1.2.exe", ""},
        {"", ""},
        {"C:\\Suite\\Main.exe", "Update.ini: ExeFile 'C:\\Suite\\Main.exe' leads outside"},
        {"C:Main.exe", "leads outside"},
        {"\\\\server\\share\\Main.exe", "leads outside"},
        {"//server/share/Main.exe", "leads outside"},
        {"..\\Main.exe", "leads outside"},
        {"Main.exe:stream", "Update.ini: ExeFile 'Main.exe:stream': 'Main.exe:stream' holds ':'"},
        {"bin:s\\Main.exe", "'bin:s' holds ':'"},
        {"Main.exe.", "ends with a dot or blank"},
        {"bin \\Main.exe", "'bin ' ends with a dot or blank"},
        {"NUL.exe", "names the device NUL"},
        {"lpt1\\Main.exe", "names the device LPT1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("ExeFile '") + c.name + "'");
        std::string refusal;
        try {
            CheckProgramName("ExeFile", c.name);
        } catch (const Error& e) {
            refusal = e.what();
        }
        if (*c.refusal == '\0') {
            EXPECT_EQ(refusal, "");
        } else {
            EXPECT_NE(refusal.find(c.refusal), std::string::npos) << refusal;
        }
    }
}

}  // namespace
}  // namespace ue
