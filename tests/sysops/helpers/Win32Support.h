// Small helpers shared by the Windows suites of this folder.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "core/WinText.h"
#include "tests/support/TempDir.h"

namespace ue::test {

// Polls `done` until it holds or `bound` has passed; false on time-out.
template <typename Done>
bool WaitUntil(Done done, std::chrono::milliseconds bound = std::chrono::seconds(60)) {
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

// The report once it can be read whole: the child renames it into place, and
// the new name may show a moment before the file can be opened (seen on Wine).
inline std::optional<Report> AwaitReport(const std::string& exe) {
    Report r;
    const bool read = WaitUntil([&] {
        std::ifstream in(exe + ".report", std::ios::binary);
        std::string pid;
        if (!in || !std::getline(in, pid) || pid.empty()) return false;
        r.pid = static_cast<DWORD>(std::stoul(pid));
        std::getline(in, r.commandLine);
        return true;
    });
    if (!read) return std::nullopt;
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
        std::wstring line = L"\"" + Wide(exe) + L"\"";
        if (!args.empty()) line += L" " + Wide(args);
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (::CreateProcessW(Wide(exe).c_str(), line.data(), nullptr, nullptr, FALSE, 0,
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
    std::optional<DWORD> Ended(std::chrono::milliseconds bound = std::chrono::seconds(60)) const {
        const DWORD wait = static_cast<DWORD>(bound.count());
        if (!process_ || ::WaitForSingleObject(process_, wait) != WAIT_OBJECT_0) {
            return std::nullopt;
        }
        DWORD code = 0;
        ::GetExitCodeProcess(process_, &code);
        return code;
    }

private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

}  // namespace ue::test
