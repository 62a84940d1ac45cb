// Self-registration on Windows: LoadLibraryExW, GetProcAddress
// ("DllRegisterServer"), the call, FreeLibrary, in a child process.
//
// The parent starts the registration program (by default the running
// executable) with CreateProcessW, suspended, puts it in a job object of its
// own that kills what is left in it when closed, and resumes it. Of the
// parent's handles the child inherits the report pipe's writing end alone
// (the handle list), so not the installation's mutex or the database. At the
// bound, and after the child has ended, the job is ended, so a process the
// entry started does not outlive its registration, and should the updater
// die meanwhile the job goes with its last handle.
//
// The child loads the library with LOAD_WITH_ALTERED_SEARCH_PATH, so that the
// libraries it depends on are looked for beside it first. The system's error
// boxes are off in the child, so that a missing dependency fails the load
// instead of waiting for a click, and an unhandled exception ends the child
// at once with the exception's code as its exit code, instead of opening a
// crash box or a debugger. The parent makes the platform text from the
// system's error code the child reports, in the user's language.

#include "sysops/Registration.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "core/Errors.h"
#include "core/WinText.h"
#include "sysops/Messages.h"

namespace ue {

namespace registration {

namespace {

constexpr const char* kEntryName = "DllRegisterServer";

// The system's text for `code`, in the user's language.
std::string PlatformText(DWORD code) {
    return TrimPlatformText(SystemReason(SystemError(static_cast<int>(code))));
}

class Handle {
public:
    explicit Handle(HANDLE h = nullptr) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    void Close() {
        if (h_) ::CloseHandle(h_);
        h_ = nullptr;
    }

private:
    HANDLE h_;
};

void WriteAll(HANDLE out, const std::string& text) {
    const char* data = text.data();
    DWORD left = static_cast<DWORD>(text.size());
    while (left > 0) {
        DWORD written = 0;
        if (!::WriteFile(out, data, left, &written, nullptr) || written == 0) return;
        data += written;
        left -= written;
    }
}

// --- In the child. ---

// The report pipe named by `channel`; null when it names none.
HANDLE ReportHandle(const std::string& channel) {
    if (channel.empty() || channel.size() > 19 ||
        channel.find_first_not_of("0123456789") != std::string::npos) {
        return nullptr;
    }
    const auto value = static_cast<std::uintptr_t>(std::stoull(channel));
    HANDLE out = reinterpret_cast<HANDLE>(value);
    if (value == 0 || ::GetFileType(out) != FILE_TYPE_PIPE) return nullptr;
    // Not for the programs the entry starts.
    ::SetHandleInformation(out, HANDLE_FLAG_INHERIT, 0);
    return out;
}

// An unhandled exception ends the process with its code, as the system's
// own handling would, without a box or a debugger.
LONG WINAPI EndWithException(EXCEPTION_POINTERS* exception) {
    ::TerminateProcess(::GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

[[noreturn]] void End(HANDLE out, Outcome outcome, DWORD code) {
    if (out) WriteAll(out, ReportText(outcome, code, ""));
    // What the library leaves behind is not torn down: its work is done.
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(outcome));
    ::ExitProcess(static_cast<UINT>(outcome));
}

// --- In the parent. ---

// One argument of a command line, read back as it was by CommandLineToArgvW
// and the C runtime: in quotes, a backslash doubled before a quote or the
// closing one.
std::wstring Quoted(const std::wstring& argument) {
    std::wstring line = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    return line + L"\"";
}

std::wstring RunningExecutable() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return L"";
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

OSError SystemFailure(DWORD code) { return MakeOSError(code, PlatformText(code)); }

// A job that ends what is in it when its last handle is closed; null when
// the system gives none.
HANDLE KillingJob() {
    const HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
    if (!job) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    if (!::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                                   sizeof limits)) {
        ::CloseHandle(job);
        return nullptr;
    }
    return job;
}

// Exit codes that are an exception's code: errors (0xC...) and breakpoints.
bool IsExceptionCode(DWORD code) {
    return (code & 0xF0000000u) == 0xC0000000u || code == 0x80000003u;
}

std::string Hex(DWORD code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
    return text;
}

// What is in the pipe now, up to the report's size.
void ReadAvailable(HANDLE in, std::string& text) {
    constexpr std::size_t kMax = kMaxReport + 64;
    char buffer[1024];
    for (;;) {
        DWORD available = 0;
        if (!::PeekNamedPipe(in, nullptr, 0, nullptr, &available, nullptr) || available == 0) {
            return;
        }
        DWORD read = 0;
        const DWORD ask = std::min<DWORD>(available, sizeof buffer);
        if (!::ReadFile(in, buffer, ask, &read, nullptr) || read == 0) return;
        text.append(buffer, std::min<std::size_t>(read, kMax - text.size()));
    }
}

}  // namespace

void RegisterInThisProcess(const std::string& file, const std::string& channel) {
    const HANDLE out = ReportHandle(channel);
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX | SEM_NOGPFAULTERRORBOX);
    ::SetUnhandledExceptionFilter(EndWithException);

