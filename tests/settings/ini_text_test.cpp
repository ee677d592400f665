// The profile semantics on file text: what a hand-written or program-written
// settings file reads back as, and what each write does to its bytes.
#include "platform/portable/ini_text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace tarnwick::ini {
namespace {

std::string read(std::string_view text, std::string_view key, std::string_view def = "DEF",
                 std::size_t bufferSize = 256) {
    return readValue(text, "SETTINGS", key, def, bufferSize);
}

std::string writeAll(std::string text, const std::vector<std::pair<std::string, std::string>>& entries) {
    for (const auto& [key, value] : entries) text = writeValue(text, "SETTINGS", key, value);
    return text;
}

TEST(IniRead, LongValuesAndDefaultsAreCutToTheBuffer) {
    const std::string longPath = "C:\\" + std::string(297, 'a');  // 300 characters
    const std::string text = "[SETTINGS]\nTEXT4=" + longPath + "\n";
    EXPECT_EQ(read(text, "TEXT4"), longPath.substr(0, 255));
    EXPECT_EQ(read(text, "TEXT4", "", 4), "C:\\");
    EXPECT_EQ(read(text, "TEXT4", "", 1), "");
    EXPECT_EQ(read(text, "MISSING", longPath), longPath.substr(0, 255));
}

TEST(IniRead, BlanksAroundNamesAndValuesAreIgnored) {
    const std::string text = "  [ Settings ]  \n\tcwcallsign =  W1AW \t\n TEXT6= 50\n";
    EXPECT_EQ(readValue(text, " SETTINGS ", " CWCALLSIGN ", "", 256), "W1AW");
    EXPECT_EQ(read(text, "TEXT6"), "50");
    // A call sign saved with a trailing blank comes back without it.
    EXPECT_EQ(read(writeValue("", "SETTINGS", "CWCALLSIGN", "N0CALL "), "CWCALLSIGN"), "N0CALL");
    EXPECT_EQ(writeValue("", "SETTINGS", "TEXT6", " \t50"), "[SETTINGS]\nTEXT6=50\n");
    // Trailing spaces of the default go too.
    EXPECT_EQ(read("", "CWCALLSIGN", "Your Call  "), "Your Call");
}

TEST(IniRead, OnePairOfMatchingQuotesIsStripped) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"\"x\"", "x"},   {"'x'", "x"},     {"\" padded \"", " padded "},
        {"\"x'", "\"x'"}, {"'x\"", "'x\""}, {"\"", "\""},
        {"'", "'"},       {"\"\"", ""},     {"\"\"x\"\"", "\"x\""},
        {"x\"", "x\""},   {"\"x", "\"x"},   {" \"x\" ", "x"},
    };
    for (const auto& [stored, expected] : cases) {
        EXPECT_EQ(read("[SETTINGS]\nK=" + stored + "\n", "K"), expected) << "stored: " << stored;
    }
}

TEST(IniRead, PresentButEmptyIsEmptyAndMissingIsTheDefault) {
    EXPECT_EQ(read("[SETTINGS]\nTEXT4=\n", "TEXT4"), "");
    EXPECT_EQ(read("[SETTINGS]\nTEXT4 =   \n", "TEXT4"), "");
    EXPECT_EQ(read("", "TEXT4"), "DEF");                        // no file
    EXPECT_EQ(read("[OTHER]\nTEXT4=x\n", "TEXT4"), "DEF");      // no section
    EXPECT_EQ(read("[SETTINGS]\nTEXT6=1\n", "TEXT4"), "DEF");   // no key
    EXPECT_EQ(read("[SETTINGS]\nTEXT4\n", "TEXT4"), "DEF");     // a bare name holds no value
    EXPECT_EQ(read("TEXT4=x\n[SETTINGS]\n", "TEXT4"), "DEF");   // above every section
    EXPECT_EQ(read("[SETTINGS]\n;TEXT4=x\n", "TEXT4"), "DEF");  // commented out
}

TEST(IniRead, NamesMatchWithoutRegardToCase) {
    const std::string byHand = "[settings]\nDtmfInfo3=123\nStopClock6=1\n";
    EXPECT_EQ(read(byHand, "DTMFInfo3"), "123");
    EXPECT_EQ(read(byHand, "STOPCLOCK6"), "1");
    // The reader spells the key DTMFInfo3, the writer DTMFINFO3.
    EXPECT_EQ(read(writeValue("", "SETTINGS", "DTMFINFO3", "4711"), "DTMFInfo3"), "4711");
}

TEST(IniRead, FirstSectionAndFirstKeyOfAName) {
    const std::string text = "[SETTINGS]\nA=1\nA=2\n[OTHER]\nB=x\n[SETTINGS]\nA=3\nB=4\n";
    EXPECT_EQ(read(text, "A"), "1");
    EXPECT_EQ(read(text, "B"), "DEF");
    EXPECT_EQ(writeValue(text, "SETTINGS", "A", "9"), "[SETTINGS]\nA=9\nA=2\n[OTHER]\nB=x\n[SETTINGS]\nA=3\nB=4\n");
}

TEST(IniRead, ByteOrderMarkIsSkipped) {
    const std::string text = "\xEF\xBB\xBF[SETTINGS]\nTEXT6=7\n";
    EXPECT_EQ(read(text, "TEXT6"), "7");
    EXPECT_EQ(writeValue(text, "SETTINGS", "TEXT6", "8"), "\xEF\xBB\xBF[SETTINGS]\nTEXT6=8\n");
    EXPECT_EQ(writeValue("\xEF\xBB\xBF", "SETTINGS", "TEXT6", "8"), "\xEF\xBB\xBF[SETTINGS]\nTEXT6=8\n");
}

