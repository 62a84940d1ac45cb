// The circular busy indicator drawn with GDI from ProgressModel, the same
// model the Qt widget paints, and its own stepping timer.
#pragma once

#include <windows.h>

#include "ui/Layout.h"
#include "ui/ProgressModel.h"
#include "ui/win32/Win32Layout.h"

namespace ue {

// Draws the twelve wedges of `model` into `dc` over (0, 0, width, height),
// the inner ellipse cut out; what lies outside the wedges is left untouched.
void PaintIndicator(HDC dc, int width, int height, const ProgressModel& model);

class CircularProgress : public Window {
public:
    CircularProgress(HWND parent, const layout::Control& entry);

    int Position() const { return model_.Position(); }
    // Values equal to the present one or outside the range are ignored.
    void SetPosition(int position);
    // One interval: the moving segment advances and the indicator is redrawn.
    void Step();
    const ProgressModel& Model() const { return model_; }

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void Paint();

    ProgressModel model_;
};

}  // namespace ue
