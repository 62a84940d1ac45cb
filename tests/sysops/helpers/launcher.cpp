// Jobs for the process and registration tests:
//   launcher PROGRAM            starts PROGRAM without waiting, then ends: shows
//                               that a started program outlives the updater;
//   launcher --kill NAME DIR    stops the programs NAME that run from DIR, then
//                               ends with 0: shows that the caller, itself such
//                               a program, is never stopped;
//   launcher --register DIR LIB MS
//                               takes the installation lock of DIR, then
//                               registers LIB with a bound of MS milliseconds,
//                               as the updater does; prints the error, if any;
//   launcher --register-library ...
//                               the registration child, as UpdateExe is one.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/Errors.h"
#include "sysops/InstanceLock.h"
#include "sysops/ProcessControl.h"
#include "sysops/Registration.h"

int main(int argc, char** argv) {
    ue::RunRegistrationChild(std::vector<std::string>(argv + 1, argv + argc));
    if (argc == 4 && std::strcmp(argv[1], "--kill") == 0) {
        ue::KillProcessByName(argv[2], argv[3]);
        return 0;
    }
    if (argc == 5 && std::strcmp(argv[1], "--register") == 0) {
        const ue::InstanceLock lock = ue::InstanceLock::Acquire(argv[2]);
        if (lock.GetState() != ue::InstanceLock::State::Held) return 3;
        try {
            ue::RegisterServerLibraryWithin(argv[3],
                                            std::chrono::milliseconds(std::atol(argv[4])));
        } catch (const ue::Error& e) {
            std::printf("%s\n", e.what());
            return 1;
        }
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
