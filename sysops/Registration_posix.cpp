// Self-registration on Linux: the library is a shared object, loaded with
// dlopen (all symbols bound at once, as a Windows library's imports are),
// its entry looked up with dlsym and the library closed with dlclose.
//
// The platform text of a failure is dlerror's text, without the leading
// "<file>: " that would repeat the path the message already ends with. dlsym
// sets no error code; a missing entry is reported with code 127, the Windows
// code for a procedure that was not found. Only the library's own entry
// counts: one that dlsym finds in a library it depends on is taken as missing,
// as Windows looks only at the library's own exports.

#include "sysops/Registration.h"

#include <dlfcn.h>
#include <link.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "core/Errors.h"
#include "sysops/Messages.h"

namespace ue {

namespace {

constexpr std::uint32_t kProcNotFound = 127;  // ERROR_PROC_NOT_FOUND
constexpr const char* kEntryName = "DllRegisterServer";

std::string PlatformText(const char* error, const std::string& file) {
    std::string text = error ? error : "";
    std::string prefix = file + ": ";
    if (!file.empty() && text.starts_with(prefix) && text.size() > prefix.size()) {
        text.erase(0, prefix.size());
    }
    return TrimPlatformText(text);
}

class LoadedLibrary {
public:
    explicit LoadedLibrary(void* handle) : handle_(handle) {}
    ~LoadedLibrary() { dlclose(handle_); }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    // The library's own exported function `name`, or null with the reason.
    void* OwnSymbol(const char* name, std::string& reason) const {
        dlerror();
        void* sym = dlsym(handle_, name);
        if (!sym) {
            const char* err = dlerror();
            reason = err ? err : std::string("undefined symbol: ") + name;
            return nullptr;
        }
        Dl_info info{};
        link_map* from = nullptr;
        link_map* own = nullptr;
        if (dladdr1(sym, &info, reinterpret_cast<void**>(&from), RTLD_DL_LINKMAP) == 0 ||
            dlinfo(handle_, RTLD_DI_LINKMAP, &own) != 0 || from != own) {
            reason = std::string("undefined symbol: ") + name;
            return nullptr;
        }
        return sym;
    }

private:
    void* handle_;
};

}  // namespace

void RegisterServerLibrary(const std::string& file) {
    // An empty name would give the program itself, and a NUL would cut the
    // path: neither names the library asked for.
    if (file.empty() || file.find('\0') != std::string::npos) {
        throw Error(LoadFailureMessage(TrimPlatformText(std::strerror(ENOENT)), file));
    }
    dlerror();
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) throw Error(LoadFailureMessage(PlatformText(dlerror(), file), file));
    LoadedLibrary library(handle);

    std::string reason;
    void* entry = library.OwnSymbol(kEntryName, reason);
    if (!entry) throw MakeOSError(kProcNotFound, PlatformText(reason.c_str(), file));

    using EntryFn = std::int32_t (*)();
    std::int32_t status = reinterpret_cast<EntryFn>(entry)();
    if (status < 0) throw Error(EntryFailureMessage(file));
}

}  // namespace ue
