// The user's language on Windows: the UI language of the user's session
// (Wine derives it from the Unix locale, LANG and friends).
#include <windows.h>

#include "core/MessageTable.h"

namespace ue {

Language UserLanguage() { return LanguageFromLangId(::GetUserDefaultUILanguage()); }

}  // namespace ue
