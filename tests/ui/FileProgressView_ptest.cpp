// What FrmMain shows of the run's progress and when it pumps its messages:
// rows of reports and times, the texts and decisions they must give.
#include <gtest/gtest.h>

#include <string>

#include "ui/FileProgressView.h"

namespace ue {
namespace {

TEST(FileProgressView, TextsAndPercentageFollowTheReports) {
    struct Row {
        FileProgress report;
        std::int64_t at;
        bool changed;
        const char* file;
        const char* place;
    };
    constexpr std::uint64_t GiB = std::uint64_t{1} << 30;
    const Row rows[] = {
        {{"a.dll", 1, 6, 0, 0}, 0, true, "a.dll", "1 / 6"},
        {{"a.dll", 1, 6, 0, 0}, 10, false, "a.dll", "1 / 6"},                 // nothing new: no repaint
        {{"b.z", 2, 6, 0, 0}, 20, true, "b.z", "2 / 6"},
        {{"b.z", 2, 6, 1, 4 * GiB}, 30, false, "b.z", "2 / 6"},              // work began: no % yet
        {{"b.z", 2, 6, GiB, 4 * GiB}, 529, false, "b.z", "2 / 6"},           // not quite a moment
        {{"b.z", 2, 6, GiB, 4 * GiB}, 530, true, "b.z", "2 / 6  25%"},       // it lasts: the %
        {{"b.z", 2, 6, GiB + 5, 4 * GiB}, 540, false, "b.z", "2 / 6  25%"},  // same %: no repaint
        {{"b.z", 2, 6, 4 * GiB - 1, 4 * GiB}, 900, true, "b.z", "2 / 6  99%"},  // 100 only when done
        {{"b.z", 2, 6, 4 * GiB, 4 * GiB}, 910, true, "b.z", "2 / 6  100%"},
        {{"b.z", 2, 6, 0, 0}, 920, true, "b.z", "2 / 6"},                    // done: the % goes
        {{"b.z", 2, 6, 10, 100}, 930, false, "b.z", "2 / 6"},                // the copy: its own clock
        {{"b.z", 2, 6, 200, 100}, 1430, true, "b.z", "2 / 6  100%"},         // a source that grew
        {{"c.exe", 3, 6, 50, 100}, 1440, true, "c.exe", "3 / 6"},            // a new file: no % at once
        {{"", 0, 0, 0, 0}, 1450, true, "", ""},
    };
    FileProgressView view;
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.report.file) + " at " + std::to_string(row.at));
        EXPECT_EQ(view.Take(row.report, row.at), row.changed);
        EXPECT_EQ(view.FileText(), row.file);
        EXPECT_EQ(view.PlaceText(), row.place);
    }
}

TEST(PumpClock, PumpsAtMostEveryIntervalAndKeepsTheLongestGap) {
    PumpClock clock;
    clock.Start(1000);
    struct Row { std::int64_t at; bool due; };
    for (const Row& row : {Row{1000, false}, Row{1029, false}, Row{1030, true}}) {
        EXPECT_EQ(clock.Due(row.at), row.due) << row.at;
    }
    clock.Pumped(1030);
    EXPECT_FALSE(clock.Due(1059));
    clock.Pumped(1300);  // a long stretch without a pump
    clock.Pumped(1340);
    EXPECT_EQ(clock.LongestGapMs(), 270);
    clock.Stop(1700);    // the stretch up to the run's end counts
    EXPECT_EQ(clock.LongestGapMs(), 360);
    clock.Pumped(5000);  // after the run: not counted
    EXPECT_EQ(clock.LongestGapMs(), 360);
    clock.Start(6000);   // the next run starts afresh
    EXPECT_EQ(clock.LongestGapMs(), 0);
}

}  // namespace
}  // namespace ue
