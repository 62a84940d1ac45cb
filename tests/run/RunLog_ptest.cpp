// The text log (--log FILE): the run's lines appended, each with its time,
// in UTF-8 whatever the path and the text; a file that cannot be written
// never fails the run.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "run/RunReport.h"
#include "tests/support/TempDir.h"

namespace ue {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

RunEvent FileEvent(RunEvent::Fate fate, const std::string& file, const std::string& reason) {
    RunEvent event;
    event.kind = RunEvent::Kind::File;
    event.fate = fate;
    event.file = file;
    event.reason = reason;
    return event;
}

TEST(RunTextLog, AppendsEachRunsLinesWithTheirTimeInUtf8) {
    test::TempDir dir;
    const std::string path = dir.file("升级日志.log");
    test::WriteFileBytes(path, "earlier line\n");

    RunEvent start;
    start.installation = dir.path() + "/套件/";
    RunEvent end;
    end.kind = RunEvent::Kind::Outcome;
    end.installation = start.installation;
    end.outcome = RunEvent::Outcome::RestartNeeded;
    {
        FileLogReport log(path);
        log.Report(start);
        log.Report(FileEvent(RunEvent::Fate::Applied, "主程序.exe", ""));
        log.Report(FileEvent(RunEvent::Fate::Queued, "数据.dll", "in use; it is replaced at the next restart"));
        log.Report(end);
    }
    // A second run appends to the same file.
    FileLogReport(path).Report(FileEvent(RunEvent::Fate::Failed, "b.dll", "Cannot copy: 拒绝访问"));

    const std::vector<std::string> lines = Lines(test::ReadFileBytes(path));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "earlier line");
    const std::regex stamp(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ .*)");
    std::vector<std::string> texts;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        EXPECT_TRUE(std::regex_match(lines[i], stamp)) << lines[i];
        texts.push_back(lines[i].substr(lines[i].find(' ') + 1));
    }
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "Update of " + start.installation + " started",
                         "applied 主程序.exe",
                         "queued for the restart 数据.dll: in use; it is replaced at the next restart",
                         "Update of " + start.installation + " ended: done, restart needed",
                         "failed b.dll: Cannot copy: 拒绝访问"}));
}

TEST(RunTextLog, AFileThatCannotBeWrittenLosesTheLineOnly) {
    test::TempDir dir;
    RunEvent start;
    start.installation = "x";
    // A folder, and a file in a folder that does not exist.
    for (const std::string& path : {dir.path(), dir.file("missing") + "/run.log"}) {
        FileLogReport log(path);
        EXPECT_NO_THROW(log.Report(start)) << path;
    }
}

}  // namespace
}  // namespace ue
