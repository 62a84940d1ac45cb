// Finding, stopping and starting programs.
#pragma once

#include <cstdint>
#include <string>

namespace ue {

// Image-name rule: the listed name stripped at both ends of bytes <= 0x20 and
// ASCII upper-cased equals the ASCII upper-cased argument (not stripped).
bool ImageNameMatches(const std::string& listedName, const std::string& argument);

std::uint32_t FindProcessIdByName(const std::string& imageName);
void KillProcessByName(const std::string& imageName);

constexpr int kShowNormal = 1;  // SW_SHOWNORMAL
constexpr int kShow = 5;        // SW_SHOW

// Starts `file`; waits for it and returns its exit code when `wait` is set.
// Raises Error("运行程序失败" + file + ". 错误代码 " + code) when it cannot start.
std::uint32_t RunProgram(const std::string& file, bool wait, const std::string& parameters,
                         int showMode);

// The start failure message, as RunProgram raises it.
std::string RunFailureMessage(const std::string& file, std::uint32_t code);

}  // namespace ue
