// The locale contract on the scripted locale of the core tests, its clock
// standing still.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "platform/fake/fake_platform.h"
#include "shared/locale_contract.h"

namespace tarnwick::test {
namespace {

TEST(FakeLocale, KeepsTheContractOfEveryLocale) {
    using namespace std::chrono;
    FakeLocale locale;
    // A Sunday, 02:30:00.500 at +0100.
    locale.time = LocalTime{2026, 3, 29, 2, 30, 0, 500, 1, 60};
    const auto utc = sys_days{2026y / 3 / 29} + 1h + 30min + 500ms;
    keepsTheContractOfEveryLocale(
        locale, [&] { return system_clock::time_point(utc); }, std::filesystem::temp_directory_path().string());
}

}  // namespace
}  // namespace tarnwick::test
