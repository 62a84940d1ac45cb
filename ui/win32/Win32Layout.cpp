#include "ui/win32/Win32Layout.h"

#include <string_view>

#include "core/WinText.h"
#include "ui/ErrorMessage.h"
#include "ui/win32/ErrorBox.h"
#include "ui/win32/Fonts.h"

namespace ue {

std::wstring WideText(const char8_t* text) {
    return Wide(std::string_view(reinterpret_cast<const char*>(text)));
}

RECT PlaceOf(const layout::Control& entry) {
    const layout::Rect& p = entry.place;
    return {Scale(p.left), Scale(p.top), Scale(p.left + p.width), Scale(p.top + p.height)};
}

HWND CreateControl(HWND parent, const wchar_t* windowClass, const layout::Control& entry,
                   DWORD style, int id, DWORD exStyle) {
    const std::wstring text = WideText(entry.text);
    HFONT font = SongFont(entry.fontPixels);
    RECT place = PlaceOf(entry);
    if (entry.place.SizedToText()) {
        const SIZE size = TextExtent(font, text.c_str(), static_cast<int>(text.size()));
        place.right = place.left + size.cx;
        place.bottom = place.top + size.cy;
    }
    if (entry.visible) style |= WS_VISIBLE;
    HWND control = CreateWindowExW(exStyle, windowClass, text.c_str(), WS_CHILD | style, place.left,
                                   place.top, place.right - place.left, place.bottom - place.top,
                                   parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   GetModuleHandleW(nullptr), nullptr);
    if (control != nullptr) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return control;
}

SIZE OuterSize(int width, int height, DWORD style, DWORD exStyle) {
    RECT rect{0, 0, Scale(width), Scale(height)};
    AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

void CentreOnWorkArea(HWND window) {
    RECT area{};
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) return;
    RECT own{};
    GetWindowRect(window, &own);
    const int width = own.right - own.left, height = own.bottom - own.top;
    SetWindowPos(window, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void ProcessMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void ReportException(std::exception_ptr error) {
    if (const auto text = ErrorBoxText(error)) ShowErrorBox(*text);
}

Window::~Window() { Destroy(); }

void Window::Destroy() {
    if (hwnd_ == nullptr) return;
    HWND window = hwnd_;
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    hwnd_ = nullptr;
    DestroyWindow(window);
}

void Window::Create(const wchar_t* className, DWORD exStyle, DWORD style,
                    const std::wstring& caption, int x, int y, int width, int height, HWND parent,
                    HMENU id) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW known{};
    known.cbSize = sizeof known;
    if (!GetClassInfoExW(instance, className, &known)) {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = className;
        RegisterClassExW(&windowClass);
    }
    CreateWindowExW(exStyle, className, caption.c_str(), style, x, y, width, height, parent, id,
                    instance, this);
}

LRESULT Window::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK Window::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    LRESULT result = 0;
    try {
        result = self->HandleMessage(message, wParam, lParam);
    } catch (...) {
        // As the application's general error report does: the handler's
        // remaining steps are skipped and the message loop goes on.
        ReportException(std::current_exception());
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
    }
    return result;
}

}  // namespace ue
