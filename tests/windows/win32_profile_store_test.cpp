// Win32ProfileStore: the system's profile functions keep the contract of
// every store; the file's place; the check that a save landed.
#include "platform/windows/win32_profile_store.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "shared/profile_store_contract.h"
#include "windows/win_support.h"

namespace tarnwick {
namespace {

using testing::readFile;

TEST(Win32ProfileStore, KeepsTheContractOfEveryStore) {
    testing::TempDir dir;
    const std::string path = dir.file("tarnwick.ini");
    Win32ProfileStore store(path);
    test::StoreDriver driver;
    driver.setFile = [&](const std::optional<std::string>& text) {
        DeleteFileA(path.c_str());
        RemoveDirectoryA(path.c_str());
        if (text) testing::writeFile(path, *text);
    };
    driver.file = [&]() -> std::optional<std::string> {
        return testing::fileExists(path) ? std::optional(readFile(path)) : std::nullopt;
    };
    driver.breakSaves = [&] {
        DeleteFileA(path.c_str());
        CreateDirectoryA(path.c_str(), nullptr);
    };
    test::keepsTheContractOfEveryStore(store, driver);
}

// A bare name is the file in the Windows directory, as the installer lays
// it out, written in CR LF lines.
TEST(Win32ProfileStore, ABareNameIsTheFileInTheWindowsDirectory) {
    char windows[MAX_PATH + 1] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    const std::string name = "tarnwick-test-" + std::to_string(GetCurrentProcessId()) + ".ini";
    Win32ProfileStore store(name);
    ASSERT_EQ(store.location(), std::string(windows) + "\\" + name);
    ASSERT_TRUE(store.putStrings("SETTINGS", {{"TEXT6", "75"}, {"LEFT", "300"}}).empty());
    EXPECT_EQ(readFile(store.location()), "[SETTINGS]\r\nTEXT6=75\r\nLEFT=300\r\n");
    EXPECT_EQ(store.getString("SETTINGS", "TEXT6", "50", 256), "75");
    DeleteFileA(store.location().c_str());
    // Wine runs nothing virtualised: the real file is the file.
    EXPECT_TRUE(!testing::underWine() || win32::virtualStorePath(store.location()).empty());
}

// A folder where the file should be, and (under Wine) a disk that refuses
// the bytes while the profile functions answer TRUE: either way every entry
// is reported, naming the file.
TEST(Win32ProfileStore, AWriteThatFailsOrDoesNotLandIsReportedForEveryEntry) {
    testing::TempDir dir;
    const std::string folder = dir.file("tarnwick.ini");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const std::vector<std::pair<std::string, std::string>> entries{{"TEXT6", "50"}, {"LEFT", "300"}};
    for (const std::string& path : {folder, std::string("Z:\\dev\\full")}) {
        if (path[0] == 'Z' && !testing::underWine()) continue;
        const std::vector<SaveProblem> problems = Win32ProfileStore(path).putStrings("SETTINGS", entries);
        ASSERT_EQ(problems.size(), entries.size()) << path;
        for (std::size_t i = 0; i < problems.size(); ++i) {
            const std::string& reason = problems[i].reason;
            EXPECT_EQ(problems[i].file, path);
            // The system's reason in words, or which value did not land.
            EXPECT_NE(reason.find(path == folder ? "(error " : entries[i].first), std::string::npos) << reason;
            EXPECT_GT(reason.size(), std::string("(error 5)").size()) << "no words: " << reason;
        }
    }
}

}  // namespace
}  // namespace tarnwick
