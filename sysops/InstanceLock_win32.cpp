// The installation's lock on Windows: a named mutex, "Global\UpdateExe-"
// followed by a hash of the installation's final path in lower case, so that
// every spelling of the folder (letter case, short names, links, junctions,
// a trailing separator) gives the same name. The name exists while some
// process holds a handle to it: the one that created it holds the lock, and
// whoever finds it existing is Busy. The system closes the handle when the
// process ends, however it ends; programs the updater starts do not inherit
// it. No file is made in the installation.
//
// Global\ rather than Local\: two updaters in two log-on sessions (two users
// switched between, a remote desktop) must not work on one installation
// either. A mutex another user made may refuse us access: it exists, so that
// is Busy too.

#include "sysops/InstanceLock.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "core/Errors.h"
#include "core/WinText.h"
#include "sysops/ProcessControl_win32.h"

namespace ue {
namespace {

// FNV-1a, 64 bits, over the UTF-16 units.
std::uint64_t Hash(const std::wstring& s) {
    std::uint64_t h = 14695981039346656037ull;
    for (wchar_t c : s) {
        for (int shift : {0, 8}) {
            h ^= (static_cast<std::uint16_t>(c) >> shift) & 0xFF;
            h *= 1099511628211ull;
        }
    }
    return h;
}

}  // namespace

InstanceLock InstanceLock::Acquire(const std::string& installationDir) {
    std::wstring dir;
    try {
        dir = Wide(installationDir.empty() ? std::string(".") : installationDir);
    } catch (const Error&) {
        return {State::Unavailable, {}, SystemError(ERROR_NO_UNICODE_TRANSLATION)};
    }
    const auto final = win32::FinalPath(dir);
    if (!final) return {State::Unavailable, {}, LastSystemError()};
    std::wstring folded = *final;
    while (folded.size() > 1 && folded.back() == L'\\') folded.pop_back();
    ::CharLowerBuffW(folded.data(), static_cast<DWORD>(folded.size()));

    wchar_t name[64];
    std::swprintf(name, std::size(name), L"Global\\UpdateExe-%016llx",
                  static_cast<unsigned long long>(Hash(folded)));
    // Not inheritable (no security attributes): a started program never keeps it.
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name);
    const DWORD code = ::GetLastError();
    if (!mutex) {
        if (code == ERROR_ACCESS_DENIED) return {State::Busy, {}, {}};
        return {State::Unavailable, {}, SystemError(code)};
    }
    fileio::File handle(mutex);
    if (code == ERROR_ALREADY_EXISTS) return {State::Busy, {}, {}};
    return {State::Held, std::move(handle), {}};
}

}  // namespace ue
