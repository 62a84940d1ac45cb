// Process control on Windows.
//
// The process list is a toolhelp snapshot of the processes alone (the heap,
// module and thread lists of every process are never walked, and taking them
// would fail for processes we may not read). A process is listed under the
// file name of its executable, compared by ImageNameMatches.
//
// KillProcessByName terminates every matching process whose executable lies
// in the installation or a folder below it: the folder of the image path that
// QueryFullProcessImageNameW gives, resolved to its final path, must lie in
// the installation's final path (links and junctions resolved, letter case
// ignored). A process we may not open or query (another user's, a protected
// one) is passed over and the others are still stopped; the caller itself is
// never stopped. The checks, the request to close and the termination go
// through one process handle, held to the end, so an id that is freed and
// reused meanwhile is never hit. The request is WM_CLOSE, posted to each
// visible top-level window of the process, as the task manager's "End task"
// does; a program asked so may save its work, or ask its user. One without
// such a window cannot be asked and is terminated at once.
//
// ProgramsHoldingFile asks the Restart Manager, which names a program by its
// application name where it has one (a service's display name, a window
// title), else by its image file name.
//
// The second way of ending a program, the console debugger ntsd, is left out:
// it is not part of any Windows since Vista, so "ntsd" would at best not be
// found, and at worst be a program of that name planted in the search path
// and run with the updater's administrator rights.
//
// RunProgram starts the program with CreateProcessW. Its command line is the
// quoted path followed by the parameters, so that the program finds itself
// as its first argument, as on Linux. No handles are inherited; the show mode
// goes to the program's first window. There is no length limit of our own: a
// program whose path is MAX_PATH long or longer, which CreateProcessW cannot
// start, is started by its short (8.3) path when the volume has short names.
// A failure carries the system's error code (2 for a missing file, 3 for a
// missing folder, 206 for a long path without a short form).

#include "sysops/ProcessControl.h"

#include <windows.h>
// after windows.h
#include <restartmanager.h>
#include <tlhelp32.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "core/Errors.h"
#include "core/FileIO.h"
#include "core/WinText.h"
#include "sysops/ProcessControl_win32.h"

namespace ue {

namespace win32 {

namespace {

class Handle {
public:
    explicit Handle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~Handle() {
        if (h_) ::CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }

private:
    HANDLE h_;
};

// Calls `visit` for each entry of a process snapshot until it returns true.
template <typename Visit>
void ForEachProcess(Visit visit) {
    Handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
         more = ::Process32NextW(snapshot.get(), &entry)) {
        entry.szExeFile[MAX_PATH - 1] = L'\0';
        if (visit(entry)) return;
    }
}

bool Lists(const PROCESSENTRY32W& entry, const std::string& imageName) {
    return ImageNameMatches(Narrow(entry.szExeFile), imageName);
}

std::wstring WithoutTrailingSeparators(std::wstring path) {
    while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path;
}

}  // namespace

std::optional<std::wstring> FinalPath(const std::wstring& path) {
    if (path.empty() || path.find(L'\0') != std::wstring::npos) return std::nullopt;
    // No access asked for: the name is all we need, also of a file in use.
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    Handle file(::CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) return std::nullopt;
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        DWORD n = ::GetFinalPathNameByHandleW(file.get(), buffer.data(),
                                              static_cast<DWORD>(buffer.size()),
                                              FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) return std::nullopt;
        if (n < buffer.size()) return std::wstring(buffer.data(), n);
        buffer.resize(n + 1);
    }
}

bool PathIsWithin(const std::wstring& path, const std::wstring& folder) {
    const std::wstring p = WithoutTrailingSeparators(path);
    const std::wstring f = WithoutTrailingSeparators(folder);
    if (f.empty() || p.size() < f.size()) return false;
    if (p.size() > f.size() && p[f.size()] != L'\\' && f.back() != L'\\') return false;
    return ::CompareStringOrdinal(p.c_str(), static_cast<int>(f.size()), f.c_str(),
                                  static_cast<int>(f.size()), TRUE) == CSTR_EQUAL;
}

std::optional<std::wstring> ImagePathOf(void* process) {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (int tries = 0; tries < 3; ++tries) {
        DWORD size = static_cast<DWORD>(buffer.size());
        if (::QueryFullProcessImageNameW(static_cast<HANDLE>(process), 0, buffer.data(), &size)) {
            return std::wstring(buffer.data(), size);
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::nullopt;
        buffer.resize(buffer.size() * 8);  // the longest path is 32767 characters
    }
    return std::nullopt;
}

}  // namespace win32

