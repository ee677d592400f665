// The COM node tests run in the build's Wine prefix on a private display
// (support/with-session.sh). The stand-in is registered there first, as
// --register does for a person trying Tarnwick out; the main thread is a
// single-threaded apartment, as in the program.
#include <gtest/gtest.h>
#include <objbase.h>

#include <cstdio>
#include <cstring>

#include "windows/com_support.h"

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], tarnwick::testing::kConnectAndDieFlag) == 0) {
        return tarnwick::testing::runConnectAndDie();
    }
    OleInitialize(nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    if (!tarnwick::testing::registerNodesim()) {
        std::fprintf(stderr, "cannot register the stand-in node %s\n", tarnwick::testing::nodesimPath().c_str());
        return 1;
    }
    const int rc = RUN_ALL_TESTS();
    OleUninitialize();
    return rc;
}
