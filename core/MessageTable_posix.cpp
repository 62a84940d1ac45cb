// The user's language on POSIX: the locale variables, as gettext reads them.
#include <cstdlib>

#include "core/MessageTable.h"

namespace ue {

Language UserLanguage() {
    return LanguageFromLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
}

}  // namespace ue
