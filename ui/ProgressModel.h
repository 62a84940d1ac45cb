// The busy indicator without a toolkit: its geometry, its progress position,
// its moving segment and the colour of each segment. The Qt widget paints
// from it and a GDI drawing will, so the two cannot drift apart.
#pragma once

#include "ui/Layout.h"

namespace ue {

enum class SegmentColour { Active, Inactive, Moving, Progress };

// Degrees each wedge spans: 22 when the larger side is below 40 pixels, 23
// below 60, 24 below 100, 25 below 200, 26 from 200 on.
int WedgeSpanDegrees(int width, int height);

// Degrees clockwise from twelve o'clock at which segment (1..12) begins.
int SegmentStartDegrees(int segment);

// The ellipse cut out of the wedges: 7/30 of the size in from left and top,
// 16/30 of the size wide and high, each truncated (7,7,17,17 for 33 pixels).
layout::Rect InnerEllipse(int width, int height);

// 12 at the maximum, -1 at or below the minimum, else
// position / ((maximum - minimum) / 12) in single precision, truncated.
int ProgressCount(int position, int minimum, int maximum);

// Colour of `segment` (1..12) with the moving segment `moving`, the lap flag
// and the progress count.
SegmentColour ColourOfSegment(int segment, int moving, bool lap, int count);

layout::Rgb ColourValue(SegmentColour colour);

class ProgressModel {
public:
    static constexpr int kSegments = layout::BusyIndicator.segments;
    static constexpr int kInterval = layout::BusyIndicator.intervalMs;
    static constexpr int kMinimum = layout::BusyIndicator.minimum;
    static constexpr int kMaximum = layout::BusyIndicator.maximum;

    int Position() const { return position_; }
    // Values equal to the present one or outside the range are ignored.
    // True when the position changed (the indicator must be redrawn).
    bool SetPosition(int position);
    int Count() const { return ProgressCount(position_, kMinimum, kMaximum); }

    int MovingSegment() const { return moving_; }
    bool Lap() const { return lap_; }
    // One interval: the moving segment advances; after 12 it wraps to 1 and
    // the lap flag flips. The indicator is redrawn after every step.
    void Step();

    // The colour segment (1..12) has now.
    SegmentColour ColourOf(int segment) const {
        return ColourOfSegment(segment, moving_, lap_, Count());
    }

private:
    int position_ = kMinimum;
    int moving_ = 1;
    bool lap_ = true;
};

}  // namespace ue
