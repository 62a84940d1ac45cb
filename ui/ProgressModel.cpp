#include "ui/ProgressModel.h"

#include <algorithm>

namespace ue {

int WedgeSpanDegrees(int width, int height) {
    const int size = std::max(width, height);
    if (size < 40) return 22;
    if (size < 60) return 23;
    if (size < 100) return 24;
    if (size < 200) return 25;
    return 26;
}

int SegmentStartDegrees(int segment) { return (segment - 1) * 360 / ProgressModel::kSegments; }

layout::Rect InnerEllipse(int width, int height) {
    return {7 * width / 30, 7 * height / 30, (30 * width - 14 * width) / 30,
            (30 * height - 14 * height) / 30};
}

int ProgressCount(int position, int minimum, int maximum) {
    if (position == maximum) return ProgressModel::kSegments;
    if (position <= minimum) return -1;
    const float step = static_cast<float>(maximum - minimum) / 12.0f;
    return static_cast<int>(static_cast<float>(position) / step);
}

SegmentColour ColourOfSegment(int segment, int moving, bool lap, int count) {
    if (segment == moving) return SegmentColour::Moving;
    const SegmentColour byCount = segment <= count ? SegmentColour::Progress : SegmentColour::Inactive;
    if (segment < moving) return lap ? SegmentColour::Active : byCount;
    return lap ? byCount : SegmentColour::Active;
}

layout::Rgb ColourValue(SegmentColour colour) {
    const layout::Indicator& table = layout::BusyIndicator;
    switch (colour) {
        case SegmentColour::Active: return table.active;
        case SegmentColour::Inactive: return table.inactive;
        case SegmentColour::Moving: return table.moving;
        case SegmentColour::Progress: return table.progress;
    }
    return {};
}

bool ProgressModel::SetPosition(int position) {
    if (position == position_ || position < kMinimum || position > kMaximum) return false;
    position_ = position;
    return true;
}

void ProgressModel::Step() {
    if (++moving_ > kSegments) {
        moving_ = 1;
        lap_ = !lap_;
    }
}

}  // namespace ue
