// The application's main window, the error box that reports an error
// reaching the message loop, and the restart question.
#pragma once

#include <windows.h>

#include <string>

namespace ue {

// The window that owns the error box (FrmMain while it exists).
void SetMainWindow(HWND window);
HWND MainWindow();

// A modal message box owned by the main window (the application alone while
// there is none): the application title as caption, an error icon, OK and
// `text` as it is (see ErrorBoxText).
void ShowErrorBox(const std::string& text);
// The same, owned by `owner` (shown above it).
void ShowErrorBox(const std::string& text, HWND owner);

// "提示": the table's question with OK and Cancel and a question icon, owned
// by `owner`. True when the user chose OK.
bool AskRestartQuestion(HWND owner);

}  // namespace ue
