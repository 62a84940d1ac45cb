// A program for the Windows tests that must act from a process of their own:
//   helper kill <name> <dir>   KillProcessByName from here
//   helper queue <src> <dst>   QueueFileReplacement; exit code 0 when queued
//   helper --register-library ...  the registration child, as UpdateExe is one
// Arguments are read as UTF-16 and passed on as UTF-8.
#include <windows.h>
// after windows.h
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/WinText.h"
#include "sysops/PendingRenames.h"
#include "sysops/ProcessControl.h"
#include "sysops/Registration.h"

int main() {
    int argc = 0;
    wchar_t** wargv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(ue::Narrow(wargv[i]));
    if (!args.empty()) ue::RunRegistrationChild({args.begin() + 1, args.end()});
    if (args.size() != 4) return 64;
    const std::string& mode = args[1];
    if (mode == "kill") {
        ue::KillProcessByName(args[2], args[3]);
        return 0;
    }
    if (mode == "queue") {
        const std::error_code ec = ue::QueueFileReplacement(args[2], args[3]);
        if (ec) std::fprintf(stderr, "not queued: %d %s\n", ec.value(), ec.message().c_str());
        return ec ? 1 : 0;
    }
    return 64;
}
