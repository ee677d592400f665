// What every settings store must do with the file (seams/profile_store.h),
// checked the same way on the Linux file, on the Windows profile functions
// and on the in-memory store that the core tests stand on: the core tests
// are only as good as that store's likeness to the real ones.
//
// Byte-for-byte checks use files in the program's own shape (KEY=value
// lines, CR LF): the Windows profile functions rewrite others in a form of
// their own, and a new file's line ends are the store's choice.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "seams/profile_store.h"

namespace tarnwick::test {

// How a test reaches one store's file: `setFile` writes it as by hand
// (nullopt: no file), `file` reads it back (nullopt while there is none).
// `version`, where the store can tell, changes whenever the file is
// rewritten; `breakSaves` makes every later save fail.
struct StoreDriver {
    std::function<void(const std::optional<std::string>&)> setFile;
    std::function<std::optional<std::string>()> file;
    std::function<void()> breakSaves;
    std::function<long long()> version;
};

inline std::string withoutCarriageReturns(std::string text) {
    std::erase(text, '\r');
    return text;
}

inline void readsFollowTheProfileRules(ProfileStore& store, const StoreDriver& d) {
    d.setFile(std::nullopt);
    EXPECT_EQ(store.getString("SETTINGS", "TEXT6", "50", 256), "50");
    EXPECT_EQ(store.getString("SETTINGS", "TEXT6", "0123456789", 5), "0123");  // the default is cut too
    EXPECT_TRUE(store.putStrings("SETTINGS", {}).empty());
    EXPECT_EQ(d.file(), std::nullopt) << "an empty batch made a file";

    const std::string path300 = "C:\\Audio\\" + std::string(291, 'x');
    d.setFile(
        "[Settings]\r\nSINGLE='Your Call'\r\nODD=\"half'\r\nINNER=a \"b\" c\r\nTEXT4=\r\nHOUR3=  \r\n"
        "CWCallsign = W1AW \r\nQUOTED=\"W1AW-L\"\r\nLONG=" +
        path300 + "\r\n[OTHER]\r\nTEXT4=other\r\n");
    auto get = [&](const std::string& key, const std::string& fallback, std::size_t size = 256) {
        return store.getString("SETTINGS", key, fallback, size);
    };
    EXPECT_EQ(get("LONG", ""), path300.substr(0, 255));
    EXPECT_EQ(get("LONG", "", 1), "");
    EXPECT_EQ(store.getString("settings", "cwcallsign", "", 256), "W1AW");
    EXPECT_EQ(get("QUOTED", ""), "W1AW-L");
    EXPECT_EQ(get("SINGLE", ""), "Your Call");
    EXPECT_EQ(get("ODD", ""), "\"half'");
    EXPECT_EQ(get("INNER", ""), "a \"b\" c");
    // A present empty key is empty, a missing one (or section) the default.
    EXPECT_EQ(get("TEXT4", "default"), "");
    EXPECT_EQ(get("HOUR3", "24"), "");
    EXPECT_EQ(get("MINS3", "00"), "00");
    EXPECT_EQ(store.getString("OTHER", "TEXT4", "", 256), "other");
    EXPECT_EQ(store.getString("NONE", "TEXT4", "no section", 256), "no section");

    // Nothing is cached: an edit by hand between two reads is seen.
    d.setFile("[settings]\r\ntext6=0\r\n");
    EXPECT_EQ(get("TEXT6", "50"), "0");
}

inline void writesChangeOnlyTheirOwnLines(ProfileStore& store, const StoreDriver& d) {
    d.setFile(std::nullopt);
    EXPECT_TRUE(store.putStrings("SETTINGS", {{"TEXT6", "75"}, {"CWCALLSIGN", "W1AW-L"}, {"DTMFINFO3", "12"}}).empty());
    ASSERT_TRUE(d.file().has_value());
    EXPECT_EQ(withoutCarriageReturns(*d.file()), "[SETTINGS]\nTEXT6=75\nCWCALLSIGN=W1AW-L\nDTMFINFO3=12\n");
    EXPECT_EQ(store.getString("SETTINGS", "DTMFInfo3", "BB", 256), "12");
    // Written in order: the later of two values for one key stays.
    EXPECT_TRUE(store.putStrings("SETTINGS", {{"CWCALLSIGN", "N0CALL "}, {"CWCallSign", "W1AW "}}).empty());
    EXPECT_EQ(store.getString("SETTINGS", "CWCALLSIGN", "", 256), "W1AW");

    // An existing key keeps its place and the file's spelling, a new one
    // ends its section, a new section ends the file.
    d.setFile("[Settings]\r\nBeaconPeriod6=20\r\nLEFT=300\r\n[OTHER]\r\nX=1\r\n");
    EXPECT_TRUE(store.putStrings("SETTINGS", {{"BEACONPERIOD6", "30"}, {"TOP", "600"}}).empty());
    EXPECT_TRUE(store.putStrings("NEW", {{"K", "v"}}).empty());
    const std::string after =
        "[Settings]\r\nBeaconPeriod6=30\r\nLEFT=300\r\nTOP=600\r\n[OTHER]\r\nX=1\r\n[NEW]\r\nK=v\r\n";
    EXPECT_EQ(d.file(), after);
    EXPECT_EQ(store.getString("settings", "beaconperiod6", "15", 256), "30");

    // What is stored already is not written again (the file put back by
    // hand, so that the store's own last write cannot hide a rewrite).
    d.setFile(after);
    const long long before = d.version ? d.version() : 0;
    EXPECT_TRUE(store.putStrings("SETTINGS", {{"BEACONPERIOD6", "30"}, {"LEFT", "300"}}).empty());
    EXPECT_EQ(d.file(), after);
    if (d.version) {
        EXPECT_EQ(d.version(), before) << "an unchanged batch rewrote the file";
        EXPECT_TRUE(store.putStrings("SETTINGS", {{"LEFT", "450"}}).empty());
        EXPECT_NE(d.version(), before);
    }
}

// Last: the store cannot save afterwards.
inline void aSaveThatDoesNotLandIsReported(ProfileStore& store, const StoreDriver& d) {
    d.setFile("[SETTINGS]\r\nTEXT6=50\r\n");
    d.breakSaves();
    const std::optional<std::string> before = d.file();
    const long long version = d.version ? d.version() : 0;
    const std::vector<SaveProblem> problems = store.putStrings("SETTINGS", {{"TEXT6", "0"}, {"LEFT", "300"}});
    ASSERT_FALSE(problems.empty());
    for (const SaveProblem& p : problems) {
        EXPECT_EQ(p.file, store.location());
        EXPECT_FALSE(p.reason.empty());
    }
    // And it changed nothing.
    EXPECT_EQ(d.file(), before);
    if (d.version) {
        EXPECT_EQ(d.version(), version);
    }
}

inline void keepsTheContractOfEveryStore(ProfileStore& store, const StoreDriver& d) {
    EXPECT_FALSE(store.location().empty());
    readsFollowTheProfileRules(store, d);
    writesChangeOnlyTheirOwnLines(store, d);
    aSaveThatDoesNotLandIsReported(store, d);
}

}  // namespace tarnwick::test
