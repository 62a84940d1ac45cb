// The windows' font and the scale from the table's 96-dpi pixels to the
// screen's. The program declares itself system-DPI aware (see the manifest),
// so one scale, the screen's LOGPIXELSY, holds for all its windows.
#pragma once

#include <windows.h>

namespace ue {

// The screen's dots per inch (96 when it cannot be read).
int ScreenDpi();

// `pixels` at 96 dpi in the screen's pixels.
int Scale(int pixels);

// True when "宋体" (SimSun) with the GB2312 character set is installed.
bool HasSongFace();

// "宋体", GB2312, with a character height of `pixels` (at 96 dpi) where it is
// installed; else the next of the table's faces that is (a Chinese font the
// setup installs: Wine links its UI font to none); else the system's message
// font at that height. Kept for the life of the program: callers never
// delete it.
HFONT SongFont(int pixels);

// Width and height of `text` in `font`, in screen pixels.
SIZE TextExtent(HFONT font, const wchar_t* text, int length);

}  // namespace ue