std::uint32_t FindProcessIdByName(const std::string& imageName) {
    std::uint32_t found = 0;
    win32::ForEachProcess([&](const PROCESSENTRY32W& entry) {
        if (!win32::Lists(entry, imageName)) return false;
        found = entry.th32ProcessID;
        return true;
    });
    return found;
}

namespace {

struct CloseRequest {
    const std::vector<DWORD>* pids;
    std::vector<bool>* asked;
};

BOOL CALLBACK PostClose(HWND window, LPARAM param) {
    const auto& request = *reinterpret_cast<CloseRequest*>(param);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    const auto found = std::find(request.pids->begin(), request.pids->end(), pid);
    if (found != request.pids->end() && ::IsWindowVisible(window) &&
        ::PostMessageW(window, WM_CLOSE, 0, 0)) {
        (*request.asked)[static_cast<std::size_t>(found - request.pids->begin())] = true;
    }
    return TRUE;
}

bool Ended(HANDLE process) { return ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }

}  // namespace

void KillProcessByName(const std::string& imageName, const std::string& installDir,
                       std::chrono::milliseconds closeWait,
                       const std::function<void()>& whileWaiting) {
    std::optional<std::wstring> install;
    try {
        install = win32::FinalPath(Wide(installDir));
    } catch (const Error&) {
        return;  // not a path this system can hold
    }
    if (!install) return;  // no installation: nothing runs from it
    const DWORD self = ::GetCurrentProcessId();
    std::vector<DWORD> matches;
    win32::ForEachProcess([&](const PROCESSENTRY32W& entry) {
        const DWORD pid = entry.th32ProcessID;
        if (pid != self && pid != 0 && win32::Lists(entry, imageName)) matches.push_back(pid);
        return false;
    });
    // Held open from here on: their ids cannot pass to another process.
    std::vector<std::unique_ptr<win32::Handle>> processes;
    std::vector<DWORD> pids;
    for (DWORD pid : matches) {
        auto process = std::make_unique<win32::Handle>(::OpenProcess(
            PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
        if (!*process) continue;  // gone, or not ours to stop
        // The snapshot's name is checked again on the image itself: the id
        // may belong to another program by now.
        const auto image = win32::ImagePathOf(process->get());
        if (!image) continue;
        const auto slash = image->find_last_of(L"\\/");
        if (slash == std::wstring::npos) continue;
        if (!ImageNameMatches(Narrow(image->substr(slash + 1)), imageName)) continue;
        const auto folder = win32::FinalPath(image->substr(0, slash + 1));
        if (!folder || !win32::PathIsWithin(*folder, *install)) continue;
        processes.push_back(std::move(process));
        pids.push_back(pid);
    }
    if (processes.empty()) return;

    std::vector<bool> asked(pids.size(), false);
    CloseRequest request{&pids, &asked};
    ::EnumWindows(PostClose, reinterpret_cast<LPARAM>(&request));
    const auto waiting = [&] {
        for (std::size_t i = 0; i < processes.size(); ++i) {
            if (asked[i] && !Ended(processes[i]->get())) return true;
        }
        return false;
    };
    const auto deadline = std::chrono::steady_clock::now() + closeWait;
    while (waiting()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        if (whileWaiting) whileWaiting();
        ::Sleep(static_cast<DWORD>(std::min(left, kClosePoll).count()));
    }
    for (const auto& process : processes) {
        if (!Ended(process->get())) ::TerminateProcess(process->get(), 0);
    }
}

namespace {

// The image file name of the process `pid`; empty when it cannot be read.
std::string ImageNameOf(DWORD pid) {
    win32::Handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) return {};
    const auto image = win32::ImagePathOf(process.get());
    if (!image) return {};
    return Narrow(image->substr(image->find_last_of(L"\\/") + 1));
}

class RestartManagerSession {
public:
    RestartManagerSession() {
        WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
        if (::RmStartSession(&handle_, 0, key) != ERROR_SUCCESS) handle_ = kNone;
    }
    ~RestartManagerSession() {
        if (handle_ != kNone) ::RmEndSession(handle_);
    }
    RestartManagerSession(const RestartManagerSession&) = delete;
    RestartManagerSession& operator=(const RestartManagerSession&) = delete;
    explicit operator bool() const { return handle_ != kNone; }
    DWORD get() const { return handle_; }

private:
    static constexpr DWORD kNone = 0xFFFFFFFF;
    DWORD handle_ = kNone;
};

}  // namespace

std::vector<RunningProgram> ProgramsHoldingFile(const std::string& path, std::size_t limit) {
    std::vector<RunningProgram> programs;
    try {
        if (limit == 0 || path.empty() || path.find('\0') != std::string::npos) return programs;
        RestartManagerSession session;
        if (!session) return programs;
        std::wstring wide = Wide(path);
        LPCWSTR files[] = {wide.c_str()};
        if (::RmRegisterResources(session.get(), 1, files, 0, nullptr, 0, nullptr) != ERROR_SUCCESS) {
            return programs;
        }
        std::vector<RM_PROCESS_INFO> found;
        DWORD status = ERROR_MORE_DATA;
        for (int tries = 0; tries < 3 && status == ERROR_MORE_DATA; ++tries) {
            UINT needed = 0;
            UINT count = static_cast<UINT>(found.size());
            DWORD reasons = 0;
            status = ::RmGetList(session.get(), &needed, &count, found.empty() ? nullptr : found.data(),
                                 &reasons);
            if (status == ERROR_SUCCESS) found.resize(std::min<std::size_t>(count, found.size()));
            else if (status == ERROR_MORE_DATA) found.resize(needed + 2);  // more may start meanwhile
        }
        if (status != ERROR_SUCCESS) return programs;
        const DWORD self = ::GetCurrentProcessId();
        for (const RM_PROCESS_INFO& info : found) {
            if (programs.size() >= limit) break;
            const DWORD pid = info.Process.dwProcessId;
            if (pid == self || pid == 0) continue;
            std::wstring app(info.strAppName, wcsnlen(info.strAppName, CCH_RM_MAX_APP_NAME));
            std::string name = app.empty() ? ImageNameOf(pid) : Narrow(app);
            if (name.empty()) name.push_back('?');  // known by its id alone
            programs.push_back({pid, std::move(name)});
        }
    } catch (const std::exception&) {
        // A help only: what was found so far stands.
    }
    return programs;
}

namespace {

// The path CreateProcessW can start: the path itself when shorter than
// MAX_PATH, else its short form if that is.
std::wstring StartablePath(const std::string& file) {
    const std::wstring path = Wide(file);
    if (path.size() < MAX_PATH) return path;
    const std::wstring extended = fileio::WidePath(file);
    std::wstring shortPath(extended.size() + 1, L'\0');
    const DWORD n = ::GetShortPathNameW(extended.c_str(), shortPath.data(),
                                        static_cast<DWORD>(shortPath.size()));
    if (n == 0 || n >= shortPath.size()) return path;
    shortPath.resize(n);
    // Drop the extended-length prefix again: CreateProcessW wants a plain path.
    const std::wstring unc = L"\\\\?\\UNC\\", local = L"\\\\?\\";
    if (shortPath.rfind(unc, 0) == 0) {
        shortPath = L"\\\\" + shortPath.substr(unc.size());
    } else if (shortPath.rfind(local, 0) == 0) {
        shortPath.erase(0, local.size());
    }
    return shortPath.size() < MAX_PATH ? shortPath : path;
}

}  // namespace

std::uint32_t RunProgram(const std::string& file, bool wait, const std::string& parameters,
                         int showMode) {
    // An empty name or one cut by a NUL names no program; a path that is no
    // text cannot name one either.
    if (file.empty() || file.find('\0') != std::string::npos) {
        throw Error(RunFailureMessage(file, ERROR_FILE_NOT_FOUND));
    }
    std::wstring application;
    std::wstring commandLine;
    try {
        application = StartablePath(file);
        commandLine = L"\"" + application + L"\"";
        if (!parameters.empty()) commandLine += L" " + Wide(parameters);
    } catch (const Error&) {
        throw Error(RunFailureMessage(file, ERROR_NO_UNICODE_TRANSLATION));
    }
    if (parameters.find('\0') != std::string::npos) {
        throw Error(RunFailureMessage(file, ERROR_INVALID_PARAMETER));
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(showMode);
    PROCESS_INFORMATION info{};
    // CreateProcessW may write to the command line: it must be a buffer of our own.
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    if (!::CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, FALSE,
                          NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &info)) {
        throw Error(RunFailureMessage(file, ::GetLastError()));
    }
    ::CloseHandle(info.hThread);
    win32::Handle process(info.hProcess);
    DWORD code = 0;
    if (wait && ::WaitForSingleObject(process.get(), INFINITE) != WAIT_FAILED) {
        if (!::GetExitCodeProcess(process.get(), &code)) code = 0;
    }
    return code;
}

}  // namespace ue
