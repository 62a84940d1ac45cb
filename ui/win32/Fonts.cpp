#include "ui/win32/Fonts.h"

#include <cwchar>
#include <map>
#include <memory>
#include <string>

#include "ui/Layout.h"
#include "ui/win32/Win32Layout.h"

namespace ue {
namespace {

int CALLBACK FoundFace(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

// True when `face` is installed with the GB2312 character set.
bool HasFace(const wchar_t* face) {
    LOGFONTW wanted{};
    wanted.lfCharSet = GB2312_CHARSET;
    wcsncpy(wanted.lfFaceName, face, LF_FACESIZE - 1);
    bool found = false;
    HDC screen = GetDC(nullptr);
    EnumFontFamiliesExW(screen, &wanted, FoundFace, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, screen);
    return found;
}

struct FontDeleter {
    void operator()(HFONT font) const { DeleteObject(font); }
};

}  // namespace

int ScreenDpi() {
    static const int dpi = [] {
        HDC screen = GetDC(nullptr);
        const int value = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
        if (screen != nullptr) ReleaseDC(nullptr, screen);
        return value > 0 ? value : 96;
    }();
    return dpi;
}

int Scale(int pixels) { return MulDiv(pixels, ScreenDpi(), 96); }

// The first of the table's faces that is installed with GB2312; empty for none.
const std::wstring& ChineseFace() {
    static const std::wstring found = [] {
        for (const char8_t* face : layout::kFontFaces) {
            const std::wstring name = WideText(face);
            if (HasFace(name.c_str())) return name;
        }
        return std::wstring();
    }();
    return found;
}

bool HasSongFace() {
    const std::wstring& face = ChineseFace();
    return face == WideText(layout::kFontFaces[0]) || face == WideText(layout::kFontFaces[1]);
}

HFONT SongFont(int pixels) {
    static std::map<int, std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter>> fonts;
    auto& slot = fonts[pixels];
    if (!slot) {
        LOGFONTW font{};
        if (!ChineseFace().empty()) {
            font.lfCharSet = GB2312_CHARSET;
            wcsncpy(font.lfFaceName, ChineseFace().c_str(), LF_FACESIZE - 1);
        } else {
            NONCLIENTMETRICSW metrics{};
            metrics.cbSize = sizeof metrics;
            if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
                font = metrics.lfMessageFont;
            else
                font.lfCharSet = DEFAULT_CHARSET;
        }
        // Negative: the character height, internal leading left out.
        font.lfHeight = -Scale(pixels);
        font.lfWidth = 0;
        font.lfWeight = FW_NORMAL;
        font.lfItalic = font.lfUnderline = font.lfStrikeOut = FALSE;
        font.lfQuality = DEFAULT_QUALITY;
        slot.reset(CreateFontIndirectW(&font));
    }
    return slot.get();
}

SIZE TextExtent(HFONT font, const wchar_t* text, int length) {
    SIZE size{0, 0};
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    if (length > 0) GetTextExtentPoint32W(dc, text, length, &size);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    size.cy = metrics.tmHeight;
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return size;
}

}  // namespace ue
