// The layout table's values in Win32 terms, and the small window base that
// every window of the program derives from.
#pragma once

#include <windows.h>

#include <string>

#include "ui/Layout.h"

namespace ue {

std::wstring WideText(const char8_t* text);
inline COLORREF ToColorRef(layout::Rgb rgb) { return RGB(rgb.r, rgb.g, rgb.b); }

// The entry's placement in screen pixels.
RECT PlaceOf(const layout::Control& entry);

// A child control by its entry: placed (a control sized to its text is
// measured in its font), given its font and its text, hidden when the entry
// says so. `id` is its control id.
HWND CreateControl(HWND parent, const wchar_t* windowClass, const layout::Control& entry,
                   DWORD style, int id, DWORD exStyle = 0);

// The outer size of a window whose client area is `width` x `height` at 96 dpi.
SIZE OuterSize(int width, int height, DWORD style, DWORD exStyle);

// Moves `window` so that it is centred on the primary monitor's work area.
void CentreOnWorkArea(HWND window);

// Processes every pending message of the thread; a WM_QUIT met on the way is
// put back for the message loop that owns it.
void ProcessMessages();

// Reports an error that reached a message handler, by the error box rule.
void ReportException(std::exception_ptr error);

// A window of a class registered on first use, whose messages go to HandleMessage;
// an error out of it is reported, never passed through the system.
class Window {
public:
    Window() = default;
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND Handle() const { return hwnd_; }

protected:
    void Create(const wchar_t* className, DWORD exStyle, DWORD style, const std::wstring& caption,
                int x, int y, int width, int height, HWND parent, HMENU id = nullptr);
    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void Destroy();

    HWND hwnd_ = nullptr;

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};

}  // namespace ue
