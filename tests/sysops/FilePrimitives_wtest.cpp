// What the Windows file primitives do where Windows differs: a running
// program is in use (the file-in-use dialog, not the end of the run), and a
// read-only file is replaced as the shell's copy replaces it, its copy not
// read-only, so that no installed file refuses every later update.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "core/WinText.h"
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

DWORD Attributes(const std::string& path) { return ::GetFileAttributesW(Wide(path).c_str()); }
bool ReadOnly(const std::string& path) { return (Attributes(path) & FILE_ATTRIBUTE_READONLY) != 0; }
void SetReadOnly(const std::string& path) {
    ASSERT_TRUE(::SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_READONLY));
}

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

TEST(FilePrimitivesWin32, ReadOnlyFilesAreReplacedAndTheirCopiesAreNotReadOnly) {
    TempDir dir;
    const std::string source = dir.file("new.dll"), target = dir.file("installed.dll");
    WriteFileBytes(source, "new");
    WriteFileBytes(target, "old");
    SetReadOnly(source);
    SetReadOnly(target);

    // A read-only file is no reason for the in-use dialog or for ending the run.
    EXPECT_FALSE(ReplaceBlocker(target)) << ReplaceBlocker(target).value();
    EXPECT_FALSE(IsFileInUse(target));
    ASSERT_FALSE(CopyFileOver(source, target));
    EXPECT_EQ(ReadFileBytes(target), "new");
    EXPECT_FALSE(ReadOnly(target));
    EXPECT_TRUE(ReadOnly(source));
    // And the copy made afresh is not read-only either.
    const std::string fresh = dir.file("fresh.dll");
    ASSERT_FALSE(CopyFileOver(source, fresh));
    EXPECT_FALSE(ReadOnly(fresh));
    // The next update of the installed copy goes through as well.
    WriteFileBytes(dir.file("newer.dll"), "newer");
    ASSERT_FALSE(CopyFileOver(dir.file("newer.dll"), target));
    EXPECT_EQ(ReadFileBytes(target), "newer");

    // A read-only target that another program holds stays in use, and keeps
    // its attribute and content.
    SetReadOnly(target);
    {
        const HANDLE held = ::CreateFileW(Wide(target).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        EXPECT_EQ(ReplaceBlocker(target), std::errc::device_or_resource_busy);
        EXPECT_EQ(CopyFileOver(source, target), std::errc::device_or_resource_busy);
        ::CloseHandle(held);
    }
    EXPECT_TRUE(ReadOnly(target));
    EXPECT_EQ(ReadFileBytes(target), "newer");
    ::SetFileAttributesW(Wide(source).c_str(), FILE_ATTRIBUTE_NORMAL);
    ::SetFileAttributesW(Wide(target).c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
}  // namespace ue
