// Queuing a replacement at restart through the system (MoveFileExW), read
// back from the registry value the start-up renamer works through. Under Wine
// the test prefix's HKLM is writable; on Windows the test must run as an
// administrator. Our pairs name files in the test's folder and are taken out
// of the value again at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "sysops/PendingRenames.h"
#include "tests/sysops/helpers/Win32Support.h"

namespace ue {
namespace {

using test::TempDir;

const wchar_t kKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kValue[] = L"PendingFileRenameOperations";

// The value's UTF-16 data as UTF-8 bytes (strings and NULs as stored); empty
// when there is none.
std::string ReadValue() {
    DWORD size = 0;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, kKey, kValue, RRF_RT_REG_MULTI_SZ, nullptr, nullptr,
                       &size) != ERROR_SUCCESS)
        return "";
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, kKey, kValue, RRF_RT_REG_MULTI_SZ, nullptr, data.data(),
                       &size) != ERROR_SUCCESS)
        return "";
    data.resize(size / sizeof(wchar_t));
    return Narrow(data);
}

// Takes the pairs whose source lies in `folder` out of the value again.
void RemovePairsFrom(const std::string& folder) {
    PendingList list = DecodePendingRenames(ReadValue());
    std::erase_if(list.pairs,
                  [&](const RenamePair& p) { return p.first.find(folder) != std::string::npos; });
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    if (list.pairs.empty()) {
        ::RegDeleteValueW(key, kValue);
    } else {
        const std::wstring data = Wide(EncodePendingRenames(list.pairs));
        ::RegSetValueExW(key, kValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                         static_cast<DWORD>(data.size() * sizeof(wchar_t)));
    }
    ::RegCloseKey(key);
}

class QueueFileReplacementTest : public ::testing::Test {
protected:
    ~QueueFileReplacementTest() override { RemovePairsFrom(dir_.path()); }
    TempDir dir_;
};

TEST_F(QueueFileReplacementTest, ThePairStandsInTheValueEveryTimeItIsQueued) {
    const std::string source = dir_.file("update\\主程序.dll");
    const std::string target = dir_.file("主程序.dll");
    std::filesystem::create_directories(dir_.file("update"));
    test::WriteFileBytes(source, "new");
    test::WriteFileBytes(target, "old");

    ASSERT_FALSE(QueueFileReplacement(source, target));
    ReplaceFileAtRestart(source, target);  // twice without a restart: twice in the list

    const std::string value = ReadValue();
    ASSERT_GE(value.size(), 2u);
    EXPECT_EQ(value.substr(value.size() - 2), std::string(2, '\0'));  // closed
    const PendingList list = DecodePendingRenames(value);
    EXPECT_FALSE(list.dangling);
    const RenamePair ours{"\\??\\" + source, "!\\??\\" + target};
    EXPECT_EQ(std::count(list.pairs.begin(), list.pairs.end(), ours), 2) << value;
    EXPECT_EQ(test::ReadFileBytes(target), "old");  // nothing moves before the restart
}

TEST_F(QueueFileReplacementTest, PathsTheListCannotHoldAreRefusedWithoutATrace) {
    const std::string before = ReadValue();
    const std::string source = dir_.file("a");
    for (const auto& [from, to] : {std::pair<std::string, std::string>{"", source},
                                   {source, ""},
                                   {source + std::string(1, '\0') + "x", dir_.file("b")},
                                   {source, "\xFF\xFE"}}) {
        EXPECT_EQ(QueueFileReplacement(from, to), std::errc::invalid_argument);
        ReplaceFileAtRestart(from, to);
    }
    EXPECT_EQ(ReadValue(), before);
}

}  // namespace
}  // namespace ue
