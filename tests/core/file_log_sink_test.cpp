// The station log's file on the real file system (of Linux, or of Windows
// under Wine when the core suite runs there).
#include "platform/portable/file_log_sink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

struct LogFile : ::testing::Test {
    fs::path dir;
    fs::path file;
    std::ostringstream errors;
    void SetUp() override {
        dir = fs::temp_directory_path() / ("tarnwick-log-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        fs::remove_all(dir);
        file = dir / "machine" / "tarnwick.log";
    }
    void TearDown() override { fs::remove_all(dir); }

    static std::string content(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
};

TEST_F(LogFile, LinesGoToTheEndWithThePlatformsLineEndInAFolderMadeForThem) {
    FileLogSink sink(file, "C:\\ProgramData\\Tarnwick\\tarnwick.log", "\r\n", FileLogSink::kLimitBytes, &errors);
    sink.append("first");
    // Another program (the guardian) appends between two of ours.
    std::ofstream(file, std::ios::binary | std::ios::app) << "Guardian: unkeyed\r\n";
    sink.append("second");
    EXPECT_EQ(content(file), "first\r\nGuardian: unkeyed\r\nsecond\r\n");
    EXPECT_EQ(sink.latest(2), (std::vector<std::string>{"Guardian: unkeyed", "second"}));
    EXPECT_EQ(sink.latest(20).size(), 3u);
    EXPECT_EQ(sink.place(), "C:\\ProgramData\\Tarnwick\\tarnwick.log");
    EXPECT_EQ(sink.problem(), "");
    EXPECT_EQ(errors.str(), "");
#ifndef _WIN32
    // Every station user's program appends to the one file; other accounts
    // may not rewrite the station's record.
    EXPECT_NE(fs::status(file).permissions() & fs::perms::group_write, fs::perms::none);
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::others_write, fs::perms::none);
#endif
}

TEST_F(LogFile, AtOneMebibyteTheFileMovesToOnePreviousGeneration) {
    FileLogSink sink(file, file.string(), "\n", FileLogSink::kLimitBytes, &errors);
    const std::string filler(4095, 'x');  // 4 KiB a line with its end
    const int perFile = static_cast<int>(FileLogSink::kLimitBytes / 4096);
    for (int i = 0; i < perFile; ++i) sink.append(filler);
    EXPECT_EQ(fs::file_size(file), FileLogSink::kLimitBytes);  // exactly full: not moved yet
    EXPECT_FALSE(fs::exists(sink.previous()));

    sink.append("line 1");
    EXPECT_EQ(fs::file_size(sink.previous()), FileLogSink::kLimitBytes);
    EXPECT_EQ(content(file), "line 1\n");
    // Just after the move the latest lines reach back into the previous file.
    EXPECT_EQ(sink.latest(3), (std::vector<std::string>{filler, filler, "line 1"}));

    // The next move replaces the older generation: "line 1" and 255 lines
    // fill all but 4089 bytes, so the 256th moves the file aside.
    for (int i = 1; i < perFile; ++i) sink.append(filler);
    EXPECT_EQ(fs::file_size(file), 7u + (perFile - 1) * 4096u);
    sink.append("line last");
    EXPECT_EQ(fs::file_size(file), 7u + (perFile - 1) * 4096u + 10u);  // 10 bytes still fit
    sink.append(filler);
    EXPECT_EQ(fs::file_size(file), 4096u);
    EXPECT_EQ(content(sink.previous()).substr(0, 7), "line 1\n");
    EXPECT_LE(fs::file_size(sink.previous()), FileLogSink::kLimitBytes);
    EXPECT_EQ(sink.problem(), "");
}

TEST_F(LogFile, AFailureIsReportedOnceAndClearsWhenALineLandsAgain) {
    FileLogSink sink(file, "the log", "\n", FileLogSink::kLimitBytes, &errors);
    fs::create_directories(file);  // a folder where the file should be: no one may open it
    for (int i = 0; i < 3; ++i) sink.append("lost");
    EXPECT_EQ(errors.str().rfind("tarnwick: the station log cannot be written: cannot open the log", 0), 0u)
        << errors.str();
    EXPECT_EQ(errors.str().find('\n'), errors.str().size() - 1) << "said more than once: " << errors.str();
    EXPECT_NE(sink.problem().find("cannot open the log"), std::string::npos);

    fs::remove(file);
    sink.append("kept");
    EXPECT_EQ(sink.problem(), "");
    EXPECT_EQ(content(file), "kept\n");

    // A later failure is news again: said once more.
    fs::remove(file);
    fs::create_directories(file);
    sink.append("lost again");
    sink.append("lost again");
    const std::string said = errors.str();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2) << said;

    FileLogSink nowhere({}, "", "\n", FileLogSink::kLimitBytes, &errors);  // the system gave no folder
    nowhere.append("lost");
    EXPECT_NE(nowhere.problem(), "");
    EXPECT_TRUE(nowhere.latest(20).empty());
}

}  // namespace
}  // namespace tarnwick::test
