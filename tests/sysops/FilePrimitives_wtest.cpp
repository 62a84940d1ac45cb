// What the Windows file primitives do where Windows differs: a running
// program is in use (the file-in-use dialog, not the end of the run). The
// read-only rule holds on both platforms (FilePrimitives_ptest).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "sysops/FilePrimitives.h"
#include "tests/support/TempDir.h"
#include "tests/sysops/helpers/Win32Support.h"

namespace ue {
namespace {

using test::Child;
using test::CopyChild;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

TEST(FilePrimitivesWin32, RunningProgramIsInUseNotForbidden) {
    TempDir dir;
    const std::string program =
        CopyChild(dir.file("Main" + std::to_string(::GetCurrentProcessId()) + ".exe"));
    const std::string before = ReadFileBytes(program);
    const std::string source = dir.file("new.exe");
    WriteFileBytes(source, "new program");
    Child child(program);
    ASSERT_TRUE(test::AwaitReport(program));

    EXPECT_EQ(ReplaceBlocker(program), std::errc::device_or_resource_busy)
        << ReplaceBlocker(program).value();
    EXPECT_TRUE(IsFileInUse(program));
    EXPECT_EQ(CopyFileOver(source, program), std::errc::device_or_resource_busy);
    EXPECT_EQ(ReadFileBytes(program), before);
}

}  // namespace
}  // namespace ue
