// What every locale must give (seams/locale.h), checked the same way on
// Qt's view of the system, on the Windows regional settings and on the
// scripted locale of the core tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "seams/locale.h"

namespace tarnwick::test {

// The date and time the locale gives, as UTC: what the rest of the system
// works out from the fields and the offset.
inline std::chrono::sys_time<std::chrono::milliseconds> asUtc(const LocalTime& t) {
    using namespace std::chrono;
    const sys_days date{year{t.year} / t.month / t.day};
    return date + hours{t.hour} + minutes{t.minute - t.utcOffsetMinutes} + seconds{t.second} +
           milliseconds{t.millisecond};
}

// `utcNow` is the moment the locale's clock should stand at; `folder`
// names a directory (in the locale's own path text) where the check may
// put a file of an ASCII name.
inline void keepsTheContractOfEveryLocale(const Locale& locale,
                                          const std::function<std::chrono::system_clock::time_point()>& utcNow,
                                          const std::string& folder) {
    using namespace std::chrono;
    const std::string separator = locale.decimalSeparator();
    EXPECT_FALSE(separator.empty());
    EXPECT_EQ(separator.find_first_of("0123456789+-"), std::string::npos) << separator;

    const auto before = utcNow();
    const LocalTime t = locale.localNow();
    const auto after = utcNow();
    EXPECT_TRUE(t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31) << t.month << "/" << t.day;
    EXPECT_TRUE(t.hour >= 0 && t.hour < 24 && t.minute >= 0 && t.minute < 60 && t.second >= 0 && t.second < 61);
    EXPECT_TRUE(t.millisecond >= 0 && t.millisecond < 1000) << t.millisecond;
    EXPECT_LE(std::abs(t.utcOffsetMinutes), 14 * 60);
    // Weekday 1 is Sunday.
    EXPECT_EQ(t.weekday, static_cast<int>(weekday{sys_days{year{t.year} / t.month / t.day}}.c_encoding()) + 1);
    // The fields and the offset name this moment (a second's grace each
    // side for clocks read a tick apart).
    EXPECT_GE(asUtc(t), floor<seconds>(before) - seconds{1});
    EXPECT_LE(asUtc(t), after + seconds{1});

    // An ASCII name means the same in every character set.
    const std::string name = folder + "/tarnwick-locale-check.txt";
    std::ofstream(std::filesystem::path(name)) << "x";
    EXPECT_TRUE(std::filesystem::is_regular_file(locale.filePath(name))) << name;
    EXPECT_FALSE(std::filesystem::exists(locale.filePath(name + ".missing"))) << name;
    std::filesystem::remove(std::filesystem::path(name));
}

}  // namespace tarnwick::test
