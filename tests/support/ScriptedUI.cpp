#include "tests/support/ScriptedUI.h"

#include "core/Errors.h"
#include "tests/support/RecordingSystem.h"

namespace ue::test {

ScriptedUI& ScriptedUI::Continue() {
    script_.push_back({});
    return *this;
}

ScriptedUI& ScriptedUI::ContinueAfter(std::function<void()> action) {
    script_.push_back({false, std::move(action)});
    return *this;
}

ScriptedUI& ScriptedUI::Close() {
    script_.push_back({true, {}});
    return *this;
}

void ScriptedUI::ShowFileInUseDialog(const std::string& message) {
    messages.push_back(message);
    if (journal_ != nullptr) journal_->Note("ShowFileInUseDialog");
    if (script_.empty()) return;
    Step step = std::move(script_.front());
    script_.pop_front();
    if (step.action) step.action();
    if (step.close) throw SilentAbort();
}

bool ScriptedUI::AskRestart() {
    ++restartQuestions;
    if (journal_ != nullptr) journal_->Note(std::string("AskRestart ") + (restartAnswer ? "OK" : "Cancel"));
    return restartAnswer;
}

}  // namespace ue::test
