// The application title and the error box that reports an error reaching the
// message loop.
#pragma once

#include <QString>
#include <QWidget>
#include <exception>
#include <string>

#include "ui/ErrorMessage.h"

namespace ue {

// Shown on the task bar and as the caption of the error box.
QString ApplicationTitle();

// A modal message box owned by the application: the title as caption, an
// error icon, an OK button and `text` as it is (see ErrorBoxText).
// With `owner` (FrmMain) the box is its transient child, shown above it.
void ShowErrorBox(const std::string& text, QWidget* owner = nullptr);

// Reports an exception caught at the message loop by the error box rule:
// SilentAbort shows nothing, any other error its message.
void ReportException(std::exception_ptr error);

}  // namespace ue
