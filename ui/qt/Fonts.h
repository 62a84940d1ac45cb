// The windows' font: "宋体" where the system has it, else a CJK font that the
// setup installs, so that the Chinese texts always show.
#pragma once

#include <QFont>
#include <QString>

namespace ue {

// The family used for every window: "宋体" (or its Latin name "SimSun") when
// installed, else "WenQuanYi Zen Hei", else the application's default.
QString SongFamily();

// That family with a character height of `pixelHeight` pixels.
QFont SongFont(int pixelHeight);

}  // namespace ue
