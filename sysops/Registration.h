// Self-registration of COM server libraries through "DllRegisterServer".
//
// The entry runs in a child process: the registration program (the running
// executable unless set otherwise) started as
//     <program> --register-library <file> <channel>
// It loads the library, calls the entry and tells the outcome through its
// exit code and a short report on <channel> (a pipe's descriptor on Linux,
// its handle on Windows). An entry that crashes, never returns or ends its
// process costs one failed registration instead of the updater, and the
// child holds none of the updater's files, locks or windows. Every program
// that may register therefore hands its arguments to RunRegistrationChild
// before it makes any window, lock or database.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace ue {

// Raises Error when the library cannot be loaded, OSError when it lacks the
// entry, Error when the entry reports failure, crashes, ends its process or
// does not return within a minute; the child is ended and reaped by then.
void RegisterServerLibrary(const std::string& file);

// The same with `bound` as the time the entry is given.
void RegisterServerLibraryWithin(const std::string& file, std::chrono::milliseconds bound);

// The program started as the child; empty: the running executable. For
// programs that do not take the option themselves (tests). Set it before the
// first registration.
void SetRegistrationProgram(const std::string& program);

// The internal option that makes the program the child; not for users.
inline constexpr char kRegisterLibraryOption[] = "--register-library";

// When `args` (the program's arguments after its own name, UTF-8) start with
// kRegisterLibraryOption, runs the registration in this process and ends it
// with the outcome; returns otherwise.
void RunRegistrationChild(const std::vector<std::string>& args);

// Between the parent and its child; used by the platform parts.
namespace registration {

// The child's exit codes. Not 0 or 1: an entry that ends its process itself
// is not taken for one that returned; and the code counts only when the
// child's report repeats it.
enum Outcome : int {
    kRegistered = 100,
    kEntryFailed = 101,
    kLoadFailed = 102,
    kNoEntry = 103,
    kBadCommandLine = 104,
};

// The most of a platform text the child sends; the rest is cut.
inline constexpr std::size_t kMaxReport = 4096;

// "<outcome> <code>\n<text>": the system's error code of a failed load or
// lookup, and the platform's own text where the parent cannot make it from
// the code (dlerror's on Linux).
std::string ReportText(Outcome outcome, std::uint32_t code, const std::string& text);

// How the child ended, as the parent saw it.
struct ChildEnd {
    // NotStarted: the program could not be started (exitCode is the
    // system's error code); Lost: its end is unknown.
    enum class How { Exited, Crashed, TimedOut, NotStarted, Lost } how = How::Lost;
    std::uint32_t exitCode = 0;  // Exited, NotStarted
    std::string crash;           // Crashed: what ended it, e.g. "signal 11, Segmentation fault"
    std::string report;          // what the child wrote
    std::string program;         // the program started
};

// Returns for a registered library; raises the error of every other end.
void RaiseUnlessRegistered(const std::string& file, const ChildEnd& end,
                           std::chrono::milliseconds bound);

// The platform's part of the child: loads `file`, calls its entry, writes
// the report to `channel` and ends the process with the outcome.
[[noreturn]] void RegisterInThisProcess(const std::string& file, const std::string& channel);

// The registration program set by SetRegistrationProgram; empty by default.
const std::string& RegistrationProgram();

}  // namespace registration

}  // namespace ue
