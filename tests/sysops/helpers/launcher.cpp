// Two jobs for the process tests:
//   launcher PROGRAM            starts PROGRAM without waiting, then ends: shows
//                               that a started program outlives the updater;
//   launcher --kill NAME DIR    stops the programs NAME that run from DIR, then
//                               ends with 0: shows that the caller, itself such
//                               a program, is never stopped.
#include <cstdio>
#include <cstring>

#include "core/Errors.h"
#include "sysops/ProcessControl.h"

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--kill") == 0) {
        ue::KillProcessByName(argv[2], argv[3]);
        return 0;
    }
    if (argc != 2) return 2;
    try {
        ue::RunProgram(argv[1], false, "", ue::kShowNormal);
    } catch (const ue::Error& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
