// QtLocale keeps the contract of every locale against the system clock.
#include "platform/linux/qt_locale.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "shared/locale_contract.h"

namespace tarnwick {
namespace {

TEST(QtLocale, KeepsTheContractOfEveryLocale) {
    test::keepsTheContractOfEveryLocale(
        QtLocale(), [] { return std::chrono::system_clock::now(); }, std::filesystem::temp_directory_path().string());
}

}  // namespace
}  // namespace tarnwick
