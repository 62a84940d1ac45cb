// The circular busy indicator: twelve wedges in a ring, a moving segment that
// steps once per interval, and a progress position from 0 to 100. The state
// and the geometry live in ProgressModel; this widget paints it and owns the
// stepping timer.
#pragma once

#include <QColor>
#include <QTimer>
#include <QWidget>

#include "ui/ProgressModel.h"

namespace ue {

// The model's colours as Qt colours.
QColor ColourValueQt(SegmentColour colour);

class CircularProgress : public QWidget {
    Q_OBJECT
public:
    static constexpr int kSegments = ProgressModel::kSegments;
    static constexpr int kInterval = ProgressModel::kInterval;

    explicit CircularProgress(QWidget* parent = nullptr);

    int Minimum() const { return ProgressModel::kMinimum; }
    int Maximum() const { return ProgressModel::kMaximum; }
    int Position() const { return model_.Position(); }
    // Values equal to the present one or outside the range are ignored.
    void SetPosition(int position);
    int Count() const { return model_.Count(); }

    int MovingSegment() const { return model_.MovingSegment(); }
    bool Lap() const { return model_.Lap(); }
    const ProgressModel& Model() const { return model_; }
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
    ProgressModel model_;
};

}  // namespace ue
