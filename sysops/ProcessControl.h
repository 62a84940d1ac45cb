// Finding, stopping and starting programs.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ue {

// Image-name rule: the listed name stripped at both ends of bytes <= 0x20 and
// ASCII upper-cased equals the ASCII upper-cased argument (not stripped).
bool ImageNameMatches(const std::string& listedName, const std::string& argument);

// The first process in the system's order listed under `imageName`, wherever
// its executable lies; 0 when there is none. A look-up only: what may be
// stopped is narrower (see KillProcessByName).
std::uint32_t FindProcessIdByName(const std::string& imageName);

// How long KillProcessByName waits for the programs it asked to close.
constexpr std::chrono::milliseconds kCloseWait{3000};
// How often it looks whether they have ended meanwhile.
constexpr std::chrono::milliseconds kClosePoll{50};

// Stops every process listed under `imageName` whose executable lies inside
// `installDir` (in it or in a folder below it, links resolved) and that we
// have the right to stop; never the calling process. A process that cannot be
// stopped is passed over and the others are still stopped. The suite's
// programs run from the installation, so a program of the same name elsewhere
// (another user's, an unrelated one) is never touched.
//
// They are first asked to close, so that they may save their work (SIGTERM on
// Linux; WM_CLOSE to their top-level windows on Windows, where a program
// without a window cannot be asked). Up to `closeWait` later, as soon as all
// asked have ended, what is left is terminated (SIGKILL, TerminateProcess).
// `whileWaiting` runs between the looks, every kClosePoll, so that a window
// can go on answering. Each process is held (a pidfd, a process handle) from
// the checks to its end, so a process that ends meanwhile and whose id is
// given to another is never mistaken for it.
//
// The executable's full path comes from /proc/<pid>/exe on Linux and from
// QueryFullProcessImageNameW on Windows.
void KillProcessByName(const std::string& imageName, const std::string& installDir,
                       std::chrono::milliseconds closeWait = kCloseWait,
                       const std::function<void()>& whileWaiting = {});

// A program that holds a file.
struct RunningProgram {
    std::uint32_t pid = 0;
    std::string name;  // its image name, or the name it gives itself
};

// The programs other than ours that hold the file `path` open (or, on Linux,
// mapped), at most `limit` of them. Only a help for the person who must close
// them: whatever cannot be found out gives a shorter or empty list, never an
// error. Linux: the /proc scan of the in-use test, named by their executable;
// Windows: the Restart Manager, named as it names them.
std::vector<RunningProgram> ProgramsHoldingFile(const std::string& path, std::size_t limit = 5);

// "notepad.exe (pid 1234)".
std::string DescribeProgram(const RunningProgram& program);

constexpr int kShowNormal = 1;  // SW_SHOWNORMAL
constexpr int kShow = 5;        // SW_SHOW

// Starts `file`; waits for it and returns its exit code when `wait` is set.
// Raises Error("运行程序失败" + file + ". 错误代码 " + code) when it cannot start.
std::uint32_t RunProgram(const std::string& file, bool wait, const std::string& parameters,
                         int showMode);

// The start failure message, as RunProgram raises it.
std::string RunFailureMessage(const std::string& file, std::uint32_t code);

}  // namespace ue
