// The in-memory store that the core tests stand on keeps the contract of
// the real stores; its count of writes is the version the contract watches.
#include "platform/fake/memory_profile_store.h"

#include <gtest/gtest.h>

#include "shared/profile_store_contract.h"

namespace tarnwick {
namespace {

TEST(MemoryProfileStore, KeepsTheContractOfEveryStoreCountingOnlyBatchesThatChangeTheText) {
    MemoryProfileStore store;
    test::StoreDriver driver;
    driver.setFile = [&](const std::optional<std::string>& text) { store.text = text; };
    driver.file = [&] { return store.text; };
    driver.breakSaves = [&] { store.failWith = {{store.location(), "No space left on device"}}; };
    driver.version = [&] { return static_cast<long long>(store.writes); };
    test::keepsTheContractOfEveryStore(store, driver);
}

}  // namespace
}  // namespace tarnwick
