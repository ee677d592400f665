// The in-memory store that the core tests stand on: it must count and fail
// the way the tests of saving rely on.
#include "platform/fake/memory_profile_store.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

TEST(MemoryProfileStore, CountsOnlyBatchesThatChangeTheText) {
    MemoryProfileStore store;
    EXPECT_EQ(store.getString("SETTINGS", "TEXT6", "50", 256), "50");
    EXPECT_TRUE(store.putStrings("SETTINGS", {}).empty());
    EXPECT_FALSE(store.text.has_value());  // an empty batch creates no file
    EXPECT_EQ(store.writes, 0);

    EXPECT_TRUE(store.putStrings("SETTINGS", {{"TEXT6", "75"}, {"DTMFINFO3", "12"}}).empty());
    EXPECT_EQ(store.text, "[SETTINGS]\nTEXT6=75\nDTMFINFO3=12\n");
    EXPECT_EQ(store.writes, 1);
    store.putStrings("SETTINGS", {{"TEXT6", "75"}, {"DTMFINFO3", "12"}});
    EXPECT_EQ(store.writes, 1);
    EXPECT_EQ(store.getString("SETTINGS", "DTMFInfo3", "BB", 256), "12");
    EXPECT_EQ(store.reads, 2);
}

TEST(MemoryProfileStore, AFailingSaveChangesNothing) {
    MemoryProfileStore store("[SETTINGS]\nTEXT6=50\n");
    store.failWith = {{store.location(), "No space left on device"}};
    auto problems = store.putStrings("SETTINGS", {{"TEXT6", "0"}});
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].file, "/var/lib/tarnwick/tarnwick.ini");
    EXPECT_EQ(store.text, "[SETTINGS]\nTEXT6=50\n");
    EXPECT_EQ(store.writes, 0);
}

}  // namespace
}  // namespace tarnwick
