// The Linux settings store on real files: what lands on disk, what is left
// alone, and that a failed save leaves the old file as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/file_profile_store.h"
#include "shared/profile_store_contract.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

class StoreFile : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tarnwick-store-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        path = dir + "/tarnwick.ini";
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    static std::string slurp(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static void put(const std::string& file, const std::string& text) { std::ofstream(file, std::ios::binary) << text; }
    struct stat status() const {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0);
        return st;
    }
    // Every name in the directory, to catch a temporary file left behind.
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

    std::string dir, path;
};

TEST_F(StoreFile, KeepsTheContractOfEveryStoreAndLeavesNoTemporaryFile) {
    FileProfileStore store(dir);
    EXPECT_EQ(store.location(), path);
    test::StoreDriver driver;
    driver.setFile = [&](const std::optional<std::string>& text) {
        fs::remove_all(path);
        if (!text) return;
        put(path, *text);
        // An old time stamp, so that a rewrite cannot hide inside the clock's resolution.
        const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
    };
    driver.file = [&]() -> std::optional<std::string> {
        if (!fs::is_regular_file(path)) return std::nullopt;
        EXPECT_EQ(names(), std::vector<std::string>{"tarnwick.ini"});
        return slurp(path);
    };
    // A directory in the file's place cannot be read, by root either.
    driver.breakSaves = [&] {
        fs::remove(path);
        fs::create_directory(path);
    };
    // A new file, or the old one written again in place.
    driver.version = [&] {
        const struct stat st = status();
        return static_cast<long long>(st.st_ino) * 1000000007LL + st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
    };
    test::keepsTheContractOfEveryStore(store, driver);
}

// A changed batch replaces the file whole, keeping its rights; through a
// link, the file the link points to.
TEST_F(StoreFile, ASaveKeepsTheFilesRightsAndLinks) {
    fs::create_directory(dir + "/real");
    put(dir + "/real/station.ini", "[SETTINGS]\nTEXT6=50\n");
    ASSERT_EQ(::chmod((dir + "/real/station.ini").c_str(), 0640), 0);
    fs::create_symlink("real/station.ini", path);

    FileProfileStore store(dir);
    EXPECT_TRUE(store.putStrings("SETTINGS", {{"TEXT6", "9"}}).empty());
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_EQ(slurp(dir + "/real/station.ini"), "[SETTINGS]\nTEXT6=9\n");
    EXPECT_EQ(status().st_mode & 07777, 0640u);
}

// A directory that is missing, or is a file (below which even root cannot
// create one): the save is reported with the file and the reason, reads
// give the defaults, and nothing is created or replaced. (A file that is a
// directory is the contract's broken save.)
TEST_F(StoreFile, ADirectoryThatCannotHoldTheFileIsReported) {
    put(dir + "/plain", "not a directory\n");
    for (auto [where, reason] : {std::pair{dir + "/nowhere", "cannot create a temporary file in " + dir +
                                                                 "/nowhere: No such file or directory"},
                                 {dir + "/plain", "cannot read " + dir + "/plain/tarnwick.ini: Not a directory"}}) {
        FileProfileStore store(where);
        EXPECT_EQ(store.getString("SETTINGS", "TEXT6", "50", 256), "50");
        auto problems = store.putStrings("SETTINGS", {{"TEXT6", "50"}});
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_EQ(problems[0].file, where + "/tarnwick.ini");
        EXPECT_EQ(problems[0].reason, reason);
    }
    EXPECT_FALSE(fs::exists(dir + "/nowhere"));
    EXPECT_EQ(slurp(dir + "/plain"), "not a directory\n");
}

TEST_F(StoreFile, FullDiskLeavesTheOldFileAndNoTemporaryFile) {
    const std::string old = "[SETTINGS]\nTEXT6=50\nCWCALLSIGN=W1AW\n";
    put(path, old);

    // A file-size limit makes every write past it fail with EFBIG, as a full
    // disk would fail with ENOSPC, and it binds root too. The signal the
    // kernel sends with it is ignored for the length of the save.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit tight = saved;
    tight.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);

    FileProfileStore store(dir);
    auto problems = store.putStrings("SETTINGS", {{"TEXT4", std::string(200, 'p')}});

    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].file, path);
    EXPECT_EQ(problems[0].reason.rfind("cannot write the new settings to " + dir + "/.tarnwick.ini.tmp-", 0), 0u)
        << problems[0].reason;
    EXPECT_NE(problems[0].reason.find(": File too large"), std::string::npos) << problems[0].reason;
    EXPECT_EQ(slurp(path), old);
    EXPECT_EQ(names(), std::vector<std::string>{"tarnwick.ini"});
}

}  // namespace
}  // namespace tarnwick
