// The portable parts of process control: the image-name rule and the start
// failure message.
#include "sysops/ProcessControl.h"

#include "core/Text.h"

namespace ue {

namespace {

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

    // ASCII letters only: the bytes of double-byte GBK characters stay as they are.
    return text::EqualsNoCaseAscii(std::string_view(listedName).substr(begin, end - begin), argument);
}

std::string DescribeProgram(const RunningProgram& program) {
    return program.name + " (pid " + std::to_string(program.pid) + ")";
}

std::string RunFailureMessage(const std::string& file, std::uint32_t code) {
    return "运行程序失败" + file + ". 错误代码 " + std::to_string(code);
}

}  // namespace ue
