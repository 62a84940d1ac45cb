// A UserInterface that plays a script: each file-in-use dialog takes the next
// step (continue, continue after an action, or close), and the restart
// question gets a fixed answer. Once the script has run out it continues.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "run/UserInterface.h"

namespace ue::test {

class RecordingSystem;

class ScriptedUI : public UserInterface {
public:
    // With a journal, every dialog and question is noted among its calls, so
    // that tests see them in order with the system's operations.
    explicit ScriptedUI(RecordingSystem* journal = nullptr) : journal_(journal) {}

    ScriptedUI& Continue();
    // Runs `action` while the dialog is open (e.g. frees the held file), then continues.
    ScriptedUI& ContinueAfter(std::function<void()> action);
    // Closes the dialog without continuing: raises SilentAbort.
    ScriptedUI& Close();

    bool restartAnswer = false;
    std::vector<std::string> messages;  // every dialog's text, in order
    int restartQuestions = 0;

    void ShowFileInUseDialog(const std::string& message) override;
    bool AskRestart() override;
    WindowHandle OwnerWindow() override { return nullptr; }

private:
    struct Step {
        bool close = false;
        std::function<void()> action;
    };
    std::deque<Step> script_;
    RecordingSystem* journal_;
};

}  // namespace ue::test
