// The busy indicator's model: its geometry, its progress count, its colour
// table and the colours it gives as it steps and rises.
#include <gtest/gtest.h>

#include <string>

#include "ui/ProgressModel.h"

namespace ue {
namespace {

using layout::Rect;
using layout::Rgb;

TEST(CircularProgressGeometry, SpanGrowsWithTheLargerSideAndTheInnerEllipseIsTruncated) {
    struct Case { int w, h, span; };
    for (const Case& c : {Case{33, 33, 22}, Case{39, 10, 22}, Case{10, 40, 23}, Case{59, 59, 23},
                          Case{60, 1, 24}, Case{99, 99, 24}, Case{100, 100, 25}, Case{20, 199, 25},
                          Case{200, 200, 26}, Case{800, 30, 26}}) {
        EXPECT_EQ(WedgeSpanDegrees(c.w, c.h), c.span) << c.w << "x" << c.h;
    }
    EXPECT_EQ(InnerEllipse(33, 33), (Rect{7, 7, 17, 17}));
    EXPECT_EQ(InnerEllipse(100, 100), (Rect{23, 23, 53, 53}));
    EXPECT_EQ(InnerEllipse(30, 61), (Rect{7, 14, 16, 32}));
    EXPECT_EQ(SegmentStartDegrees(1), 0);
    EXPECT_EQ(SegmentStartDegrees(4), 90);
    EXPECT_EQ(SegmentStartDegrees(12), 330);
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
    EXPECT_EQ(ColourValue(C::Active), (Rgb{0, 128, 0}));
    EXPECT_EQ(ColourValue(C::Inactive), (Rgb{0, 128, 0}));
    EXPECT_EQ(ColourValue(C::Moving), (Rgb{255, 0, 0}));
    EXPECT_EQ(ColourValue(C::Progress), (Rgb{128, 0, 64}));
}

// The twelve segments' colours as letters: A active, I inactive, M moving,
// P progress.
std::string Ring(const ProgressModel& model) {
    std::string ring;
    for (int i = 1; i <= ProgressModel::kSegments; ++i) {
        switch (model.ColourOf(i)) {
            case SegmentColour::Active: ring += 'A'; break;
            case SegmentColour::Inactive: ring += 'I'; break;
            case SegmentColour::Moving: ring += 'M'; break;
            case SegmentColour::Progress: ring += 'P'; break;
        }
    }
    return ring;
}

TEST(ProgressModel, RingAsItStepsAndRises) {
    // Each case: position set on a fresh model, then that many steps.
    struct Case { int position, steps; const char* ring; };
    for (const Case& c : {
             Case{0, 0, "MIIIIIIIIIII"},    // start: segment 1 moving, lap true
             Case{0, 4, "AAAAMIIIIIII"},    // before the moving one: active
             Case{0, 11, "AAAAAAAAAAAM"},   // last segment, still lap true
             Case{0, 12, "MAAAAAAAAAAA"},   // wrapped: lap false, after it active
             Case{0, 16, "IIIIMAAAAAAA"},   // lap false: before it by count (none)
             Case{50, 16, "PPPPMAAAAAAA"},  // count 6
             Case{50, 24, "MPPPPPIIIIII"},  // wrapped again: lap true
             Case{100, 3, "AAAMPPPPPPPP"},  // count 12
             Case{9, 0, "MIIIIIIIIIII"},    // count 1, but segment 1 moves
             Case{9, 1, "AMIIIIIIIIII"},
         }) {
        ProgressModel model;
        model.SetPosition(c.position);
        for (int s = 0; s < c.steps; ++s) model.Step();
        EXPECT_EQ(Ring(model), c.ring) << "position " << c.position << ", " << c.steps << " steps";
    }
}

TEST(ProgressModel, PositionTakesOnlyNewValuesInRange) {
    ProgressModel model;
    struct Case { int set; bool taken; int position; };
    for (const Case& c : {Case{0, false, 0}, Case{-1, false, 0}, Case{101, false, 0},
                          Case{1, true, 1}, Case{1, false, 1}, Case{100, true, 100},
                          Case{101, false, 100}, Case{0, true, 0}}) {
        EXPECT_EQ(model.SetPosition(c.set), c.taken) << c.set;
        EXPECT_EQ(model.Position(), c.position) << c.set;
    }
}

}  // namespace
}  // namespace ue
