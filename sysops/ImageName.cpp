#include "sysops/ProcessControl.h"

namespace ue {

namespace {

// Folds 'a'..'z' only; every other byte, also of double-byte GBK characters,
// stays as it is.
char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsStripped(char c) { return static_cast<unsigned char>(c) <= 0x20; }

}  // namespace

bool ImageNameMatches(const std::string& listedName, const std::string& argument) {
    // The process list's name field holds at most 260 characters and ends at
    // its first NUL.
    constexpr std::size_t kMaxListed = 260;
    std::size_t end = listedName.find('\0');
    if (end == std::string::npos) end = listedName.size();
    if (end > kMaxListed) end = kMaxListed;

    std::size_t begin = 0;
    while (begin < end && IsStripped(listedName[begin])) ++begin;
    while (end > begin && IsStripped(listedName[end - 1])) --end;

    if (end - begin != argument.size()) return false;
    for (std::size_t i = 0; i < argument.size(); ++i) {
        if (UpperAscii(listedName[begin + i]) != UpperAscii(argument[i])) return false;
    }
    return true;
}

}  // namespace ue