    std::wstring path;
    try {
        path = Wide(file);
    } catch (const Error&) {
        End(out, kLoadFailed, ERROR_NO_UNICODE_TRANSLATION);
    }
    const HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) End(out, kLoadFailed, ::GetLastError());
    ::SetLastError(0);
    const FARPROC entry = ::GetProcAddress(module, kEntryName);
    if (!entry) {
        const DWORD code = ::GetLastError();
        ::FreeLibrary(module);
        End(out, kNoEntry, code);
    }
    using EntryFn = HRESULT(STDAPICALLTYPE*)();
    const HRESULT status = reinterpret_cast<EntryFn>(reinterpret_cast<void*>(entry))();
    ::FreeLibrary(module);
    End(out, status < 0 ? kEntryFailed : kRegistered, 0);
}

}  // namespace registration

void RegisterServerLibraryWithin(const std::string& file, std::chrono::milliseconds bound) {
    using namespace registration;
    // An empty name and one cut by a NUL name no library; neither is passed on.
    std::wstring path;
    try {
        if (file.empty() || file.find('\0') != std::string::npos) throw Error("no path");
        path = Wide(file);
    } catch (const Error&) {
        throw Error(LoadFailureMessage(PlatformText(ERROR_FILE_NOT_FOUND), file));
    }
    const std::wstring program =
        RegistrationProgram().empty() ? RunningExecutable() : Wide(RegistrationProgram());

    // The pipe's writing end is inheritable, and given to the child alone.
    // Its buffer holds the whole report: the child never waits for the parent.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 65536)) throw SystemFailure(::GetLastError());
    Handle in(readEnd);
    Handle out(writeEnd);
    ::SetHandleInformation(in.get(), HANDLE_FLAG_INHERIT, 0);

    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<unsigned char> storage(size);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    if (!::InitializeProcThreadAttributeList(attributes, 1, 0, &size)) {
        throw SystemFailure(::GetLastError());
    }
    HANDLE inherited[] = {out.get()};
    const BOOL listed =
        ::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                    sizeof inherited, nullptr, nullptr);
    // Without the list (a system that lacks it) the child inherits every
    // inheritable handle of the updater.
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = listed ? sizeof startup : sizeof startup.StartupInfo;
    startup.lpAttributeList = listed ? attributes : nullptr;

    const std::wstring channel =
        std::to_wstring(reinterpret_cast<std::uintptr_t>(out.get()));
    std::wstring commandLine = Quoted(program) + L" " + Wide(kRegisterLibraryOption) + L" " +
                               Quoted(path) + L" " + channel;
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');

    PROCESS_INFORMATION info{};
    const DWORD flags =
        CREATE_SUSPENDED | CREATE_NO_WINDOW | (listed ? EXTENDED_STARTUPINFO_PRESENT : 0);
    const BOOL started = ::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                                          flags, nullptr, nullptr, &startup.StartupInfo, &info);
    const DWORD startError = ::GetLastError();
    ::DeleteProcThreadAttributeList(attributes);
    ChildEnd end;
    end.program = Narrow(program);
    if (!started) {
        end.how = ChildEnd::How::NotStarted;
        end.exitCode = startError;
        RaiseUnlessRegistered(file, end, bound);
    }
    Handle process(info.hProcess);
    Handle thread(info.hThread);
    out.Close();

    // Without the job (a system that refuses it) the child alone is ended.
    Handle job(KillingJob());
    if (job.get() && !::AssignProcessToJobObject(job.get(), process.get())) job.Close();
    ::ResumeThread(thread.get());
    thread.Close();

    const auto ms = bound.count();
    const DWORD wait = ms >= static_cast<long long>(INFINITE) - 1 ? INFINITE - 1
                                                                   : static_cast<DWORD>(ms);
    const DWORD waited = ::WaitForSingleObject(process.get(), wait);
    if (waited == WAIT_TIMEOUT) end.how = ChildEnd::How::TimedOut;
    // The child, when it still runs, and whatever the entry started.
    if (job.get()) ::TerminateJobObject(job.get(), ERROR_TIMEOUT);
    ::TerminateProcess(process.get(), ERROR_TIMEOUT);
    ::WaitForSingleObject(process.get(), 10000);
    ReadAvailable(in.get(), end.report);

    DWORD code = 0;
    if (end.how == ChildEnd::How::TimedOut) {
    } else if (waited != WAIT_OBJECT_0 || !::GetExitCodeProcess(process.get(), &code)) {
        end.how = ChildEnd::How::Lost;
    } else if (IsExceptionCode(code)) {
        end.how = ChildEnd::How::Crashed;
        end.crash = "exception " + Hex(code);
    } else {
        end.how = ChildEnd::How::Exited;
        end.exitCode = code;
    }
    RaiseUnlessRegistered(file, end, bound);
}

}  // namespace ue
