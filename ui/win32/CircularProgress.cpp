#include "ui/win32/CircularProgress.h"

#include <cmath>

namespace ue {
namespace {

constexpr UINT_PTR kStepTimer = 1;

// The point at `degrees` clockwise from twelve o'clock, far out on the ray
// from the centre: GDI needs only the ray's direction.
POINT OnRay(double cx, double cy, double reach, int degrees) {
    const double radians = degrees * 3.14159265358979323846 / 180.0;
    return {static_cast<LONG>(std::lround(cx + reach * std::sin(radians))),
            static_cast<LONG>(std::lround(cy - reach * std::cos(radians)))};
}

}  // namespace

void PaintIndicator(HDC dc, int width, int height, const ProgressModel& model) {
    if (width <= 0 || height <= 0) return;
    const layout::Rect inner = InnerEllipse(width, height);
    HRGN ring = CreateRectRgn(0, 0, width, height);
    HRGN hole = CreateEllipticRgn(inner.left, inner.top, inner.left + inner.width,
                                  inner.top + inner.height);
    CombineRgn(ring, ring, hole, RGN_DIFF);
    const int saved = SaveDC(dc);
    ExtSelectClipRgn(dc, ring, RGN_AND);
    SelectObject(dc, GetStockObject(NULL_PEN));
    SetArcDirection(dc, AD_COUNTERCLOCKWISE);

    const double cx = width / 2.0, cy = height / 2.0, reach = 2.0 * (width + height);
    const int span = WedgeSpanDegrees(width, height);
    for (int i = 1; i <= ProgressModel::kSegments; ++i) {
        const int start = SegmentStartDegrees(i);
        // Clockwise from start to start + span is counterclockwise back from the far ray.
        const POINT from = OnRay(cx, cy, reach, start + span);
        const POINT to = OnRay(cx, cy, reach, start);
        HBRUSH brush = CreateSolidBrush(ToColorRef(ColourValue(model.ColourOf(i))));
        HGDIOBJ old = SelectObject(dc, brush);
        // A null pen leaves the bottom and right edge unfilled: one pixel more.
        Pie(dc, 0, 0, width + 1, height + 1, from.x, from.y, to.x, to.y);
        SelectObject(dc, old);
        DeleteObject(brush);
    }
    RestoreDC(dc, saved);
    DeleteObject(hole);
    DeleteObject(ring);
}

CircularProgress::CircularProgress(HWND parent, const layout::Control& entry) {
    const RECT place = PlaceOf(entry);
    Create(L"UpdateExe.CircularProgress", 0, WS_CHILD | (entry.visible ? WS_VISIBLE : 0), L"",
           place.left, place.top, place.right - place.left, place.bottom - place.top, parent);
    SetTimer(hwnd_, kStepTimer, ProgressModel::kInterval, nullptr);
}

void CircularProgress::SetPosition(int position) {
    if (model_.SetPosition(position) && hwnd_ != nullptr) InvalidateRect(hwnd_, nullptr, FALSE);
}

void CircularProgress::Step() {
    model_.Step();
    if (hwnd_ != nullptr) InvalidateRect(hwnd_, nullptr, FALSE);
}

void CircularProgress::Paint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd_, &paint);
    RECT client{};
    GetClientRect(hwnd_, &client);
    // Drawn off screen and copied in one go, so that it does not flicker.
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
    HGDIOBJ old = SelectObject(memory, bitmap);
    // No background of its own: the window's face shows around the wedges.
    FillRect(memory, &client, GetSysColorBrush(COLOR_BTNFACE));
    PaintIndicator(memory, client.right, client.bottom, model_);
    BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    EndPaint(hwnd_, &paint);
}

LRESULT CircularProgress::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        Paint();
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_TIMER:
        if (wParam == kStepTimer) Step();
        return 0;
    case WM_ENABLE:
        // The moving segment steps while the indicator is enabled.
        if (wParam)
            SetTimer(hwnd_, kStepTimer, ProgressModel::kInterval, nullptr);
        else
            KillTimer(hwnd_, kStepTimer);
        return 0;
    case WM_DESTROY:
        KillTimer(hwnd_, kStepTimer);
        break;
    }
    return Window::HandleMessage(message, wParam, lParam);
}

}  // namespace ue
