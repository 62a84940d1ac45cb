// The busy indicator widget over its model (ProgressModel_ptest): position,
// stepping, its own timer and the wedges it actually paints.
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>

#include "ui/qt/CircularProgress.h"

namespace ue {
namespace {

TEST(CircularProgressWidget, PositionIgnoresOutOfRangeAndEqualValues) {
    CircularProgress indicator;
    EXPECT_EQ(indicator.Position(), 0);
    EXPECT_EQ(indicator.Count(), -1);
    indicator.SetPosition(-1);
    indicator.SetPosition(101);
    EXPECT_EQ(indicator.Position(), 0);
    indicator.SetPosition(9);
    EXPECT_EQ(indicator.Count(), 1);
    indicator.SetPosition(100);
    EXPECT_EQ(indicator.Count(), 12);
    indicator.SetPosition(101);
    EXPECT_EQ(indicator.Position(), 100);
}

TEST(CircularProgressWidget, MovingSegmentWrapsAndFlipsTheLap) {
    CircularProgress indicator;
    EXPECT_EQ(indicator.MovingSegment(), 1);
    EXPECT_TRUE(indicator.Lap());
    for (int step = 1; step <= 24; ++step) {
        indicator.Step();
        EXPECT_EQ(indicator.MovingSegment(), step % 12 + 1) << step;
        EXPECT_EQ(indicator.Lap(), step < 12 || step == 24) << step;
    }
}

TEST(CircularProgressWidget, OwnTimerRunsWhileEnabled) {
    CircularProgress indicator;
    EXPECT_EQ(indicator.StepTimer()->interval(), 1000);
    EXPECT_TRUE(indicator.StepTimer()->isActive());
    indicator.setEnabled(false);
    EXPECT_FALSE(indicator.StepTimer()->isActive());
    indicator.setEnabled(true);
    EXPECT_TRUE(indicator.StepTimer()->isActive());
}

// The pixel at `degrees` clockwise from twelve o'clock, `radius` from the centre.
QColor PixelAt(const QImage& image, double degrees, double radius) {
    const double a = degrees * M_PI / 180.0;
    const double c = image.width() / 2.0;
    return image.pixelColor(static_cast<int>(c + radius * std::sin(a)),
                            static_cast<int>(c - radius * std::cos(a)));
}

TEST(CircularProgressWidget, PaintsClockwiseWedgesInARing) {
    CircularProgress indicator;
    indicator.resize(99, 99);  // span 24 degrees, ring from radius ~23 to 49
    indicator.SetPosition(100);
    for (int i = 0; i < 2; ++i) indicator.Step();  // moving segment 3, lap true
    QImage image(99, 99, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    indicator.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);

    const double r = 40;
    EXPECT_EQ(PixelAt(image, 12, r), QColor(0, 128, 0)) << "segment 1: active";
    EXPECT_EQ(PixelAt(image, 72, r), QColor(255, 0, 0)) << "segment 3: moving";
    EXPECT_EQ(PixelAt(image, 102, r), QColor(128, 0, 64)) << "segment 4: progress";
    EXPECT_EQ(PixelAt(image, 27, r).alpha(), 0) << "gap after the 24-degree span";
    EXPECT_EQ(PixelAt(image, 12, 15).alpha(), 0) << "inner ellipse cut out";
    EXPECT_EQ(image.pixelColor(49, 49).alpha(), 0) << "centre";
    EXPECT_EQ(image.pixelColor(1, 1).alpha(), 0) << "no background";
}

}  // namespace
}  // namespace ue
