#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <regex>

#include "sysops/System.h"

namespace ue {
namespace {

TEST(RealSystem, TodayTextIsTheLocalDate) {
    RealSystem system;
    for (;;) {
        std::time_t before = std::time(nullptr);
        std::string today = system.TodayText();
        std::time_t after = std::time(nullptr);
        std::tm local{};
        localtime_r(&before, &local);
        char expected[16];
        std::strftime(expected, sizeof expected, "%Y-%m-%d", &local);
        std::tm check{};
        localtime_r(&after, &check);
        if (check.tm_mday != local.tm_mday) continue;  // midnight passed meanwhile
        EXPECT_EQ(today, expected);
        EXPECT_TRUE(std::regex_match(today, std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2}")));
        break;
    }
}

TEST(RealSystem, SleepPausesAtLeastTheTimeGiven) {
    RealSystem system;
    auto start = std::chrono::steady_clock::now();
    system.Sleep(30);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

}  // namespace
}  // namespace ue
