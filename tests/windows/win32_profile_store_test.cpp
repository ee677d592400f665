// Win32ProfileStore: the system's profile functions against the profile
// semantics of the other stores (platform/portable/ini_text.h), and the check that a
// save landed.
#include "platform/windows/win32_profile_store.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/portable/ini_text.h"
#include "windows/win_support.h"

namespace tarnwick {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

// One file written and read by both: the system's profile functions on disk
// and the text functions in memory.
class BothWays : public ::testing::Test {
protected:
    TempDir dir;  // first: the members below are made from it
    std::string path = dir.file("tarnwick.ini");
    Win32ProfileStore store{path};
    std::string text;  // the text functions' copy of the file

    void start(const std::string& fileText) {
        writeFile(path, fileText);
        text = fileText;
    }
    void put(const std::string& section, const std::string& key, const std::string& value) {
        EXPECT_TRUE(store.putStrings(section, {{key, value}}).empty()) << key;
        text = ini::writeValue(text, section, key, value);
    }
    // Both readings of one key; they must agree.
    std::string get(const std::string& section, const std::string& key, const std::string& fallback,
                    std::size_t size = 256) {
        const std::string system = store.getString(section, key, fallback, size);
        const std::string ours = ini::readValue(text, section, key, fallback, size);
        EXPECT_EQ(system, ours) << "[" << section << "] " << key;
        return system;
    }
};

TEST_F(BothWays, ReadingsAgreeOnCutsQuotesBlanksAndMissingKeys) {
    start("[SETTINGS]\r\nSINGLE='Your Call'\r\nODD=\"half'\r\nINNER=a \"b\" c\r\nTEXT4=\r\nHOUR3=  \r\n");
    const std::string path300 = "C:\\Audio\\" + std::string(291, 'x');
    put("SETTINGS", "LONG", path300);
    put("SETTINGS", "CWCALLSIGN", "W1AW ");
    put("SETTINGS", "QUOTED", "\"W1AW-L\"");
    EXPECT_EQ(get("SETTINGS", "LONG", ""), path300.substr(0, 255));
    EXPECT_EQ(get("SETTINGS", "LONG", "", 1), "");
    EXPECT_EQ(get("SETTINGS", "MISSING", "0123456789", 5), "0123");
    EXPECT_EQ(get("SETTINGS", "CWCALLSIGN", ""), "W1AW");
    EXPECT_EQ(get("SETTINGS", "QUOTED", ""), "W1AW-L");
    EXPECT_EQ(get("SETTINGS", "SINGLE", ""), "Your Call");
    EXPECT_EQ(get("SETTINGS", "ODD", ""), "\"half'");
    EXPECT_EQ(get("SETTINGS", "INNER", ""), "a \"b\" c");
    // A present empty key is empty, a missing one (or file) the default.
    EXPECT_EQ(get("SETTINGS", "TEXT4", "default"), "");
    EXPECT_EQ(get("SETTINGS", "HOUR3", "24"), "");
    EXPECT_EQ(get("SETTINGS", "MINS3", "00"), "00");
    EXPECT_EQ(get("OTHER", "TEXT4", "no section"), "no section");
    DeleteFileA(path.c_str());
    text.clear();
    EXPECT_EQ(get("SETTINGS", "TEXT6", "50"), "50");
}

// Names match without regard to case; an existing key and section keep the
// spelling of the file, a new DTMF key is written upper case.
TEST_F(BothWays, NamesMatchWithoutRegardToCaseAndKeepTheFilesSpelling) {
    start("[Settings]\r\nBeaconPeriod6=20\r\n");
    EXPECT_EQ(get("SETTINGS", "BEACONPERIOD6", "15"), "20");
    put("SETTINGS", "BEACONPERIOD6", "30");
    EXPECT_EQ(get("settings", "beaconperiod6", "15"), "30");
    EXPECT_EQ(readFile(path), "[Settings]\r\nBeaconPeriod6=30\r\n");

    start("");
    put("SETTINGS", "DTMFINFO3", "1234");
    EXPECT_EQ(get("SETTINGS", "DTMFInfo3", "BB"), "1234");
    EXPECT_NE(readFile(path).find("DTMFINFO3=1234"), std::string::npos);
    start("[SETTINGS]\r\nDTMFInfo3=99\r\n");
    put("SETTINGS", "DTMFINFO3", "42");
    EXPECT_EQ(readFile(path), "[SETTINGS]\r\nDTMFInfo3=42\r\n");
}

TEST_F(BothWays, ExistingKeysKeepTheirPlacesAndNewOnesEndTheSection) {
    const std::string before = "[SETTINGS]\r\nTEXT6=50\r\nLEFT=300\r\n[OTHER]\r\nX=1\r\n";
    start(before);
    put("SETTINGS", "LEFT", "450");
    put("SETTINGS", "TOP", "600");
    // For files in the program's own shape the two agree byte for byte.
    EXPECT_EQ(readFile(path), text);
    EXPECT_EQ(text, "[SETTINGS]\r\nTEXT6=50\r\nLEFT=450\r\nTOP=600\r\n[OTHER]\r\nX=1\r\n");
}

// Where the text functions differ from Wine's profile code, they do so on
// purpose (see platform/portable/ini_text.cpp); what a later read gives is the same.
TEST_F(BothWays, DiffersFromWineOnlyWhereTheTextFunctionsChoseTo) {
    if (!testing::underWine()) GTEST_SKIP() << "compares with Wine's own profile code";
    // A new file: Wine writes CR LF, the text functions LF (the Linux file).
    start("");
    put("SETTINGS", "TEXT6", "50");
    EXPECT_EQ(readFile(path), "[SETTINGS]\r\nTEXT6=50\r\n");
    EXPECT_EQ(text, "[SETTINGS]\nTEXT6=50\n");

    // A hand-edited file: Wine rewrites every line in its own form, the
    // text functions change only the line of the key written.
    start("; mine\r\n[OTHER]\r\na = 1\r\n\r\n[SETTINGS]\r\nTEXT6 = 70\r\n");
    put("SETTINGS", "TEXT6", "80");
    EXPECT_EQ(readFile(path), "; mine\r\n[OTHER]\r\na=1\r\n[SETTINGS]\r\nTEXT6=80\r\n");
    EXPECT_EQ(text, "; mine\r\n[OTHER]\r\na = 1\r\n\r\n[SETTINGS]\r\nTEXT6=80\r\n");
    get("OTHER", "a", "");

    // A quoted value that just fills the buffer: Wine loses its last
    // character, the text functions keep it.
    start("[S]\r\nK=\"abcdef\"\r\n");
    EXPECT_EQ(store.getString("S", "K", "", 7), "abcde");
    EXPECT_EQ(ini::readValue(text, "S", "K", "", 7), "abcdef");
}

// A bare name is the file in the Windows directory, as the installer lays
// it out. A first save makes the section, then the keys in their order; a
// second one with the same values leaves the file as it was.
TEST(Win32ProfileStore, ABareNameIsTheFileInTheWindowsDirectoryAndTwoSavesMatch) {
    char windows[MAX_PATH + 1] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    const std::string name = "tarnwick-test-" + std::to_string(GetCurrentProcessId()) + ".ini";
    Win32ProfileStore store(name);
    ASSERT_EQ(store.location(), std::string(windows) + "\\" + name);
    const Entries entries{
        {"TEXT6", "75"}, {"BEACONPERIOD8", "1"}, {"CWCALLSIGN", "W1AW-L"}, {"DTMFINFO3", "12"}, {"LEFT", "300"}};
    ASSERT_TRUE(store.putStrings("SETTINGS", entries).empty());
    const std::string first = readFile(store.location());
    EXPECT_EQ(first, "[SETTINGS]\r\nTEXT6=75\r\nBEACONPERIOD8=1\r\nCWCALLSIGN=W1AW-L\r\nDTMFINFO3=12\r\nLEFT=300\r\n");
    ASSERT_TRUE(store.putStrings("SETTINGS", entries).empty());
    EXPECT_EQ(readFile(store.location()), first);
    EXPECT_EQ(store.getString("SETTINGS", "TEXT6", "50", 256), "75");
    DeleteFileA(store.location().c_str());
    // Wine runs nothing virtualised: the real file is the file.
    EXPECT_TRUE(!testing::underWine() || win32::virtualStorePath(store.location()).empty());
}

// A folder where the file should be, and (under Wine) a disk that refuses
// the bytes while the profile functions answer TRUE: either way every entry
// is reported, naming the file.
TEST(Win32ProfileStore, AWriteThatFailsOrDoesNotLandIsReportedForEveryEntry) {
    TempDir dir;
    const std::string folder = dir.file("tarnwick.ini");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const Entries entries{{"TEXT6", "50"}, {"LEFT", "300"}};
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
