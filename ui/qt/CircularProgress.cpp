#include "ui/qt/CircularProgress.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

#include "ui/qt/QtLayout.h"

namespace ue {

QColor ColourValueQt(SegmentColour colour) { return ToQColor(ColourValue(colour)); }

CircularProgress::CircularProgress(QWidget* parent) : QWidget(parent) {
    // No background of its own (no autofill): the parent shows through.
    stepTimer_.setInterval(kInterval);
    connect(&stepTimer_, &QTimer::timeout, this, &CircularProgress::Step);
    stepTimer_.start();
}

void CircularProgress::SetPosition(int position) {
    if (model_.SetPosition(position)) update();
}

void CircularProgress::Step() {
    model_.Step();
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
    hole.addEllipse(QRectF(ToQRect(InnerEllipse(width(), height()))));
    painter.setClipPath(ring.subtracted(hole));

    const int span = WedgeSpanDegrees(width(), height());
    for (int i = 1; i <= kSegments; ++i) {
        // Qt counts angles anticlockwise from three o'clock in 1/16 degrees.
        const int start = (90 - SegmentStartDegrees(i)) * 16;
        painter.setBrush(ColourValueQt(model_.ColourOf(i)));
        painter.drawPie(outer, start, -span * 16);
    }
}

}  // namespace ue
