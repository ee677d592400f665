// QtLocale against the C library's view of the same moment.
#include "platform/linux/qt_locale.h"

#include <gtest/gtest.h>

#include <ctime>

namespace tarnwick {
namespace {

TEST(QtLocale, LocalNowCountsWeekdaysFromSunday) {
    QtLocale locale;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::time_t before = std::time(nullptr);
        const LocalTime now = locale.localNow();
        const std::time_t after = std::time(nullptr);
        if (before != after) continue;  // the second turned over: look again
        std::tm tm{};
        localtime_r(&before, &tm);
        EXPECT_EQ(now.weekday, tm.tm_wday + 1);
        EXPECT_EQ(now.year, tm.tm_year + 1900);
        EXPECT_EQ(now.month, tm.tm_mon + 1);
        EXPECT_EQ(now.day, tm.tm_mday);
        EXPECT_EQ(now.hour, tm.tm_hour);
        EXPECT_EQ(now.minute, tm.tm_min);
        EXPECT_EQ(now.second, tm.tm_sec);
        return;
    }
    FAIL() << "the clock kept turning over";
}

}  // namespace
}  // namespace tarnwick
