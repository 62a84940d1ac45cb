#include "ui/Options.h"

namespace ue {

OptionStyle ThisOptionStyle() { return OptionStyle::Windows; }

}  // namespace ue
