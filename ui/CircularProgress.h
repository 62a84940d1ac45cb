// The circular busy indicator: twelve wedges in a ring, a moving segment that
// steps once per interval, and a progress position from 0 to 100.
#pragma once

#include <QColor>
#include <QRect>
#include <QTimer>
#include <QWidget>

namespace ue {

enum class SegmentColour { Active, Inactive, Moving, Progress };

// Degrees each wedge spans: 22 when the larger side is below 40 pixels, 23
// below 60, 24 below 100, 25 below 200, 26 from 200 on.
int WedgeSpanDegrees(int width, int height);

// The ellipse cut out of the wedges: 7/30 of the size in from left and top,
// 16/30 of the size wide and high, each truncated (7,7,17,17 for 33 pixels).
QRect InnerEllipse(int width, int height);

// 12 at the maximum, -1 at or below the minimum, else
// position / ((maximum - minimum) / 12) in single precision, truncated.
int ProgressCount(int position, int minimum, int maximum);

// Colour of `segment` (1..12) with the moving segment `moving`, the lap flag
// and the progress count.
SegmentColour ColourOfSegment(int segment, int moving, bool lap, int count);

QColor ColourValue(SegmentColour colour);

class CircularProgress : public QWidget {
    Q_OBJECT
public:
    static constexpr int kSegments = 12;
    static constexpr int kInterval = 1000;

    explicit CircularProgress(QWidget* parent = nullptr);

    int Minimum() const { return 0; }
    int Maximum() const { return 100; }
    int Position() const { return position_; }
    // Values equal to the present one or outside the range are ignored.
    void SetPosition(int position);
    int Count() const { return ProgressCount(position_, Minimum(), Maximum()); }

    int MovingSegment() const { return moving_; }
    bool Lap() const { return lap_; }
    // One interval: the moving segment advances; after 12 it wraps to 1 and
    // the lap flag flips.
    void Step();

    // Steps the moving segment while the indicator is enabled.
    QTimer* StepTimer() { return &stepTimer_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QTimer stepTimer_;
    int position_ = 0;
    int moving_ = 1;
    bool lap_ = true;
};

}  // namespace ue
