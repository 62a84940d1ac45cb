#include "run/DownloadedPaths.h"

#include "core/Errors.h"
#include "core/MessageTable.h"
#include "core/Text.h"
#include "run/Temporaries.h"
#include "sysops/InstanceLock.h"

namespace ue {

namespace {

// "..", "...", ".. " and the like: a step to the parent directory, also in the
// forms Windows trims trailing dots and blanks from.
bool IsParentStep(std::string_view part) {
    int dots = 0;
    for (char c : part) {
        if (c == '.') {
            ++dots;
        } else if (c != ' ') {
            return false;
        }
    }
    return dots >= 2;
}

// A drive ("C:\x", "C:x"), a share or device path (two separators first:
// "\\server\share", "\\?\C:\x", "\\.\NUL"), or a step to a parent:
// `relative` would not stay in the folder it is appended to.
bool LeadsOutside(std::string_view relative) {
    const char first = relative.empty() ? '\0' : text::UpperAscii(relative[0]);
    const bool drive = first >= 'A' && first <= 'Z' && relative.size() >= 2 && relative[1] == ':';
    const bool twoSeparators =
        relative.size() >= 2 && IsSeparator(relative[0]) && IsSeparator(relative[1]);
    return drive || twoSeparators || !StaysInside(relative);
}

// The first part of `relative` (a folder, or the name at its end) that
// Windows would not take as written, and why; empty when there is none.
std::string PartFault(std::string_view relative, std::string_view& part) {
    std::size_t start = 0;
    while (start < relative.size()) {
        std::size_t end = start;
        while (end < relative.size() && !IsSeparator(relative[end])) ++end;
        part = relative.substr(start, end - start);
        if (std::string fault = WindowsNameFault(part); !fault.empty()) return fault;
        start = end + 1;
    }
    return {};
}

}  // namespace

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool IsDotName(std::string_view name) {
    if (name.empty() || name.find('.') == std::string_view::npos) return false;
    return name.find_first_not_of(". ") == std::string_view::npos;
}

bool StaysInside(std::string_view relative) {
    if (relative.find('\0') != std::string_view::npos) return false;
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = start;
        while (end < relative.size() && !IsSeparator(relative[end])) ++end;
        if (IsParentStep(relative.substr(start, end - start))) return false;
        start = end + 1;
    }
    return true;
}

// The database serves both platforms, so the Linux build refuses these names
// too.
std::string WindowsNameFault(std::string_view part) {
    if (part.empty() || part == ".") return {};
    if (part.find(':') != std::string_view::npos) return Message(MessageId::FaultColon);
    if (part.back() == '.' || part.back() == ' ') {
        return Message(MessageId::FaultTrailingDot);
    }
    // A device name stays one with any extension and blanks before it.
    std::string_view base = part.substr(0, part.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    static constexpr std::string_view kDevices[] = {"CON", "PRN",    "AUX",
                                                    "NUL", "CONIN$", "CONOUT$"};
    bool device = false;
    for (std::string_view name : kDevices) device = device || text::EqualsNoCaseAscii(base, name);
    // COM0-COM9 and LPT0-LPT9, also with a superscript 1, 2 or 3.
    if (base.size() >= 4 && (text::EqualsNoCaseAscii(base.substr(0, 3), "COM") ||
                             text::EqualsNoCaseAscii(base.substr(0, 3), "LPT"))) {
        const std::string_view digit = base.substr(3);
        device = (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') ||
                 digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3";
    }
    if (device) return Message(MessageId::FaultDevice, {text::UpperAscii(base)});
    return {};
}

void CheckDownloadedPaths(const std::string& fileName, const std::string& updatePath) {
    bool bareName = fileName.find('\0') == std::string::npos && !IsDotName(fileName);
    for (char c : fileName) bareName = bareName && !IsSeparator(c);
    if (!bareName) {
        throw Error(Message(MessageId::FileNameNotBare, {fileName}));
    }
    if (const std::string fault = WindowsNameFault(fileName); !fault.empty()) {
        throw Error(Message(MessageId::FileNameFault, {fileName, fault}));
    }
    // The run's own files in the installation and the update folder.
    const std::string journalTemporary = std::string(kTemporariesJournal) + kJournalTemporarySuffix;
    for (const std::string_view own : {std::string_view(kTemporariesJournal),
                                       std::string_view(journalTemporary),
                                       std::string_view(kInstanceLockName)}) {
        if (text::EqualsNoCaseAscii(fileName, own)) {
            throw Error(Message(MessageId::FileNameReserved, {fileName}));
        }
    }
    if (LeadsOutside(updatePath)) throw Error(Message(MessageId::UpdatePathLeadsOutside, {updatePath, fileName}));
    std::string_view folder;
    if (const std::string fault = PartFault(updatePath, folder); !fault.empty()) {
        throw Error(Message(MessageId::UpdatePathFolderFault, {updatePath, fileName, folder, fault}));
    }
}

void CheckProgramName(const std::string& key, const std::string& name) {
    if (LeadsOutside(name)) throw Error(Message(MessageId::ProgramNameLeadsOutside, {key, name}));
    std::string_view part;
    if (const std::string fault = PartFault(name, part); !fault.empty()) {
        throw Error(Message(MessageId::ProgramNamePartFault, {key, name, part, fault}));
    }
}

bool HasExeExtension(const std::string& fileName) {
    auto dot = fileName.rfind('.');
    if (dot == std::string::npos) return false;
    return text::UpperAscii(std::string_view(fileName).substr(dot)) == ".EXE";
}

}  // namespace ue
