#include "ui/Options.h"

namespace ue {

OptionStyle ThisOptionStyle() { return OptionStyle::Posix; }

}  // namespace ue
