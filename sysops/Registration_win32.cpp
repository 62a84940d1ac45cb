// Self-registration on Windows: LoadLibraryExW, GetProcAddress
// ("DllRegisterServer"), the call, FreeLibrary. The library is loaded with
// LOAD_WITH_ALTERED_SEARCH_PATH, so that the libraries it depends on are
// looked for beside it first, and with the system's error boxes off for the
// load, so that a missing dependency fails the call instead of waiting for a
// click. The platform text of a failure is FormatMessageW's for the code,
// trimmed.
//
// The entry runs in the updater's process, on the calling thread: an entry
// that crashes ends the updater and one that never returns holds it, as
// loading a COM server in-process always does. A process of our own to run
// it in would need a second program beside the one static executable or a
// command line the program does not take, and MinGW's g++ has no structured
// exception handling to catch a fault inside foreign code; a fault caught
// halfway through a foreign DLL's code would leave its state and locks
// undefined anyway. The Linux build runs the entry in a child process.

#include "sysops/Registration.h"

#include <windows.h>

#include <cstdint>

#include "core/Errors.h"
#include "core/WinText.h"
#include "sysops/Messages.h"

namespace ue {

namespace {

constexpr const char* kEntryName = "DllRegisterServer";

// The system's text for `code`, in the user's language.
std::string PlatformText(DWORD code) { return SystemReason(SystemError(static_cast<int>(code))); }

// The thread's error mode without the system's boxes, for this object's life.
class QuietErrors {
public:
    QuietErrors() {
        ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &old_);
    }
    ~QuietErrors() { ::SetThreadErrorMode(old_, nullptr); }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

private:
    DWORD old_ = 0;
};

class Library {
public:
    explicit Library(HMODULE module) : module_(module) {}
    ~Library() { ::FreeLibrary(module_); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    HMODULE get() const { return module_; }

private:
    HMODULE module_;
};

}  // namespace

void RegisterServerLibrary(const std::string& file) {
    // An empty name and one cut by a NUL name no library; neither is passed on.
    std::wstring path;
    try {
        if (file.empty() || file.find('\0') != std::string::npos) throw Error("no path");
        path = Wide(file);
    } catch (const Error&) {
        throw Error(LoadFailureMessage(PlatformText(ERROR_FILE_NOT_FOUND), file));
    }
    HMODULE module = nullptr;
    {
        QuietErrors quiet;
        module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    if (!module) throw Error(LoadFailureMessage(PlatformText(::GetLastError()), file));
    const Library library(module);

    ::SetLastError(0);
    const FARPROC entry = ::GetProcAddress(library.get(), kEntryName);
    if (!entry) {
        const DWORD code = ::GetLastError();
        throw MakeOSError(code, PlatformText(code));
    }
    using EntryFn = HRESULT(STDAPICALLTYPE*)();
    const HRESULT status = reinterpret_cast<EntryFn>(reinterpret_cast<void*>(entry))();
    if (status < 0) throw Error(EntryFailureMessage(file));
}

}  // namespace ue
