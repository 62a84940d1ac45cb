// Qt's own texts (the standard buttons' "OK", "Cancel") in the language of
// our messages.
#pragma once

#include <QTranslator>
#include <memory>

#include "core/MessageTable.h"

namespace ue {

// Loads Qt's translations for `language` from Qt's translations folder
// (Debian: qt6-translations-l10n) and installs them in the application.
// Null for English, or when they are not installed: Qt then shows English.
// The translations stay in use until the result is destroyed.
std::unique_ptr<QTranslator> InstallQtTranslations(Language language);

}  // namespace ue
