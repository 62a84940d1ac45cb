// Small helpers shared by the Windows suites of this folder.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "core/WinText.h"
#include "tests/support/TempDir.h"

namespace ue::test {

// Polls `done` until it holds or `bound` has passed; false on time-out.
template <typename Done>
bool WaitUntil(Done done, std::chrono::milliseconds bound = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// What a copy of the test child wrote about itself.
struct Report {
    DWORD pid = 0;
    std::string commandLine;
};

inline std::optional<Report> AwaitReport(const std::string& exe) {
    const std::string path = exe + ".report";
    if (!WaitUntil([&] { return std::filesystem::exists(path); })) return std::nullopt;
    const std::string all = ReadFileBytes(path);
    const auto eol = all.find('\n');
    Report r;
    r.pid = static_cast<DWORD>(std::stoul(all.substr(0, eol)));
    r.commandLine = all.substr(eol + 1);
    if (!r.commandLine.empty() && r.commandLine.back() == '\n') r.commandLine.pop_back();
    return r;
}

// Copies the test child to `path` (making its folders).
inline std::string CopyChild(const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::filesystem::copy_file(UE_TEST_CHILD, path,
                               std::filesystem::copy_options::overwrite_existing);
    return path;
}

// A program started by the test itself; stopped when it goes out of scope.
class Child {
public:
    explicit Child(const std::string& exe, const std::string& args = "") {
        std::wstring line = L"\"" + text::Wide(exe) + L"\"" + (args.empty() ? L"" : L" " + text::Wide(args));
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (::CreateProcessW(text::Wide(exe).c_str(), line.data(), nullptr, nullptr, FALSE, 0,
                             nullptr, nullptr, &si, &pi)) {
            ::CloseHandle(pi.hThread);
            process_ = pi.hProcess;
            id_ = pi.dwProcessId;
        }
        EXPECT_NE(process_, nullptr) << exe << ": " << ::GetLastError();
    }
    ~Child() {
        if (!process_) return;
        if (Alive()) {
            ::TerminateProcess(process_, 99);
            ::WaitForSingleObject(process_, 10000);
        }
        ::CloseHandle(process_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    DWORD id() const { return id_; }
    HANDLE handle() const { return process_; }
    bool Alive() const { return process_ && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }
    // Waits for its end; its exit code, or nothing when it is still running.
    std::optional<DWORD> Ended(std::chrono::milliseconds bound = std::chrono::seconds(10)) const {
        if (!process_ || ::WaitForSingleObject(process_, static_cast<DWORD>(bound.count())) != WAIT_OBJECT_0)
            return std::nullopt;
        DWORD code = 0;
        ::GetExitCodeProcess(process_, &code);
        return code;
    }

private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

}  // namespace ue::test
