// The busy indicator: its geometry, its progress count, its colour table and
// the wedges it actually paints.
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>

#include "ui/CircularProgress.h"

namespace ue {
namespace {

TEST(CircularProgressGeometry, SpanGrowsWithTheLargerSideAndTheInnerEllipseIsTruncated) {
    struct Case { int w, h, span; };
    for (const Case& c : {Case{33, 33, 22}, Case{39, 10, 22}, Case{10, 40, 23}, Case{59, 59, 23},
                          Case{60, 1, 24}, Case{99, 99, 24}, Case{100, 100, 25}, Case{20, 199, 25},
                          Case{200, 200, 26}, Case{800, 30, 26}}) {
        EXPECT_EQ(WedgeSpanDegrees(c.w, c.h), c.span) << c.w << "x" << c.h;
    }
    EXPECT_EQ(InnerEllipse(33, 33), QRect(7, 7, 17, 17));
    EXPECT_EQ(InnerEllipse(100, 100), QRect(23, 23, 53, 53));
    EXPECT_EQ(InnerEllipse(30, 61), QRect(7, 14, 16, 32));
}

TEST(CircularProgressCount, FollowsThePositionInTwelfths) {
    EXPECT_EQ(ProgressCount(0, 0, 100), -1);   // at the minimum: no progress segment
    EXPECT_EQ(ProgressCount(8, 0, 100), 0);    // 0.96
    EXPECT_EQ(ProgressCount(9, 0, 100), 1);    // 1.08, truncated
    EXPECT_EQ(ProgressCount(17, 0, 100), 2);   // 2.04
    EXPECT_EQ(ProgressCount(99, 0, 100), 11);  // 11.88
    EXPECT_EQ(ProgressCount(100, 0, 100), 12);
}

TEST(CircularProgressColours, TableInBothLapStates) {
    using C = SegmentColour;
    // Moving segment 5, count 7.
    const C lapTrue[12] = {C::Active,   C::Active,   C::Active,   C::Active,
                           C::Moving,   C::Progress, C::Progress, C::Inactive,
                           C::Inactive, C::Inactive, C::Inactive, C::Inactive};
    const C lapFalse[12] = {C::Progress, C::Progress, C::Progress, C::Progress,
                            C::Moving,   C::Active,   C::Active,   C::Active,
                            C::Active,   C::Active,   C::Active,   C::Active};
    for (int i = 1; i <= 12; ++i) {
        EXPECT_EQ(ColourOfSegment(i, 5, true, 7), lapTrue[i - 1]) << i;
        EXPECT_EQ(ColourOfSegment(i, 5, false, 7), lapFalse[i - 1]) << i;
    }
    // Count -1 (position 0): no segment shows progress in either lap.
    for (int i = 1; i <= 12; ++i) {
        for (bool lap : {true, false}) {
            EXPECT_NE(ColourOfSegment(i, 1, lap, -1), C::Progress);
            EXPECT_NE(ColourOfSegment(i, 12, lap, -1), C::Progress);
        }
    }
    EXPECT_EQ(ColourValue(C::Active), QColor(0, 128, 0));
    EXPECT_EQ(ColourValue(C::Inactive), QColor(0, 128, 0));
    EXPECT_EQ(ColourValue(C::Moving), QColor(255, 0, 0));
    EXPECT_EQ(ColourValue(C::Progress), QColor(128, 0, 64));
}

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
