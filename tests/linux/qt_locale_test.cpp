// QtLocale keeps the contract of every locale against the system clock,
// with the zone the C library sees.
#include "platform/linux/qt_locale.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>

#include "shared/locale_contract.h"

namespace tarnwick {
namespace {

TEST(QtLocale, KeepsTheContractOfEveryLocaleWithTheCLibrarysZone) {
    const QtLocale locale;
    test::keepsTheContractOfEveryLocale(
        locale, [] { return std::chrono::system_clock::now(); }, std::filesystem::temp_directory_path().string());
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    EXPECT_EQ(locale.localNow().utcOffsetMinutes, tm.tm_gmtoff / 60);
}

}  // namespace
}  // namespace tarnwick
