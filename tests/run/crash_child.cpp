// Runs start-up and one update run on the installation named by argv[1],
// like the program does, but with nobody to answer and nothing done to the
// machine beyond the installation's files. The crash test kills it at
// chosen moments. Pauses really sleep, divided by argv[2].
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>

#include "run/DMUpdateEx.h"

namespace {

class SlowSystem : public ue::System {
public:
    explicit SlowSystem(unsigned divisor) : divisor_(divisor) {}
    void KillProcessByName(const std::string&) override {}
    std::uint32_t RunProgram(const std::string&, bool, const std::string&, int) override { return 0; }
    void ReplaceFileAtRestart(const std::string&, const std::string&) override {}
    void RegisterServerLibrary(const std::string&) override {}
    void ShutdownWindows(int) override {}
    void Sleep(unsigned milliseconds) override {
        std::this_thread::sleep_for(std::chrono::microseconds(milliseconds * 1000 / divisor_));
    }
    std::string TodayText() override { return "2008-05-09"; }

private:
    unsigned divisor_;
};

class NobodyThere : public ue::UserInterface {
public:
    void ShowFileInUseDialog(const std::string&) override {}
    bool AskRestart() override { return false; }
    ue::WindowHandle OwnerWindow() override { return nullptr; }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <installation dir/> <pause divisor>\n", argv[0]);
        return 2;
    }
    const unsigned long divisor = std::strtoul(argv[2], nullptr, 10);
    SlowSystem system(divisor == 0 ? 1 : static_cast<unsigned>(divisor));
    NobodyThere ui;
    try {
        ue::TDM_Update dm(system, argv[1]);
        dm.SetUserInterface(&ui);
        dm.DataModuleCreate();
        dm.RunUpdate();
        dm.DataModuleDestroy();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
