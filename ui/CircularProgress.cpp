#include "ui/CircularProgress.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
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

QRect InnerEllipse(int width, int height) {
    return QRect(7 * width / 30, 7 * height / 30, (30 * width - 14 * width) / 30,
                 (30 * height - 14 * height) / 30);
}

int ProgressCount(int position, int minimum, int maximum) {
    if (position == maximum) return CircularProgress::kSegments;
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

QColor ColourValue(SegmentColour colour) {
    switch (colour) {
        case SegmentColour::Active:
        case SegmentColour::Inactive: return QColor(0, 128, 0);
        case SegmentColour::Moving: return QColor(255, 0, 0);
        case SegmentColour::Progress: return QColor(128, 0, 64);
    }
    return {};
}

CircularProgress::CircularProgress(QWidget* parent) : QWidget(parent) {
    // No background of its own (no autofill): the parent shows through.
    stepTimer_.setInterval(kInterval);
    connect(&stepTimer_, &QTimer::timeout, this, &CircularProgress::Step);
    stepTimer_.start();
}

void CircularProgress::SetPosition(int position) {
    if (position == position_ || position < Minimum() || position > Maximum()) return;
    position_ = position;
    update();
}

void CircularProgress::Step() {
    if (++moving_ > kSegments) {
        moving_ = 1;
        lap_ = !lap_;
    }
    update();
}

void CircularProgress::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        if (isEnabled())
            stepTimer_.start();
        else
            stepTimer_.stop();
    }
    QWidget::changeEvent(event);
}

void CircularProgress::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);

    const QRectF outer(0, 0, width(), height());
    QPainterPath ring;
    ring.addRect(outer);
    QPainterPath hole;
    hole.addEllipse(QRectF(InnerEllipse(width(), height())));
    painter.setClipPath(ring.subtracted(hole));

    const int span = WedgeSpanDegrees(width(), height());
    const int count = Count();
    for (int i = 1; i <= kSegments; ++i) {
        // Qt counts angles anticlockwise from three o'clock in 1/16 degrees;
        // segment i begins (i - 1) * 30 degrees clockwise from twelve.
        const int start = (90 - (i - 1) * 30) * 16;
        painter.setBrush(ColourValue(ColourOfSegment(i, moving_, lap_, count)));
        painter.drawPie(outer, start, -span * 16);
    }
}

}  // namespace ue
