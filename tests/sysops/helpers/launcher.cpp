// Starts the program named by its argument without waiting, then ends: shows
// that a started program outlives the updater.
#include <cstdio>

#include "core/Errors.h"
#include "sysops/ProcessControl.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    try {
        ue::RunProgram(argv[1], false, "", ue::kShowNormal);
    } catch (const ue::Error& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
