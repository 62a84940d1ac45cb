// Finding, stopping and starting programs.
#pragma once

#include <cstdint>
#include <string>

namespace ue {

// Image-name rule: the listed name stripped at both ends of bytes <= 0x20 and
// ASCII upper-cased equals the ASCII upper-cased argument (not stripped).
bool ImageNameMatches(const std::string& listedName, const std::string& argument);

// The first process in the system's order listed under `imageName`, wherever
// its executable lies; 0 when there is none. A look-up only: what may be
// stopped is narrower (see KillProcessByName).
std::uint32_t FindProcessIdByName(const std::string& imageName);

// Stops every process listed under `imageName` whose executable lies inside
// `installDir` (in it or in a folder below it, links resolved) and that we
// have the right to stop; never the calling process. A process that cannot be
// stopped is passed over and the others are still stopped. The suite's
// programs run from the installation, so a program of the same name elsewhere
// (another user's, an unrelated one) is never touched.
//
// The executable's full path comes from /proc/<pid>/exe on Linux and from
// QueryFullProcessImageNameW on Windows.
void KillProcessByName(const std::string& imageName, const std::string& installDir);

constexpr int kShowNormal = 1;  // SW_SHOWNORMAL
constexpr int kShow = 5;        // SW_SHOW

// Starts `file`; waits for it and returns its exit code when `wait` is set.
// Raises Error("运行程序失败" + file + ". 错误代码 " + code) when it cannot start.
std::uint32_t RunProgram(const std::string& file, bool wait, const std::string& parameters,
                         int showMode);

// The start failure message, as RunProgram raises it.
std::string RunFailureMessage(const std::string& file, std::uint32_t code);

}  // namespace ue