TEST(IniWrite, NewFileHoldsTheSectionThenTheKeysInOrder) {
    EXPECT_EQ(writeAll("", {{"TEXT6", "50"}, {"BEACONPERIOD8", "50"}, {"CWCALLSIGN", "Your Call"}, {"TEXT4", ""}}),
              "[SETTINGS]\nTEXT6=50\nBEACONPERIOD8=50\nCWCALLSIGN=Your Call\nTEXT4=\n");
}

TEST(IniWrite, ReplacesInPlaceKeepingEveryOtherByte) {
    const std::string before =
        "; station settings, edited by hand\n"
        "[Settings]\n"
        "  Text6 = 50\n"
        "this line is not a key\n"
        "CwCallsign=W1AW\n"
        "\n"
        "[OTHER]\n"
        "TEXT6=unrelated\n";
    const std::string after = writeAll(before, {{"TEXT6", "75"}, {"CWCALLSIGN", "K1ABC-L"}});
    EXPECT_EQ(after,
              "; station settings, edited by hand\n"
              "[Settings]\n"
              "Text6=75\n"
              "this line is not a key\n"
              "CwCallsign=K1ABC-L\n"
              "\n"
              "[OTHER]\n"
              "TEXT6=unrelated\n");
}

TEST(IniWrite, NewKeyGoesAtTheEndOfItsSectionAndANewSectionAtTheEnd) {
    EXPECT_EQ(writeValue("[SETTINGS]\nA=1\n\n\n[OTHER]\nB=2\n", "SETTINGS", "C", "3"),
              "[SETTINGS]\nA=1\nC=3\n\n\n[OTHER]\nB=2\n");
    EXPECT_EQ(writeValue("[SETTINGS]\n\n[OTHER]\nB=2\n", "SETTINGS", "C", "3"), "[SETTINGS]\nC=3\n\n[OTHER]\nB=2\n");
    // The last line of the file had no line ending.
    EXPECT_EQ(writeValue("[SETTINGS]\nA=1", "SETTINGS", "C", "3"), "[SETTINGS]\nA=1\nC=3\n");
    // A new section goes at the end of the file.
    EXPECT_EQ(writeValue("[OTHER]\nB=2\n", "SETTINGS", "A", "1"), "[OTHER]\nB=2\n[SETTINGS]\nA=1\n");
    EXPECT_EQ(writeValue("[OTHER]\nB=2", "SETTINGS", "A", "1"), "[OTHER]\nB=2\n[SETTINGS]\nA=1\n");
}

TEST(IniWrite, WritingWhatIsStoredChangesNoByte) {
    const std::vector<std::pair<std::string, std::string>> batch = {
        {"TEXT6", "50"}, {"CWCALLSIGN", "N0CALL "}, {"TEXT4", ""}, {"DTMFINFO3", "BB"}, {"LEFT", "-1200"}};
    const std::string once = writeAll("", batch);
    EXPECT_EQ(writeAll(once, batch), once);
    // A value that reads the same keeps a hand-written line as it is.
    const std::string byHand = "[SETTINGS]\r\n  TEXT6 = 50 \r\n";
    EXPECT_EQ(writeValue(byHand, "SETTINGS", "TEXT6", "50"), byHand);
    // Quotes are part of the stored text: writing the bare value rewrites it.
    EXPECT_EQ(writeValue("[SETTINGS]\nK=\"x\"\n", "SETTINGS", "K", "x"), "[SETTINGS]\nK=x\n");
}

TEST(IniWrite, CrlfFilesStayCrlf) {
    std::string text = "[SETTINGS]\r\nTEXT6=50\r\n";
    text = writeValue(text, "SETTINGS", "TEXT6", "60");
    text = writeValue(text, "SETTINGS", "MINS3", "00");
    text = writeValue(text, "OTHER", "X", "1");
    EXPECT_EQ(text, "[SETTINGS]\r\nTEXT6=60\r\nMINS3=00\r\n[OTHER]\r\nX=1\r\n");
    EXPECT_EQ(writeValue("[SETTINGS]\r\nA=1", "SETTINGS", "B", "2"), "[SETTINGS]\r\nA=1\r\nB=2\r\n");
}

TEST(IniWrite, ALineBreakInAValueCannotAddAKey) {
    std::string text = writeValue("", "SETTINGS", "CWCALLSIGN", "W1AW\nSTOPCLOCK6=1\r\n[EVIL]");
    text = writeValue(text, "SETTINGS", "TEXT4", "C:\\a.wav\rTEXT6=0");
    EXPECT_EQ(text, "[SETTINGS]\nCWCALLSIGN=W1AW\nTEXT4=C:\\a.wav\n");
    EXPECT_EQ(read(text, "STOPCLOCK6"), "DEF");
    EXPECT_EQ(read(text, "TEXT6"), "DEF");
    EXPECT_EQ(writeValue(text, "SETTINGS", "TEXT4", std::string("x\0y", 3)), "[SETTINGS]\nCWCALLSIGN=W1AW\nTEXT4=x\n");
}

}  // namespace
}  // namespace tarnwick::ini
